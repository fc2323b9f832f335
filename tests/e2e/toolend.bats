#!/usr/bin/env bats
# How runscan ended is part of its answer: a run that ends with a status other than 0, by a
# signal or by the time limit counts for nothing, in every mode. Also: signals that end
# flowtally end its runscan too, typed values reach runscan whole, a spool file swapped for a
# link is never read, and a reader that goes away ends the command quietly.
#
# The fake runscan answers a search (an N1 argument) with the lines of $SITE/entries and any
# other call with those of $SITE/detail; then it runs the shell code of $SITE/end, if any. It
# writes its pid into $SITE/runscan.pid and each of its arguments as one line of $SITE/argv.
# In Windows mode it is fake_runscan.exe, and $SITE/end holds its steps.

load helpers

setup() {
  make_installation
  export TZ=UTC
  if on_windows; then
    install_fake_runscan argv 'if-arg N1 cat entries' 'unless-arg N1 cat detail' 'steps end'
  else
    rm -f "$SITE/base/bin/runscan"
    {
      printf '#!/bin/sh\nsite='\''%s'\''\n' "$SITE"
      cat <<'SCRIPT'
echo $$ >"$site/runscan.pid"
printf '%s\n' "$@" >"$site/argv"
answer="$site/detail"
for arg in "$@"; do [ "$arg" = N1 ] && answer="$site/entries"; done
[ -f "$answer" ] && cat "$answer"
[ -f "$site/end" ] && . "$site/end"
exit 0
SCRIPT
    } >"$SITE/base/bin/runscan"
    chmod +x "$SITE/base/bin/runscan"
  fi

  for t in A.20140930010203 B.20140930010203; do
    printf 'J alpha:ann:%s.kstrk done 0 20140930010203 20140930011000 - - 60 0 -\n' "$t"
  done >"$SITE/entries"
  cat >"$SITE/detail" <<'DETAIL'
J alpha:ann:A.20140930010203.kstrk done 0 20140930010203 20140930011000 - - 60 0 -
U JOB1 done 0 0 20140930010205 20140930010905 1234 alpha - 20140930010203 600 -
DETAIL
}

teardown() {
  # (A Windows process id is no Unix one: flowtally.exe's job object ends its children.)
  if ! on_windows; then
    for pid_file in runscan.pid child.pid; do
      if [ -f "$SITE/$pid_file" ]; then kill -9 "$(cat "$SITE/$pid_file")" 2>/dev/null || true; fi
    done
  fi
}

# ends CODE [STEPS]: the fake runscan runs CODE after its output (in Windows mode, the
# fake_runscan.exe steps STEPS).
ends() { if on_windows; then printf '%s\n' "$2"; else printf '%s\n' "$1"; fi >"$SITE/end"; }

# gone PID_FILE: the process whose id the file holds has ended (a zombie that nobody has
# collected yet counts as ended), waiting a few seconds for a process that was just killed.
gone() {
  local pid
  pid=$(cat "$1")
  for _ in $(seq 50); do
    if ! kill -0 "$pid" 2>/dev/null || [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = Z ]; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# runscan_gone: the fake runscan of the last run has ended.
runscan_gone() {
  if on_windows; then
    [ ! -e "$SITE/runscan.alive" ]
  else
    ! kill -0 "$(cat "$SITE/runscan.pid")" 2>/dev/null
  fi
}

@test "a search whose runscan fails lists nothing and exits 2, however it ended" {
  local -A how=(
    ['exit 5']='rc=5'
    ['kill -9 $$']='ended by signal 9 (Killed)'
    ['kill -SEGV $$']='ended by signal 11 (Segmentation fault)'
  )
  # Windows has no signals: a crash is an exit status.
  local -A steps=(['exit 5']='exit 5' ['kill -9 $$']='exit 9' ['kill -SEGV $$']='crash')
  if on_windows; then how['kill -9 $$']='rc=9' how['kill -SEGV $$']='rc=-1073741819'; fi
  for code in "${!how[@]}"; do
    ends "$code" "${steps[$code]}"
    ft -u ann
    expect_status 2
    [ ! -s "$SITE/out" ]
    expect_stderr "runscancmd_jnwent:execution error: runscan ${how[$code]}
No JNW detected.
"
  done
  # A crash before any output is no longer taken for an empty search.
  rm "$SITE/entries"
  ends 'kill -SEGV $$' crash
  ft -u ann
  expect_status 2
  grep -qx "runscancmd_jnwent:execution error: runscan ${how['kill -SEGV $$']}" "$SITE/err"
}

@test "a test whose detail run fails has no target" {
  printf 'J alpha:ann:A.20140930010203.kstrk done 0 20140930010203 - - - 60 0 -\n' >"$SITE/entries"
  ft -u ann -t testp=done
  expect_status 0
  local -A steps=(['exit 7']='exit 7' ['kill -9 $$']='crash')
  for code in 'exit 7' 'kill -9 $$'; do
    ends "case \" \$* \" in *\" U \"*) $code ;; esac" "if-word U ${steps[$code]}"
    ft -u ann -t testp=done
    expect_status 2
    grep -q '^runscancmd_jnwdetail:execution error: runscan ' "$SITE/err"
    rm "$SITE/end"
  done
}

@test "KSToolTimeout ends a runscan that hangs: search, test and print mode" {
  write_registry '"KSLanguageId"="0"' '"KSToolTimeout"=dword:00000001'
  ends 'exec sleep 30' 'sleep 30'
  ft -u ann
  expect_status 2
  expect_stderr "runscancmd_jnwent:execution error: runscan ended after the time limit of 1 s
No JNW detected.
"
  runscan_gone

  # Only the dump hangs: each tracker fails and print mode exits 3.
  ends 'case " $* " in *" U "*) exec sleep 30 ;; esac' 'if-word U sleep 30'
  ft -u ann -p format=csv
  expect_status 3
  [ "$(grep -c '^runscandmd_redirect:execution error: runscan ended after the time limit of 1 s, errno=' "$SITE/err")" -eq 2 ]
  [ "$(grep -c '^Error at data dumpping.$' "$SITE/err")" -eq 2 ]
  [ -z "$(ls -A "$SITE/sitedb/spool/tmp")" ]

  printf 'J alpha:ann:A.20140930010203.kstrk done 0 20140930010203 - - - 60 0 -\n' >"$SITE/entries"
  ft -u ann -t testp=done
  expect_status 2
  grep -qx 'runscancmd_jnwdetail:execution error: runscan ended after the time limit of 1 s' "$SITE/err"
}

@test "KSToolTimeout ends the children of runscan too, and the reading of its output" {
  write_registry '"KSLanguageId"="0"' '"KSToolTimeout"=dword:00000001'
  # In Windows mode the child is a second fake_runscan.exe, with the steps of $SITE/hang.
  printf '%s\n' 'pid child.pid' 'sleep 30 child.alive' >"$SITE/hang"
  # A wrapper without exec that waits for its child; a runscan that exits at once and leaves
  # its child holding the output; one whose child leaves its group (only a Unix process can).
  local -A code=(
    ['wrapper']='sleep 30 & echo $! >"$site/child.pid"; wait'
    ['quick']='sleep 30 & echo $! >"$site/child.pid"'
    ['escaped']='setsid sleep 30 & echo $! >"$site/child.pid"'
  ) steps=(['wrapper']='child hang
sleep 30' ['quick']='child hang')
  local ways=(wrapper quick)
  if ! on_windows; then ways+=(escaped); fi
  for how in "${ways[@]}"; do
    rm -f "$SITE/child.pid"
    ends "${code[$how]}" "${steps[$how]:-}"
    local start=$SECONDS
    ft -u ann
    # Well before the child's 30 s.
    [ $((SECONDS - start)) -lt 15 ]
    expect_status 2
    expect_stderr "runscancmd_jnwent:execution error: runscan ended after the time limit of 1 s
No JNW detected.
"
    [ -s "$SITE/child.pid" ]
    if on_windows; then
      for _ in $(seq 50); do [ ! -e "$SITE/child.alive" ] && break; sleep 0.1; done
      [ ! -e "$SITE/child.alive" ]
    elif [ "$how" = escaped ]; then
      kill -9 "$(cat "$SITE/child.pid")"
    else
      gone "$SITE/child.pid"
    fi
  done
}

@test "SIGTERM or SIGHUP during a search ends runscan, its children and flowtally" {
  linux_only "Unix signals"
  # The second runscan is a wrapper without exec: its child is no child of flowtally.
  for end in 'exec sleep 30' 'sleep 30 & echo $! >"$site/child.pid"; wait'; do
    ends "$end"
    for sig in TERM HUP; do
      rm -f "$SITE/runscan.pid" "$SITE/child.pid"
      "$PROG" -u ann >"$SITE/out" 2>"$SITE/err" 3>&- &
      pid=$!
      for _ in $(seq 100); do
        [ -s "$SITE/runscan.pid" ] && { [[ $end == exec* ]] || [ -s "$SITE/child.pid" ]; } && break
        sleep 0.1
      done
      kill -s "$sig" "$pid"
      status=0
      wait "$pid" || status=$?
      [ "$status" -eq $((128 + $(kill -l "$sig"))) ]
      ! kill -0 "$(cat "$SITE/runscan.pid")" 2>/dev/null
      if [ -f "$SITE/child.pid" ]; then gone "$SITE/child.pid"; fi
    done
  done
}

@test "a typed value reaches runscan as one argument, whatever blanks it holds" {
  ft -u ann -v -j 'name=A U Fo'
  diff -u - "$SITE/argv" <<'ARGV'
Oalpha:ann:A U Fo.ksjnw
N1
Psrun/done
ARGV
  grep -qx 'runscan opt=Oalpha:ann:A U Fo.ksjnw N1 Psrun/done' "$SITE/err"
  ft -u 'bob N1 Ox'
  [ "$(sed -n 1p "$SITE/argv")" = 'Oalpha:bob N1 Ox.user' ]
  [ "$(sed -n 2p "$SITE/argv")" = N1 ]
  [ "$(wc -l <"$SITE/argv")" -eq 5 ]
  sed -i 1q "$SITE/entries"
  ft -u ann -j name=A -c 'A:x U/y' -t testp=done
  [ "$(sed -n 1p "$SITE/argv")" = 'Oalpha:ann:A:x U.20140930010203.kstrk' ]
}

@test "a spool file swapped for a link after the dump is never read" {
  linux_only "a symbolic link swapped in through /proc/PID/fd"
  echo 'J alpha:ann:A.20140930010203.kstrk done 0 20140930010203 - secret - 60 0 -' >"$SITE/secret"
  # Only a dump writes into a file; the search writes into a pipe and is left alone.
  ends 'spool=$(readlink "/proc/$$/fd/1"); [ -f "$spool" ] && rm -f "$spool" && ln -s "$site/secret" "$spool"'
  ft -u ann -p format=csv
  expect_status 3
  [ "$(grep -c '^Error at data loading.$' "$SITE/err")" -eq 2 ]
  ! grep -q secret "$SITE/out"
}

@test "a reader that stops early ends flowtally quietly" {
  for i in $(seq 1000 3999); do
    printf 'J alpha:ann:A%s.20140930010203.kstrk done 0 20140930010203 - - - 60 0 -\n' "$i"
  done >"$SITE/entries"
  status=0
  "$PROG" -u ann 2>"$SITE/err" 3>&- | head -1 >"$SITE/out"
  status=${PIPESTATUS[0]}
  # Windows has no SIGPIPE: exit 3, with no message.
  if on_windows; then expect_status 3; else expect_status 141; fi
  [ ! -s "$SITE/err" ]
  [ "$(text "$SITE/out")" = "****      TRACKER-ID.yyyymmddhhmmss       USER  STAT START       END        " ]
}
