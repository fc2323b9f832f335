#include "cmds/flowtally/machine_values.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/testing.h"

namespace flowtally {
namespace {

TEST(MachineValuesTest, TimesInEitherZone) {
  platform::test::ScopedZone tokyo("JST-9");
  // 2026-12-31 14:30:00 UTC, 23:30 in Tokyo.
  EXPECT_EQ(rfc3339_time(1798727400, TimeZoneChoice::kUtc).view(), "2026-12-31T14:30:00Z");
  EXPECT_EQ(rfc3339_time(1798727400, TimeZoneChoice::kLocal).view(), "2026-12-31T23:30:00+09:00");
  EXPECT_TRUE(rfc3339_time(0, TimeZoneChoice::kUtc).empty());
  EXPECT_TRUE(rfc3339_time(-1, TimeZoneChoice::kLocal).empty());
  EXPECT_EQ(rfc3339_time(kRfc3339Last, TimeZoneChoice::kUtc).view(), "9999-12-31T23:59:59Z");
  EXPECT_TRUE(rfc3339_time(kRfc3339Last + 1, TimeZoneChoice::kUtc).empty());

  platform::test::ScopedZone new_york("EST5");
  EXPECT_EQ(rfc3339_time(1798727400, TimeZoneChoice::kLocal).view(), "2026-12-31T09:30:00-05:00");
#ifndef _WIN32  // the Windows test zones have whole hours only
  platform::test::ScopedZone newfoundland("NST3:30");
  EXPECT_EQ(rfc3339_time(1798727400, TimeZoneChoice::kLocal).view(), "2026-12-31T11:00:00-03:30");
#endif
}

TEST(MachineValuesTest, Utf8FormsAndConversion) {
  for (const char* good :
       {"", "abc", "\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(is_utf8(good)) << good;
  }
  // Overlong, surrogate, beyond U+10FFFF, cut short, lone trail byte.
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE6\x97", "\x80", "a\xFF"}) {
    EXPECT_FALSE(is_utf8(bad)) << bad;
  }

  std::string scratch;
  set_text_code_page(0);
  EXPECT_EQ(utf8_text("a\x93z", scratch), "a\xEF\xBF\xBDz");
  set_text_code_page(1252);
  EXPECT_EQ(utf8_text("caf\xE9 \x80", scratch), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(utf8_text("\x81", scratch), "\xEF\xBF\xBD");  // undefined in 1252
  set_text_code_page(932);
  EXPECT_EQ(utf8_text("\x93\xFA\x96\x7B", scratch), "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(utf8_text("a\x93", scratch), "a\xEF\xBF\xBD");  // lead byte without its trail
  EXPECT_EQ(utf8_text("\xA0", scratch), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_text("\xC3\xA9", scratch), "\xC3\xA9");  // UTF-8 passes whatever the code page
  set_text_code_page(0);
  EXPECT_FALSE(platform::CodePageKnown(4242));
}

std::string Written(void (*write)(OutputBuffer&)) {
  std::FILE* file = std::tmpfile();
  {
    OutputBuffer out(file);
    write(out);
  }
  std::string text(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return text;
}

TEST(MachineValuesTest, JsonEscapesAndCommas) {
  EXPECT_EQ(Written([](OutputBuffer& out) {
              JsonWriter json(out);
              json.BeginObject().Key("a").String("q\"b\\n\n\t\r\b\f\x01\x1F\x7F");
              json.Key("b").BeginArray().Number(-12).Null().String(nullptr).EndArray();
              json.Key("c").BeginObject().EndObject();
              json.Key("d").BeginString().StringPiece("x\n").StringPiece("y").EndString();
              json.Key("e").Time(0, TimeZoneChoice::kUtc).EndObject();
              out.Put('\n');
              json.BeginObject().Key("f").String("\xFF").EndObject();
            }),
            "{\"a\":\"q\\\"b\\\\n\\n\\t\\r\\b\\f\\u0001\\u001f\x7F\",\"b\":[-12,null,null],"
            "\"c\":{},\"d\":\"x\\ny\",\"e\":null}\n{\"f\":\"\xEF\xBF\xBD\"}");
}

TEST(MachineValuesTest, DelimitedFields) {
  EXPECT_EQ(Written([](OutputBuffer& out) { put_tsv_field(out, "a\tb\nc\rd\\e,\"f"); }),
            "a\\tb\\nc\\rd\\\\e,\"f");
  EXPECT_EQ(Written([](OutputBuffer& out) {
              put_csv_field(out, "plain");
              put_csv_field(out, "a,\"b\"\r\n");
            }),
            "plain\"a,\"\"b\"\"\r\n\"");
}

}  // namespace
}  // namespace flowtally
