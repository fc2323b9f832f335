// Test mode: postfix status expressions evaluated on one tracker or component.
#pragma once

namespace flowtally {

/// Compiles the expression of test_expr ('testp="expression"'). 0, or -1 after its message.
int test_compile();

/// Evaluates the compiled expression on the tracker (or the -c component of it) of user.
/// Returns 1 when it holds, 0 when it does not, 2 when there is no target, 3 when it cannot be
/// evaluated.
int test_run(const char* trackername, const char* user);

}  // namespace flowtally
