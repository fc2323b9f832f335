#include "cmds/flowtally/line_piece.h"

#include <algorithm>
#include <cstring>

namespace flowtally {

size_t line_piece_length(const char* start, size_t avail, bool* ended) {
  const auto* newline = static_cast<const char*>(std::memchr(start, '\n', avail));
  *ended = newline != nullptr;
  return newline != nullptr ? static_cast<size_t>(newline - start) + 1 : avail;
}

size_t LinePieceReader::Next(char* buf, size_t max, bool* ended) {
  max = std::min(max, kPieceMax);
  if (end_ - begin_ < max && !at_eof_) Fill();
  const char* start = block_ + begin_;
  const size_t n = line_piece_length(start, std::min(end_ - begin_, max), ended);
  std::memcpy(buf, start, n);
  begin_ += n;
  return n;
}

void LinePieceReader::SkipLine() {
  for (;;) {
    if (begin_ == end_) {
      if (at_eof_) return;
      Fill();
      if (begin_ == end_) return;
    }
    const char* start = block_ + begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (newline != nullptr) {
      begin_ += static_cast<size_t>(newline - start) + 1;
      return;
    }
    begin_ = end_;
  }
}

void LinePieceReader::Fill() {
  std::memmove(block_, block_ + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  while (end_ < sizeof block_ && !at_eof_) {
    const size_t got = std::fread(block_ + end_, 1, sizeof block_ - end_, f_);
    end_ += got;
    if (got == 0) at_eof_ = true;
  }
}

}  // namespace flowtally
