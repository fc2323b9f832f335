// Helpers shared by the two report writers (readable and CSV) and the listing.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "platform/file.h"

namespace flowtally {

/// Room for a time written by report_local_time, terminator included.
inline constexpr size_t kTimeTextSize = 64;

/// The two digits of every value from 0 to 99, one pair after another. Copying a pair instead of
/// dividing by ten saves some 15 instructions a pair: a readable report of 20,000 jobs (420,000
/// pairs) takes 106 million instructions so and 113 million dividing.
inline constexpr auto kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int v = 0; v < 100; ++v) {
    pairs[2 * v] = static_cast<char>('0' + v / 10);
    pairs[2 * v + 1] = static_cast<char>('0' + v % 10);
  }
  return pairs;
}();

/// Writes value (0 to 99) at out in two digits, as "%02d" writes it; returns the end.
inline char* report_two_digits(char* out, int value) {
  std::memcpy(out, &kDigitPairs[2 * static_cast<size_t>(value)], 2);
  return out + 2;
}

/// A time written as text, held in place.
/// Its length is kept as it is written: measuring the text again on each use costs some 19
/// instructions a time, 1.2 million of the 106 million of a readable report of 20,000 jobs.
struct TimeText {
  char text[kTimeTextSize];
  size_t length = 0;  // of text, without its terminator
  const char* c_str() const { return text; }
  std::string_view view() const { return {text, length}; }
};

/// Output lines (or rows) gathered in place and written a buffer at a time: the reports write
/// several short pieces per job, and a formatted print of each costs more than the copying.
/// Whatever else writes to the stream must wait until the gathered text has gone out.
class OutputBuffer {
 public:
  explicit OutputBuffer(FILE* out) : out_(out) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() { Flush(); }

  /// text, then blanks up to width characters (a text that is wider stays whole).
  OutputBuffer& Put(std::string_view text, size_t width = 0) {
    Append(text.data(), text.size());
    if (text.size() < width) Blanks(width - text.size());
    return *this;
  }
  /// Blanks up to width characters, then text, as "%*s" writes it.
  OutputBuffer& PutRight(std::string_view text, size_t width) {
    if (text.size() < width) Blanks(width - text.size());
    Append(text.data(), text.size());
    return *this;
  }
  OutputBuffer& Put(char c) {
    Append(&c, 1);
    return *this;
  }
  /// A number in decimal, as "%lld" writes it.
  OutputBuffer& PutNumber(int64_t value) {
    char digits[24];
    char* p = digits + sizeof digits;
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    Append(p, static_cast<size_t>(digits + sizeof digits - p));
    return *this;
  }
  /// value (0 to 99) in two digits, as "%02d" writes it.
  OutputBuffer& PutTwoDigits(int value) {
    char digits[2];
    report_two_digits(digits, value);
    Append(digits, 2);
    return *this;
  }
  /// label as the label column of a "LABEL     : value" line.
  OutputBuffer& Label(const char* label) { return Put(label, kLabelWidth).Put(": "); }

 private:
  static constexpr size_t kLabelWidth = 10;

  void Append(const char* data, size_t n) {
    if (n == 0) return;  // data may be null then (an empty string_view)
    if (used_ + n > sizeof buf_) {
      Flush();
      if (n > sizeof buf_) {
        platform::WriteStreamUnlocked(data, n, out_);
        return;
      }
    }
    std::memcpy(buf_ + used_, data, n);
    used_ += n;
  }
  void Blanks(size_t n) {
    while (n > 0) {
      if (used_ == sizeof buf_) Flush();
      const size_t part = std::min(n, sizeof buf_ - used_);
      std::memset(buf_ + used_, ' ', part);
      used_ += part;
      n -= part;
    }
  }
  void Flush() {
    if (used_ > 0) platform::WriteStreamUnlocked(buf_, used_, out_);
    used_ = 0;
  }

  FILE* out_;
  char buf_[4096];
  size_t used_ = 0;
};

/// The layout of the report times: the year (%Y, or %y for its last two digits), then the month,
/// day, hour, minute and second in two digits, each after one literal character of its own, as
/// in "%Y/%m/%d %H:%M:%S".
struct TimeLayout {
  const char* format = nullptr;  // the strftime format that is written this way
  bool full_year = false;        // %Y; else %y
  char separators[5] = {};       // before the month, day, hour, minute and second
};

/// The layout of a strftime format, or nothing when the format has another.
constexpr std::optional<TimeLayout> report_time_layout(const char* format) {
  const std::string_view f(format);
  if (f.size() != 17 || f[0] != '%' || (f[1] != 'Y' && f[1] != 'y')) return std::nullopt;
  TimeLayout layout;
  layout.format = format;
  layout.full_year = f[1] == 'Y';
  for (size_t k = 0; k < 5; ++k) {
    const std::string_view field = f.substr(2 + 3 * k, 3);
    if (field[0] == '%' || field[1] != '%' || field[2] != "mdHMS"[k]) return std::nullopt;
    layout.separators[k] = field[0];
  }
  return layout;
}

/// t (seconds since 1970 UTC) broken down in local time (the zone follows TZ) and written in
/// layout, as strftime writes its format. Returns unset when t is below 1 (a time that is not
/// set), or when t cannot be shown in local time, or when the result would not fit.
TimeText report_local_time(int64_t t, const TimeLayout& layout, const char* unset);

/// The same in the layout of Format, found when the program is compiled.
template <const char* Format>
TimeText report_local_time(int64_t t, const char* unset) {
  static constexpr std::optional<TimeLayout> kLayout = report_time_layout(Format);
  static_assert(kLayout.has_value(),
                "a report time is a year, then five two-digit fields after one character each");
  return report_local_time(t, *kLayout, unset);
}

/// A record's text as written: a text that is not there reads as "".
inline const char* report_text(const char* text) { return text != nullptr ? text : ""; }

/// Whether a job record belongs in its section: with name_filter, its name equals name_filter
/// and its parent network parent_filter, both without regard to case; with erronly, its status
/// class is an error class.
bool report_job_kept(const RecordHead& record, const ReportSwitches& switches,
                     const char* name_filter, const char* parent_filter);

/// The JNW path of a tracker path "machine:user:JNWpath.stamp.kstrk": the network a component
/// named after '/' belongs to. "" when trkpath has fewer than two ':'.
std::string report_jnw_path(const char* trkpath);

/// The spool file at spool_path opened for the copying of content blocks, unbuffered (its readers
/// take it in blocks of their own); null after two lines on standard error (the file, then the
/// reason) when it cannot be opened.
platform::UniqueStream report_open_spool(const char* spool_path);

/// Says on standard error that the spool file at spool_path could not be read, and why (err, an
/// errno value).
void report_spool_unreadable(const char* spool_path, int err);

/// Says on standard error that the output (the -o file output_file, or standard output when it
/// is "") cannot be written, and why when err (an errno value) is not 0.
void report_output_failed(const char* output_file, int err);

}  // namespace flowtally
