// The system's step of the code-page conversion, for codepage.cc.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::codepage_system {

/// Appends text, read in code_page, to out as UTF-8 with U+FFFD for what cannot be converted:
/// a failed character costs its first byte only, and the conversion goes on after it. False
/// when the system does not know code_page.
bool ConvertToUtf8(uint32_t code_page, std::string_view text, std::string& out);

}  // namespace platform::codepage_system
