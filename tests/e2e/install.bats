#!/usr/bin/env bats
# The installed flowtally: what an installation holds, the demo component, the manual page and
# the bash completion, and the README's examples, which the demo runs.

setup() {
  PREFIX="$BATS_TEST_TMPDIR/prefix"
}

@test "an installation holds the command, its manual page, its completion and the JSON Schema; the demo only on request" {
  if [ -n "${FT_WINDOWS:-}" ]; then
    skip "Linux only: the Linux package (manual page, bash completion, flowtally-demo script)"
  fi
  cmake --install "$BUILD_DIR" --prefix "$PREFIX" >/dev/null
  diff -u <(printf '%s\n' bin/flowtally share/bash-completion/completions/flowtally \
    share/flowtally/schema/print.schema.json share/man/man1/flowtally.1) \
    <(cd "$PREFIX" && find . -type f -o -type l | sed 's|^\./||' | sort)
  [ "$(env -i "$PREFIX/bin/flowtally" --version)" = "flowtally 1.0.0" ]
  grep -q '^\.TH FLOWTALLY 1 .* "flowtally 1.0.0"' "$PREFIX/share/man/man1/flowtally.1"

  cmake --install "$BUILD_DIR" --prefix "$PREFIX" --component demo >/dev/null
  [ -x "$PREFIX/share/flowtally/demo/bin/runscan" ]
  run env -u KS_REGISTRY TMPDIR="$BATS_TEST_TMPDIR" "$PREFIX/bin/flowtally-demo"
  [ "$status" -eq 0 ]
  [ "$(grep -c '^(exit code' <<<"$output")" -eq 9 ]
  grep -qx '  1)        BACKUP.20261206220000       bob         done 12/06-22:00 12/06-22:41' \
    <<<"$output"
  grep -qx $'BACKUP.20261206220000\tbob\tdone\t2026-12-06T22:00:01Z' <<<"$output"
  grep -q '^DAILY,20261207010000,alice,demohost,' <<<"$output"
  # The demo works on a copy that it removes.
  [ -z "$(find "$BATS_TEST_TMPDIR" -maxdepth 1 -name 'flowtally-demo.*')" ]

  # A reader that stops early ends the demo quietly, as it ends flowtally, and the copy goes.
  local code
  code=$(env -u KS_REGISTRY TMPDIR="$BATS_TEST_TMPDIR" "$PREFIX/bin/flowtally-demo" \
    2>"$BATS_TEST_TMPDIR/err" | true; echo "${PIPESTATUS[0]}")
  [ "$code" -eq 141 ]
  diff -u /dev/null "$BATS_TEST_TMPDIR/err"
  [ -z "$(find "$BATS_TEST_TMPDIR" -maxdepth 1 -name 'flowtally-demo.*')" ]
}

@test "the Debian packages hold this version's changelog and compressed manual pages; programs stay out of share" {
  if [ -n "${FT_WINDOWS:-}" ]; then
    skip "Linux only: the Debian packages"
  fi
  local pkg="$BATS_TEST_TMPDIR/pkg" files
  cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$pkg" >/dev/null
  files=$(for deb in "$pkg"/*.deb; do dpkg-deb -c "$deb"; done | awk '{print $6}')
  for file in ./usr/share/doc/flowtally/changelog.gz ./usr/share/man/man1/flowtally.1.gz \
      ./usr/share/doc/flowtally-demo/changelog.gz ./usr/share/man/man1/flowtally-demo.1.gz \
      ./usr/libexec/flowtally/runscan ./usr/share/flowtally/schema/print.schema.json; do
    grep -qxF "$file" <<<"$files" || { echo "not in the packages: $file" >&2; return 1; }
  done
  ! grep -q '/man/.*\.[1-9]$' <<<"$files"
  dpkg-deb --fsys-tarfile "$pkg"/flowtally_*.deb | tar -xO ./usr/share/doc/flowtally/changelog.gz |
    gzip -d | head -n 1 | grep -q "^flowtally ($("$BIN_DIR/flowtally" --version | cut -d' ' -f2)) "
}

@test "the manual pages have no roff warnings" {
  command -v groff >/dev/null || skip "groff is not installed"
  run groff -man -ww -z "$SRC_DIR/packaging/flowtally.1" "$SRC_DIR/demo/flowtally-demo.1"
  [ "$status" -eq 0 ]
  [ -z "$output" ]
}

@test "the completion offers the items after -j, -p and -l, and the values of their items" {
  # shellcheck disable=SC1091
  source "$SRC_DIR/packaging/flowtally.bash"
  complete_line() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    read -r -a COMP_WORDS <<<"$COMP_LINE"
    COMP_CWORD=${#COMP_WORDS[@]}
    _flowtally
    printf '%s\n' "${COMPREPLY[*]}"
  }
  [ "$(complete_line 'flowtally -p ')" = "format= style= ujonly erronly output notitle quote tz=" ]
  [ "$(complete_line 'flowtally -a -p format=csv,st')" = "csv,style=" ]
  [ "$(complete_line 'flowtally -p format=')" = "csv rd jsonl json" ]
  [ "$(complete_line 'flowtally -j name=DAILY,')" = "DAILY,name= DAILY,run DAILY,last DAILY,date= DAILY,today DAILY,prep DAILY,trk= DAILY,tid=" ]
  [ "$(complete_line 'flowtally -t testp=error/st')" = "error/stopped" ]
  [ "$(complete_line 'flowtally -l format=json')" = "jsonl json" ]
  [ "$(complete_line 'flowtally -l notitle,fields=tracker:st')" = "state status start" ]
}

@test "every example of the README is one that the demo runs" {
  local examples line count=0
  examples=$(sed -n 's/^run \(.*[^ ]\) *#.*$/\1/p; s/^run \([^#]*[^ ]\)$/\1/p' "$SRC_DIR/demo/examples")
  while IFS= read -r line; do
    count=$((count + 1))
    grep -qxF -- "$line" <<<"$examples" || {
      echo "README example not in demo/examples: $line" >&2
      return 1
    }
  done < <(sed -n '/^Examples/,/^```$/s/^flowtally \(.*[^ ]\) *#.*$/\1/p; /^Examples/,/^```$/s/^flowtally \([^#]*[^ ]\)$/\1/p' "$SRC_DIR/README.md")
  [ "$count" -ge 5 ]
}
