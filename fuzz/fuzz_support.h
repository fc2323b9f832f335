// Helpers shared by the fuzz harnesses: the input as text and as lines, files in a temporary
// directory of the process's own, and a fixed clock and zone so that a run repeats exactly.
// Fuzz code only; nothing in the product includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

/// The input as text. Harnesses that hand texts to routines taking C strings cut it at the
/// first NUL, as any such text would be.
std::string Text(const uint8_t* data, size_t size);

/// The input cut into lines at line feeds (the line feeds dropped), the last one kept even
/// when it does not end in a line feed.
std::vector<std::string> Lines(std::string_view text);

/// A directory of this process's own under the system's temporary directory, made on first
/// use and removed with everything in it when the process ends.
const std::string& Dir();

/// The path of name (which may hold '/') under Dir(); its parent directories are made.
std::string PathIn(const std::string& name);

/// Replaces the file at path with exactly bytes.
void WriteFile(const std::string& path, std::string_view bytes);

/// Sets an environment variable for the rest of the process.
void SetEnv(const char* name, const std::string& value);

/// Runs the process in zone UTC at 2014-09-30 12:00:00, without pauses.
void FixTime();

/// Whether the -j argument items holds an empty "name=", with which the search parser ends the
/// process (with 2) as it is meant to. Harnesses leave such inputs out.
bool EndsTheSearch(std::string items);

}  // namespace fuzz
