#!/usr/bin/env bats

@test "flowtally is built" {
  [ -x "$BIN_DIR/flowtally" ]
}
