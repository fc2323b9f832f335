#!/usr/bin/env bats
# The default mode end to end: the search option strings handed to runscan, the filter, and the
# listing. A scripted runscan logs its calls and answers with prepared entry lines; the real
# stand-in runs on a copy of the demo site tree.

load helpers

setup() {
  make_installation m
  install_scripted_runscan
  export TZ=JST-9
  ME="$(id -un)"
}

# The option string of runscan's last call.
args() { tail -n 1 "$SITE/calls"; }

entry() {  # user tracker status start end flags
  printf 'J m:%s:%s.kstrk %s 0 %s %s comment - 60 0 %s\n' "$@"
}

@test "each search reaches runscan as the option string of its criteria" {
  today="$(TZ=UTC date +%Y%m%d)"
  TZ=UTC ft -v
  [ "$(args)" = "Om:$ME.user N1 E${today}235959 I Psrun/done" ]
  grep -qx "runscan opt=Om:$ME.user N1 E${today}235959 I Psrun/done" "$SITE/err"
  ft -j run -u u;               [ "$(args)" = "Om:u.user N1 I Psrun" ]
  ft -j prep -u u;              [ "$(args)" = "Om:u.user N1 Pswait/prep/run/done" ]
  ft -j name=A -u u;            [ "$(args)" = "Om:u:A.ksjnw N1 Psrun/done" ]
  ft -j name=A -a;              [ "$(args)" = "Om.machine N1 PjA Psrun/done" ]
  ft -j trk=A.20140101000000 -u u
  [ "$(args)" = "Om:u:A.20140101000000.kstrk N1 Psrun/done" ]
  ft -j tid=h:v:B.ksjnw;        [ "$(args)" = "Oh:v:B.ksjnw N1 Psrun/done" ]
  # today: the UTC stamps of today's local 00:00:00 and 23:59:59 (the zone is JST-9); run again
  # if the local day turned meanwhile.
  for _ in 1 2; do
    day="$(date +%Y%m%d)"
    ft -j today -u u
    [ "$(date +%Y%m%d)" != "$day" ] || break
  done
  start="$(date -u -d "@$(date -d "$day 00:00:00" +%s)" +%Y%m%d%H%M%S)"
  end="$(date -u -d "@$(date -d "$day 23:59:59" +%s)" +%Y%m%d%H%M%S)"
  [ "$(args)" = "Om:u.user N1 S$start E$end Psrun/done" ]
  ft -j date=20140901-20140930 -u u -d 3
  [ "$(args)" = "Om:u.user N1 S20140831150000 E20140930145959 Psrun/done" ]
  grep -qx 'DateCnv: 20140901000000 -> 20140831150000' "$SITE/err"
  grep -qx 'DateCnv: 20140930235959 -> 20140930145959' "$SITE/err"
}

@test "option values reach runscan as plain text and run nothing" {
  for value in 'x;touch pwned' 'x & touch pwned' '$(touch pwned)' "a'b\"c" '`touch pwned`'; do
    (cd "$SITE" && ft -j "name=$value" -u u)
    [ "$(args)" = "Om:u:$value.ksjnw N1 Psrun/done" ]
    [ ! -e "$SITE/pwned" ]
  done
}

@test "the listing shows the kept trackers in case-insensitive order" {
  {
    entry alice NIGHTLY.20140930120000 run 20140930120000 - -
    entry alice DAILY.20140930010203 done 20140930010203 20140930011500 n
  } >"$SITE/entries"
  ft -j name=x
  [ "$status" -eq 0 ]
  diff -u - "$SITE/out" <<'OUT'
****      TRACKER-ID.yyyymmddhhmmss       USER  STAT START       END        
  1)         DAILY.20140930010203     alice   done(warn) 09/30-10:02 09/30-10:15
  2)       NIGHTLY.20140930120000     alice          run 09/30-21:00           -
OUT
}

@test "local times of a past year follow that year's daylight-saving rules" {
  # New York began daylight saving on 2 April in 2006, and on the second Sunday of March since.
  export TZ=America/New_York
  {
    entry alice A.20060320120000 done 20060320120000 20060403120000 -
    entry alice B.20260320120000 done 20260320120000 20260403120000 -
  } >"$SITE/entries"
  ft -j name=x
  [ "$status" -eq 0 ]
  diff -u - "$SITE/out" <<'OUT'
****      TRACKER-ID.yyyymmddhhmmss       USER  STAT START       END        
  1)             A.20060320120000     alice         done 03/20-07:00 04/03-08:00
  2)             B.20260320120000     alice         done 03/20-08:00 04/03-08:00
OUT
  ft -j date=20060320-20060403 -u u
  [ "$(args)" = "Om:u.user N1 S20060320050000 E20060404035959 Psrun/done" ]
}

@test "the filter drops lines and says why under -d 2" {
  {
    entry u A.20140101000000 Done 20140101000000 - -
    entry u B.20140101000000 wait - - w
    printf ' J m:u:C.20140101000000.kstrk done 0 20140101000000 - c - 60 0 -\n'
    printf 'J m:u:D:sub.20140101000000.kstrk done 0 20140101000000 - c - 60 0 -\n'
    entry u E.20140101000000 done 20140101000000 - -
  } >"$SITE/entries"
  ft -j name=x -d 2
  [ "$status" -eq 0 ]
  grep -qx 'ANAL: Invaild status(Done).' "$SITE/err"
  grep -qx 'ANAL:(Search) Preparation status.' "$SITE/err"
  [ "$(sed -n '2,$p' "$SITE/out" | wc -l)" -eq 1 ]
  grep -q ' E.20140101000000 ' "$SITE/out"
  ft -j name=x,prep
  grep -q ' B.20140101000000 .* wait ' "$SITE/out"
}

@test "a search that finds nothing, or a tool that cannot start, exits 2" {
  ft -j name=x
  [ "$status" -eq 2 ]
  [ "$(cat "$SITE/err")" = "No JNW detected." ]
  rm "$SITE/base/bin/runscan$EXE"
  ft -j name=x
  [ "$status" -eq 2 ]
  diff -u - "$SITE/err" <<ERR
Unable to execute runscan:$SITE/base/bin/runscan$EXE
ec=2
runscancmd_jnwent: Unable to execute runscan.
No JNW detected.
ERR
}

listed() { sed -n '2,$p' "$SITE/out" | awk '{print $2 "/" $3 "/" $4}' | paste -sd' '; }

@test "with the real stand-in: by user, by name, all users, run, prep and dates" {
  use_demo_site
  ft -u alice
  [ "$(listed)" = "DAILY.20261207010000/alice/run REPORT.20261201060000/alice/done(skip)" ]
  ft -u alice -j name=DAILY
  [ "$(listed)" = "DAILY.20261205010000/alice/done DAILY.20261206010000/alice/done(error) DAILY.20261207010000/alice/run" ]
  ft -a -j run
  [ "$(listed)" = "DAILY.20261207010000/alice/run" ]
  ft -u bob -j prep
  [ "$(listed)" = "BACKUP.20261206220000/bob/done BACKUP.20261207220000/bob/prep(hold) WEEKLY.20261129020000/bob/done" ]
  ft -a -j date=20261206-20261207
  [ "$(listed)" = "BACKUP.20261206220000/bob/done DAILY.20261206010000/alice/done(error) DAILY.20261207010000/alice/run" ]
  ft -u carol
  [ "$status" -eq 2 ]
}
