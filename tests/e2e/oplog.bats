#!/usr/bin/env bats
# The operation record log of a site: what turns it on, what one invocation records, the
# rotation by size into generations, concurrent appenders, and the log directory's access.

load helpers

setup() {
  make_installation
  install_scripted_runscan
  export TZ=UTC
  CONF="$SITE/sitedb/spool/conf"
  OPDIR="$SITE/sitedb/spool/log/record/op"
  mkdir -p "$CONF"
}

# conf LINE...: umsconf.f holds exactly these lines.
conf() { printf '%s\n' "$@" >"$CONF/umsconf.f"; }

# day_file [N]: today's day file, or its generation N.
day_file() {
  local date
  date=$(date -u +%Y%m%d)
  if [ -n "${1:-}" ]; then
    echo "$OPDIR/record_op_${date}_$1.csv"
  else
    echo "$OPDIR/record_op_$date.csv"
  fi
}

# records: the number of lines in today's day file (0 when it does not exist).
records() { if [ -f "$(day_file)" ]; then wc -l <"$(day_file)"; else echo 0; fi; }

# fill FILE: makes FILE 1025 bytes long, above a limit of one kilobyte.
fill() { head -c 1025 /dev/zero | tr '\0' 'x' >"$1"; }

@test "the log stays off without umsconf.f, without an op_log line, and with op_log off" {
  ft -h
  expect_status 0
  [ ! -e "$SITE/sitedb/spool/log" ]

  conf "op_maxsize 10" "op_generation 1"
  ft -h
  [ ! -e "$SITE/sitedb/spool/log" ]

  conf "op_log off" "op_log on"
  ft -h
  [ ! -e "$SITE/sitedb/spool/log" ]
}

@test "any op_log value but the exact text off turns the log on" {
  local value n=0
  for value in on yes 1 OFF; do
    conf "op_log $value"
    ft -h
    expect_status 0
    n=$((n + 1))
    [ "$(records)" -eq "$n" ]
  done
  # Only blanks separate words, and keys keep their letter case.
  conf "op_log	on" "OP_LOG on"
  ft -h
  [ "$(records)" -eq "$n" ]
}

@test "one invocation records time, account, host, kind, program and its command line" {
  conf "op_log on"
  KestruneUserName=carol ft -h -u "a,b"
  expect_status 0
  local line
  line=$(cat "$(day_file)")
  # The zone is the system's name of it: on Windows the time-zone settings' (UTC may be
  # "Coordinated Universal Time", or under Wine "Greenwich Standard Time").
  local zone='UTC'
  if on_windows; then zone='[^)]+'; fi
  [[ "$line" =~ ^[0-9]{4}/[0-9]{2}/[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}\($zone\),carol,([^,]+),CMD,flowtally\.exe,(.*)$ ]]
  [ "${BASH_REMATCH[1]}" = "$(hostname)" ]
  # A comma in an argument stays as it is, so the line has more than six parts. (The command's
  # own name is a Windows path on Windows, read here with `/`.)
  if on_windows; then BASH_REMATCH[2]=${BASH_REMATCH[2]//\\//}; fi
  [ "${BASH_REMATCH[2]}" = "$PROG_NAME -h -u a,b" ]
  [ "$(awk -F, '{ print NF }' "$(day_file)")" -eq 7 ]
}

@test "a command marked by LWPProcess records nothing and leaves the mark; its runscan inherits the mark" {
  conf "op_log on"
  LWPProcess=Loomwork ft -h
  expect_status 0
  [ "$(records)" -eq 0 ]

  # flowtally marks its own children, whatever the mark was before.
  if on_windows; then
    install_fake_runscan mark
  else
    cat >"$SITE/base/bin/runscan" <<SCRIPT
#!/bin/sh
printf '%s\n' "\${LWPProcess-unset}" >>"$SITE/marks"
SCRIPT
    chmod +x "$SITE/base/bin/runscan"
  fi
  LWPProcess=Loomwork ft -a
  LWPProcess=other ft -a
  ft -a
  diff -u <(printf 'Loomwork\n%.0s' 1 2 3) "$SITE/marks"
  [ "$(records)" -eq 2 ]
}

@test "with two generations a full day file rotates twice, then the day's records are dropped" {
  conf "op_log on" "op_generation 2" "op_maxsize 1"
  ft -h
  fill "$(day_file)"

  ft -h
  [ "$(wc -c <"$(day_file 1)")" -eq 1025 ]
  [ "$(records)" -eq 1 ]

  fill "$(day_file)"
  ft -h
  [ "$(wc -c <"$(day_file 2)")" -eq 1025 ]
  [ "$(wc -c <"$(day_file 1)")" -eq 1025 ]
  [ "$(records)" -eq 1 ]

  fill "$(day_file)"
  ft -h
  ft -h
  expect_status 0
  [ "$(wc -c <"$(day_file)")" -eq 1025 ]
  [ ! -e "$(day_file 3)" ]
}

@test "without generations the day file stops growing once above the limit" {
  conf "op_log on" "op_generation 0" "op_maxsize 1"
  ft -h
  fill "$(day_file)"
  ft -h
  expect_status 0
  [ "$(wc -c <"$(day_file)")" -eq 1025 ]
  [ ! -e "$(day_file 1)" ]
}

@test "below a log directory made by hand, the records keep the creation mask" {
  linux_only "file modes and the creation mask"
  mkdir -p "$SITE/sitedb/spool/log"
  conf "op_log on"
  umask 022
  ft -h
  [ "$(records)" -eq 1 ]
  # Not writable by everyone: anyone could then rewrite or remove the records of others.
  [ "$(stat -c %a "$SITE/sitedb/spool/log/record" "$OPDIR" "$(day_file)" | tr '\n' ' ')" = "755 755 644 " ]
}

@test "twenty processes invoking fifty times each leave exactly one thousand whole records" {
  conf "op_log on" "op_maxsize 100000"
  # Under Wine, where each start costs a third of a second, eight processes invoking twenty
  # times each.
  local p writers=20 each=50
  if on_windows; then writers=8 each=20; fi
  for p in $(seq 1 $writers); do
    (for _ in $(seq 1 $each); do "$PROG" -h -u "writer$p" 2>>"$SITE/writers.err"; done) 3>&- &
  done
  wait
  # A count that falls short says what the invocations that lost their record wrote.
  if [ "$(records)" -ne $((writers * each)) ]; then
    echo "$(records) records of $((writers * each)); the writers' messages:" >&2
    grep -v '^Usage: ' "$SITE/writers.err" >&2 || true
    return 1
  fi
  # Every line is whole: one record shape, and each writer's lines are all there.
  local zone='UTC'
  if on_windows; then zone='[^)]+'; fi
  [ "$(grep -cE "^[0-9/]+ [0-9:.]+\\($zone\\),[^,]+,[^,]+,CMD,flowtally\\.exe,.* -h -u writer[0-9]+\$" "$(day_file)")" -eq $((writers * each)) ]
  for p in $(seq 1 $writers); do
    [ "$(grep -c " -u writer$p\$" "$(day_file)")" -eq $each ]
  done
}

@test "the log directory grants the manager, the operators, Administrators and the creator; Everyone reads" {
  linux_only "POSIX access-list entries (getfacl); Wine keeps no access list to read back"
  command -v getfacl >/dev/null || skip "getfacl is not installed"
  if ! setfacl -m "u:$(id -u):rwx" "$SITE/sitedb/spool" 2>/dev/null; then
    skip "the file system of $SITE keeps no access lists"
  fi
  # A manager other than the running user, so the creator gets an entry of its own, and an
  # operator group other than Administrators (gid 0).
  local manager operators
  manager=$(getent passwd | awk -F: -v me="$(id -u)" '$3 != me && $3 != 0 { print $1; exit }')
  operators=$(getent group | awk -F: '$3 != 0 { print $1; exit }')
  [ -n "$manager" ] && [ -n "$operators" ] || skip "no second account or group on this machine"
  sed -i -e "s/^\"KSMgrAccount\"=.*/\"KSMgrAccount\"=\"$manager\"/" \
    -e "s/^\"KSOpGroup\"=.*/\"KSOpGroup\"=\"$operators\"/" "$KS_REGISTRY"
  conf "op_log on"
  ft -h
  expect_status 0
  [ "$(records)" -eq 1 ]

  local acl entry
  acl=$(getfacl -cp "$SITE/sitedb/spool/log")
  for entry in "user:$manager:rwx" "user:$(id -un):rwx" "group:$operators:rwx" \
    "group:$(getent group 0 | cut -d: -f1):rwx" "other::r-x" "default:user:$manager:rwx" \
    "default:group:$operators:rwx" "default:other::r-x"; do
    grep -qx "$entry" <<<"$acl" || {
      echo "missing $entry in:" >&2
      echo "$acl" >&2
      return 1
    }
  done
  # The directories below and the day file inherit the list.
  getfacl -cp "$OPDIR" | grep -qx "user:$manager:rwx"
  getfacl -cp "$(day_file)" | grep -q "^user:$manager:rw"
}
