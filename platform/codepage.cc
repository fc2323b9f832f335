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

size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80;   // the range of the second byte, narrowed against overlong forms,
  unsigned char high = 0xBF;  // surrogates and code points beyond U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

bool CodePageKnown(uint32_t code_page) {
  std::string ignored;
  return code_page != 0 && codepage_system::ConvertToUtf8(code_page, "", ignored);
}

bool AppendUtf8FromCodePage(uint32_t code_page, std::string_view text, std::string& out) {
  if (code_page == kCodePageUtf8) {
    // Not the system's converter: some read the 5- and 6-byte forms of old and write them back.
    size_t k = 0;
    while (k < text.size()) {
      const size_t length = Utf8Length(text, k);
      if (length == 0) {
        out += kReplacement;
        ++k;
      } else {
        out.append(text.data() + k, length);
        k += length;
      }
    }
    return true;
  }
  std::string converted;
  if (code_page == 0 || !codepage_system::ConvertToUtf8(code_page, text, converted)) return false;
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
