// Reading a stream in pieces of at most a given size, each ending at a line end where one
// comes first: the spool file's lines and the search tool's lines are read this way.
#pragma once

#include <cstddef>
#include <cstdio>

namespace flowtally {

/// Reads at most max bytes of f into buf, up to and including a line end; buf is not
/// terminated. Returns the bytes read (0 at end of file or on a read error); *ended tells whether
/// they end with a line end. Lengths are counted, so a NUL byte is read like any other.
size_t read_line_piece(FILE* f, char* buf, size_t max, bool* ended);

}  // namespace flowtally
