// The JSON writer and the code-page conversion. The first byte picks the text code page (none,
// 1252, 932, 936 or UTF-8); the rest is cut at line feeds into strings, which are written as an
// array, each whole and in pieces. Whatever the bytes, the output is UTF-8, holds no control
// byte, and reads back as the strings it was given where they were UTF-8.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cmds/flowtally/machine_values.h"
#include "cmds/flowtally/report_common.h"
#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"

namespace {

constexpr uint32_t kCodePages[] = {0, 1252, 932, 936, platform::kCodePageUtf8};

// The strings of a JSON array of strings, unescaped; aborts on anything that is not one.
std::vector<std::string> ReadStrings(std::string_view json) {
  std::vector<std::string> strings;
  size_t k = 0;
  auto next = [&]() -> char {
    if (k >= json.size()) std::abort();
    return json[k++];
  };
  if (next() != '[') std::abort();
  if (k < json.size() && json[k] == ']') return strings;
  for (;;) {
    if (next() != '"') std::abort();
    std::string s;
    for (char c = next(); c != '"'; c = next()) {
      if (static_cast<unsigned char>(c) < 0x20) std::abort();
      if (c != '\\') {
        s += c;
        continue;
      }
      switch (next()) {
        case '"':
          s += '"';
          break;
        case '\\':
          s += '\\';
          break;
        case 'n':
          s += '\n';
          break;
        case 't':
          s += '\t';
          break;
        case 'r':
          s += '\r';
          break;
        case 'b':
          s += '\b';
          break;
        case 'f':
          s += '\f';
          break;
        case 'u': {
          const std::string hex{next(), next(), next(), next()};
          const long value = std::strtol(hex.c_str(), nullptr, 16);
          if (hex.substr(0, 2) != "00" || value >= 0x20) std::abort();
          s += static_cast<char>(value);
          break;
        }
        default:
          std::abort();
      }
    }
    strings.push_back(s);
    const char after = next();
    if (after == ']') break;
    if (after != ',') std::abort();
  }
  if (k != json.size()) std::abort();
  return strings;
}

std::string Written(const std::vector<std::string>& strings, bool in_pieces) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) std::abort();
  {
    flowtally::OutputBuffer out(file);
    flowtally::JsonWriter json(out);
    json.BeginArray();
    for (const std::string& s : strings) {
      if (!in_pieces) {
        json.String(s);
        continue;
      }
      // Whole lines, as the writer wants them: cut after each line feed kept inside.
      json.BeginString();
      size_t start = 0;
      for (size_t end = s.find('\r'); end != std::string::npos; end = s.find('\r', start)) {
        json.StringPiece(std::string_view(s).substr(start, end + 1 - start));
        start = end + 1;
      }
      json.StringPiece(std::string_view(s).substr(start)).EndString();
    }
    json.EndArray();
  }
  std::string text(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t code_page = kCodePages[data[0] % (sizeof kCodePages / sizeof kCodePages[0])];
  flowtally::set_text_code_page(code_page);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::string> strings = fuzz::Lines(text);

  // The conversion alone: UTF-8 out, whatever the bytes in.
  std::string converted;
  if (platform::AppendUtf8FromCodePage(code_page, text, converted) != (code_page != 0)) {
    std::abort();
  }
  if (!flowtally::is_utf8(converted)) std::abort();

  const std::string whole = Written(strings, false);
  if (!flowtally::is_utf8(whole)) std::abort();
  const std::vector<std::string> read = ReadStrings(whole);
  if (read.size() != strings.size()) std::abort();
  for (size_t k = 0; k < read.size(); ++k) {
    if (flowtally::is_utf8(strings[k]) && read[k] != strings[k]) std::abort();
  }
  // Pieces of whole lines read as the whole text does, when each piece is UTF-8 as the whole is.
  const std::string pieces = Written(strings, true);
  if (!flowtally::is_utf8(pieces) || ReadStrings(pieces).size() != strings.size()) std::abort();
  flowtally::set_text_code_page(0);
  return 0;
}
