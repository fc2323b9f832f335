#!/usr/bin/env bats
# The stand-in tracker search tool on a small site tree: searches by object and filter, the
# archive, dumps of networks and content blocks, and its failures.

load helpers

setup() {
  # The site database is the base directory itself: the registry names it, no ZOV_SITEDB.
  SITE="$BATS_TEST_TMPDIR"
  DB="$SITE/base"
  mkdir -p "$DB/spool/nmap" "$DB/spool/users/ann/kstrk" "$DB/spool/users/ann/archive" \
    "$DB/spool/users/ben/kstrk" "$DB/spool/users/cid"
  printf 'hostname: testhost\n' >"$DB/spool/nmap/localinfo"
  write_registry '"KSLanguageId"="0"'
  unset ZOV_SITEDB ZOV_SITE

  # ann: A done (sub-network A:S with A:S:T, content blocks), A running, B waiting; one
  # archived A. ben: A failed. Files are written in an order that is not the listing order.
  K="$DB/spool/users/ann/kstrk"
  A1="$K/A.20261201000000.kstrk"
  tracker "$K/B.20261203000000.kstrk" \
    'J testhost:ann:B.20261203000000.kstrk wait 0 - - - - 60 0 h' \
    'U b1 wait 0 0 - - - testhost - 20261203000000 60 -'
  tracker "$A1" \
    'J testhost:ann:A.20261201000000.kstrk done 0 20261201000002 20261201000100 nightly-run - 60 0 -' \
    'U a1 done 0 0 20261201000003 20261201000010 11 testhost {q one} 20261201000000 30 -' \
    'O' $'\tout a1 first' $'\tout a1 second' 'E' $'\terr a1' \
    'J testhost:ann:A:S.20261201000000.kstrk done 0 20261201000011 20261201000050 - - 40 10 -' \
    'U s1 done 0 0 20261201000012 20261201000020 12 testhost - 20261201000010 10 -' \
    'E' $'\terr s1' \
    'J testhost:ann:A:S:T.20261201000000.kstrk done 0 20261201000021 20261201000049 - - 20 20 -' \
    'Z java t1 done 0 0 20261201000022 20261201000049 13 testhost - 20261201000020 20 -'
  tracker "$K/A.20261202000000.kstrk" \
    'J testhost:ann:A.20261202000000.kstrk run 0 20261202000005 - - - 60 0 -' \
    'U a1 run 0 0 20261202000006 - 21 testhost - 20261202000000 30 -'
  tracker "$DB/spool/users/ann/archive/A.20261101000000.kstrk" \
    'J testhost:ann:A.20261101000000.kstrk done 0 20261101000001 20261101000100 - - 60 0 -' \
    'U a1 done 0 0 20261101000002 20261101000010 1 testhost - 20261101000000 30 -'
  tracker "$DB/spool/users/ben/kstrk/A.20261201120000.kstrk" \
    'J testhost:ben:A.20261201120000.kstrk done 0 20261201120001 20261201120200 - - 60 0 f' \
    'U a1 done 0 3 20261201120002 20261201120200 31 testhost - 20261201120000 30 f' \
    'O' $'\tout ben' 'E' $'\tfailed ben'
  printf 'not a tracker\n' >"$K/notes.txt"
}

# Writes a tracker file from its lines.
tracker() {
  local file="$1"
  shift
  printf '%s\n' "$@" >"$file"
}

# Runs runscan with the option string split at blanks, as flowtally starts it; the exit code
# lands in $status, standard output in the file out and standard error in err.
rs() {
  status=0
  # shellcheck disable=SC2086
  "$BIN_DIR/runscan" $1 >"$SITE/out" 2>"$SITE/err" || status=$?
  if on_windows; then windows_text; fi
}

# The tracker paths (field 2) of the lines printed, one per line.
expect_paths() {
  diff -u <(printf '%s' "$1") <(awk '{ print $2 }' "$SITE/out")
}

@test "a search by user lists that user's trackers by file name, top J lines only" {
  rs "Otesthost:ann.user N1"
  expect_status 0
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ann:A.20261202000000.kstrk\ntesthost:ann:B.20261203000000.kstrk\n'
  [ -z "$(cat "$SITE/err")" ]
  head -1 "$SITE/out" | grep -qx 'J testhost:ann:A.20261201000000.kstrk done 0 20261201000002 20261201000100 nightly-run - 60 0 -'
}

@test "a search by machine lists every user, in user order; another machine finds nothing" {
  rs "Otesthost.machine N1"
  expect_status 0
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ann:A.20261202000000.kstrk\ntesthost:ann:B.20261203000000.kstrk\ntesthost:ben:A.20261201120000.kstrk\n'

  rs "OTESTHOST.machine N1"
  expect_status 0
  [ "$(wc -l <"$SITE/out")" -eq 4 ]

  for object in otherhost.machine otherhost:ann.user otherhost:ann:A.ksjnw nobody:x.user; do
    rs "O$object N1"
    expect_status 0
    [ ! -s "$SITE/out" ]
  done
  rs "Otesthost:nobody.user N1"
  expect_status 0
  [ ! -s "$SITE/out" ]
}

@test "a search by JNW, of one user or with Pj of all users" {
  rs "Otesthost:ann:A.ksjnw N1"
  expect_status 0
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ann:A.20261202000000.kstrk\n'

  rs "Otesthost:ann:a.ksjnw N1"
  [ "$(wc -l <"$SITE/out")" -eq 2 ]

  rs "Otesthost.machine N1 PjA Psrun/done"
  expect_status 0
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ann:A.20261202000000.kstrk\ntesthost:ben:A.20261201120000.kstrk\n'

  rs "Otesthost.machine N1 PjB"
  expect_paths $'testhost:ann:B.20261203000000.kstrk\n'
}

@test "a status filter keeps the listed status words only, compared exactly" {
  rs "Otesthost:ann.user N1 Psrun/done"
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ann:A.20261202000000.kstrk\n'
  rs "Otesthost:ann.user N1 Pswait/prep"
  expect_paths $'testhost:ann:B.20261203000000.kstrk\n'
  rs "Otesthost:ann.user N1 Psrun"
  expect_paths $'testhost:ann:A.20261202000000.kstrk\n'
  rs "Otesthost:ann.user N1 PsDone"
  expect_status 0
  [ ! -s "$SITE/out" ]
}

@test "S and E bound the start; a tracker not started fails S and passes E" {
  rs "Otesthost.machine N1 S20261201120001"
  expect_paths $'testhost:ann:A.20261202000000.kstrk\ntesthost:ben:A.20261201120000.kstrk\n'

  rs "Otesthost.machine N1 E20261201120000"
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ann:B.20261203000000.kstrk\n'

  rs "Otesthost.machine N1 S20261201000002 E20261201120001"
  expect_paths $'testhost:ann:A.20261201000000.kstrk\ntesthost:ben:A.20261201120000.kstrk\n'
}

@test "archived trackers take part only with I, marked with the letter a" {
  rs "Otesthost:ann:A.ksjnw N1"
  [ "$(grep -c 20261101000000 "$SITE/out")" -eq 0 ]

  rs "Otesthost:ann:A.ksjnw N1 E20261207235959 I Psrun/done"
  expect_status 0
  expect_paths $'testhost:ann:A.20261101000000.kstrk\ntesthost:ann:A.20261201000000.kstrk\ntesthost:ann:A.20261202000000.kstrk\n'
  head -1 "$SITE/out" | grep -qx 'J testhost:ann:A.20261101000000.kstrk done 0 20261101000001 20261101000100 - - 60 0 a'
  sed -n 2p "$SITE/out" | grep -q ' -$'

  rs "Otesthost:ann:A.20261101000000.kstrk U"
  expect_status 1
  rs "Otesthost:ann:A.20261101000000.kstrk U I"
  expect_status 0
  expect_stdout $'J testhost:ann:A.20261101000000.kstrk done 0 20261101000001 20261101000100 - - 60 0 a\nU a1 done 0 0 20261101000002 20261101000010 1 testhost - 20261101000000 30 -\n'
}

@test "a full name given with N1 finds that one tracker" {
  rs "Otesthost:ann:A.20261202000000.kstrk N1"
  expect_status 0
  expect_stdout $'J testhost:ann:A.20261202000000.kstrk run 0 20261202000005 - - - 60 0 -\n'
  rs "Otesthost:ann:A.20261209000000.kstrk N1"
  expect_status 0
  [ ! -s "$SITE/out" ]
}

@test "a dump prints the network's own lines; Z adds the sub-networks; F items keep blocks" {
  rs "Otesthost:ann:A.20261201000000.kstrk U  I"
  expect_status 0
  expect_stdout "$(sed -n 1,2p "$A1")"$'\n'

  rs "Otesthost:ann:A.20261201000000.kstrk U Fo I"
  expect_stdout "$(sed -n 1,5p "$A1")"$'\n'

  rs "Otesthost:ann:A.20261201000000.kstrk U Fe I"
  expect_stdout "$(sed -n '1,2p;6,7p' "$A1")"$'\n'

  rs "Otesthost:ann:A.20261201000000.kstrk Z U  I"
  expect_status 0
  expect_stdout "$(grep -v $'^[OE\t]' "$A1")"$'\n'

  # Everything, as the print mode asks for it: the file itself.
  rs "Otesthost:ann:A.20261201000000.kstrk Z U Foe I"
  expect_status 0
  cmp "$SITE/out" "$A1"
}

@test "a dump of a sub-network, with and without its nested networks" {
  rs "Otesthost:ann:A:S.20261201000000.kstrk U Foe I"
  expect_status 0
  expect_stdout "$(sed -n 8,11p "$A1")"$'\n'

  rs "Otesthost:ann:A:s.20261201000000.kstrk Z U"
  expect_stdout "$(sed -n '8,9p;12,13p' "$A1")"$'\n'

  rs "Otesthost:ann:A:S:T.20261201000000.kstrk U"
  expect_stdout "$(sed -n 12,13p "$A1")"$'\n'
}

@test "a dump of a missing tracker or sub-network fails with status 1 and prints nothing" {
  for object in testhost:ann:A.20261209000000.kstrk testhost:ann:A:X.20261201000000.kstrk \
    testhost:nobody:A.20261201000000.kstrk otherhost:ann:A.20261201000000.kstrk; do
    rs "O$object U I"
    expect_status 1
    [ ! -s "$SITE/out" ]
    grep -q "^runscan: no such tracker $object" "$SITE/err"
  done
}

@test "a damaged tracker file is reported with what is wrong: the dump prints nothing, the search goes on" {
  printf 'U a1 done 0 0 - - 1 testhost - - 30 -\n' >"$DB/spool/users/ann/kstrk/C.20261204000000.kstrk"
  printf 'J testhost:ann:D.20261205000000.kstrk done\n' >"$DB/spool/users/ann/kstrk/D.20261205000000.kstrk"
  rs "Otesthost:ann.user N1"
  expect_status 1
  [ "$(wc -l <"$SITE/out")" -eq 3 ]
  grep -q '^runscan: damaged tracker file .*/C.20261204000000.kstrk: line 1 is no J line$' "$SITE/err"
  grep -q '^runscan: damaged tracker file .*/D.20261205000000.kstrk: line 1 is a J line with 3 of its 11 fields: field 4 (error class) and those after it are missing$' "$SITE/err"

  printf 'J testhost:ann:A:S.20261201000000.kstrk done\n' >>"$A1"
  rs "Otesthost:ann:A.20261201000000.kstrk Z U Foe"
  expect_status 1
  [ ! -s "$SITE/out" ]
}

@test "bad option items fail with status 1 and a message" {
  for options in "" "N1" "Otesthost.machine" "Otesthost.machine N1 X" "Otesthost.machine N2" \
    "Otesthost.machine N1 S2026" "Otesthost.machine N1 Ps" "Otesthost:ann.user U" \
    "Otesthost:ann:A.20261201000000.kstrk U Fx" "Otesthost:ann:../../x.user N1"; do
    rs "$options"
    expect_status 1
    [ ! -s "$SITE/out" ]
    [ -s "$SITE/err" ]
  done
}

@test "the site comes from ZOV_SITEDB or the registry; without either runscan fails" {
  export KS_REGISTRY="$SITE/missing.reg"
  rs "Otesthost:ann.user N1"
  expect_status 1
  grep -q '^runscan: cannot determine the site database directory' "$SITE/err"

  export ZOV_SITEDB="$DB"
  rs "Otesthost:ann.user N1"
  expect_status 0
  [ "$(wc -l <"$SITE/out")" -eq 3 ]

  rm "$DB/spool/nmap/localinfo"
  rs "Otesthost:ann.user N1"
  expect_status 1
}

@test "every demo tracker is found by a search and dumps back to its own file" {
  cp -r "$SRC_DIR/demo/spool" "$SITE/spool"
  export ZOV_SITEDB="$SITE"
  rs "Odemohost.machine N1 I"
  expect_status 0
  [ "$(wc -l <"$SITE/out")" -eq "$(find "$SITE/spool/users" -name '*.kstrk' | wc -l)" ]
  for file in "$SITE"/spool/users/*/kstrk/*.kstrk "$SITE"/spool/users/*/archive/*.kstrk; do
    user=$(basename "$(dirname "$(dirname "$file")")")
    rs "Odemohost:$user:$(basename "$file") Z U Foe I"
    expect_status 0
    # An archived tracker differs only in the letter a of its first line.
    case "$file" in
    */archive/*) diff <(tail -n +2 "$file") <(tail -n +2 "$SITE/out") ;;
    *) cmp "$file" "$SITE/out" ;;
    esac
  done
}
