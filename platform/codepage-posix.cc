#include <errno.h>
#include <iconv.h>

#include <cstdio>

#include "platform/codepage.h"
#include "platform/codepage_system.h"

namespace platform {
namespace {

/// The converter of the code page used last, kept for the process: a run converts from one
/// code page, and opening a converter costs more than most conversions.
class Converter {
 public:
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() { Close(); }

  /// The converter from code_page to UTF-8, or null when iconv does not know the code page.
  iconv_t For(uint32_t code_page) {
    if (code_page == code_page_) return handle_;
    Close();
    char name[16];
    if (code_page == kCodePageUtf8) {
      std::snprintf(name, sizeof name, "UTF-8");
    } else {
      std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(code_page));
    }
    code_page_ = code_page;
    handle_ = iconv_open("UTF-8", name);
    return handle_;
  }

 private:
  void Close() {
    if (handle_ != kNone) iconv_close(handle_);
    handle_ = kNone;
    code_page_ = 0;
  }

  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  uint32_t code_page_ = 0;
  iconv_t handle_ = kNone;
};

Converter g_converter;

}  // namespace

uint32_t SystemAnsiCodePage() { return 0; }

namespace codepage_system {

bool ConvertToUtf8(uint32_t code_page, std::string_view text, std::string& out) {
  const iconv_t cd = g_converter.For(code_page);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char buffer[1024];
  while (in_left > 0) {
    char* to = buffer;
    size_t to_left = sizeof buffer;
    const size_t done = iconv(cd, &in, &in_left, &to, &to_left);
    const int err = errno;
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (done != static_cast<size_t>(-1) || err == E2BIG) continue;
    // EILSEQ, or EINVAL for a lead byte at the end: that byte is not converted.
    out += "\xEF\xBF\xBD";
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

}  // namespace codepage_system
}  // namespace platform
