#!/usr/bin/env bats
# The command line of flowtally: usage texts, option errors and their exit codes, run on a
# temporary installation (registry file, site database with its localinfo, a scripted runscan
# that answers a search with the lines of the file entries).

load helpers

setup() {
  make_installation
  install_scripted_runscan
}

teardown() {
  if [ -n "${OPEN_SITE:-}" ]; then rm -rf "$OPEN_SITE"; fi
}

LONG_USAGE=$'Usage: flowtally [-j JNWsearch] [-c component] [-p print|-t test]
\t\t[-o output] [-u user|-a]

JNWsearch:
\t  name=JNW,run,last,date=YYYYMMDD[-yyyymmdd],
\t  today,prep,trk=JNW.YYYYMMDDhhmmss

component:
\t  -c "JNW:subJNW.../Component"

print:
\t  format=csv|rd,style=0|1|2,ujonly,erronly,output,notitle

test:
\t  -t testp="expression"
\t  expression="{pattern}{operator}" | "{pattern}/{expression}{operator}"
\t             | "pattern"
\t  pattern="hold","skip","wait","submit","run","done","error",
\t          "stopped","complete","archived"
\t  operator="+"(or),"*"(and),"!"(not)
'

@test "-h writes the long usage and exits 0" {
  ft -h
  expect_status 0
  expect_stderr "$LONG_USAGE"
  expect_stdout ""
  [ "$(wc -l <"$SITE/err")" -eq 20 ]
}

@test "--help and --version answer on standard output, as the whole first argument only" {
  # Before anything else: no installation is needed.
  export KS_REGISTRY="$SITE/missing.reg"
  ft --help
  expect_status 0
  expect_stdout "$LONG_USAGE"
  expect_stderr ""
  ft --version
  expect_status 0
  expect_stdout $'flowtally 1.0.0\n'
  expect_stderr ""
  run "$PROG" --version
  [ "$status" -eq 0 ]
  "$PROG" --help >/dev/full 2>"$SITE/err" || status=$?
  expect_status 3
  if on_windows; then
    # The C runtime writes a character device unbuffered: the write that failed was not the
    # final flush, so the reason is not known.
    windows_text
    expect_stderr $'flowtally: Unable to write output:standard output\n'
  else
    expect_stderr $'flowtally: Unable to write output:standard output\nflowtally: No space left on device\n'
  fi

  write_registry '"KSLanguageId"="0"'
  for args in "-a --version" "--versions"; do
    # shellcheck disable=SC2086 # the words are the arguments
    ft $args
    expect_status 3
    expect_stdout ""
  done
  # Elsewhere the scanner reads "--help" as letters, and finds -h among them.
  ft -a --help
  expect_status 0
  expect_stdout ""
}

@test "-x -h writes the scanner line, then the long usage, and exits 0" {
  ft -x -h
  expect_status 0
  expect_stderr "$PROG_NAME: ERROR: Illegal option -- x"$'\n'"$LONG_USAGE"
}

@test "-j name= with an empty value stops at once with exit 2" {
  ft -j name= -x
  expect_status 2
  expect_stderr $'No JNW detected.\n'
}

@test "every option error writes its message, then the short usage line, and exits 3" {
  local pad
  printf -v pad '%29s' ''
  local illegal_x="$PROG_NAME: ERROR: Illegal option -- x"$'\n'
  # Rows of arguments (split at blanks) and the messages before the usage line.
  local cases=(
    '-x' "$illegal_x"$'Invalid Option.\n'
    '-u' "$PROG_NAME: ERROR: Option requires an argument -- u"$'\nInvalid Option.\n'
    '-x -v -j run -y' "$illegal_x$PROG_NAME: ERROR: Illegal option -- y"$'\nInvalid Option.\n'
    '-x -j trk' "$illegal_x"$'Invalid trk parameter (-j trk=JNW.YYYYMMDDhhmmss)\n'
    '-j name' $'Invalid parameter (-j name=JNW)\n'
    '-j last,run' $'Illegal combination (-j last and other options)\n'
    '-j last -j run' $'Illegal combination (-j last and other options)\n'
    '-j prep,last' $'Illegal combination (-j prep and other options)\n'
    '-j trk=A.20140101000000,name=A' $'Illegal combination (-j trk and other options)\n'
    '-j today -j trk=A.20140101000000' $'Illegal combination (-j trk and other options)\n'
    '-j date=20140901,today' $'Illegal combination (-j date and today)\n'
    '-j trk' $'Invalid trk parameter (-j trk=JNW.YYYYMMDDhhmmss)\n'
    '-j tid' "Invalid tid parameter (-j tid=hostname.machine
$pad|hostname:username.user
$pad|hostname:username:JNW.ksjnw
$pad|hostname:username:JNW.YYYYMMDDhhmmss.kstrk)
"
    '-j date' $'Invalid parameter (-j date=YYYYMMDD[-yyyymmdd])\n'
    '-j date=' $'Invalid date format (-j date):\n'
    '-j date=2014/13/01' $'Invalid date format (-j date):2014/13/01\n'
    # A date value of 23 characters, one more than a range holds.
    '-j date=2014/09/01-002014/09/30' $'bad usage\nInvalid date format (-j date):2014/09/01-002014/09/30\n'
    '-p format=csv,tz=utc' $'Invalid option: tz=utc\n'
    '-p tz=local' $'Invalid option: tz=local\n'
    '-p format=jsonl,tz=local -p format=rd' $'Invalid option: tz=local\n'
    '-p format=xml,tz=utc' $'Invalid option: tz=utc\n'
    '-p format=json,tz=gmt' $'Invalid option: tz=gmt\n'
    '-p format=json,tz' $'Invalid option: tz\n'
    '-p foo' $'Invalid option: foo\n'
    '-p format=csv,bar=1' $'Invalid option: bar=1\n'
    '-t testp=x -p format=csv' $'Don\'t specify the option -t and -p\n'
  )
  local i args
  for ((i = 0; i < ${#cases[@]}; i += 2)); do
    read -ra args <<<"${cases[i]}"
    ft "${args[@]}"
    { expect_status 3 && expect_stderr "${cases[i + 1]}$SHORT_USAGE"; } ||
      { echo "arguments: ${cases[i]}" >&2; return 1; }
  done
}

@test "-d 3 echoes the trace topic" {
  ft -d 3
  expect_status 2
  [ "$(sed -n 1p "$SITE/err")" = "DebugKey=3" ]
  grep -Eq '^DateCnv: [0-9]{8}235959 -> [0-9]{14}$' "$SITE/err"
  [ "$(tail -n 1 "$SITE/err")" = "No JNW detected." ]
}

@test "-d 3 traces the date conversions of today" {
  TZ=JST-9 ft -d 3 -j today
  expect_status 2
  grep -Eq '^DateCnv: [0-9]{8}000000 -> [0-9]{14}$' "$SITE/err"
  grep -Eq '^DateCnv: [0-9]{8}235959 -> [0-9]{14}$' "$SITE/err"
}

@test "a test expression that does not compile gives exit 3" {
  ft -t 'done+'
  expect_status 3
  expect_stderr $'flowtally: Not support expression pattern:done+\n'"$SHORT_USAGE"
}

@test "a missing KSLanguageId stops start-up with exit 3" {
  write_registry
  ft -h
  expect_status 3
  expect_stderr $'Get SV language ID error\n'"$SHORT_USAGE"
}

@test "a registry file that does not exist stops start-up with exit 3" {
  KS_REGISTRY="$SITE/none.reg" ft
  expect_status 3
  expect_stderr $'Get SV language ID error\n'"$SHORT_USAGE"
}

@test "no arguments searches, finds nothing and exits 2" {
  ft
  expect_status 2
  expect_stderr $'No JNW detected.\n'
  expect_stdout ""
}

@test "an effective user without an account name: start-up goes on, the search finds nothing" {
  linux_only "a Unix user id without a passwd entry (setpriv)"
  if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
    skip "needs root and setpriv"
  fi
  if getent passwd 54321 >/dev/null; then skip "uid 54321 has an account here"; fi
  local as_nobody=(setpriv --reuid=54321 --regid=54321 --clear-groups)
  "${as_nobody[@]}" test -x "$BIN_DIR/flowtally" || skip "uid 54321 cannot run the build"
  # The installation moves out of bats's private directory, so that uid 54321 can read it.
  OPEN_SITE="$(mktemp -d)"
  chmod 755 "$OPEN_SITE"
  cp -r "$SITE/base" "$SITE/sitedb" "$OPEN_SITE/"
  # shellcheck disable=SC2030 # this test's own site
  SITE="$OPEN_SITE"
  write_registry '"KSLanguageId"="0"'
  export ZOV_SITEDB="$SITE/sitedb"
  PROG=setpriv
  # shellcheck disable=SC2034 # read by ft
  FT_ARGS=("${as_nobody[@]:1}" "$BIN_DIR/flowtally")
  ft -j name=A
  expect_status 2
  expect_stderr $'Who are you ?\ncan not get usernameNo JNW detected.\n'
}

@test "a file operand stops the scan" {
  ft file -x
  expect_status 2
  expect_stderr $'No JNW detected.\n'
}

@test "-o on a file that cannot be created gives the system text and exit 3" {
  ft -o "$SITE/no/such/dir/out.txt"
  expect_status 3
  [ "$(sed -n 1p "$SITE/err" | cut -c1-11)" = "flowtally: " ]
  [ "$(sed -n 2p "$SITE/err")" = "Unable to open file:$SITE/no/such/dir/out.txt" ]
  [ "$(wc -l <"$SITE/err")" -eq 2 ]
}

@test "-o on a writable path re-opens standard output there, truncating it" {
  printf 'J alpha:%s:DAILY.20140930010203.kstrk done 0 20140930010203 20140930011500 0 0 - - n\n' \
    "$(id -un)" >"$SITE/entries"
  printf 'old text that is longer than the listing will ever be %0500d\n' 0 >"$SITE/out.txt"
  TZ=UTC ft -o "$SITE/out.txt"
  expect_status 0
  expect_stderr ""
  expect_stdout ""
  grep -q '^  1)  *DAILY.20140930010203 ' "$SITE/out.txt"
  ! grep -q 'old text' "$SITE/out.txt"
  [ "$(wc -l <"$SITE/out.txt")" -eq 2 ]
}

@test "-o keeps the last output until there is output to write" {
  printf 'old report\n' >"$SITE/out.txt"
  # The search finds nothing.
  TZ=UTC ft -o "$SITE/out.txt"
  expect_status 2
  expect_stderr $'No JNW detected.\n'
  [ "$(cat "$SITE/out.txt")" = "old report" ]
  # A test writes nothing without -V.
  printf 'J alpha:%s:DAILY.20140930010203.kstrk done 0 20140930010203 20140930011500 0 0 - - n\n' \
    "$(id -un)" >"$SITE/entries"
  TZ=UTC ft -j name=DAILY,last -t testp=complete -o "$SITE/out.txt"
  [ "$(cat "$SITE/out.txt")" = "old report" ]
}

@test "-o with a path of 260 characters or more says it is too long" {
  local long
  long="$SITE/$(printf 'x%.0s' $(seq 300))"
  ft -o "$long"
  expect_status 3
  expect_stderr "flowtally: The file name is too long: ${#long} characters, at most 259
Unable to open file:$long
"
}

@test "-o creates a new file with the product's access, which needs the manager account" {
  printf 'J alpha:%s:DAILY.20140930010203.kstrk done 0 20140930010203 20140930011500 0 0 - - n\n' \
    "$(id -un)" >"$SITE/entries"
  TZ=UTC ft -o "$SITE/new.txt"
  expect_status 0
  grep -q '^  1)  *DAILY.20140930010203 ' "$SITE/new.txt"
  # Full control (never execute: it is a report) for the manager (the running user) and
  # Administrators, read for Everyone, whatever the creation mask.
  local mode
  mode=$(stat -c %A "$SITE/new.txt")
  [ "${mode:0:4}" = "-rw-" ] && [ "${mode:7:3}" = "r--" ]
  (umask 077 && TZ=UTC ft -o "$SITE/masked.txt")
  mode=$(stat -c %A "$SITE/masked.txt")
  [ "${mode:0:4}" = "-rw-" ] && [ "${mode:7:3}" = "r--" ]

  # Without a manager account the security cannot be built: nothing is created, and the
  # message names the setting (and the account it names).
  sed -i 's/^"KSMgrAccount"=.*/"KSMgrAccount"="ft-no-such-account"/' "$KS_REGISTRY"
  TZ=UTC ft -o "$SITE/other.txt"
  expect_status 3
  expect_stderr "flowtally: The manager account (KSMgrAccount) ft-no-such-account names no user account: a new file cannot be given its access
Unable to open file:$SITE/other.txt
"
  [ ! -e "$SITE/other.txt" ]
  sed -i '/^"KSMgrAccount"=/d' "$KS_REGISTRY"
  TZ=UTC ft -o "$SITE/other.txt"
  expect_status 3
  expect_stderr "flowtally: No manager account is set (KSMgrAccount): a new file cannot be given its access
Unable to open file:$SITE/other.txt
"
  [ ! -e "$SITE/other.txt" ]
  # An existing file needs no account.
  TZ=UTC ft -o "$SITE/new.txt"
  expect_status 0
}
