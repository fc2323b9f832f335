// Test hooks of environment/: what the unit tests use to reset process-wide state, replace a
// service or count calls. Test code only; the product headers show the product alone.
#pragma once

/// Test seam: forgets the take-over test and the access lists kept by CML_chown.
void CML_ResetForTest();
