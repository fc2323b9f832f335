#!/usr/bin/env bats
# The readable report end to end: flowtally with the real stand-in on a copy of the demo site,
# dumping, loading and reporting alice's DAILY trackers with every section and content block.

load helpers

setup() {
  make_installation
  use_demo_site
  SPOOL_TMP="$SITE/sitedb/spool/tmp"
  RULE=------------------------------------------------------------------
}

# True when the report holds the lines of the argument, one after the other.
holds() {
  local report
  report="$(cat "$SITE/out")"
  [[ "$report" == *"$1"* ]] || {
    printf 'not in the report:\n%s\n' "$1"
    return 1
  }
}

# A COUNT table whose rows ALL, UJ and JNW are given; the other rows are zero.
counts() {
  local zero='    0     0(    0,    0)     0     0(    0)     0'
  printf 'COUNT: TOTAL  WAIT( hold, skip)   RUN  DONE( skip) ERROR\n'
  printf -- '----------------------------------------------------------\n'
  printf '  ALL: %s\n   UJ: %s\n  ERP: %s\n   BI: %s\n  JNW: %s\n' "$1" "$2" "$zero" "$zero" "$3"
  printf '   PC: %s\nQDRSJ: %s\nHLBSJ: %s\nCSTMJ: %s\nOTHER: %s' "$zero" "$zero" "$zero" "$zero" \
    "$zero"
}

@test "style=2,output reports every DAILY tracker with counts, type blocks and content" {
  before="$(ls -A "$SPOOL_TMP")"
  ft -u alice -j name=DAILY -p style=2,output
  [ "$status" -eq 0 ]
  [ ! -s "$SITE/err" ]
  # One report per tracker, in tracker order; every spool file is gone again.
  [ "$(grep -c '^\*\*\*\* SUMMARY \*\*\*\*$' "$SITE/out")" -eq 3 ]
  [ "$(grep '^TRACKER-ID' "$SITE/out" | paste -sd' ')" = \
    "TRACKER-ID: DAILY.20261205010000 TRACKER-ID: DAILY.20261206010000 TRACKER-ID: DAILY.20261207010000" ]
  [ "$(ls -A "$SPOOL_TMP")" = "$before" ]

  diff -u <(printf '%s\n' "**** SUMMARY ****" \
    "TRACKER-ID: DAILY.20261205010000" \
    "STATUS    : done" \
    "START TIME: 26-12-05 01:00'02      (EXP. 26-12-05 01:00'00)" \
    "END TIME  : 26-12-05 01:34'11      (EXP. 26-12-05 01:40'00)" \
    "AMOUNTTIME: 0:34'09" \
    "USER      : alice" \
    "$(counts '    7     0(    0,    0)     0     7(    1)     0' \
      '    5     0(    0,    0)     0     5(    1)     0' \
      '    2     0(    0,    0)     0     2(    0)     0')" \
    "**** JNW ****" \
    "NAME      : DAILY" \
    "PARENT    : ") <(head -n 22 "$SITE/out")

  holds "$(printf '%s\n' "NAME      : DAILY:LOAD" \
    "PARENT    : DAILY" \
    "STATUS    : done" \
    "START TIME: 26-12-05 01:12'12      (EXP. 26-12-05 01:15'00)" \
    "END TIME  : 26-12-05 01:34'00      (EXP. 26-12-05 01:40'00)" \
    "AMOUNTTIME: 0:21'48" \
    "$(counts '    3     0(    0,    0)     0     3(    1)     0' \
      '    3     0(    0,    0)     0     3(    1)     0' \
      '    0     0(    0,    0)     0     0(    0)     0')" \
    "" \
    "**** UNITJOB ****" \
    "NAME      : extract" \
    "PARENT    : DAILY" \
    "STATUS    : done" \
    "START TIME: 26-12-05 01:00'05      (EXP. 26-12-05 01:00'00)" \
    "END TIME  : 26-12-05 01:12'10      (EXP. 26-12-05 01:15'00)" \
    "AMOUNTTIME: 0:12'05" \
    "EXIT CODE : 0" \
    "ERROR CODE: 0/0" \
    "EXEC MAC  : demohost" \
    "REQUEST-ID: 1201" \
    "STDOUT    : " \
    "$RULE" \
    "extract: 48213 rows read from orders" \
    "extract: wrote /data/daily/orders.csv" \
    "$RULE" \
    "STDERR    : " \
    "$RULE" \
    "warning: 3 rows with empty customer id" \
    "$RULE" \
    "" \
    "NAME      : notify")"

  # The failed load of the second tracker: an exit code, and both blocks of its output.
  holds "$(printf '%s\n' "NAME      : load_orders" \
    "PARENT    : DAILY:LOAD" \
    "STATUS    : error" \
    "START TIME: 26-12-06 01:12'01      (EXP. 26-12-06 01:15'00)" \
    "END TIME  : 26-12-06 01:20'15      (EXP. 26-12-06 01:30'00)" \
    "AMOUNTTIME: 0:08'14" \
    "EXIT CODE : 2" \
    "ERROR CODE: 0/0" \
    "EXEC MAC  : demohost" \
    "REQUEST-ID: 1302" \
    "STDOUT    : " \
    "$RULE" \
    "load: connecting to sales database" \
    "$RULE" \
    "STDERR    : " \
    "$RULE" \
    "load: ERROR 1205 lock wait timeout on sales.orders" \
    "load: giving up after 3 attempts" \
    "$RULE" \
    "" \
    "**** SUMMARY ****" \
    "TRACKER-ID: DAILY.20261207010000" \
    "STATUS    : run" \
    "START TIME: 26-12-07 01:00'02      (EXP. 26-12-07 01:00'00)" \
    "END TIME  : -                      (EXP. 26-12-07 01:40'00)" \
    "AMOUNTTIME: -")"

  # A skipped job that never ran: no times, and an empty frame for each block.
  holds "$(printf '%s\n' "NAME      : cleanup" \
    "PARENT    : DAILY:LOAD" \
    "STATUS    : done (skip)" \
    "START TIME: -                      (EXP. 26-12-05 01:35'00)" \
    "END TIME  : -                      (EXP. 26-12-05 01:36'00)" \
    "AMOUNTTIME: -" \
    "EXIT CODE : 0" \
    "ERROR CODE: 0/0" \
    "EXEC MAC  : demohost" \
    "REQUEST-ID: -" \
    "STDOUT    : " \
    "$RULE" \
    "$RULE" \
    "STDERR    : " \
    "$RULE" \
    "$RULE" \
    "" \
    "NAME      : load_index")"
}

@test "a component report shows the one job, or the one sub-network" {
  ft -u alice -j name=DAILY -c DAILY:LOAD/load_orders -p style=1,output
  [ "$status" -eq 0 ]
  [ "$(grep -c '^NAME' "$SITE/out")" -eq 3 ]
  [ "$(grep -c '^\*\*\*\* UNITJOB \*\*\*\*$' "$SITE/out")" -eq 3 ]
  [ -z "$(grep 'SUMMARY\|JNW \*\|EXIT CODE' "$SITE/out")" ]
  holds "$(printf '%s\n' "load: connecting to sales database" "$RULE" "STDERR    : " "$RULE" \
    "load: ERROR 1205 lock wait timeout on sales.orders")"

  ft -u alice -j name=DAILY -c daily:load -p style=1
  [ "$status" -eq 0 ]
  [ "$(grep -c '^\*\*\*\* JNW \*\*\*\*$' "$SITE/out")" -eq 3 ]
  [ "$(grep '^NAME' "$SITE/out" | sort -u)" = "NAME      : DAILY:LOAD" ]
  [ -z "$(grep 'SUMMARY\|UNITJOB\|COUNT' "$SITE/out")" ]
}

@test "-d 8 traces the load of a dumped demo tracker, whose COUNT table follows its lines" {
  tracker="$SITE/sitedb/spool/users/alice/kstrk/DAILY.20261205010000.kstrk"
  ft -u alice -j trk=DAILY.20261205010000 -p style=1 -d 8
  expect_status 0
  # Each line of the spool file (the tracker without its content blocks, which only output
  # asks for) is traced with its offset, then as the component it makes. On Windows the stand-in
  # writes its lines as text, ending in CR LF: the offsets count both, and the traced line
  # shows the CR it was read with.
  local eol=1
  if on_windows; then eol=2; fi
  diff -u <(echo DebugKey=8; awk -v eol=$eol '$1 ~ /^[BDJPUVXZ]$/ {
      name = $1 == "Z" ? $3 : $2
      if ($1 == "J") { sub(/^[^:]*:[^:]*:/, "", name); sub(/\..*/, "", name) }
      print offset + 0 ")" $0
      print "ent: type=" $1 ", name=" name
      offset += length($0) + eol
    }' "$tracker") <(if on_windows; then tr -d '\r' <"$SITE/err"; else cat "$SITE/err"; fi)
  # The TOTAL column of the summary's COUNT table: the tracker's lines counted by type.
  diff -u <(awk 'BEGIN { split("U UJ X ERP B BI J JNW P PC V QDRSJ java HLBSJ Z CSTMJ D OTHER", m) }
      $1 ~ /^[BDJPUVXZ]$/ { all++; n[$1 == "Z" && $2 == "java" ? "java" : $1]++ }
      END {
        printf "%5s: %5d\n", "ALL", all
        for (i = 1; i < 18; i += 2) printf "%5s: %5d\n", m[i + 1], n[m[i]]
      }' "$tracker" | sort) \
    <(sed -n '/^COUNT: /,/^OTHER: /p' "$SITE/out" | sed -n '3,$p' | cut -c1-12 | sort)
}
