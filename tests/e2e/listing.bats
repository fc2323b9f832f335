#!/usr/bin/env bats
# The listing's records (-l) end to end, each form read back by its own reader
# (listing_forms.py); a scripted runscan answers the search with prepared entry lines.

load helpers

setup() {
  make_installation m
  install_scripted_runscan
  export TZ=UTC
}

entry() {  # object-path status start end flags
  printf 'J %s %s 0 %s %s comment - 60 0 %s\n' "$@" >>"$SITE/entries"
}

# forms FIELD...: the records of `-a -j prep` in each form, once the forms are found to agree.
forms() {
  local form fields
  fields=$(IFS=:; echo "$*")
  mkdir -p "$SITE/forms"
  for form in tsv csv jsonl json; do
    ft -a -j prep -l "format=$form,fields=$fields"
    expect_status 0 || return 1
    cp "$SITE/out" "$SITE/forms/$form"
  done
  python3 "$SRC_DIR/tests/e2e/listing_forms.py" "$SITE/forms" "$@"
}

@test "every form gives one whole record per tracker, whatever its names hold" {
  entry 'm:o,p"q\r:A,B.20140101000000' 'done' 20140101000000 20140101000100 n
  entry 'h\x:u:Q"T\S.20140102000000' run 20140102000000 - -
  entry $'m:u:U\xc3\xa9.20140103000000' wait - - hw
  entry $'m:u\x81:L\x81.20140104000000' prep - - -
  entry ':u:N.20140105000000' 'done' 20140105000000 20140105000000 sf
  run forms tracker jnw user machine state flags status start end
  diff -u - <(printf '%s\n' "$output") <<'OUT'
["A,B.20140101000000","A,B","o,p\"q\\r","m","done","n","done(warn)","2014-01-01T00:00:00Z","2014-01-01T00:01:00Z"]
["L\ufffd.20140104000000","L\ufffd","u\ufffd","m","prep","","prep",null,null]
["N.20140105000000","N","u",null,"done","sf","done(skip)","2014-01-05T00:00:00Z","2014-01-05T00:00:00Z"]
["Q\"T\\S.20140102000000","Q\"T\\S","u","h\\x","run","","run","2014-01-02T00:00:00Z",null]
["U\u00e9.20140103000000","U\u00e9","u","m","wait","hw","prep(hold)",null,null]
OUT
  # Of a repeated item the last holds; -o takes the records.
  ft -a -j prep -l format=csv,fields=user -l format=jsonl,fields=end:tracker,notitle -o "$SITE/list"
  [ "$(text "$SITE/list" | head -n 1)" = '{"v":1,"end":"2014-01-01T00:01:00Z","tracker":"A,B.20140101000000"}' ]
}

@test "status is the listing's text for every status and letter of its table" {
  local cases=(  # status word, letters, text
    wait hsw 'prep(hold)' wait v 'prep(skip)' wait sw 'prep(skip)' wait w wait wait - prep
    prep hsw prep run Df 'run(dialog)' run Hr 'run(hold)' run rf 'run(estop)'
    run fn 'run(error)' run n 'run(warn)' run R run run - run 'done' sf 'done(skip)'
    'done' g 'done(skip)' 'done' b 'done(skip)' 'done' fn 'done(error)' 'done' r 'done(error)'
    'done' n 'done(warn)' 'done' - 'done'
  )
  local i expected=()
  for ((i = 0; i < ${#cases[@]}; i += 3)); do
    entry "m:u:T$((100 + i)).20140101000000" "${cases[i]}" 20140101000000 - "${cases[i + 1]}"
    expected+=("[\"T$((100 + i)).20140101000000\",\"${cases[i + 2]}\"]")
  done
  run forms tracker status  # which also counts the fields of every line
  diff -u <(printf '%s\n' "${expected[@]}") <(printf '%s\n' "$output")
}

@test "times in UTC by default, or in local time with the offset" {
  export TZ=Asia/Tokyo
  entry m:u:A.20261231143000 'done' 20261231143000 20270101000000 -  # 23:30 on 31 December
  ft -l fields=start:end,notitle
  expect_stdout $'2026-12-31T14:30:00Z\t2027-01-01T00:00:00Z\n'
  ft -l tz=utc,fields=start:end,notitle,tz=local
  expect_stdout $'2026-12-31T23:30:00+09:00\t2027-01-01T09:00:00+09:00\n'
}

@test "nothing found: exit 2, and the empty form on standard output only" {
  ft -l format=json
  expect_status 2
  expect_stderr $'No JNW detected.\n'
  expect_stdout $'{"format_version":"1.0","trackers":[]}\n'
  ft -l fields=tracker:user
  expect_stdout $'tracker\tuser\n'
  ft -l format=jsonl
  expect_stdout ''
  printf 'kept\n' >"$SITE/list"
  ft -l format=json -o "$SITE/list"
  expect_stdout ''
  [ "$(cat "$SITE/list")" = kept ]
}

@test "a bad -l or quote item: its message, the short usage line, exit 3, and no search" {
  local cases=(
    '-l format=xml' 'Invalid option: format=xml'
    '-l format=tsv,quote' 'Invalid option: quote'
    '-l notitle=1' 'Invalid option: notitle=1'
    '-l fields=' 'Invalid option: fields='
    '-l fields=user:tracker:user' 'Invalid option: fields=user:tracker:user'
    '-l fields=user::tracker' 'Invalid option: fields=user::tracker'
    '-l tz=JST' 'Invalid option: tz=JST'
    '-l format=csv -p style=1' "Don't specify the option -l and -p"
    '-t testp=done -l format=csv' "Don't specify the option -l and -t"
    '-p format=csv,quote -p format=rd' 'Invalid option: quote'
    '-p format=csv,quote=yes' 'Invalid option: quote=yes'
  )
  entry m:u:A.20140101000000 'done' 20140101000000 - -
  local i args
  for ((i = 0; i < ${#cases[@]}; i += 2)); do
    read -ra args <<<"${cases[i]}"
    ft "${args[@]}"
    { expect_status 3 && expect_stderr "${cases[i + 1]}"$'\n'"$SHORT_USAGE" &&
      [ ! -e "$SITE/calls" ]; } || { echo "arguments: ${cases[i]}" >&2; return 1; }
  done
}
