// Reading a stream in pieces of at most a given size, each ending at a line end where one
// comes first: the spool file's lines and the search tool's lines are read this way.
#pragma once

#include <cstddef>
#include <cstdio>

namespace flowtally {

/// The length of the piece at the start of the avail bytes at start: up to and including the
/// first line end, or all of them when none is there; *ended tells whether it ends a line.
size_t line_piece_length(const char* start, size_t avail, bool* ended);

/// Cuts a stream into pieces, reading it in large blocks. The stream is read only through the
/// reader while it lives.
class LinePieceReader {
 public:
  /// The largest piece that Next returns.
  static constexpr size_t kPieceMax = 1024;

  explicit LinePieceReader(FILE* f) : f_(f) {}
  LinePieceReader(const LinePieceReader&) = delete;
  LinePieceReader& operator=(const LinePieceReader&) = delete;

  /// Copies at most max (up to kPieceMax) bytes into buf, up to and including a line end; buf is
  /// not terminated. Returns the bytes copied (0 at end of file or on a read error); *ended
  /// tells whether they end with a line end. Lengths are counted, so a NUL byte is read like any
  /// other.
  size_t Next(char* buf, size_t max, bool* ended);

  /// Drops the rest of the current line, its line end included.
  void SkipLine();

 private:
  void Fill();

  static constexpr size_t kBlockSize = size_t{64} * 1024;
  FILE* f_;
  char block_[kBlockSize];
  size_t begin_ = 0;
  size_t end_ = 0;
  bool at_eof_ = false;
};

}  // namespace flowtally
