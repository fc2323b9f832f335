#include "platform/codepage.h"

#include "platform/codepage_system.h"

namespace platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Characters that one system gives for a byte that the code page leaves undefined and the other
// refuses: the C1 controls U+0080 to U+009F (0x81 of 1252 is U+0081 on Windows) and the private
// use U+F8F0 to U+F8FF (0xA0 and 0xFD to 0xFF of 932). Both read as not converted.
bool UndefinedByteCharacter(std::string_view utf8, size_t at, size_t* length) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[at + k]); };
  if (byte(0) == 0xC2 && at + 1 < utf8.size() && byte(1) >= 0x80 && byte(1) <= 0x9F) {
    *length = 2;
    return true;
  }
  if (byte(0) == 0xEF && at + 2 < utf8.size() && byte(1) == 0xA3 && byte(2) >= 0xB0 &&
      byte(2) <= 0xBF) {
    *length = 3;
    return true;
  }
  return false;
}

}  // namespace

bool CodePageKnown(uint32_t code_page) {
  std::string ignored;
  return code_page != 0 && codepage_system::ConvertToUtf8(code_page, "", ignored);
}

bool AppendUtf8FromCodePage(uint32_t code_page, std::string_view text, std::string& out) {
  std::string converted;
  if (code_page == 0 || !codepage_system::ConvertToUtf8(code_page, text, converted)) return false;
  if (code_page == kCodePageUtf8) {
    out += converted;
    return true;
  }
  out.reserve(out.size() + converted.size());
  size_t k = 0;
  while (k < converted.size()) {
    size_t length = 0;
    if (UndefinedByteCharacter(converted, k, &length)) {
      out += kReplacement;
      k += length;
    } else {
      out += converted[k++];
    }
  }
  return true;
}

}  // namespace platform
