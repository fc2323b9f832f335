// Text in a Windows code page, converted to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// The UTF-8 code page number.
inline constexpr uint32_t kCodePageUtf8 = 65001;

/// The length of the UTF-8 character at text[at], or 0 when none begins there: well-formed
/// only, without overlong forms, surrogates, code points beyond U+10FFFF or a cut end.
size_t Utf8Length(std::string_view text, size_t at);

/// Whether the system can convert text of code_page (a Windows code page number such as 932).
bool CodePageKnown(uint32_t code_page);

/// The system's ANSI code page; 0 where the system has none (POSIX).
uint32_t SystemAnsiCodePage();

/// Appends text, read in code_page, to out as UTF-8. A byte that the code page leaves undefined,
/// a lead byte without its trail byte and a character that cannot be converted each become
/// U+FFFD, alike on every system; in UTF-8 (kCodePageUtf8) each byte that begins no well-formed
/// character does. False, with out as it was, when code_page is not known.
bool AppendUtf8FromCodePage(uint32_t code_page, std::string_view text, std::string& out);

}  // namespace platform
