#!/usr/bin/env bats
# Test mode end to end: -t testp="expression" on one tracker or one component of it. A scripted
# runscan logs its option strings and answers a search with the lines of the file entries and
# a dump with the lines of the file detail; the real stand-in then runs on a copy of the demo
# site.

load helpers

setup() {
  make_installation
  install_scripted_runscan
  export TZ=UTC
  FT_ARGS=(-u ann -j name=A)  # each run is ann's, on network A
  TRK=A.20140930010203
  SEARCH="Oalpha:ann:A.ksjnw N1 Psrun/done"
  DUMP="Oalpha:ann:$TRK.kstrk U I"
  entries "$TRK done"
}

# The search answer: one entry line of user ann per "TRACKER STATUS" argument.
entries() {
  local e
  for e in "$@"; do
    set -- $e
    printf 'J alpha:ann:%s.kstrk %s 0 20140930010203 - - - 60 0 -\n' "$1" "$2"
  done >"$SITE/entries"
}

# The dump answer: the lines given.
detail() { printf '%s\n' "$@" >"$SITE/detail"; }

# A J line of network PATH (A, A:sub) with STATUS and extended status EXT.
jline() { printf 'J alpha:ann:%s.20140930010203.kstrk %s 0 20140930010203 - - - 60 0 %s' "$1" "$2" "$3"; }

# A job line of TYPE letter (B D P U X) for NAME with STATUS and extended status EXT.
job() { printf '%s %s %s 0 0 - - 11 alpha - 20140930010203 60 %s' "$1" "$2" "$3" "$4"; }

# Reads lines "COMPONENT EXPRESSION WANT" and checks that each test of the component answers WANT.
expect_component_answers() {
  local comp expr want
  while read -r comp expr want; do
    ft -c "$comp" -t "testp=$expr"
    if [ "$status" -ne "$want" ]; then
      echo "-c $comp testp=$expr: exit code $status, expected $want" >&2
      cat "$SITE/err" >&2
      return 1
    fi
  done
}

# Runs the expression on the network's own line with STATUS and EXT and checks the exit code.
expect_on_network() {  # expression status ext want
  detail "$(jline A "$2" "$3")" "$(job U j1 done -)"
  ft -t "testp=$1"
  if [ "$status" -ne "$4" ]; then
    echo "testp=$1 on $2/$3: exit code $status, expected $4" >&2
    cat "$SITE/err" >&2
    return 1
  fi
}

@test "an empty expression holds and the test asks runscan for the tracker with I" {
  detail "$(jline A run -)"
  ft -t testp=
  expect_status 0
  expect_stderr ""
  expect_stdout ""
  expect_calls "$SEARCH" "$DUMP"
}

@test "done holds on a done network and not on a running one; -V prints eval" {
  expect_on_network done done - 0
  expect_on_network done run - 1
  detail "$(jline A done -)"
  ft -V -t testp=done
  expect_status 0
  expect_stdout $'eval=1\n'
  detail "$(jline A run -)"
  ft -V -t testp=done
  expect_status 1
  expect_stdout $'eval=0\n'
  expect_stderr ""
}

@test "Done is no pattern: exit 3 with the message and the usage line, before any search" {
  ft -t testp=Done
  expect_status 3
  expect_stderr $'flowtally: Invalid expression: Done\n'"$SHORT_USAGE"
  [ ! -e "$SITE/calls" ]
  ft -t 'testp=done /run+'
  expect_status 3
  expect_stderr $'flowtally: Invalid expression: done /run+\n'"$SHORT_USAGE"
}

@test "an expression longer than 1022 characters is refused, not cut, before any search" {
  detail "$(jline A done -)"
  # Cut after 1022 characters, the expression would lose its final "not" and hold.
  local expr=testp=done i
  for ((i = 0; i < 167; i++)); do expr+=/done*; done
  expr+=/run+/run+
  [ "${#expr}" -eq 1022 ]
  ft -t "$expr"
  expect_status 0
  ft -t "$expr/!"
  expect_status 3
  expect_stderr $'Test expression too long (-t test)\n'"$SHORT_USAGE"
  [ ! -e "$SITE/calls" ]
}

@test "an operator alone compiles but fails evaluation: exit 3, eval=-1" {
  detail "$(jline A done -)"
  ft -V -t 'testp=*'
  expect_status 3
  expect_stderr $'flowtally: Underflow of expression stack.\n'
  expect_stdout $'eval=-1\n'
}

@test "every pattern on the status and letters that decide it" {
  while read -r expr st ext want; do
    expect_on_network "$expr" "$st" "$ext" "$want"
  done <<'CASES'
wait wait - 0
wait prep - 0
wait run - 1
complete done - 0
complete done f 1
complete done r 1
error done f 0
error done - 1
stopped run r 0
stopped run - 1
stopped estop - 0
hold wait h 0
skip done v 0
submit submit - 0
run run - 0
run/done+! run - 1
run/done+! done - 1
run/done+! wait - 0
done* done - 0
done* run - 1
done+ run - 0
!done done - 0
!done run - 1
done! run - 0
hold/wait+ run h 0
run/error* run r 0
run/error* done f 1
CASES
}

@test "wait holds for prep under -j prep, whose dump leaves I out" {
  entries "$TRK prep"
  detail "$(jline A prep -)"
  FT_ARGS=(-u ann)
  ft -j prep -t testp=wait
  expect_status 0
  expect_calls "Oalpha:ann.user N1 Pswait/prep/run/done" "Oalpha:ann:$TRK.kstrk U"
}

@test "archived holds only when the first line is the tracker's J line with a" {
  detail "$(jline A done a)"
  ft -t testp=archived
  expect_status 0
  detail "$(jline A done a)" "$(job U j1 done -)"
  ft -t testp=archived -c A/j1
  expect_status 0
  # The letter on a later J line, or a J line that does not come first, does not count.
  detail "$(jline A done -)" "$(jline A:sub done a)" "$(job U j1 done -)"
  ft -t testp=archived -c A/j1
  expect_status 1
  detail "$(job U j0 done -)" "$(jline A done a)" "$(job U j1 done -)"
  ft -t testp=archived -c A/j1
  expect_status 1
  # The job's own letters are not the tracker's.
  detail "$(jline A done -)" "$(job U j1 done a)"
  ft -t testp=archived -c A/j1
  expect_status 1
}

@test "a component is found by name without regard to case, among B D U X Z lines" {
  detail "$(jline A run -)" "$(job B bj done -)" "$(job D dj done -)" "$(job X xj done -)" \
    'Z java hj done 0 0 - - 13 alpha - 20140930010203 60 -' \
    'Z ftp cj done 0 0 - - 14 alpha - 20140930010203 60 -' "$(job U uj run r)"
  for name in bj dj xj hj cj DJ; do
    ft -t testp=done -c "A/$name"
    expect_status 0
  done
  ft -t testp=stopped -c A/UJ
  expect_status 0
  expect_calls "$SEARCH" "$DUMP"
  # The network itself is the first J line.
  ft -t testp=run -c A
  expect_status 0
}

@test "a tool whose lines end with CR LF answers as with LF" {
  # A short job line, whose status is its last field, and a job whose last field is a letter.
  detail "$(jline A done -)" "U j1 done" "$(job U j2 run r)"
  sed -i 's/$/\r/' "$SITE/entries" "$SITE/detail"
  expect_component_answers <<'CASES'
A/j1 done 0
A/j2 stopped 0
A done 0
CASES
}

@test "a PC or QDRS job is no target: exit 2, Target not found with -v" {
  detail "$(jline A done -)" "$(job P pj done -)" \
    'V qj done 0 0 - - - - - 20140930010203 60 - - -' "$(job U uj done -)"
  for name in pj qj nosuch; do
    ft -t testp=done -c "A/$name"
    expect_status 2
    expect_stdout ""
    ft -v -V -t testp=done -c "A/$name"
    expect_status 2
    expect_stdout ""
    [ "$(tail -n 1 "$SITE/err")" = "Target not found.($name)" ]
  done
}

@test "a sub-network target dumps the sub-network; -d 4 traces the target" {
  detail "$(jline A:sub done f)" "$(job U j1 done f)"
  ft -d 4 -t testp=error -c A:sub/j1
  expect_status 0
  expect_stderr $'DebugKey=4\ntarget component=j1, trk=alpha:ann:A:sub.20140930010203.kstrk\n'
  expect_calls "$SEARCH" "Oalpha:ann:A:sub.20140930010203.kstrk U I"
}

@test "-v traces the test run and its outcome" {
  detail "$(jline A done -)"
  ft -v -t testp=complete
  expect_status 0
  expect_stderr "runscan opt=$SEARCH
TEST:TargetJNW=$TRK
TEST: runscan opt=$DUMP
flowtally: target=alpha:ann:$TRK.kstrk, status=done, extstat=-, eval=1
"
}

@test "a component that does not fit the tracker gives 2 without running the dump" {
  detail "$(jline A done -)"
  ft -t testp=done -c B/j1
  expect_status 2
  expect_stderr ""
  ft -v -t testp=done -c AB/j1
  expect_status 2
  expect_stderr "runscan opt=$SEARCH
TEST:TargetJNW=$TRK
TEST:Invalid Component specification:AB/j1
"
  expect_calls "$SEARCH"
}

@test "more than one tracker, or none, ends before the test" {
  entries "$TRK done" "A.20141001010203 done"
  detail "$(jline A done -)"
  ft -t testp=done
  expect_status 2
  expect_stderr $'Too many JNW detected.\n'
  expect_calls "$SEARCH"
  rm "$SITE/entries"
  ft -t testp=done
  expect_status 2
  expect_stderr $'No JNW detected.\n'
}

@test "a dump that prints nothing has no target" {
  rm -f "$SITE/detail"
  ft -t testp=
  expect_status 2
  expect_stderr ""
}

@test "-d 5 traces compilation and evaluation" {
  detail "$(jline A done -)"
  ft -d 5 -t testp=done/run+
  expect_status 0
  expect_stderr 'DebugKey=5
evalinit:len=4,cp=done/run+,tkn=/run+,TestExpTable=0
evalinit:len=1,cp=/run+,tkn=run+,TestExpTable=1
evalinit:len=3,cp=run+,tkn=+,TestExpTable=1
evalinit:len=1,cp=+,tkn=,TestExpTable=2
eval:status=done, extstat=-, arc=0
pos(1),eval(1),oper(11)
pos(2),eval(0),oper(10)
pos(1),eval(1),oper(4)
'
}

@test "with the real stand-in: an operator's script on the demo's DAILY runs" {
  use_demo_site
  # What an operator would write: the exit code is the answer.
  daily_complete() {
    if "$PROG" -u alice -j "$1" -t testp=complete 2>/dev/null; then
      echo complete
    else
      case $? in
        1) echo "not complete" ;;
        2) echo "no single run" ;;
        *) echo "cannot test" ;;
      esac
    fi
  }
  # Three DAILY runs are live: the question has no single answer.
  [ "$(daily_complete name=DAILY)" = "no single run" ]
  [ "$(daily_complete name=DAILY,date=20261205)" = "complete" ]
  [ "$(daily_complete name=DAILY,date=20261206)" = "not complete" ]  # ended with an error
  [ "$(daily_complete trk=DAILY.20261207010000)" = "not complete" ]  # still running
  [ "$(daily_complete name=NOSUCH)" = "no single run" ]

  FT_ARGS=()
  ft -u alice -j name=DAILY -t testp=complete
  expect_status 2
  expect_stderr $'Too many JNW detected.\n'
}

@test "with the real stand-in: components of the demo's runs" {
  use_demo_site
  # alice's DAILY of 6 December failed in load_orders of the sub-network LOAD.
  FT_ARGS=()
  while read -r user trk comp expr want; do
    ft -u "$user" -j "$trk" -c "$comp" -t "testp=$expr"
    if [ "$status" -ne "$want" ]; then
      echo "$user $trk -c $comp testp=$expr: exit code $status, expected $want" >&2
      cat "$SITE/err" >&2
      return 1
    fi
  done <<'CASES'
alice trk=DAILY.20261206010000 DAILY:LOAD/load_orders error 0
alice trk=DAILY.20261206010000 DAILY:LOAD/load_orders complete 1
alice trk=DAILY.20261206010000 DAILY:LOAD error 0
alice trk=DAILY.20261206010000 DAILY/extract complete 0
alice trk=DAILY.20261206010000 DAILY/notify skip 0
alice trk=DAILY.20261206010000 DAILY/load_orders error 2
alice trk=DAILY.20261206010000 REPORT/build_report done 2
alice trk=DAILY.20261207010000 DAILY:LOAD/load_orders run 0
alice trk=DAILY.20261207010000 daily:load/LOAD_INDEX wait 0
alice trk=DAILY.20261207010000 DAILY/notify run/done+! 0
bob trk=WEEKLY.20261129020000 WEEKLY/bw_refresh complete 0
bob trk=WEEKLY.20261129020000 WEEKLY/erp_close complete 0
bob trk=WEEKLY.20261129020000 WEEKLY/hlbs_aggregate complete 0
bob trk=WEEKLY.20261129020000 WEEKLY/send_files complete 0
bob trk=WEEKLY.20261129020000 WEEKLY/mail_notice done 0
bob trk=WEEKLY.20261129020000 WEEKLY/pc_chain done 2
bob trk=WEEKLY.20261129020000 WEEKLY/qdrs_extract done 2
bob prep,trk=BACKUP.20261207220000 BACKUP hold/wait* 0
bob trk=BACKUP.20261207220000 BACKUP wait 2
CASES
}

@test "with the real stand-in: a tracker with CR LF line ends answers as with LF" {
  use_demo_site
  FT_ARGS=(-u alice -j trk=DAILY.20261205010000)
  local trk="$SITE/sitedb/spool/users/alice/kstrk/DAILY.20261205010000.kstrk"
  # A short job line, whose status is its last field, in the top network.
  sed -i '/^J demohost:alice:DAILY:LOAD/i U job1 done' "$trk"
  # The listing and both reports, with job output, first of the LF file, then of its CR LF copy.
  local -a runs=("" "-p style=2,output" "-p format=csv,style=2,output")
  local i
  for i in "${!runs[@]}"; do
    # shellcheck disable=SC2086 # each run is a list of arguments
    ft ${runs[i]}
    cp "$SITE/out" "$SITE/out.lf.$i"
  done
  sed -i 's/$/\r/' "$trk"
  for i in "${!runs[@]}"; do
    # shellcheck disable=SC2086
    ft ${runs[i]}
    expect_status 0
    diff -u "$SITE/out.lf.$i" "$SITE/out"
  done
  expect_component_answers <<'CASES'
DAILY/job1 done 0
DAILY/job1 complete 0
DAILY:LOAD/cleanup skip 0
DAILY complete 0
CASES
}
