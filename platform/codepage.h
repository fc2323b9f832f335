// Text in a Windows code page, converted to UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// The UTF-8 code page number.
inline constexpr uint32_t kCodePageUtf8 = 65001;

/// Whether the system can convert text of code_page (a Windows code page number such as 932).
bool CodePageKnown(uint32_t code_page);

/// The system's ANSI code page; 0 where the system has none (POSIX).
uint32_t SystemAnsiCodePage();

/// Appends text, read in code_page, to out as UTF-8. A byte that the code page leaves undefined,
/// a lead byte without its trail byte and a character that cannot be converted each become
/// U+FFFD, alike on every system. False, with out as it was, when code_page is not known.
bool AppendUtf8FromCodePage(uint32_t code_page, std::string_view text, std::string& out);

}  // namespace platform
