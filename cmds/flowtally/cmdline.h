// The command line of flowtally: the option scanner, the option loop that fills the options
// block (options.h), and the usage texts.
#pragma once

#include <cstdio>

namespace flowtally {

// The command's own single-letter scanner; its state is process-wide.

/// Index of the next argument to scan; starts at 1.
extern int optind;
/// Argument of the option just returned, or nullptr.
extern char* optarg;
/// When non-zero (the start value 1), the scanner writes its own error lines on standard error.
extern int opterr;

/// Returns the next option character of argv, '?' for an illegal option or a missing argument
/// (after "argv[0]: ERROR: ... -- c" when opterr is set), or -1 at the first argument that is
/// not an option ("-" alone included) and after "--" (which it steps over). Options without an
/// argument may share one word ("-vV"); an argument may follow its letter in the same word
/// ("-dthree") or be the whole next word, whatever it begins with.
int getopt(int argc, char* const argv[], const char* optstring);

/// Fills g_options from the command line (option string "vVd:hu:c:j:p:t:ao:l:"). Returns 0, or
/// -1 after its message; the caller then writes the short usage line. -h writes the long usage
/// on standard error and ends the process with 0; an empty "-j name=" ends it with 2. When no
/// -j is given, the search defaults to "last".
int parse_options(int argc, char** argv);

/// Writes the short usage line, or with long_text the full usage text, on stream.
void usage(FILE* stream, bool long_text);

}  // namespace flowtally
