#include "platform/codepage.h"
#include "platform/codepage_system.h"
#include "platform/windows-win32.h"

namespace platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

/// Appends UTF-16 text to out as UTF-8; a lone surrogate becomes U+FFFD.
void AppendUtf8(const wchar_t* text, int length, std::string& out) {
  if (length <= 0) return;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    out += kReplacement;
    return;
  }
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data() + at, size, nullptr, nullptr);
}

}  // namespace

uint32_t SystemAnsiCodePage() { return GetACP(); }

namespace codepage_system {

bool ConvertToUtf8(uint32_t code_page, std::string_view text, std::string& out) {
  CPINFO info;
  if (!GetCPInfo(code_page, &info)) return false;
  if (code_page == kCodePageUtf8 || info.MaxCharSize > 2) {
    // Code pages whose characters take more than two bytes: the system converts the whole text
    // and puts U+FFFD where it cannot.
    if (text.empty()) return true;
    const int n = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(code_page, 0, text.data(), n, nullptr, 0);
    if (wide <= 0) {
      out += kReplacement;
      return true;
    }
    std::wstring converted(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), n, converted.data(), wide);
    AppendUtf8(converted.data(), wide, out);
    return true;
  }
  // One character at a time, so that a character that fails costs its first byte only, as it
  // does on the other systems.
  size_t k = 0;
  while (k < text.size()) {
    const auto lead = static_cast<BYTE>(text[k]);
    const bool two = info.MaxCharSize == 2 && IsDBCSLeadByteEx(code_page, lead);
    if (two && k + 1 == text.size()) {
      out += kReplacement;
      break;
    }
    const int length = two ? 2 : 1;
    wchar_t wide[2];
    const int n =
        MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data() + k, length, wide, 2);
    if (n <= 0) {
      out += kReplacement;
      ++k;
      continue;
    }
    AppendUtf8(wide, n, out);
    k += static_cast<size_t>(length);
  }
  return true;
}

}  // namespace codepage_system
}  // namespace platform
