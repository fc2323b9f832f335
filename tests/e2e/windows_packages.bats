#!/usr/bin/env bats
# The Windows downloads (the Windows build's suite only): the zip, the installer and the demo
# zip that cpack makes, checked as an administrator would use them, under Wine in a fresh Wine
# prefix of the suite's own, served by one Wine server that the suite starts and stops.

PRODUCT_KEY='HKLM\Software\Orv\Kestrune/SV'
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\flowtally'

setup_file() {
  export TZ=UTC WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  export WINEPREFIX="$BATS_FILE_TMPDIR/prefix" WINE=/usr/lib/wine/wine64
  export PACKAGES="$BATS_FILE_TMPDIR/packages"
  VERSION=$(sed -n 's/^project(flowtally VERSION \([0-9.]*\) .*/\1/p' "$SRC_DIR/CMakeLists.txt")
  export VERSION
  (unset FLOWTALLY_SIGN_PKCS12 && cpack -G 'ZIP;NSIS64' --config "$BUILD_DIR/CPackConfig.cmake" \
    -B "$PACKAGES") >"$BATS_FILE_TMPDIR/cpack.log" 2>&1 ||
    { cat "$BATS_FILE_TMPDIR/cpack.log" >&2; return 1; }
  mkdir "$WINEPREFIX"
  wineserver -p
  wineboot -i >/dev/null 2>&1
}

teardown_file() {
  wineserver -k >/dev/null 2>&1 || true
}

# win PATH: the Windows name of a Linux path (drive Z:).
win() { printf 'Z:%s' "${1//\//\\}"; }

# reg_string PATH: the Windows name of PATH as a .reg string writes it (each \ doubled).
reg_string() { win "$1" | sed 's/\\/\\\\/g'; }

# unpack ZIP DIR: the zip, whose entries are undamaged, unpacked into DIR, and the list of its
# entries (directories aside) in DIR.list, sorted.
unpack() {
  unzip -tq "$1" >/dev/null
  mkdir -p "$2"
  unzip -q "$1" -d "$2"
  unzip -Z1 "$1" | grep -v '/$' | sort >"$2.list"
}

# absent PATTERN FILE: FILE has no line that matches PATTERN.
absent() {
  if grep -e "$1" "$2"; then
    echo "$2 has the lines above" >&2
    return 1
  fi
}

# pe_version FILE: the file version of FILE's version resource, as its fixed part and its
# FileVersion and ProductVersion strings hold it ("1.0.0.0 1.0.0 1.0.0"), and whether its
# manifest runs it as its caller and names Windows 10.
pe_version() {
  /usr/bin/python3 - "$1" <<'EOF'
import sys
import pefile
pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
parts = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
         fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF]
strings = {}
for info in pe.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            strings.update(table.entries)
manifest = b""
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
        entry = kind.directory.entries[0].directory.entries[0].data.struct
        manifest = pe.get_data(entry.OffsetToData, entry.Size)
print(".".join(map(str, parts)), strings[b"FileVersion"].decode(),
      strings[b"ProductVersion"].decode(),
      b'level="asInvoker"' in manifest and b"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a" in manifest)
EOF
}

# crlf FILE: every line of FILE ends with CR LF.
crlf() { [ -s "$1" ] && ! grep -q $'[^\r]$\|^$' "$1"; }

# snapshot NAME [KEY...]: what a package could change, in $BATS_FILE_TMPDIR/NAME.files and
# NAME.registry: every file of drive C: and of $BASE, and the registry keys KEY (by default the
# HKLM and HKCU software keys, whole).
snapshot() {
  local to="$BATS_FILE_TMPDIR/$1" key
  shift
  [ $# -gt 0 ] || set -- 'HKEY_LOCAL_MACHINE\Software' 'HKEY_CURRENT_USER\Software'
  (cd "$WINEPREFIX/drive_c" && find . | sort) >"$to.files"
  (cd "$BASE" && find . | sed 's|^\.|base|' | sort) >>"$to.files"
  for key in "$@"; do
    rm -f "$to.reg"
    "$WINE" regedit /E "$(win "$to.reg")" "$key"
    [ -s "$to.reg" ] || { echo "regedit exported nothing of $key" >&2; return 1; }
    iconv -f UTF-16 -t UTF-8 "$to.reg" | sed 's/\r$//'
  done >"$to.registry"
}

# unchanged NAME NAME2 [FILTER]: the snapshots NAME and NAME2 are the same; FILTER (a pattern)
# leaves out of NAME2 the files that it matches.
unchanged() {
  local dir=$BATS_FILE_TMPDIR
  diff -u "$dir/$1.files" <(grep -vE "${3:-^$}" "$dir/$2.files")
  diff -u "$dir/$1.registry" "$dir/$2.registry"
}

# registry [VALUE...]: the product key holds exactly the given values (none: no key).
registry() {
  if [ $# -eq 0 ]; then
    site_wine_registry ""
  else
    local lines=("$@")
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\n%s\n' \
      "${lines[@]}" >"$BATS_TEST_TMPDIR/registry.reg"
    site_wine_registry "$BATS_TEST_TMPDIR/registry.reg"
  fi
}

# uninstall DIR: runs DIR's uninstaller silently. It starts a copy of itself from the temporary
# directory and ends at once: this waits (a minute at most) for the copy of this prefix to end.
uninstall() {
  local pid copy waits=0
  "$WINE" "$1/flowtally-uninstall.exe" /S
  while :; do
    copy=""
    for pid in $(pgrep -f 'Temp.~nsu'); do
      if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
        copy=$pid
      fi
    done
    [ -n "$copy" ] || return 0
    if [ "$waits" -ge 600 ]; then
      echo "the uninstaller's copy (process $copy) did not end" >&2
      return 1
    fi
    waits=$((waits + 1))
    sleep 0.1
  done
}

# shellcheck source=SCRIPTDIR/../../scripts/lib/site.sh
. "$SRC_DIR/scripts/lib/site.sh"

@test "the zip holds the program and its documents; the version resources, --version and the checksums agree" {
  grep -q 'no code-signing certificate (FLOWTALLY_SIGN_PKCS12): the programs and the installer are not signed' \
    "$BATS_FILE_TMPDIR/cpack.log"
  local zip="$BATS_TEST_TMPDIR/zip" demo="$BATS_TEST_TMPDIR/demo"
  unpack "$PACKAGES/flowtally-$VERSION-win64.zip" "$zip"
  diff -u <(printf '%s\n' README.txt changelog.txt flowtally.exe flowtally.html flowtally.reg) \
    "$zip.list"
  unpack "$PACKAGES/flowtally-demo-$VERSION-win64.zip" "$demo"
  diff -u <({ printf '%s\n' demo.cmd etc/site.list flowtally.exe runscan.exe spool/nmap/localinfo
    cd "$SRC_DIR/demo" && find spool/users -type f; } | sort) "$demo.list"

  # The same version everywhere: the resources of both programs (the demo's too) and --version.
  [ "$("$WINE" "$zip/flowtally.exe" --version)" = "flowtally $VERSION"$'\r' ]
  for program in "$zip/flowtally.exe" "$demo/flowtally.exe" "$demo/runscan.exe"; do
    [ "$(pe_version "$program")" = "$VERSION.0 $VERSION $VERSION True" ]
  done

  # The documents: CR LF text, this version's changelog, the manual page, an example registry
  # file that imports nothing.
  for doc in README.txt changelog.txt flowtally.reg; do crlf "$zip/$doc"; done
  crlf "$demo/demo.cmd"
  head -n 1 "$zip/changelog.txt" | grep -q "^flowtally ($VERSION) "
  grep -q "^flowtally $VERSION for Windows" "$zip/README.txt"
  grep -q '<h2>EXIT STATUS' "$zip/flowtally.html"
  absent CreationDate "$zip/flowtally.html"
  grep -q '^;"KSBaseDirectory"=' "$zip/flowtally.reg"
  sed '1,2d' "$zip/flowtally.reg" | tr -d '\r' >"$BATS_TEST_TMPDIR/reg"
  absent '^[^;]' "$BATS_TEST_TMPDIR/reg"

  (cd "$PACKAGES" && sha256sum -c --quiet SHA256SUMS)
  diff -u <(printf '%s\n' "flowtally-$VERSION-win64.exe" "flowtally-$VERSION-win64.zip" \
    "flowtally-demo-$VERSION-win64.zip") <(sed 's/^[0-9a-f]*  //' "$PACKAGES/SHA256SUMS")
}

@test "every shipped program imports only system DLLs" {
  local dir="$BATS_TEST_TMPDIR/programs" imports="$BATS_TEST_TMPDIR/imports" program
  unzip -q "$PACKAGES/flowtally-demo-$VERSION-win64.zip" flowtally.exe runscan.exe -d "$dir"
  for program in "$dir/flowtally.exe" "$dir/runscan.exe" "$PACKAGES/flowtally-$VERSION-win64.exe"; do
    x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\tDLL Name: //p' >"$imports"
    grep -qix kernel32.dll "$imports"
    if grep -vixE '(advapi32|comctl32|gdi32|kernel32|msvcrt|netapi32|ole32|shell32|user32)\.dll' \
        "$imports"; then
      echo "$program imports the DLLs above, which are not the system's" >&2
      return 1
    fi
  done
}

@test "the installer puts flowtally.exe into <KSBaseDirectory>\\bin silently, and its uninstaller leaves nothing of it" {
  BASE="$BATS_TEST_TMPDIR/base"
  local installer="$PACKAGES/flowtally-$VERSION-win64.exe"
  unzip -q "$PACKAGES/flowtally-demo-$VERSION-win64.zip" 'etc/*' 'spool/*' -d "$BASE"
  unzip -q "$PACKAGES/flowtally-demo-$VERSION-win64.zip" runscan.exe -d "$BASE/bin"
  registry "\"KSBaseDirectory\"=\"$(reg_string "$BASE")\"" '"KSLanguageId"="0"' \
    "\"KSMgrAccount\"=\"$(id -un)\"" '"KSOpGroup"="Administrators"'
  # A restart first, as the uninstallation ends with one: Wine adds keys of its own then.
  wineboot -r >/dev/null 2>&1
  snapshot before
  snapshot before-key 'HKEY_LOCAL_MACHINE\Software\Orv' 'HKEY_CURRENT_USER\Software'

  "$WINE" "$installer" /S
  # Its two files and its uninstall entry; the product key as it was.
  snapshot installed 'HKEY_LOCAL_MACHINE\Software\Orv' 'HKEY_CURRENT_USER\Software'
  diff <(printf '%s\n' '> base/bin/flowtally-uninstall.exe' '> base/bin/flowtally.exe') \
    <(diff "$BATS_FILE_TMPDIR/before.files" "$BATS_FILE_TMPDIR/installed.files" | grep '^[<>]')
  diff -u "$BATS_FILE_TMPDIR/before-key.registry" "$BATS_FILE_TMPDIR/installed.registry"
  "$WINE" reg query "$UNINSTALL_KEY" /reg:64 | tr -d '\r' >"$BATS_TEST_TMPDIR/entry"
  grep -qxF "    InstallLocation    REG_SZ    $(win "$BASE/bin")" "$BATS_TEST_TMPDIR/entry"
  grep -qxF "    QuietUninstallString    REG_SZ    \"$(win "$BASE/bin")\\flowtally-uninstall.exe\" /S" \
    "$BATS_TEST_TMPDIR/entry"

  # The installed program, on the demo site.
  run "$WINE" "$BASE/bin/flowtally.exe" -a
  [ "$status" -eq 0 ]
  grep -qx '  1)        BACKUP.20261206220000       bob         done 12/06-22:00 12/06-22:41' \
    <<<"${output//$'\r'/}"

  # The uninstaller runs from a copy of itself in the temporary directory, which Windows
  # removes at its next start (here: Wine's restart, which leaves the copy's empty directory).
  uninstall "$BASE/bin"
  wineboot -r >/dev/null 2>&1
  snapshot uninstalled
  unchanged before uninstalled '^\./users/[^/]*/Temp/~nsu[^/]*\.tmp$'
}

@test "without a base directory the installer takes the directory given, and the uninstaller removes the directory it made, even after a second installation; a base directory that is not one is refused" {
  local dir="$BATS_TEST_TMPDIR/chosen"
  registry
  "$WINE" "$PACKAGES/flowtally-$VERSION-win64.exe" /S "/D=$(win "$dir")"
  [ -f "$dir/flowtally.exe" ]
  "$WINE" "$PACKAGES/flowtally-$VERSION-win64.exe" /S "/D=$(win "$dir")"
  uninstall "$dir"
  [ ! -e "$dir" ]
  run "$WINE" reg query "$UNINSTALL_KEY" /reg:64
  [ "$status" -ne 0 ]

  # A product key whose base directory does not exist: exit 2, nothing installed.
  registry "\"KSBaseDirectory\"=\"$(reg_string "$BATS_TEST_TMPDIR/none")\"" '"KSLanguageId"="0"'
  run "$WINE" "$PACKAGES/flowtally-$VERSION-win64.exe" /S
  [ "$status" -eq 2 ]
  [ ! -e "$BATS_TEST_TMPDIR/none" ]
  run "$WINE" reg query "$UNINSTALL_KEY" /reg:64
  [ "$status" -ne 0 ]
}

# shellcheck disable=SC2031 # the examples' own status, in their subshell
@test "demo.cmd prints what the demo's examples print, and leaves neither its key nor its copy" {
  local demo="$BATS_TEST_TMPDIR/demo" work="$BATS_TEST_TMPDIR/work" out="$BATS_TEST_TMPDIR/out"
  unzip -q "$PACKAGES/flowtally-demo-$VERSION-win64.zip" -d "$demo"
  (cd "$demo" && find . | sort) >"$BATS_TEST_TMPDIR/unpacked"
  registry
  (cd "$demo" && "$WINE" cmd /c demo.cmd) >"$out" 2>"$BATS_TEST_TMPDIR/err"
  diff /dev/null "$BATS_TEST_TMPDIR/err"
  run "$WINE" reg query "$PRODUCT_KEY" /reg:64
  [ "$status" -eq 1 ]
  [ -z "$(find "$WINEPREFIX/drive_c/users" -path '*/Temp/flowtally-demo-*')" ]
  diff "$BATS_TEST_TMPDIR/unpacked" <(cd "$demo" && find . | sort)

  # The examples as the Linux demo runs them (demo/examples, the lines of scripts/demo), with
  # the same programs on a copy of the same site.
  site_demo_copy "$demo" "$work"
  mkdir "$work/bin"
  cp "$demo/runscan.exe" "$work/bin/"
  registry "\"KSBaseDirectory\"=\"$(reg_string "$work")\"" '"KSLanguageId"="0"' \
    "\"KSMgrAccount\"=\"$(id -un)\"" '"KSOpGroup"="Administrators"'
  printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$WINE" "$demo/flowtally.exe" >"$work/flowtally"
  chmod +x "$work/flowtally"
  (
    unset ZOV_SITEDB ZOV_SITE
    # shellcheck disable=SC2034 # the program that the examples run
    flowtally="$work/flowtally"
    cd "$work"
    # shellcheck source=SCRIPTDIR/../../demo/examples
    . "$SRC_DIR/demo/examples"
  ) >"$BATS_TEST_TMPDIR/expected"
  registry
  # Every example ran (none was cut short by the site), and demo.cmd runs the same ones.
  [ "$(grep -c '^(exit code' "$BATS_TEST_TMPDIR/expected")" -eq "$(grep -c '^run ' "$SRC_DIR/demo/examples")" ]
  diff -u <(tr -d '\r' <"$BATS_TEST_TMPDIR/expected") <(tr -d '\r' <"$out")
}

@test "demo.cmd refuses where the product key exists: a message, exit 1, nothing changed" {
  BASE="$BATS_TEST_TMPDIR/demo"
  unzip -q "$PACKAGES/flowtally-demo-$VERSION-win64.zip" -d "$BASE"
  registry '"KSBaseDirectory"="C:\\Kestrune"' '"KSLanguageId"="0"'
  # The command reads the product key alone.
  snapshot before 'HKEY_LOCAL_MACHINE\Software\Orv' 'HKEY_CURRENT_USER\Software'
  run bash -c 'cd "$1" && "$WINE" cmd /c demo.cmd' - "$BASE"
  [ "$status" -eq 1 ]
  [ "${output//$'\r'/}" = "demo.cmd: the registry has the product key $PRODUCT_KEY already, so the product is installed on this machine: the demo runs only where it is not. Nothing was changed." ]
  snapshot after 'HKEY_LOCAL_MACHINE\Software\Orv' 'HKEY_CURRENT_USER\Software'
  unchanged before after
  registry
}

@test "with a certificate the programs, the installer and its uninstaller are signed, and osslsigncode verify accepts the signatures" {
  local pki="$BATS_TEST_TMPDIR/pki" signed="$BATS_TEST_TMPDIR/signed" dir="$BATS_TEST_TMPDIR/installed"
  mkdir "$pki"
  # A throwaway self-signed code-signing certificate, its key behind a password.
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=flowtally test signing' \
    -addext extendedKeyUsage=codeSigning -keyout "$pki/key.pem" -out "$pki/cert.pem" 2>/dev/null
  printf 'throwaway\n' >"$pki/password"
  openssl pkcs12 -export -inkey "$pki/key.pem" -in "$pki/cert.pem" -passout "file:$pki/password" \
    -out "$pki/cert.p12"
  FLOWTALLY_SIGN_PKCS12="$pki/cert.p12" FLOWTALLY_SIGN_PASSWORD_FILE="$pki/password" \
    cpack -G 'ZIP;NSIS64' --config "$BUILD_DIR/CPackConfig.cmake" -B "$signed" \
    >"$BATS_TEST_TMPDIR/cpack.log" 2>&1
  grep -q 'no time-stamping service (FLOWTALLY_SIGN_TIMESTAMP_URL)' "$BATS_TEST_TMPDIR/cpack.log"
  unzip -q "$signed/flowtally-$VERSION-win64.zip" flowtally.exe -d "$pki/zip"
  unzip -q "$signed/flowtally-demo-$VERSION-win64.zip" flowtally.exe runscan.exe -d "$pki/demo"
  registry
  "$WINE" "$signed/flowtally-$VERSION-win64.exe" /S "/D=$(win "$dir")"
  for program in "$pki/zip/flowtally.exe" "$pki/demo/flowtally.exe" "$pki/demo/runscan.exe" \
      "$signed/flowtally-$VERSION-win64.exe" "$dir/flowtally.exe" "$dir/flowtally-uninstall.exe"; do
    osslsigncode verify -CAfile "$pki/cert.pem" -in "$program" >"$BATS_TEST_TMPDIR/verify" 2>&1 ||
      { cat "$BATS_TEST_TMPDIR/verify" >&2; echo "$program: no valid signature" >&2; return 1; }
  done
  uninstall "$dir"
  [ ! -e "$dir" ]
  (cd "$signed" && sha256sum -c --quiet SHA256SUMS)

  # Without a certificate nothing is signed.
  unzip -q "$PACKAGES/flowtally-$VERSION-win64.zip" flowtally.exe -d "$pki/unsigned"
  for program in "$pki/unsigned/flowtally.exe" "$PACKAGES/flowtally-$VERSION-win64.exe"; do
    run osslsigncode verify -CAfile "$pki/cert.pem" -in "$program"
    [ "$status" -ne 0 ]
  done
}
