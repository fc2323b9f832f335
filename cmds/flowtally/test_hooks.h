// Test hooks of cmds/flowtally/: what the unit tests use to reset process-wide state, replace a
// service or count calls. Test code only; the product headers show the product alone.
#pragma once

namespace flowtally {

/// Whether a dump has found the component specification fitting a tracker since the start of
/// the process. For tests: print_mode_reset_for_test clears it.
bool print_component_accepted();
void print_mode_reset_for_test();

/// Puts the options block, the local machine name and the scanner state back to their start
/// values. For tests, which run the option loop many times in one process.
void reset_options_state();

}  // namespace flowtally
