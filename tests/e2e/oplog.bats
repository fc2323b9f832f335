#!/usr/bin/env bats
# The operation record log of a site, end to end.

load helpers
