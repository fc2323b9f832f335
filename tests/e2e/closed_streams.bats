#!/usr/bin/env bats
# Closed standard streams and odd bytes from runscan. flowtally started with standard input,
# output or error closed must still write -o files and run runscan, and report an output it
# cannot write; a NUL byte or an over-long line in runscan's output costs that line only.

load helpers

setup() {
  make_installation
  install_scripted_runscan
  export TZ=UTC
}

# ft_closed FDS ARG...: runs flowtally as ft does, but with the standard descriptors FDS (1, 01
# or 012) closed instead of redirected; standard error, unless closed, lands in $SITE/err.
ft_closed() {
  local fds=$1
  shift
  status=0
  rm -f "$SITE/calls"
  : >"$SITE/err"
  case $fds in
    1) "$PROG" "$@" >&- 2>"$SITE/err" 3>&- || status=$? ;;
    01) "$PROG" "$@" <&- >&- 2>"$SITE/err" 3>&- || status=$? ;;
    012) "$PROG" "$@" <&- >&- 2>&- 3>&- || status=$? ;;
    *) return 1 ;;
  esac
  if on_windows; then windows_text; fi
}

# An entry line of user ann for TRACKER with STATUS.
entry() { printf 'J alpha:ann:%s.kstrk %s 0 20140930010203 - - - 60 0 -\n' "$1" "$2"; }

@test "-o writes the whole listing whichever standard streams are closed" {
  use_demo_site
  ft -u alice
  expect_status 0
  cp "$SITE/out" "$SITE/expected"
  [ "$(wc -l <"$SITE/expected")" -eq 3 ]
  for fds in 1 01 012; do
    rm -f "$SITE/list"
    ft_closed "$fds" -u alice -o "$SITE/list"
    expect_status 0
    expect_stderr ""
    diff -u "$SITE/expected" <(text "$SITE/list")
  done
}

@test "a listing to a closed standard output: the search runs, then exit 3 for the output" {
  use_demo_site
  local closed=(1 01)
  # Wine opens /dev/null on a closed standard input and output together, so only standard
  # output alone can be closed under it.
  if on_windows; then closed=(1); fi
  for fds in "${closed[@]}"; do
    ft_closed "$fds" -a
    expect_status 3
    [ "$(head -n 1 "$SITE/err")" = "flowtally: Unable to write output:standard output" ]
    [ -z "$(grep -e JNW -e runscan "$SITE/err")" ]
  done
}

@test "a NUL byte or an over-long line in the search output drops that line only" {
  long=$(printf 'x%.0s' $(seq 1022))
  {
    printf 'garbage\0more\n'
    entry A.20140930010203 done
    printf 'J alpha:ann:\0B.20140930010203.kstrk run\n'
    entry C.20140930010203 run
    # Cut after 1022 characters: the tail must not pass for an entry line.
    printf '%s%s\n' "$long" "$(entry D.20140930010203 done)"
    entry E.20140930010203 done
    # Exactly 1022 characters before the newline.
    printf '%s\n' "$long"
    entry F.20140930010203 done
  } >"$SITE/entries"
  ft -u ann
  expect_status 0
  expect_stderr ""
  expect_stdout "****      TRACKER-ID.yyyymmddhhmmss       USER  STAT START       END        
  1)             A.20140930010203       ann         done 09/30-01:02           -
  2)             C.20140930010203       ann          run 09/30-01:02           -
  3)             E.20140930010203       ann         done 09/30-01:02           -
  4)             F.20140930010203       ann         done 09/30-01:02           -
"
}

@test "test mode finds a component after a line with a NUL byte" {
  entry A.20140930010203 done >"$SITE/entries"
  {
    printf 'J alpha:ann:A.20140930010203.kstrk done 0 20140930010203 - - - 60 0 -\n'
    printf 'U JOB0 \0 run 0 0 - - 11 alpha - 20140930010203 60 -\n'
    printf 'U JOB1 done 0 0 - - 11 alpha - 20140930010203 60 -\n'
  } >"$SITE/detail"
  ft -u ann -j name=A -c A/JOB1 -t testp=done
  expect_status 0
  expect_stderr ""
  ft -u ann -j name=A -c A/JOB1 -t testp=run
  expect_status 1
}
