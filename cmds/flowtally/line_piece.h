// Reading a stream in pieces of at most a given size, each ending at a line end where one
// comes first: the spool file's lines, its content blocks and the search tool's lines are read
// this way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace flowtally {

/// The longest piece of a line taken at once, line end included: a spool file's line, a line of
/// captured output and a line of the search tool are each taken in pieces of at most this many
/// characters.
inline constexpr size_t kLinePieceMax = 1022;

/// The block size of a stream read in order: a spool file being loaded, the search tool's output.
inline constexpr size_t kReadBlockSize = size_t{64} * 1024;

/// The length of the piece at the start of the avail bytes at start: up to and including the
/// first line end, or all of them when none is there; *ended tells whether it ends a line.
size_t line_piece_length(const char* start, size_t avail, bool* ended);

/// A stream read in blocks of a fixed size and cut into pieces: in order (Next, SkipLine), or at
/// byte offsets (PieceAt, ByteAt), seeking only when the block does not hold them. The stream is
/// read only through the reader while the reader holds it, and the reader knows where the stream
/// stands (-1: unknown, the next read seeks first). A stream read in order is never sought.
class BlockReader {
 public:
  /// A reader of blocks of block_size bytes (at least kLinePieceMax), holding no stream yet.
  explicit BlockReader(size_t block_size) : block_size_(block_size) {}
  /// A reader of stream, whose position is at its start.
  BlockReader(FILE* stream, size_t block_size) : block_size_(block_size) { Reset(stream, 0); }
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  /// Starts over on stream (may be null), whose position is at (-1 unknown), with no read failed
  /// yet; the next piece in order is the one at at (0 when unknown).
  void Reset(FILE* stream, int64_t at);
  FILE* stream() const { return stream_; }

  /// Copies the next piece in order into buf: at most max bytes (max at most kLinePieceMax), up
  /// to and including a line end; buf is not terminated. Returns the bytes copied (0 at end of
  /// file or on a read error); *ended tells whether they end with a line end. Lengths are
  /// counted, so a NUL byte is read like any other.
  size_t Next(char* buf, size_t max, bool* ended);

  /// Drops the rest of the current line, its line end included.
  void SkipLine();

  /// The piece of the line at offset: at most max bytes (max at most the block's size), up to
  /// and including its line end. Returns its length, 0 at the end of the file or when the file
  /// cannot be read there; *data points at it until the next call.
  size_t PieceAt(int64_t offset, size_t max, const char** data, bool* ended) {
    const size_t have = Have(offset, max);
    *data = bytes_.get() + (offset - base_);
    return line_piece_length(*data, have, ended);
  }

  /// The byte at offset, or EOF.
  int ByteAt(int64_t offset) {
    if (Have(offset, 1) == 0) return EOF;
    return static_cast<unsigned char>(bytes_[static_cast<size_t>(offset - base_)]);
  }

  /// Whether a read failed, and the system's error number of the first failure.
  bool failed() const { return failed_; }
  int error() const { return error_; }

 private:
  // Up to want bytes from offset present in the block: the block mostly holds them already,
  // and a call to Make for each piece of a report's content would cost more than the copying.
  size_t Have(int64_t offset, size_t want) {
    if (offset >= base_ &&
        offset + static_cast<int64_t>(want) <= base_ + static_cast<int64_t>(length_)) {
      return want;
    }
    return Make(offset, want);
  }
  size_t Make(int64_t offset, size_t want);
  void ReadOn();
  // Of want bytes from offset, how many the block holds.
  size_t Held(int64_t offset, size_t want) const {
    if (offset < base_) return 0;
    const int64_t after = base_ + static_cast<int64_t>(length_) - offset;
    return after <= 0 ? 0 : std::min(static_cast<size_t>(after), want);
  }

  /// How far a block made for a walk backwards reaches behind the block before it.
  static constexpr int64_t kBackwardOverlap = int64_t{64} * 1024;

  size_t block_size_;
  FILE* stream_ = nullptr;
  int64_t stream_at_ = -1;
  bool stream_ended_ = false;  // the stream has no bytes after stream_at_
  int64_t next_ = 0;           // the offset of the next piece in order
  int64_t base_ = 0;           // the offset of bytes_[0]
  size_t length_ = 0;          // the bytes held from base_ on
  // Left unfilled when made: clearing it costs some 65,000 instructions a reader, for bytes that
  // are read over before they are used.
  std::unique_ptr<char[]> bytes_;
  size_t capacity_ = 0;  // of bytes_: 0 until a stream comes
  bool failed_ = false;
  int error_ = 0;
};

/// Walks the content block whose marker line (letter) starts at offset in reader's stream: every
/// following line that begins with a TAB, up to the first line that does not. Calls
/// piece(text, line_end) for each piece of those lines, without the leading TAB and without the
/// line end (LF or CR LF), line_end telling whether the piece ends its line; a long line arrives
/// in several pieces, and the pieces after its first are taken whole, whatever they begin with.
/// A last line without its line end still ends with line_end. Returns false, without a call,
/// when no block of letter starts at offset (offset below 1: a block that was never noted).
template <typename Piece>
bool content_block_pieces(BlockReader& reader, char letter, int64_t offset, Piece&& piece) {
  if (offset < 1) return false;
  int64_t at = offset;
  const char* chunk = nullptr;
  bool ended = false;
  size_t n = reader.PieceAt(at, kLinePieceMax, &chunk, &ended);
  if (n == 0) return true;
  if (chunk[0] != letter) return false;
  // The marker line itself is not content, however long it is.
  at += static_cast<int64_t>(n);
  while (!ended) {
    n = reader.PieceAt(at, kLinePieceMax, &chunk, &ended);
    if (n == 0) return true;
    at += static_cast<int64_t>(n);
  }
  bool line_open = false;  // the last piece did not end its line
  for (;;) {
    if (!line_open && reader.ByteAt(at) != '\t') break;
    n = reader.PieceAt(at, kLinePieceMax, &chunk, &ended);
    if (n == 0) break;
    at += static_cast<int64_t>(n);
    size_t body = n;
    if (ended) body = n >= 2 && chunk[n - 2] == '\r' ? n - 2 : n - 1;
    const size_t skip = line_open ? 0 : 1;
    piece(std::string_view(chunk + skip, body > skip ? body - skip : 0), ended);
    line_open = !ended;
  }
  if (line_open) piece(std::string_view(), true);
  return true;
}

}  // namespace flowtally
