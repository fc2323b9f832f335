#include "environment/sitecodepage.h"

#include <string>

#include "common/kssettings.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace {

constexpr char kCodePageValue[] = "KSCodePage";
/// Code page numbers have at most five digits; a longer text names none.
constexpr size_t kCodePageDigitsMax = 5;

/// The code page that the text names: decimal digits only, else 0.
uint32_t CodePageFromText(const std::string& text) {
  if (text.empty() || text.size() > kCodePageDigitsMax) return 0;
  uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  return number;
}

}  // namespace

uint32_t InstallationCodePage(int language_id) {
  std::string text;
  if (KSRegGetString(platform::kProductKeyPath, kCodePageValue, &text) == platform::kErrorSuccess) {
    const uint32_t named = CodePageFromText(text);
    if (platform::CodePageKnown(named)) return named;
  }
  if (const uint32_t ansi = platform::SystemAnsiCodePage(); ansi != 0) return ansi;
  switch (language_id) {
    case 2:
      return 932;
    case 1:
      return 936;
    default:
      return 1252;
  }
}
