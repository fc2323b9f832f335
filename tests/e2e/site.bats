#!/usr/bin/env bats
# Site identity across processes: many processes look the site up in one site list at once,
# each under the byte lock of the list's lock copy.

load helpers

setup() {
  SITE="$BATS_TEST_TMPDIR"
  mkdir -p "$SITE/base/etc"
  write_registry
  unset ZOV_SITEDB ZOV_SITE
  PROBE="$BIN_DIR/site_lookup_probe"
}

# A site list with many sites, the wanted one near the end and defined twice.
write_big_site_list() {
  for i in $(seq 1 3000); do printf 'filler%d=/srv/filler%d\n' "$i" "$i"; done >"$SITE/list"
  printf 'SiteB=%s\n' "$SITE/site-b" >>"$SITE/list"
  printf 'siteb=/wrong\n' >>"$SITE/list"
  mv "$SITE/list" "$SITE/base/etc/site.list"
}

# Starts eight probes in the background; their pids land in PIDS.
start_probes() {
  PIDS=()
  for n in 1 2 3 4 5 6 7 8; do
    "$PROBE" >"$SITE/out.$n" 2>"$SITE/err.$n" &
    PIDS+=($!)
  done
}

# Waits for the eight probes and checks that each printed the directory of SiteB, and nothing
# else.
expect_probes_found_site_b() {
  for n in 1 2 3 4 5 6 7 8; do
    status=0
    wait "${PIDS[$((n - 1))]}" || status=$?
    if [ "$status" -ne 0 ]; then
      echo "probe $n exited with $status:" >&2
      cat "$SITE/err.$n" >&2
      return 1
    fi
    diff -u <(printf '%s\n' "$SITE/site-b") <(text "$SITE/out.$n")
    [ ! -s "$SITE/err.$n" ]
  done
}

@test "eight processes look the site up at once and all find it" {
  write_big_site_list
  cp "$SITE/base/etc/site.list" "$SITE/expected.list"
  export ZOV_SITE=siteb
  start_probes
  expect_probes_found_site_b
  # The readers never change the list; its lock copy stays beside it.
  cmp "$SITE/expected.list" "$SITE/base/etc/site.list"
  cmp "$SITE/expected.list" "$SITE/base/etc/site.list.lck"
}

@test "readers wait while a writer holds the lock and rewrites the list" {
  write_big_site_list
  cp "$SITE/base/etc/site.list" "$SITE/full.list"
  export ZOV_SITE=siteb
  "$PROBE" --hold-lock 2000 >"$SITE/holder.out" 2>"$SITE/holder.err" &
  holder=$!
  for _ in $(seq 1 100); do
    [ -s "$SITE/holder.out" ] && break
    sleep 0.05
  done
  [ "$(text "$SITE/holder.out")" = locked ]

  # The writer has written only the first lines when the readers start.
  head -n 100 "$SITE/full.list" >"$SITE/base/etc/site.list"
  start_probes
  sleep 0.5
  cat "$SITE/full.list" >"$SITE/base/etc/site.list"
  wait "$holder"
  expect_probes_found_site_b
}

@test "ZOV_SITEDB wins, and an unknown site gives no directory" {
  write_big_site_list
  ZOV_SITE=nosuch ZOV_SITEDB=/env/db run "$PROBE"
  [ "$status" -eq 0 ]
  [ "${output%$'\r'}" = "/env/db" ]

  ZOV_SITE=nosuch run "$PROBE"
  [ "$status" -eq 1 ]
  [ "${output%$'\r'}" = "site_lookup_probe: no site database directory" ]
}

@test "a missing site list is created empty" {
  ZOV_SITE=any run "$PROBE"
  [ "$status" -eq 1 ]
  [ -f "$SITE/base/etc/site.list" ] && [ ! -s "$SITE/base/etc/site.list" ]
  [ -f "$SITE/base/etc/site.list.lck" ]
}
