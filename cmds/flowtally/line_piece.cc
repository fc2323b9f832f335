#include "cmds/flowtally/line_piece.h"

namespace flowtally {

size_t read_line_piece(FILE* f, char* buf, size_t max, bool* ended) {
  size_t n = 0;
  *ended = false;
  while (n < max) {
    const int c = std::getc(f);
    if (c == EOF) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') {
      *ended = true;
      break;
    }
  }
  return n;
}

}  // namespace flowtally
