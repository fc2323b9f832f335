#!/usr/bin/env bats
# Print mode's JSON forms end to end: every line of JSON Lines and every document parses with a
# strict parser and is valid against a strict copy of the installed schema (json_check.py), and
# each record is the CSV row of the same run; times in either zone, text made UTF-8 from the
# installation's code page, captured output, failed trackers and nothing found.

load helpers

setup() {
  make_installation m
  export TZ=UTC
  SCHEMA="$SRC_DIR/packaging/schema/print.schema.json"
}

# check_json FORM [FILE]: FILE (the last output by default) is valid FORM (jsonl or json).
check_json() { python3 "$SRC_DIR/tests/e2e/json_check.py" check "$1" "$SCHEMA" "${2:-$SITE/out}"; }

# same_as_csv ARG...: for these arguments (and an exit code of $STATUS, 0 by default), -p
# format=jsonl,P gives valid JSON Lines whose records are the rows of -p format=csv,P, and -p
# format=json,P a valid document of the same records, for each print option text P of $PRINTS.
same_as_csv() {
  local p form check="$SRC_DIR/tests/e2e/json_check.py"
  for p in "${PRINTS[@]}"; do
    for form in csv jsonl json; do
      if [ "$form" = csv ]; then ft "$@" -p "format=csv,${p/,tz=local/}"; else ft "$@" -p "format=$form,$p"; fi
      expect_status "${STATUS:-0}"
      mv "$SITE/out" "$SITE/$form"
    done
    { check_json jsonl "$SITE/jsonl" && check_json json "$SITE/json" &&
      python3 "$check" csv "$SITE/jsonl" "$SITE/csv" &&
      python3 "$check" lines "$SITE/json" "$SITE/jsonl"; } || { echo "$* $p" >&2; return 1; }
  done
}

@test "the demo and a generated site: each record is its CSV row, in both forms, for every print option" {
  use_demo_site
  PRINTS=(style=0 style=1 style=2,output style=1,ujonly style=1,erronly style=-1
    style=1,notitle style=2,output,tz=local)
  same_as_csv -u alice -j name=DAILY
  PRINTS=(style=2,output)
  same_as_csv -u bob -a
  same_as_csv -u alice -j name=DAILY -c DAILY:LOAD/load_orders
  same_as_csv -u alice -j name=DAILY -c DAILY:LOAD
  # A network component matches by its full name exactly, as the CSV report matches it.
  STATUS=2 same_as_csv -u alice -j name=DAILY -c daily:load

  rm -rf "$SITE/sitedb"
  python3 "$SRC_DIR/bench/gen.py" "$SITE/sitedb" --jobs 300 --user gen
  PRINTS=(style=2,output style=1,erronly)
  same_as_csv -u gen -j name=BIG
  # Every job type, each with its own keys; the captured output of every type.
  ft -u gen -j name=BIG -p format=jsonl,style=1,output
  for type in unit erp bi pc qdrs hlbs custom; do
    grep -q "\"type\":\"$type\"" "$SITE/out" || { echo "no $type job" >&2; return 1; }
  done
  grep -q '"output":{"spool":"' "$SITE/out"
  grep -q '"output":{"ipkg_status":"' "$SITE/out"
  grep -q '"output":{"chain_log":"' "$SITE/out"
}

# A tracker of network Z whose job DST runs across the start of daylight saving time in New
# York (2026-03-08 07:00 UTC, when 02:00 EST becomes 03:00 EDT).
dst_tracker() {
  install_scripted_runscan
  printf 'J m:u:Z.20260308060000.kstrk done 0 20260308065900 20260308070100 c - 600 0 -\n' \
    >"$SITE/entries"
  {
    cat "$SITE/entries"
    printf 'U DST done 0 0 20260308065900 20260308070100 1 m1 - 20260308065900 120 -\n'
  } >"$SITE/detail"
}

@test "tz=utc gives the same bytes in any zone; tz=local the offsets on both sides of a daylight-saving change" {
  dst_tracker
  TZ=UTC ft -u u -j name=Z -p format=jsonl,style=1
  expect_status 0
  cp "$SITE/out" "$SITE/utc"
  grep -q '"start":"2026-03-08T06:59:00Z","end":"2026-03-08T07:01:00Z",' "$SITE/utc"
  # The tz= of the last -p holds, and a format given after tz= counts.
  TZ=Asia/Tokyo ft -u u -j name=Z -p tz=local -p tz=utc,style=1 -p format=jsonl
  expect_status 0
  cmp "$SITE/utc" "$SITE/out"

  TZ=Asia/Tokyo ft -u u -j name=Z -p format=json,style=1,tz=local
  expect_status 0
  grep -q '"start":"2026-03-08T15:59:00+09:00","end":"2026-03-08T16:01:00+09:00",' "$SITE/out"
  TZ=America/New_York ft -u u -j name=Z -p format=json,style=1,tz=local
  expect_status 0
  check_json json
  grep -q '"name":"DST","parent":"Z","status":"done","class":6,"start":"2026-03-08T01:59:00-05:00","end":"2026-03-08T03:01:00-04:00","expected_start":"2026-03-08T01:59:00-05:00","expected_end":"2026-03-08T03:01:00-04:00","duration":120,' "$SITE/out"
}

# A tracker of network T whose names hold the bytes of $1 and $2 (job names) and whose job OUT
# has captured output: a line of 3000 characters, a line ended with CR LF, a control byte.
text_tracker() {
  install_scripted_runscan
  printf -v LONG '%3000s' ''
  LONG="${LONG// /x}"
  printf 'J m:u:T.20140930120000.kstrk run 0 20140930120000 - c - 1800 0 -\n' >"$SITE/entries"
  {
    cat "$SITE/entries"
    printf 'U %s done 0 0 20140930120000 20140930120100 - m1 - 20140930120000 60 -\n' "$1" "$2"
    printf 'U OUT estop 3 77 20140930120000 20140930120100 - - - 20140930120000 60 -\n'
    printf 'O\n\t%s\n\tcr\r\n\tbell\a{"x":\\}\n' "$LONG"
  } >"$SITE/detail"
}

@test "text: any bytes give valid JSON; text that is not UTF-8 is read in the installation's code page" {
  # Quotes, backslashes, commas, a control byte, a lead byte at the end, valid UTF-8; braces in
  # the captured output (a name cannot hold them).
  text_tracker $'q"b\\s,\x01\xc3\xa9' $'caf\xc3\xa9\x93'
  ft -u u -j name=T -p format=jsonl,style=1,output
  expect_status 0
  check_json jsonl
  grep -qF '"name":"q\"b\\s,\u0001é",' "$SITE/out"
  grep -qF "\"name\":\"caf$(printf '\xc3\x83\xc2\xa9\xe2\x80\x9c')\"," "$SITE/out"  # 1252
  grep -qF "\"stdout\":\"$LONG\\ncr\\nbell\\u0007{\\\"x\\\":\\\\}\\n\",\"stderr\":null}" "$SITE/out"
  grep -qF '"name":"OUT","parent":"T","status":"error_stop","class":9,' "$SITE/out"
  grep -qF '"exit_code":null,"error_class":3,"error_code":77,"machine":null,"request_id":null,' \
    "$SITE/out"

  # KSCodePage when the system knows it, else the language id (Linux) or the ANSI code page.
  text_tracker $'\x93\xfa\x8e\x9e' $'x\xa0y'
  local japanese=$'\xe6\x97\xa5\xe6\x99\x82' bad=$'x\xef\xbf\xbdy'
  write_registry '"KSLanguageId"="0"' '"KSCodePage"="932"'
  ft -u u -j name=T -p format=json,style=1
  check_json json
  grep -qF "\"name\":\"$japanese\"," "$SITE/out"
  grep -qF "\"name\":\"$bad\"," "$SITE/out"
  if ! on_windows; then
    write_registry '"KSLanguageId"="2"' '"KSCodePage"="4242"'
    ft -u u -j name=T -p format=json,style=1
    grep -qF "\"name\":\"$japanese\"," "$SITE/out"
    write_registry '"KSLanguageId"="1"'
    ft -u u -j name=T -p format=json,style=1
    grep -qF '"name":"擔帪",' "$SITE/out"
  fi
}

@test "a tracker that fails has its error; the document is closed; nothing found is the empty document" {
  # Two trackers of network A; the dump of the second fails (it has no detail file).
  # shellcheck disable=SC2016 # code of the script, expanded when it runs
  install_scripted_runscan 'stamp=$(printf "%s\n" "$1" | sed -n "s/.*\.\([0-9]\{14\}\)\.kstrk\$/\1/p")
cat "$site/detail.$stamp"' 'cat-stamp detail'
  {
    printf 'J m:u:A.20140930120000.kstrk done 0 20140930120002 20140930121000 c - 600 0 -\n'
    printf 'J m:u:A.20141001120000.kstrk done 0 20141001120000 20141001123000 c - 600 0 -\n'
  } >"$SITE/entries"
  sed -n 1p "$SITE/entries" >"$SITE/detail.20140930120000"
  local error='"tracker":"A.20141001120000","message":"Error at data dumpping."}'
  ft -u u -j name=A -p format=jsonl
  expect_status 3
  check_json jsonl
  [ "$(sed -n 2p "$SITE/out")" = "{\"v\":1,\"record\":\"error\",$error" ]
  [ "$(tail -n 1 "$SITE/err")" = "Error at data dumpping." ]
  ft -u u -j name=A -p format=json,style=1
  expect_status 3
  check_json json
  grep -qF ',{"tracker":"A.20141001120000","error":"Error at data dumpping."}]}' "$SITE/out"
  # An -o file: the document replaces it once a report is written, errors and all; when every
  # tracker fails, the file keeps what it held.
  printf 'old report\n' >"$SITE/old"
  ft -u u -j name=A -p format=json,style=1 -o "$SITE/old"
  expect_status 3
  text "$SITE/old" >"$SITE/out"
  check_json json
  grep -qF ',{"tracker":"A.20141001120000","error":"Error at data dumpping."}]}' "$SITE/out"
  rm "$SITE/detail.20140930120000"
  printf 'old report\n' >"$SITE/old"
  ft -u u -j name=A -p format=json,style=1 -o "$SITE/old"
  expect_status 3
  [ "$(cat "$SITE/old")" = "old report" ]

  # Nothing found: the empty document on standard output only, exit 2.
  : >"$SITE/entries"
  ft -u u -j name=A -p format=json
  expect_status 2
  expect_stdout $'{"format_version":"1.0","trackers":[]}\n'
  ft -u u -j name=A -p format=json -o "$SITE/old"
  expect_status 2
  [ "$(cat "$SITE/old")" = "old report" ]
  ft -u u -j name=A -p format=jsonl
  expect_status 2
  expect_stdout ''
}
