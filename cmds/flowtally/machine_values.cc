#include "cmds/flowtally/machine_values.h"

#include <ctime>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace flowtally {

// ---- Times --------------------------------------------------------------------------------------

namespace {
constexpr int64_t kSecondsPerDay = 86400;
}  // namespace

Rfc3339Text rfc3339_time(int64_t t, TimeZoneChoice zone) {
  Rfc3339Text result;
  result.text[0] = '\0';
  if (t < 1 || t > kRfc3339Last) return result;
  std::tm tm{};
  int64_t offset = 0;  // seconds east of UTC
  if (zone == TimeZoneChoice::kLocal) {
    if (!platform::LocalTime(t, &tm)) return result;
    offset = platform::SecondsFromFields(tm) - t;
  } else {
    // The times of a report fall on few days: the date of the day before is kept for the next.
    static int64_t last_day = -1;
    static platform::CivilDate last_date;
    const int64_t day = t / kSecondsPerDay;
    if (day != last_day) {
      last_date = platform::CivilFromDays(day);
      last_day = day;
    }
    const auto second = static_cast<int>(t % kSecondsPerDay);
    tm.tm_year = static_cast<int>(last_date.year - 1900);
    tm.tm_mon = last_date.month - 1;
    tm.tm_mday = last_date.day;
    tm.tm_hour = second / 3600;
    tm.tm_min = second / 60 % 60;
    tm.tm_sec = second % 60;
  }
  const int year = tm.tm_year + 1900;
  if (year < 0 || year > 9999) return result;
  char* p = result.text;
  p = report_two_digits(p, year / 100);
  p = report_two_digits(p, year % 100);
  const int fields[5] = {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  static constexpr char kBefore[5] = {'-', '-', 'T', ':', ':'};
  for (int k = 0; k < 5; ++k) {
    *p++ = kBefore[k];
    p = report_two_digits(p, fields[k]);
  }
  if (zone == TimeZoneChoice::kUtc) {
    *p++ = 'Z';
  } else {
    *p++ = offset < 0 ? '-' : '+';
    const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    p = report_two_digits(p, static_cast<int>(minutes / 60 % 100));
    *p++ = ':';
    p = report_two_digits(p, static_cast<int>(minutes % 60));
  }
  *p = '\0';
  result.length = static_cast<size_t>(p - result.text);
  return result;
}

// ---- Text ---------------------------------------------------------------------------------------

namespace {

uint32_t g_text_code_page = 0;

}  // namespace

bool is_utf8(std::string_view text) {
  size_t k = 0;
  while (k < text.size()) {
    if (static_cast<unsigned char>(text[k]) < 0x80) {
      ++k;
      continue;
    }
    const size_t length = platform::Utf8Length(text, k);
    if (length == 0) return false;
    k += length;
  }
  return true;
}

void set_text_code_page(uint32_t code_page) { g_text_code_page = code_page; }
uint32_t text_code_page() { return g_text_code_page; }

std::string_view utf8_text(std::string_view text, std::string& scratch) {
  if (is_utf8(text)) return text;
  scratch.clear();
  // Without a code page, each byte that begins no UTF-8 character reads as U+FFFD.
  if (!platform::AppendUtf8FromCodePage(g_text_code_page, text, scratch)) {
    platform::AppendUtf8FromCodePage(platform::kCodePageUtf8, text, scratch);
  }
  return scratch;
}

// ---- JSON ---------------------------------------------------------------------------------------

void JsonWriter::Separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ > 0 && depth_ <= kDepthMax) {
    if (has_member_[depth_]) out_.Put(',');
    has_member_[depth_] = true;
  }
}

JsonWriter& JsonWriter::Open(char bracket) {
  Separate();
  out_.Put(bracket);
  ++depth_;
  if (depth_ <= kDepthMax) has_member_[depth_] = false;
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  out_.Put(bracket);
  if (depth_ > 0) --depth_;
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  Separate();
  out_.Put('"').Put(key).Put("\":");
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
  Separate();
  out_.PutNumber(value);
  return *this;
}

JsonWriter& JsonWriter::Null() {
  Separate();
  out_.Put("null");
  return *this;
}

JsonWriter& JsonWriter::Time(int64_t t, TimeZoneChoice zone) {
  const Rfc3339Text text = rfc3339_time(t, zone);
  if (text.empty()) return Null();
  Separate();
  out_.Put('"').Put(text.view()).Put('"');
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeginString();
  StringPiece(text);
  return EndString();
}

JsonWriter& JsonWriter::BeginString() {
  Separate();
  out_.Put('"');
  return *this;
}

JsonWriter& JsonWriter::StringPiece(std::string_view text) {
  // Most text is ASCII with nothing to escape: it goes out as it is, after one look at it.
  size_t plain = 0;
  while (plain < text.size()) {
    const auto c = static_cast<unsigned char>(text[plain]);
    if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') break;
    ++plain;
  }
  if (plain == text.size()) {
    out_.Put(text);
  } else {
    Escaped(utf8_text(text, scratch_));
  }
  return *this;
}

JsonWriter& JsonWriter::EndString() {
  out_.Put('"');
  return *this;
}

void JsonWriter::Escaped(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  size_t run = 0;  // start of the bytes not yet written
  for (size_t k = 0; k < utf8.size(); ++k) {
    const auto c = static_cast<unsigned char>(utf8[k]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out_.Put(utf8.substr(run, k - run));
    run = k + 1;
    switch (c) {
      case '"':
        out_.Put("\\\"");
        break;
      case '\\':
        out_.Put("\\\\");
        break;
      case '\n':
        out_.Put("\\n");
        break;
      case '\t':
        out_.Put("\\t");
        break;
      case '\r':
        out_.Put("\\r");
        break;
      case '\b':
        out_.Put("\\b");
        break;
      case '\f':
        out_.Put("\\f");
        break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out_.Put(std::string_view(escape, sizeof escape));
      }
    }
  }
  out_.Put(utf8.substr(run));
}

// ---- Delimited fields ---------------------------------------------------------------------------

void put_tsv_field(OutputBuffer& out, std::string_view text) {
  size_t run = 0;
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    const char escape = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\\' ? '\\' : 0;
    if (escape == 0) continue;
    out.Put(text.substr(run, k - run)).Put('\\').Put(escape);
    run = k + 1;
  }
  out.Put(text.substr(run));
}

void put_csv_field(OutputBuffer& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.Put(text);
    return;
  }
  out.Put('"');
  size_t run = 0;
  for (size_t quote = text.find('"'); quote != std::string_view::npos;
       quote = text.find('"', quote + 1)) {
    out.Put(text.substr(run, quote + 1 - run)).Put('"');
    run = quote + 1;
  }
  out.Put(text.substr(run)).Put('"');
}

}  // namespace flowtally
