#!/usr/bin/env bats
# Print mode end to end: the dump of each tracker into a spool file, the option strings of the
# dump, the clean-up of the spool files on every path, output errors, and the CSV report. A
# scripted runscan answers the search with entry lines and a dump with a prepared detail file
# (chosen by the tracker's stamp), and logs each call; the real stand-in runs on a copy of the
# demo site. The edge cases of both reports (styles, filters, status texts, times, captured
# output) run on one prepared tracker.

load helpers

setup() {
  make_installation m
  TMPDIR_SPOOL="$SITE/sitedb/spool/tmp"
  # A dump: its standard output is the spool file, whose path is logged; the files fail, slow
  # and delay make it fail, hang or pause, and the tracker's stamp chooses the detail file.
  install_scripted_runscan '
spool=$(readlink "/proc/$$/fd/1")
printf "%s\n" "$spool" >>"$site/spools"
[ -f "$site/fail" ] && exit 1
if [ -f "$site/slow" ]; then echo $$ >"$site/dump.pid"; exec sleep 30; fi
[ -f "$site/delay" ] && sleep 1
stamp=$(printf "%s\n" "$1" | sed -n "s/.*\.\([0-9]\{14\}\)\.kstrk\$/\1/p")
cat "$site/detail.$stamp"' 'spool
if-file fail exit 1
if-file slow pid dump.pid
if-file slow sleep 30
if-file delay sleep 1
cat-stamp detail'
  export TZ=UTC

  # Two trackers of network A: one done, one with a failed job in its sub-network SUB.
  {
    printf 'J m:u:A.20140930120000.kstrk done 0 20140930120002 20140930121000 c - 600 0 -\n'
    printf 'J m:u:A.20141001120000.kstrk done 0 20141001120000 20141001123000 c - 600 0 f\n'
  } >"$SITE/entries"
  cat >"$SITE/detail.20140930120000" <<'DETAIL'
J m:u:A.20140930120000.kstrk done 0 20140930120002 20140930121000 c - 600 0 -
U JOB1 done 0 0 20140930120005 20140930120905 1234 mach1 - 20140930120000 600 -
O
	job one says hello
DETAIL
  cat >"$SITE/detail.20141001120000" <<'DETAIL'
J m:u:A.20141001120000.kstrk done 0 20141001120000 20141001123000 c - 600 0 f
U JOB1 done 0 0 20141001120001 20141001120101 1240 mach1 - 20141001120000 60 -
J m:u:A:SUB.20141001120000.kstrk done 0 20141001120102 20141001123000 - - 300 60 f
U JOB1 done 0 2 20141001120103 20141001123000 1241 mach2 - 20141001120100 300 f
DETAIL
}

teardown() {
  if ! on_windows && [ -f "$SITE/dump.pid" ]; then kill "$(cat "$SITE/dump.pid")" 2>/dev/null || true; fi
}

# The dump calls of the last runs (search calls left out).
dumps() { grep -v ' N1' "$SITE/calls" || true; }

# Every spool file that a dump wrote into is gone, and the spool directory is empty.
no_spool_left() {
  if [ -f "$SITE/spools" ]; then
    while read -r f; do
      case "$f" in "$TMPDIR_SPOOL"/*) ;; *) echo "dump not into the spool directory: $f" >&2; return 1 ;; esac
      [ ! -e "$f" ] || { echo "left behind: $f" >&2; return 1; }
    done <"$SITE/spools"
  fi
  [ -z "$(ls -A "$TMPDIR_SPOOL")" ] || { ls -l "$TMPDIR_SPOOL" >&2; return 1; }
}

# The 80 counters of a count table: the given ones, then zeros.
counts() {
  local all=("$@")
  while [ "${#all[@]}" -lt 80 ]; do all+=(0); done
  local IFS=,
  printf '%s\n' "${all[*]}"
}

COUNT_NAMES='totalcomponent,totalwait,totalwaithold,totalwaitskip,totalrun,totaldone,totaldoneskip,totalerror,ujcomponent,ujwait,ujwaithold,ujwaitskip,ujrun,ujdone,ujdoneskip,ujerror,jnwcomponent,jnwwait,jnwwaithold,jnwwaitskip,jnwrun,jnwdone,jnwdoneskip,jnwerror,ERPcomponent,ERPwait,ERPwaithold,ERPwaitskip,ERPrun,ERPdone,ERPdoneskip,ERPerror,BIcomponent,BIwait,BIwaithold,BIwaitskip,BIrun,BIdone,BIdoneskip,BIerror,PCcomponent,PCwait,PCwaithold,PCwaitskip,PCrun,PCdone,PCdoneskip,PCerror,qdrsjcomponent,qdrsjwait,qdrsjwaithold,qdrsjwaitskip,qdrsjrun,qdrsjdone,qdrsjdoneskip,qdrsjerror,hlbsjcomponent,hlbsjwait,hlbsjwaithold,hlbsjwaitskip,hlbsjrun,hlbsjdone,hlbsjdoneskip,hlbsjerror,cstmjcomponent,ujwait,cstmjwaithold,cstmjwaitskip,cstmjrun,cstmjdone,cstmjdoneskip,cstmjerror,othercomponent,otherwait,otherwaithold,otherwaitskip,otherrun,otherdone,otherdoneskip,othererror'
TIMES='starttime,endtime,amounttime,expstarttime,expendtime,status'
UNIT_TITLE="#TYPE=UNITJOB
type,parentjnw,jnwdate,name,$TIMES,exitcode,errcode,requestid,machine"
JNW_TITLE="#TYPE=JNW
type,parentjnw,jnwdate,name,$TIMES,$COUNT_NAMES"
SUMMARY_TITLE="#TYPE=SUMMARY
jnwname,jnwdate,user,machine,$TIMES,$COUNT_NAMES"

@test "two trackers give two complete CSV reports, each from its own spool file" {
  ft -u u -j name=A -p format=csv,style=1
  expect_status 0
  [ ! -s "$SITE/err" ]
  diff -u - "$SITE/out" <<OUT
$SUMMARY_TITLE
A,20140930120000,u,m,2014/09/30 12:00:02,2014/09/30 12:10:00,598,2014/09/30 12:00:00,2014/09/30 12:10:00,done,$(counts 2 0 0 0 0 2 0 0 1 0 0 0 0 1 0 0 1 0 0 0 0 1 0 0)

$JNW_TITLE
JNW,"",20140930120000,A,2014/09/30 12:00:02,2014/09/30 12:10:00,598,2014/09/30 12:00:00,2014/09/30 12:10:00,done,$(counts 1 0 0 0 0 1 0 0 1 0 0 0 0 1 0 0)

$UNIT_TITLE
UNITJOB,A,20140930120000,JOB1,2014/09/30 12:00:05,2014/09/30 12:09:05,540,2014/09/30 12:00:00,2014/09/30 12:10:00,done,0,0,1234,mach1

$SUMMARY_TITLE
A,20141001120000,u,m,2014/10/01 12:00:00,2014/10/01 12:30:00,1800,2014/10/01 12:00:00,2014/10/01 12:10:00,error,$(counts 4 0 0 0 0 1 0 3 2 0 0 0 0 1 0 1 2 0 0 0 0 0 0 2)

$JNW_TITLE
JNW,A,20141001120000,SUB,2014/10/01 12:01:02,2014/10/01 12:30:00,1738,2014/10/01 12:01:00,2014/10/01 12:06:00,error,$(counts 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0 1)
JNW,"",20141001120000,A,2014/10/01 12:00:00,2014/10/01 12:30:00,1800,2014/10/01 12:00:00,2014/10/01 12:10:00,error,$(counts 2 0 0 0 0 1 0 1 1 0 0 0 0 1 0 0 1 0 0 0 0 0 0 1)

$UNIT_TITLE
UNITJOB,A:SUB,20141001120000,JOB1,2014/10/01 12:01:03,2014/10/01 12:30:00,1737,2014/10/01 12:01:00,2014/10/01 12:06:00,error,2,0,1241,mach2
UNITJOB,A,20141001120000,JOB1,2014/10/01 12:00:01,2014/10/01 12:01:01,60,2014/10/01 12:00:00,2014/10/01 12:01:00,done,0,0,1240,mach1

OUT
  # One dump per tracker, each into a spool file of its own, and none left.
  [ "$(dumps | wc -l)" -eq 2 ]
  [ "$(sort -u "$SITE/spools" | wc -l)" -eq 2 ]
  no_spool_left
}

@test "the driver traces each step under -d 6 and -v" {
  ft -u u -j name=A -p format=csv -d 6 -v
  expect_status 0
  spool1="$(sed -n 1p "$SITE/spools")"
  spool2="$(sed -n 2p "$SITE/spools")"
  diff -u - <(grep -v '^runscan opt=' "$SITE/err") <<ERR
DebugKey=6
Print mode.
Print:A.20140930120000.
tempfile=$spool1
Output: mode=1, spool=0, style=0, sw=0
summary_dumpdata:tempfile=$spool1
dump cmdlilne:Om:u:A.20140930120000.kstrk Z U  I
summary_load
summary_output_csv
unlink:$spool1
Print:A.20141001120000.
tempfile=$spool2
Output: mode=1, spool=0, style=0, sw=0
summary_dumpdata:tempfile=$spool2
dump cmdlilne:Om:u:A.20141001120000.kstrk Z U  I
summary_load
summary_output_csv
unlink:$spool2
ERR
  # Owner-only files with unpredictable names, made in the spool directory.
  [ "$spool1" != "$spool2" ]
  no_spool_left
}

@test "the dump options: Z for a whole network, Foe only for a readable report with output" {
  # Every component asked for is in the tracker.
  printf '%s\n' 'J m:u:A:SUB.20140930120000.kstrk done 0 20140930120102 20140930121000 - - 300 60 -' \
    'U JOB1 done 0 0 20140930120103 20140930121000 1241 mach2 - 20140930120100 300 -' \
    >>"$SITE/detail.20140930120000"
  local cases=(
    "format=csv|||Om:u:A.20140930120000.kstrk Z U I"
    "format=csv|A||Om:u:A.20140930120000.kstrk Z U I"
    "format=csv|A:SUB||Om:u:A:SUB.20140930120000.kstrk U I"
    "format=csv|A/JOB1||Om:u:A.20140930120000.kstrk U I"
    "format=csv|A:SUB/JOB1||Om:u:A:SUB.20140930120000.kstrk U I"
    "format=csv,output,style=1|||Om:u:A.20140930120000.kstrk Z U I"
    "output,style=1|||Om:u:A.20140930120000.kstrk Z U Foe I"
    "output,style=2|A:SUB||Om:u:A:SUB.20140930120000.kstrk U Foe I"
    "output|||Om:u:A.20140930120000.kstrk Z U I"
    "style=2|||Om:u:A.20140930120000.kstrk Z U I"
    "format=csv|A|,prep|Om:u:A.20140930120000.kstrk Z U"
  )
  printf 'J m:u:A.20140930120000.kstrk done 0 20140930120002 20140930121000 c - 600 0 -\n' \
    >"$SITE/entries"
  for c in "${cases[@]}"; do
    IFS='|' read -r print component search expected <<<"$c"
    ft -u u -j "name=A$search" -p "$print" ${component:+-c "$component"}
    expect_status 0
    [ "$(dumps)" = "$expected" ] || { echo "$c: $(dumps)" >&2; return 1; }
  done
  no_spool_left
}

@test "a component specification that fits no tracker: no dump, its message, nothing found" {
  ft -u u -j name=A -p format=csv -c B/JOB1
  expect_status 2
  expect_stderr $'Invalid Component specification:B/JOB1\nNo component B/JOB1 found.\n'
  [ ! -s "$SITE/out" ]
  [ -z "$(dumps)" ]
  no_spool_left
}

@test "a component that no tracker holds is nothing found, and an -o file keeps its last report" {
  ft -u u -j name=A -p format=csv -c A/JOB1 -o "$SITE/report"
  expect_status 0
  cp "$SITE/report" "$SITE/last"
  grep -q '^UNITJOB,A,' "$SITE/last"
  for print in format=csv style=1 format=csv,erronly; do
    for component in A/JOBX A:SUB/JOB2 A:SUX; do
      ft -u u -j name=A -p "$print" -c "$component" -o "$SITE/report"
      expect_status 2
      expect_stderr "No component $component found.
"
      cmp "$SITE/last" "$SITE/report"
    done
  done
  # A component that is there but that erronly leaves out was found: an empty report.
  ft -u u -j name=A -p format=csv,erronly -c A/JOB1 -o "$SITE/report"
  expect_status 0
  [ ! -s "$SITE/report" ]
  no_spool_left
}

@test "-c JNW:SUB/JOB1 and -c JNW:SUB in CSV" {
  printf 'J m:u:A.20141001120000.kstrk done 0 20141001120000 20141001123000 c - 600 0 f\n' \
    >"$SITE/entries"
  ft -u u -j name=A -p format=csv -c A:SUB/JOB1
  expect_status 0
  [ ! -s "$SITE/err" ]
  diff -u - "$SITE/out" <<OUT
$UNIT_TITLE
UNITJOB,A:SUB,20141001120000,JOB1,2014/10/01 12:01:03,2014/10/01 12:30:00,1737,2014/10/01 12:01:00,2014/10/01 12:06:00,error,2,0,1241,mach2

OUT
  ft -u u -j name=A -p format=csv,notitle -c A:SUB
  expect_status 0
  diff -u - "$SITE/out" <<OUT
JNW,A,20141001120000,SUB,2014/10/01 12:01:02,2014/10/01 12:30:00,1738,2014/10/01 12:01:00,2014/10/01 12:06:00,error,$(counts 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0 1)

OUT
  no_spool_left
}

@test "-d 9 keeps each spool file and names it" {
  ft -u u -j name=A -p format=csv -d 9
  expect_status 0
  [ "$(grep -c '^SPOOL FILE:' "$SITE/err")" -eq 2 ]
  while read -r f; do
    grep -qx "SPOOL FILE:$f" "$SITE/err"
    [ -f "$f" ]
    on_windows || [ "$(stat -c %a "$f")" = 600 ]  # an owner-only access list on Windows
  done <"$SITE/spools"
  diff -u "$SITE/detail.20140930120000" "$(sed -n 1p "$SITE/spools")"
  rm -f "$TMPDIR_SPOOL"/*
  no_spool_left
}

@test "a failing runscan: the message, the next tracker, no file left, exit 3" {
  touch "$SITE/fail"
  ft -u u -j name=A -p format=csv
  expect_status 3
  [ ! -s "$SITE/out" ]
  diff -u - "$SITE/err" <<'ERR'
runscandmd_redirect:execution error: runscan rc=1, errno=0
Error at data dumpping.
runscandmd_redirect:execution error: runscan rc=1, errno=0
Error at data dumpping.
ERR
  [ "$(dumps | wc -l)" -eq 2 ]
  no_spool_left
}

@test "a dump without the network's line, and a missing spool directory" {
  : >"$SITE/detail.20140930120000"
  ft -u u -j name=A -p format=csv -d 6
  expect_status 3
  grep -qx 'flowtally: Error at JNW data.' "$SITE/err"
  grep -qx "CML_unlink(by error):$(sed -n 1p "$SITE/spools")" "$SITE/err"
  [ "$(grep -c '^#TYPE=SUMMARY' "$SITE/out")" -eq 1 ]
  no_spool_left

  rmdir "$TMPDIR_SPOOL"
  ft -u u -j name=A -p format=csv
  expect_status 3
  why="flowtally: Unable to create a spool file in $TMPDIR_SPOOL: No such file or directory"
  [ "$(cat "$SITE/err")" = "Error at getting the name of tempfile.
$why
Error at getting the name of tempfile.
$why" ]
  [ ! -s "$SITE/out" ]
  mkdir "$TMPDIR_SPOOL"
}

@test "a spool path that does not fit is refused before anything is dumped" {
  # A directory that fits, but leaves no room for the file name; then one that does not fit.
  for total in 250 270; do
    long="$SITE/$(printf 'd%.0s' $(seq 1 $((total - ${#SITE} - 11))))"
    mkdir -p "$long/spool/tmp"
    cp -r "$SITE/sitedb/spool/nmap" "$long/spool/"
    [ "${#long}" -eq $((total - 10)) ]
    ZOV_SITEDB="$long" ft -u u -j name=A -p format=csv
    expect_status 3
    [ "$(grep -c '^Error at getting the name of tempfile.$' "$SITE/err")" -eq 2 ]
    [ -z "$(dumps)" ]
    [ -z "$(ls -A "$long/spool/tmp")" ]
    rm -rf "$long"
  done
}

@test "SIGTERM during a slow dump ends the dump and leaves no spool file" {
  linux_only "Unix signals"
  touch "$SITE/slow"
  "$PROG" -u u -j name=A -p format=csv >"$SITE/out" 2>"$SITE/err" 3>&- &
  pid=$!
  for _ in $(seq 100); do [ -s "$SITE/dump.pid" ] && break; sleep 0.1; done
  [ -s "$SITE/dump.pid" ]
  [ -n "$(ls -A "$TMPDIR_SPOOL")" ]
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 143 ]
  ! kill -0 "$(cat "$SITE/dump.pid")" 2>/dev/null
  no_spool_left
}

@test "output that cannot be written: a message naming it, its reason, and exit 3" {
  ft -u u -j name=A -o /dev/full
  expect_status 3
  grep -qx 'flowtally: Unable to write output:/dev/full' "$SITE/err"
  # On Linux the reason follows.
  on_windows || [ "$(wc -l <"$SITE/err")" -eq 2 ]
  cp "$SITE/err" "$SITE/listing.err"

  # Print mode says what the listing says, the reason included.
  ft -u u -j name=A -p format=csv -o /dev/full
  expect_status 3
  diff -u "$SITE/listing.err" "$SITE/err"
  no_spool_left

  # A reader that has gone chose to stop: the command ends quietly, as a broken pipe ends it.
  touch "$SITE/delay"
  rm -f "$SITE/calls"
  status=0
  "$PROG" -u u -j name=A -p format=csv,style=1 2>"$SITE/err" 3>&- | true
  status=${PIPESTATUS[0]}
  # Windows has no SIGPIPE: exit 3, with no message.
  if on_windows; then expect_status 3; else expect_status 141; fi
  [ ! -s "$SITE/err" ]
  # The report stopped at the broken output: the second tracker was not dumped.
  [ "$(dumps | wc -l)" -eq 1 ]
  no_spool_left
}

@test "the demo site: the CSV report of alice's DAILY runs" {
  use_demo_site
  ft -u alice -j name=DAILY -p format=csv,style=1 -d 6
  expect_status 0
  out="$SITE/out"
  # Three live runs of DAILY, each with its summary, two network rows and five unit jobs.
  [ "$(grep -c '^#TYPE=SUMMARY$' "$out")" -eq 3 ]
  [ "$(grep -c '^#TYPE=JNW$' "$out")" -eq 3 ]
  [ "$(grep -c '^UNITJOB,' "$out")" -eq 15 ]
  grep -qx "DAILY,20261205010000,alice,demohost,2026/12/05 01:00:02,2026/12/05 01:34:11,2049,2026/12/05 01:00:00,2026/12/05 01:40:00,done,$(counts 7 0 0 0 0 7 1 0 5 0 0 0 0 5 1 0 2 0 0 0 0 2 0 0)" "$out"
  grep -qx "JNW,DAILY,20261205010000,LOAD,2026/12/05 01:12:12,2026/12/05 01:34:00,1308,2026/12/05 01:15:00,2026/12/05 01:40:00,done,$(counts 3 0 0 0 0 3 1 0 3 0 0 0 0 3 1 0)" "$out"
  grep -qx 'UNITJOB,DAILY,20261205010000,extract,2026/12/05 01:00:05,2026/12/05 01:12:10,725,2026/12/05 01:00:00,2026/12/05 01:15:00,done,0,0,1201,demohost' "$out"
  grep -qx 'UNITJOB,DAILY:LOAD,20261205010000,cleanup,,,0,2026/12/05 01:35:00,2026/12/05 01:36:00,done_skip,0,0,-,demohost' "$out"
  grep -qx 'UNITJOB,DAILY:LOAD,20261206010000,load_orders,2026/12/06 01:12:01,2026/12/06 01:20:15,494,2026/12/06 01:15:00,2026/12/06 01:30:00,error,2,0,1302,demohost' "$out"
  grep -qx 'UNITJOB,DAILY:LOAD,20261207010000,load_orders,2026/12/07 01:12:13,,0,2026/12/07 01:15:00,2026/12/07 01:30:00,run,0,0,1402,demohost' "$out"
  # Every spool file this run made is gone (the demo's spool directory holds a file of its own).
  for f in $(sed -n 's/^tempfile=//p' "$SITE/err"); do [ ! -e "$f" ]; done
}

# Tracker T.20140930120000 for the reports' edge cases, found by `-j name=T`: T runs with f
# (class 13) and its sub-network SUB with r (class 14). OK took 3600 s and has an O block, whose
# first line has 3000 characters (its second and third 1022-byte chunks begin with a TAB and a
# J), and an E block; FAILED (class 8) took 59 s, STOPPED (class 9) 90000 s; NOTRUN has no
# times. Sets LONG to the long line.
edge_tracker() {
  printf -v LONG '%3000s' ''
  LONG="${LONG// /x}"
  LONG="${LONG:0:1021}"$'\t'"${LONG:1022:1021}J${LONG:2044}"
  [ "${#LONG}" -eq 3000 ]
  printf 'J m:u:T.20140930120000.kstrk run 0 20140930120000 - c - 1800 0 f\n' >"$SITE/entries"
  {
    cat "$SITE/entries"
    printf 'U OK done 0 0 20140930120000 20140930130000 1 m1 - 20140930120000 3600 -\n'
    printf 'O\n\t%s\n\tsecond line\nE\n\terr line\n' "$LONG"
    printf 'U FAILED done 0 2 20140930120000 20140930120059 2 m1 - 20140930120000 60 f\n'
    printf 'U STOPPED estop 1 77 20140930120000 20141001130000 3 m1 - 20140930120000 60 -\n'
    printf 'U NOTRUN wait 0 0 - - - m1 - 20140930123000 60 -\n'
    printf 'J m:u:T:SUB.20140930120000.kstrk run 0 20140930120100 - c - 600 60 r\n'
    printf 'U SUBJOB run 0 0 20140930120100 - 5 m2 - 20140930120100 600 -\n'
  } >"$SITE/detail.20140930120000"
}

# The lines of the readable report's record NAME, up to the blank line that ends it.
record() { awk -v n="NAME      : $1" '$0 == n { on = 1 } on && $0 == "" { exit } on' "$SITE/out"; }

@test "the readable report: the sections of each style, ujonly, erronly and notitle" {
  edge_tracker
  # print options | section headings | COUNT tables | type blocks | names of the records
  local cases=(
    "style=0|SUMMARY|1|0|"
    "style=-1|SUMMARY|1|0|"
    "style=1|SUMMARY JNW UNITJOB|1|0|T T:SUB FAILED NOTRUN OK STOPPED SUBJOB"
    "style=1,notitle|SUMMARY JNW UNITJOB|1|0|T T:SUB FAILED NOTRUN OK STOPPED SUBJOB"
    "style=2|SUMMARY JNW UNITJOB|3|5|T T:SUB FAILED NOTRUN OK STOPPED SUBJOB"
    "style=1,ujonly|SUMMARY UNITJOB|1|0|FAILED NOTRUN OK STOPPED SUBJOB"
    "style=2,erronly|SUMMARY UNITJOB|1|2|FAILED STOPPED"
    "style=0,erronly,ujonly|SUMMARY|1|0|"
  )
  for c in "${cases[@]}"; do
    IFS='|' read -r print headings tables blocks names <<<"$c"
    ft -u u -j name=T -p "$print"
    expect_status 0
    got="$(sed -n 's/^\*\*\*\* \(.*\) \*\*\*\*$/\1/p' "$SITE/out" | paste -sd' ')"
    got+="|$(grep -c '^COUNT:' "$SITE/out" || true)|$(grep -c '^EXIT CODE : ' "$SITE/out" || true)"
    got+="|$(sed -n 's/^NAME      : //p' "$SITE/out" | paste -sd' ')"
    [ "$got" = "$headings|$tables|$blocks|$names" ] || { echo "$print: $got" >&2; return 1; }
  done
  no_spool_left
}

@test "the readable report: status texts, unset times and amounts" {
  edge_tracker
  ft -u u -j name=T -p style=2
  expect_status 0
  [ ! -s "$SITE/err" ]
  local none='-                     '  # an unset time in its column
  diff -u <(sed -n 1,7p "$SITE/out") - <<OUT
**** SUMMARY ****
TRACKER-ID: T.20140930120000
STATUS    : error
START TIME: 14-09-30 12:00'00      (EXP. 14-09-30 12:00'00)
END TIME  : $none (EXP. 14-09-30 12:30'00)
AMOUNTTIME: -
USER      : u
OUT
  grep -qx '  ALL:     7     1(    0,    0)     3     1(    0)     2' "$SITE/out"
  local cases=(
    "T:SUB|STATUS    : error (stop)"
    "OK|AMOUNTTIME: 1:00'00"
    "FAILED|AMOUNTTIME: 0:00'59"
    "FAILED|STATUS    : error"
    "FAILED|EXIT CODE : 2"
    "STOPPED|AMOUNTTIME: 25:00'00"
    "STOPPED|STATUS    : error (stop)"
    "STOPPED|ERROR CODE: 1/77"
    "NOTRUN|START TIME: $none (EXP. 14-09-30 12:30'00)"
    "NOTRUN|END TIME  : $none (EXP. 14-09-30 12:31'00)"
    "NOTRUN|AMOUNTTIME: -"
    "NOTRUN|REQUEST-ID: -"
  )
  for c in "${cases[@]}"; do
    record "${c%%|*}" | grep -qxF -- "${c#*|}" || { echo "not in its record: $c" >&2; return 1; }
  done
}

@test "style=1,output copies the captured lines, a 3000-character one whole" {
  edge_tracker
  ft -u u -j name=T -p style=1,output
  expect_status 0
  [ "$(dumps)" = "Om:u:T.20140930120000.kstrk Z U Foe I" ]
  rule=------------------------------------------------------------------
  diff -u - <(record OK | sed -n '7,$p') <<OUT
STDOUT    : 
$rule
$LONG
second line
$rule
STDERR    : 
$rule
err line
$rule
OUT
  # The other jobs have no blocks: each frame of their two is empty.
  record FAILED | grep -qx 'STDOUT    : '
  [ "$(grep -c "^$rule\$" "$SITE/out")" -eq $((5 * 4)) ]
  no_spool_left
}

@test "the CSV report: styles, ujonly, erronly (JNW rows of classes 13 and 14), notitle" {
  edge_tracker
  # print options | the first field of each line
  local cases=(
    "format=csv|#TYPE=SUMMARY jnwname T -"
    "format=csv,style=-1|"
    "format=csv,ujonly|"
    "format=csv,style=1|#TYPE=SUMMARY jnwname T - #TYPE=JNW type JNW JNW - #TYPE=UNITJOB type UNITJOB UNITJOB UNITJOB UNITJOB UNITJOB -"
    "format=csv,style=2,ujonly|#TYPE=UNITJOB type UNITJOB UNITJOB UNITJOB UNITJOB UNITJOB -"
    "format=csv,style=1,erronly|#TYPE=SUMMARY jnwname T - #TYPE=JNW type JNW JNW - #TYPE=UNITJOB type UNITJOB UNITJOB -"
    "format=csv,style=1,notitle|T - JNW JNW - UNITJOB UNITJOB UNITJOB UNITJOB UNITJOB -"
  )
  for c in "${cases[@]}"; do
    IFS='|' read -r print expected <<<"$c"
    ft -u u -j name=T -p "$print"
    expect_status 0
    got="$(cut -d, -f1 "$SITE/out" | sed 's/^$/-/' | paste -sd' ')"
    [ "$got" = "$expected" ] || { echo "$print: $got" >&2; return 1; }
  done

  ft -u u -j name=T -p format=csv,style=1,erronly
  local t='2014/09/30 12'
  grep -qx "T,20140930120000,u,m,$t:00:00,,0,$t:00:00,$t:30:00,run_error,$(counts 7 1 0 0 3 1 0 2 5 1 0 0 1 1 0 2 2 0 0 0 2 0 0 0)" "$SITE/out"
  grep -qx "JNW,T,20140930120000,SUB,$t:01:00,,0,$t:01:00,$t:11:00,errorstop,$(counts 1 0 0 0 1 0 0 0 1 0 0 0 1 0 0 0)" "$SITE/out"
  grep -qx "JNW,\"\",20140930120000,T,$t:00:00,,0,$t:00:00,$t:30:00,run_error,$(counts 5 1 0 0 1 1 0 2 4 1 0 0 0 1 0 2 1 0 0 0 1 0 0 0)" "$SITE/out"
  diff -u - <(grep '^UNITJOB,' "$SITE/out") <<OUT
UNITJOB,T,20140930120000,STOPPED,$t:00:00,2014/10/01 13:00:00,90000,$t:00:00,$t:01:00,errorstop,0,77,3,m1
UNITJOB,T,20140930120000,FAILED,$t:00:00,$t:00:59,59,$t:00:00,$t:01:00,error,2,0,2,m1
OUT
  ft -u u -j name=T -p format=csv,style=1
  grep -qx "UNITJOB,T,20140930120000,NOTRUN,,,0,$t:30:00,$t:31:00,wait,0,0,-,m1" "$SITE/out"
  grep -qx "UNITJOB,T,20140930120000,OK,$t:00:00,2014/09/30 13:00:00,3600,$t:00:00,2014/09/30 13:00:00,done,0,0,1,m1" "$SITE/out"
  no_spool_left
}

@test "format=csv,quote: Python's csv module reads each section whole" {
  local top='J m:o,p:B.20141002120000.kstrk done 0 20141002120000 20141002123000 c - 600 0 -'
  printf '%s\n' "$top" >"$SITE/entries"
  printf '%s\n' "$top" 'U J,1 done 0 0 20141002120001 20141002120101 1,2 m"1 - 20141002120000 60 -' \
    'X E"2 done 0 0 20141002120001 20141002120101 - m,2 - 20141002120000 60 -' \
    'J m:o,p:B:S"1.20141002120000.kstrk done 0 20141002120102 20141002123000 - - 300 60 -' \
    $'U {J\r3 "x,y"} done 0 0 20141002120103 20141002123000 3 m3 - 20141002120100 300 -' \
    >"$SITE/detail.20141002120000"
  ft -u u -j name=B -p format=csv,style=1,quote
  expect_status 0
  # Each row as long as its section's header, and its text fields.
  run python3 -c '
import csv, json, sys
header = None
for row in csv.reader(open(sys.argv[1], newline="")):
    if row and row[0].startswith("#TYPE="):
        title, header = row[0][6:], None
    elif header is None:
        header = row
    elif row:
        assert len(row) == len(header), row
        tail = row[len(header) - {"UNITJOB": 2, "ERPJOB": 1}.get(title, 0):]
        print(json.dumps([title] + row[:4] + tail, separators=(",", ":")))' "$SITE/out"
  diff -u - <(printf '%s\n' "$output") <<'OUT'
["SUMMARY","B","20141002120000","o,p","m"]
["JNW","JNW","B","20141002120000","S\"1"]
["JNW","JNW","","20141002120000","B"]
["UNITJOB","UNITJOB","B:S\"1","20141002120000","{J\r3 \"x,y\"","3","m3"]
["UNITJOB","UNITJOB","B","20141002120000","J,1","1,2","m\"1"]
["ERPJOB","ERPJOB","B","20141002120000","E\"2","m,2"]
OUT
  no_spool_left
}
