#include "cmds/flowtally/line_piece.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file.h"

namespace flowtally {

size_t line_piece_length(const char* start, size_t avail, bool* ended) {
  const auto* newline = static_cast<const char*>(std::memchr(start, '\n', avail));
  *ended = newline != nullptr;
  return newline != nullptr ? static_cast<size_t>(newline - start) + 1 : avail;
}

void BlockReader::Reset(FILE* stream, int64_t at) {
  stream_ = stream;
  stream_at_ = at;
  stream_ended_ = false;
  next_ = std::max<int64_t>(at, 0);
  base_ = 0;
  length_ = 0;
  failed_ = false;
  error_ = 0;
  if (stream != nullptr && capacity_ == 0) {
    bytes_ = std::make_unique_for_overwrite<char[]>(block_size_);
    capacity_ = block_size_;
  }
}

size_t BlockReader::Next(char* buf, size_t max, bool* ended) {
  const char* data = nullptr;
  const size_t n = PieceAt(next_, std::min(max, kLinePieceMax), &data, ended);
  std::memcpy(buf, data, n);
  next_ += static_cast<int64_t>(n);
  return n;
}

void BlockReader::SkipLine() {
  bool ended = false;
  while (!ended) {
    const char* data = nullptr;
    const size_t n = PieceAt(next_, block_size_, &data, &ended);
    if (n == 0) return;
    next_ += static_cast<int64_t>(n);
  }
}

// Makes up to want bytes from offset present in the block, which does not hold them all yet;
// returns how many are.
size_t BlockReader::Make(int64_t offset, size_t want) {
  const int64_t end = base_ + static_cast<int64_t>(length_);
  const auto capacity = static_cast<int64_t>(capacity_);
  if (offset >= base_ && offset <= end) {
    // Keep what the block has from offset on and read on behind it.
    const auto keep = static_cast<size_t>(end - offset);
    if (keep > 0) std::memmove(bytes_.get(), bytes_.get() + (offset - base_), keep);
    length_ = keep;
    base_ = offset;
  } else if (length_ > 0 && offset < base_ && base_ - offset < capacity) {
    // Just before the block: a walk backwards through the stream (the record lists run newest
    // first). The new block ends a little after the old one begins, so that the records before
    // come out of one read, instead of a read of a whole block for each.
    length_ = 0;
    base_ = std::max<int64_t>(0, std::min(offset, base_ + kBackwardOverlap - capacity));
  } else {
    length_ = 0;
    base_ = offset;
  }
  const int64_t read_at = base_ + static_cast<int64_t>(length_);
  if (stream_at_ != read_at) {
    if (!platform::SeekStream(stream_, read_at)) {
      stream_at_ = -1;
      return Held(offset, want);
    }
    stream_at_ = read_at;
    stream_ended_ = false;
  }
  if (!stream_ended_) ReadOn();
  return Held(offset, want);
}

// Fills the block from the stream's position on, up to its size or the end of the stream.
void BlockReader::ReadOn() {
  while (length_ < capacity_) {
    const size_t got = platform::ReadStream(bytes_.get() + length_, capacity_ - length_, stream_);
    if (got == 0) {
      stream_ended_ = true;
      break;
    }
    length_ += got;
    stream_at_ += static_cast<int64_t>(got);
  }
  if (std::ferror(stream_) && !failed_) {
    failed_ = true;
    error_ = errno;
  }
  // A stream at its end stays readable for a later block that lies before it.
  std::clearerr(stream_);
}

}  // namespace flowtally
