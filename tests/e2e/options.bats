#!/usr/bin/env bats
# The command line of flowtally: usage texts, option errors and their exit codes, run on a
# temporary installation (registry file, site database with its localinfo, a scripted runscan
# that answers a search with the lines of the file entries).

load helpers

setup() {
  make_installation
  install_scripted_runscan
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

@test "-x -h writes the scanner line, then the long usage, and exits 0" {
  ft -x -h
  expect_status 0
  expect_stderr "$PROG: ERROR: Illegal option -- x"$'\n'"$LONG_USAGE"
}

@test "an illegal option alone gives Invalid Option and exit 3" {
  ft -x
  expect_status 3
  expect_stderr "$PROG: ERROR: Illegal option -- x"$'\n'"Invalid Option."$'\n'"$SHORT_USAGE"
}

@test "a missing argument gives the scanner line, Invalid Option and exit 3" {
  ft -u
  expect_status 3
  expect_stderr "$PROG: ERROR: Option requires an argument -- u"$'\n'"Invalid Option."$'\n'"$SHORT_USAGE"
}

@test "-j name without a value gives the name message and exit 3" {
  ft -j name
  expect_status 3
  expect_stderr $'Invalid parameter (-j name=JNW)\n'"$SHORT_USAGE"
}

@test "-j name= with an empty value stops at once with exit 2" {
  ft -j name= -x
  expect_status 2
  expect_stderr $'No JNW detected.\n'
}

@test "-j last combined with run fails in one -j and across two" {
  ft -j last,run
  expect_status 3
  expect_stderr $'Illegal combination (-j last and other options)\n'"$SHORT_USAGE"
  ft -j last -j run
  expect_status 3
  expect_stderr $'Illegal combination (-j last and other options)\n'"$SHORT_USAGE"
}

@test "-j prep,last gives the prep message" {
  ft -j prep,last
  expect_status 3
  expect_stderr $'Illegal combination (-j prep and other options)\n'"$SHORT_USAGE"
}

@test "-j date with a bad date gives the format message" {
  ft -j date=2014/13/01
  expect_status 3
  expect_stderr $'Invalid date format (-j date):2014/13/01\n'"$SHORT_USAGE"
  ft -j date=2014/09/01-002014/09/30
  expect_status 3
  expect_stderr $'bad usage\nInvalid date format (-j date):2014/09/01-002014/09/30\n'"$SHORT_USAGE"
}

@test "-t together with -p is refused after both are parsed" {
  ft -t testp=x -p format=csv
  expect_status 3
  expect_stderr $'Don\'t specify the option -t and -p\n'"$SHORT_USAGE"
}

@test "-p with an unknown item names it" {
  ft -p foo
  expect_status 3
  expect_stderr $'Invalid option: foo\n'"$SHORT_USAGE"
  ft -p format=csv,bar=1
  expect_status 3
  expect_stderr $'Invalid option: bar=1\n'"$SHORT_USAGE"
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
