// The values of the output that programs read: times in RFC 3339, text in UTF-8, JSON written a
// value at a time, and fields of tab- and comma-separated lines. The listing and print mode's
// JSON and CSV forms all write their values here, so that the forms cannot disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cmds/flowtally/report_common.h"

namespace flowtally {

// ---- Times --------------------------------------------------------------------------------------

/// The zone that machine-readable times are written in.
enum class TimeZoneChoice : int32_t { kUtc = 0, kLocal = 1 };

/// Room for an RFC 3339 time with its offset, "2026-12-07T10:00:02+09:00", and a terminator.
inline constexpr size_t kRfc3339Size = 32;
/// The last instant that RFC 3339's four-digit years can show, 9999-12-31T23:59:59Z.
inline constexpr int64_t kRfc3339Last = 253402300799;

/// An RFC 3339 time written in place; empty for a time that is not set.
struct Rfc3339Text {
  char text[kRfc3339Size];
  size_t length = 0;  // of text, without its terminator; 0 when empty
  std::string_view view() const { return {text, length}; }
  bool empty() const { return length == 0; }
};

/// t (seconds since 1970 UTC) in RFC 3339: "2026-12-07T01:00:02Z" in UTC, or the local time of
/// the same instant with its offset, "2026-12-07T10:00:02+09:00" ("+00:00" in UTC). Empty when
/// t is below 1 (not set), when its local time cannot be found, or when it falls after 9999.
Rfc3339Text rfc3339_time(int64_t t, TimeZoneChoice zone);

// ---- Text ---------------------------------------------------------------------------------------

/// Whether text is well-formed UTF-8 as a whole (no overlong form, no surrogate, nothing beyond
/// U+10FFFF, no character cut at the end).
bool is_utf8(std::string_view text);

/// The code page that text which is not UTF-8 is read in; 0 (at start) when none is known,
/// and then every byte that is not part of a UTF-8 character reads as U+FFFD.
void set_text_code_page(uint32_t code_page);
uint32_t text_code_page();

/// text in UTF-8: text itself when it is UTF-8 as a whole, else text converted as a whole from
/// the text code page into scratch (U+FFFD where that fails).
std::string_view utf8_text(std::string_view text, std::string& scratch);

// ---- JSON ---------------------------------------------------------------------------------------

/// Compact JSON written value by value into an output buffer: the writer puts the commas and
/// colons; the caller gives the keys, the values and the nesting, and the line ends between
/// documents (JSON Lines). Keys are written as given (ASCII names); strings are made UTF-8 and
/// escaped, so the output is valid JSON whatever bytes a string holds.
class JsonWriter {
 public:
  explicit JsonWriter(OutputBuffer& out) : out_(out) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  JsonWriter& Key(std::string_view key);

  JsonWriter& String(std::string_view text);
  /// A string, or null when text is null.
  JsonWriter& String(const char* text) { return text ? String(std::string_view(text)) : Null(); }
  JsonWriter& Number(int64_t value);
  JsonWriter& Null();
  /// An RFC 3339 time, or null when t is not set.
  JsonWriter& Time(int64_t t, TimeZoneChoice zone);

  /// A string written in pieces, each made UTF-8 on its own (give whole lines):
  /// BeginString, any number of StringPiece, EndString.
  JsonWriter& BeginString();
  JsonWriter& StringPiece(std::string_view text);
  JsonWriter& EndString();

  /// Nesting deeper than this is not written (the documents here need four levels).
  static constexpr int kDepthMax = 16;

 private:
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);
  /// The comma before a value or a key, where one is due.
  void Separate();
  void Escaped(std::string_view utf8);

  OutputBuffer& out_;
  int depth_ = 0;
  bool has_member_[kDepthMax + 1] = {};  // per level: a value was written there already
  bool after_key_ = false;
  std::string scratch_;
};

// ---- Delimited fields ---------------------------------------------------------------------------

/// text as a field of a tab-separated line: TAB, LF, CR and backslash written as \t, \n, \r and
/// \\, every other byte as it is.
void put_tsv_field(OutputBuffer& out, std::string_view text);

/// text as an RFC 4180 field: enclosed in '"', with each inner '"' doubled, when it holds ',',
/// '"', CR or LF; otherwise as it is.
void put_csv_field(OutputBuffer& out, std::string_view text);

}  // namespace flowtally
