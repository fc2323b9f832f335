# Shared pieces of the end-to-end suites (each loads them with `load helpers`): a temporary
# installation with its registry file and site database, a scripted runscan, the demo site
# served by the real stand-in, and a runner of flowtally with checks on what it left.
#
# Every file of a test lives below $SITE, the test's own temporary directory:
#   registry.reg              the registry file (KS_REGISTRY)
#   base/bin/runscan          the search tool flowtally starts (KSBaseDirectory is base)
#   sitedb/spool/nmap/localinfo, sitedb/spool/tmp/   the site database (ZOV_SITEDB)
#   out, err                  the output of the last ft
#   calls                     the scripted runscan's calls during the last ft
#
# Windows mode (FT_WINDOWS=1, set by the Windows build's ctest): the programs are flowtally.exe,
# runscan.exe and site_lookup_probe.exe under Wine, started through the scripts of BIN_DIR
# (tests/e2e/wine-exec), which import the registry file into the Wine prefix's real registry
# before each run when it changed; write_registry imports it at once. A scripted runscan is
# fake_runscan.exe with its steps in $SITE/runscan.steps. ft reads what the command wrote as
# a Linux build writes it: the CR before each LF is removed from out and err, and in err a `\`
# (product paths use it on Windows) is read as `/`. Cases whose subject exists only on Linux
# skip with linux_only.

# shellcheck source=SCRIPTDIR/../../scripts/lib/site.sh
. "$SRC_DIR/scripts/lib/site.sh"

# EXE: the programs' file name suffix (".exe" in Windows mode).
# shellcheck disable=SC2034 # used by the suites
if [ -n "${FT_WINDOWS:-}" ]; then EXE=.exe; else EXE=; fi

# on_windows: true in Windows mode.
on_windows() { [ -n "${FT_WINDOWS:-}" ]; }

# linux_only REASON: skips the case in Windows mode, saying why.
linux_only() { if on_windows; then skip "Linux only: $1"; fi; }

# text FILE: the file as a Linux build writes it (Windows mode: the CR before each LF removed).
text() { if on_windows; then sed 's/\r$//' "$1"; else cat "$1"; fi; }

# make_installation [HOST]: a fresh installation in $SITE whose local machine is HOST (alpha
# by default); KS_REGISTRY and ZOV_SITEDB name it, ZOV_SITE, LWPProcess and KestruneUserName
# are unset. Sets PROG (the flowtally under test) and SHORT_USAGE (its short usage text).
make_installation() {
  SITE="$BATS_TEST_TMPDIR"
  mkdir -p "$SITE/base/bin" "$SITE/sitedb/spool/nmap" "$SITE/sitedb/spool/tmp"
  printf 'hostname: %s\n' "${1:-alpha}" >"$SITE/sitedb/spool/nmap/localinfo"
  write_registry '"KSLanguageId"="0"'
  export ZOV_SITEDB="$SITE/sitedb"
  unset ZOV_SITE LWPProcess KestruneUserName
  PROG="$BIN_DIR/flowtally"
  # PROG_NAME: the name the command gives itself in messages and records (its argv[0]).
  # shellcheck disable=SC2034 # used by the suites
  PROG_NAME=$PROG
  if on_windows; then
    # shellcheck disable=SC2034 # used by the suites
    PROG_NAME="Z:$WIN_BIN_DIR/flowtally.exe"
  fi
  # shellcheck disable=SC2034 # used by the suites
  SHORT_USAGE=$'Usage: flowtally [options...]|-h\n'
}

# write_registry [LINE...]: (re)writes $SITE/registry.reg with KSBaseDirectory $SITE/base, the
# running user as the product manager account and that user's group as the operator group, and
# the given value lines under the product key, and points KS_REGISTRY at it.
write_registry() {
  site_registry "$SITE/registry.reg" "$SITE/base" "$@"
  export KS_REGISTRY="$SITE/registry.reg"
  if on_windows; then "$SRC_DIR/tests/e2e/wine-exec" --registry; fi
}

# install_scripted_runscan [DUMP [WINDOWS_DUMP]]: a runscan that appends each call to
# $SITE/calls as one line (its arguments joined by blanks) and answers a search (an N1 item)
# with the lines of $SITE/entries, if any. Any other call is a dump: it runs the shell code DUMP,
# in which $site is $SITE; by default it prints the lines of $SITE/detail, if any, and exits 0.
# In Windows mode the dump is the fake_runscan.exe steps WINDOWS_DUMP (the same by default).
install_scripted_runscan() {
  if on_windows; then
    install_fake_runscan 'calls' 'if-word N1 cat entries' 'if-word N1 exit 0' \
      "${2:-$'cat detail\nexit 0'}"
    return
  fi
  # shellcheck disable=SC2016 # code of the script, expanded when it runs
  local dump=${1:-'[ -f "$site/detail" ] && cat "$site/detail"
exit 0'}
  # Never write through the demo site's link: that would overwrite the built stand-in.
  rm -f "$SITE/base/bin/runscan"
  {
    printf '#!/bin/sh\nsite='\''%s'\''\n' "$SITE"
    cat <<'SCRIPT'
printf '%s\n' "$*" >>"$site/calls"
case " $* " in
  *" N1 "*) [ -f "$site/entries" ] && cat "$site/entries"; exit 0 ;;
esac
SCRIPT
    printf '%s\n' "$dump"
  } >"$SITE/base/bin/runscan"
  chmod +x "$SITE/base/bin/runscan"
}

# install_fake_runscan STEP...: (Windows mode) fake_runscan.exe becomes the site's runscan.exe,
# running these steps (see tests/e2e/fake_runscan-win32.cc).
install_fake_runscan() {
  rm -f "$SITE/base/bin/runscan.exe"
  ln "$WIN_BIN_DIR/fake_runscan.exe" "$SITE/base/bin/runscan.exe" 2>/dev/null ||
    cp "$WIN_BIN_DIR/fake_runscan.exe" "$SITE/base/bin/runscan.exe"
  printf '%s\n' "$@" >"$SITE/runscan.steps"
}

# use_demo_site: the site database becomes a copy of the demo's site tree (machine demohost,
# the trackers of alice and bob), served by the real runscan stand-in, in zone UTC.
use_demo_site() {
  rm -rf "$SITE/sitedb"
  site_demo_copy "$SRC_DIR/demo" "$SITE/sitedb" spool
  if on_windows; then
    rm -f "$SITE/base/bin/runscan.exe"
    ln -s "$WIN_BIN_DIR/runscan.exe" "$SITE/base/bin/runscan.exe"
  else
    ln -sf "$BIN_DIR/runscan" "$SITE/base/bin/runscan"
  fi
  export TZ=UTC
}

# ft ARG...: runs flowtally with FT_ARGS (if set) and the arguments, after clearing the log of
# runscan calls; the exit code lands in $status, the exact output bytes in $SITE/out and
# $SITE/err. Descriptor 3 (bats's own) is closed so that no child outlives the test on it.
ft() {
  status=0
  rm -f "$SITE/calls"
  "$PROG" "${FT_ARGS[@]}" "$@" >"$SITE/out" 2>"$SITE/err" 3>&- || status=$?
  if on_windows; then windows_text; fi
}

# windows_text: (Windows mode) out and err as a Linux build writes them, the bytes as written
# kept in out.win and err.win.
windows_text() {
  if [ -f "$SITE/out" ]; then
    mv "$SITE/out" "$SITE/out.win"
    sed 's/\r$//' "$SITE/out.win" >"$SITE/out"
  fi
  if [ -f "$SITE/err" ]; then
    mv "$SITE/err" "$SITE/err.win"
    sed 's/\r$//; s/\\/\//g' "$SITE/err.win" >"$SITE/err"
  fi
}

# expect_status CODE: the last exit code is CODE; otherwise says what it was, with stderr.
expect_status() {
  if [ "$status" -ne "$1" ]; then
    echo "exit code $status, expected $1; stderr:" >&2
    cat "$SITE/err" >&2
    return 1
  fi
}

# expect_stderr TEXT, expect_stdout TEXT: the exact bytes of the last standard error (or
# output) are TEXT.
expect_stderr() { diff -u <(printf '%s' "$1") "$SITE/err"; }
expect_stdout() { diff -u <(printf '%s' "$1") "$SITE/out"; }

# expect_calls LINE...: the scripted runscan was called with these option strings, in order.
expect_calls() { diff -u <(printf '%s\n' "$@") "$SITE/calls"; }
