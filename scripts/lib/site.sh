# shellcheck shell=sh
# The shell set-up of a site, sourced by the benchmark, the demo scripts (flowtally-demo, which
# an installation holds as <datadir>/flowtally/demo/site.sh), the Windows scripts and the
# end-to-end suites: a site's registry file, a copy of the demo's site files, and a private Wine
# prefix with its registry. Plain POSIX sh, as flowtally-demo runs under /bin/sh; each function
# returns non-zero when a step fails.

# site_registry FILE BASE [LINE...]: writes the registry file FILE, whose product key names BASE
# as the base directory, the running user as the product manager account and that user's group
# as the operator group, followed by the given value lines.
site_registry() {
  _site_file=$1 _site_base=$2
  shift 2
  {
    printf 'Windows Registry Editor Version 5.00\n\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\n'
    # A .reg string escapes backslashes and double quotes.
    printf '"KSBaseDirectory"="%s"\n' "$(printf '%s' "$_site_base" | sed 's/[\\"]/\\&/g')"
    printf '"KSMgrAccount"="%s"\n"KSOpGroup"="%s"\n' "$(id -un)" "$(id -gn)"
    for _site_line in "$@"; do printf '%s\n' "$_site_line"; done
  } >"$_site_file"
}

# site_demo_copy FROM TO [PART...]: copies the demo's site files PART (default: etc and spool)
# of the demo installation FROM into the directory TO, writable (an installed demo is not).
site_demo_copy() {
  _site_from=$1 _site_to=$2
  shift 2
  [ $# -gt 0 ] || set -- etc spool
  mkdir -p "$_site_to"
  for _site_part in "$@"; do
    cp -RH "$_site_from/$_site_part" "$_site_to/" || return
  done
  chmod -R u+w "$_site_to"
}

# A Wine program must never start while the Wine server of its prefix is ending: the server
# then ends it at its start, with no output (it dies of SIGQUIT). A server that Wine starts on
# demand begins to end as soon as its last program has ended (Debian's wineserver runs with
# -p0), so every pause between two programs is such a moment. Hence a prefix's programs run
# under a server started beforehand that outlives them: for good (site_wine_up), or by
# SITE_WINE_LINGER seconds after its last program (site_wine_serve).
SITE_WINE_LINGER=30

# site_wine_up PREFIX: exports the settings of a Wine prefix of our own in PREFIX (made if it
# is missing), starts its Wine server for good and brings the prefix up. WINE names the wine64
# program afterwards. End it with site_wine_down. A server that serves PREFIX already (started
# on demand, or by site_wine_serve) is given a few seconds to end first; one that is still busy
# then (another script's) is shared.
site_wine_up() {
  _site_wine_prefix=$1
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  WINE=${WINE:-/usr/lib/wine/wine64}
  mkdir -p "$WINEPREFIX"
  if wineserver -p >/dev/null 2>&1 ||
    { timeout 10 wineserver -w >/dev/null 2>&1 || :; wineserver -p >/dev/null 2>&1; }; then
    export SITE_WINE_SERVED="$WINEPREFIX"
  fi
  wineboot -i >/dev/null 2>&1 || true
}

# site_wine_serve: unless site_wine_up serves WINEPREFIX, starts a server for it that outlives
# its last program by SITE_WINE_LINGER seconds, if none serves it yet, and brings the prefix
# up; before each program that runs under Wine outside the scripts (such as a test that ctest
# starts by itself). The prefix's own processes start here, on no program's output: started
# by the program, they would hold its output open until the server ends.
site_wine_serve() {
  [ "${SITE_WINE_SERVED:-}" != "$WINEPREFIX" ] || return 0
  [ -d "$WINEPREFIX" ] || mkdir -p "$WINEPREFIX" || return 0
  if wineserver -p"$SITE_WINE_LINGER" >/dev/null 2>&1; then
    wineboot -i </dev/null >/dev/null 2>&1 || :
  fi
}

# site_wine_down: stops the Wine server of the prefix that site_wine_up brought up, if it did
# (a trap's command: it never fails, and it never touches another prefix).
site_wine_down() {
  if [ -n "${_site_wine_prefix:-}" ]; then
    WINEPREFIX=$_site_wine_prefix wineserver -k >/dev/null 2>&1 || true
    unset SITE_WINE_SERVED
  fi
}

# site_wine_registry FILE: the values of the registry file FILE become the product key of
# WINEPREFIX's registry, through `regedit /S` of a copy that first deletes the key. Without
# FILE the key is only deleted, as a missing registry file leaves the key missing on Linux.
site_wine_registry() {
  _site_import=$(mktemp "${TMPDIR:-/tmp}/ft-registry.XXXXXX") || return
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[-HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\r\n\r\n'
    if [ -f "$1" ]; then grep -v '^Windows Registry Editor' "$1" | sed 's/$/\r/' || :; fi
  } >"$_site_import"
  _site_status=0
  "${WINE:-/usr/lib/wine/wine64}" regedit /S "Z:$(printf '%s' "$_site_import" | sed 's#/#\\#g')" \
    </dev/null >/dev/null 2>&1 || _site_status=$?
  rm -f "$_site_import"
  return "$_site_status"
}
