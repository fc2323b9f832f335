// Within the POSIX files of platform/ only: keeping the descriptors this layer opens off the
// standard ones.
#pragma once

namespace platform {

/// Moves a descriptor that this layer has just opened for its own use (a handle, a stream's
/// file, a probe, a pipe end, a spool file) off the standard descriptors 0, 1 and 2. While a
/// standard stream is closed, an open takes its number: the file would then receive what is
/// written to that stream, and closing it would close whatever the stream is later re-opened
/// on. Returns descriptor itself when it is above 2; otherwise a close-on-exec duplicate above
/// 2, the original being closed (so the standard number stays free). -1, with the original
/// closed and the last-error code set, when no duplicate can be made; -1 given returns -1 and
/// leaves errno as it was, so the call may wrap an open directly.
int KeepOffStandardDescriptors(int descriptor);

}  // namespace platform
