// The reader of the .reg text format.

#include "platform/registry_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/error.h"
#include "platform/textcase.h"

namespace platform {

namespace {

constexpr const char kDefaultRegistryFile[] = "/etc/kestrune/registry.reg";
constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";

// A settings file is a few kilobytes; anything far larger (a device, a wrong path) is not one,
// and reading it whole must not exhaust memory or never end.
constexpr size_t kMaxRegistryFileSize = 16 * 1024 * 1024;

using ValueType = RegValueType;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Parses a quoted string with \\ and \" escapes at the start of s. On success stores the text,
// removes it (quotes included) from s and returns true.
bool TakeQuoted(std::string_view* s, std::string* out) {
  if (s->empty() || s->front() != '"') return false;
  out->clear();
  size_t i = 1;
  while (i < s->size()) {
    char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s->size() && ((*s)[i + 1] == '\\' || (*s)[i + 1] == '"')) {
      out->push_back((*s)[i + 1]);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;  // unterminated
}

bool ParseDword(std::string_view s, uint32_t* out) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (FoldCase(c) >= 'a' && FoldCase(c) <= 'f') {
      digit = FoldCase(c) - 'a' + 10;
    } else {
      return false;
    }
    v = v * 16 + static_cast<uint32_t>(digit);
  }
  *out = v;
  return true;
}

// Parses `"name"=data` or `@=data`. False for a line that cannot be read.
bool ParseValueLine(std::string_view line, std::string* name, RegValue* value) {
  if (!line.empty() && line.front() == '@') {
    name->clear();  // the key's default value
    line.remove_prefix(1);
  } else if (!TakeQuoted(&line, name)) {
    return false;
  }
  line = Trimmed(line);
  if (line.empty() || line.front() != '=') return false;
  line = Trimmed(line.substr(1));

  if (!line.empty() && line.front() == '"') {
    if (!TakeQuoted(&line, &value->text) || !Trimmed(line).empty()) return false;
    value->type = ValueType::kString;
    return true;
  }
  constexpr std::string_view kDwordTag = "dword:";
  if (line.size() >= kDwordTag.size() && LowerCase(line.substr(0, kDwordTag.size())) == kDwordTag) {
    if (!ParseDword(line.substr(kDwordTag.size()), &value->number)) return false;
    value->type = ValueType::kDword;
    return true;
  }
  // hex:, hex(2): and the like name a value of another type; "-" deletes, which a read-only
  // store has no use for.
  if (line == "-" || line.empty()) return false;
  value->type = ValueType::kOther;
  return true;
}

// Folds a key path and strips the separators at its ends, so that "A\B\" names "a\b".
std::string NormalizedKeyPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return LowerCase(path);
}

// Returns the folded path below HKEY_LOCAL_MACHINE that a "[...]" line names, or false for a
// key of another hive, a deletion ("[-...]") or a line that is not a key line.
bool ParseKeyLine(std::string_view line, std::string* path) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  std::string_view inner = line.substr(1, line.size() - 2);
  if (inner.size() < kLocalMachine.size() ||
      LowerCase(inner.substr(0, kLocalMachine.size())) != LowerCase(kLocalMachine)) {
    return false;
  }
  inner.remove_prefix(kLocalMachine.size());
  if (!inner.empty() && inner.front() != '\\') return false;  // HKEY_LOCAL_MACHINEX
  *path = NormalizedKeyPath(inner);
  return true;
}

}  // namespace

uint32_t ReadRegistryFile(std::string* contents) {
  const char* path = std::getenv("KS_REGISTRY");
  if (path == nullptr || *path == '\0') path = kDefaultRegistryFile;

  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    return (errno == ENOENT || errno == ENOTDIR) ? kErrorFileNotFound : kErrorAccessDenied;
  }
  contents->clear();
  char chunk[4096];
  bool failed = false;
  for (;;) {
    size_t n = std::fread(chunk, 1, sizeof chunk, f);
    contents->append(chunk, n);
    if (contents->size() > kMaxRegistryFileSize) {
      failed = true;
      break;
    }
    if (n < sizeof chunk) {
      // A directory opens but fails at the first read (EISDIR).
      failed = std::ferror(f) != 0;
      break;
    }
  }
  std::fclose(f);
  return failed ? kErrorAccessDenied : kErrorSuccess;
}

uint32_t ParseRegistryKey(std::string_view contents, const char* path, RegKeyData* data) {
  const std::string wanted = NormalizedKeyPath(path);
  // HKEY_LOCAL_MACHINE itself always exists; any other key exists when the file names it or
  // a key below it (an export lists only the keys that hold values).
  bool found = wanted.empty();
  bool in_wanted = false;

  std::string_view rest(contents);
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);  // UTF-8 byte order mark
  while (!rest.empty()) {
    size_t eol = rest.find('\n');
    std::string_view line = Trimmed(rest.substr(0, eol));
    rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // Any key line ends the previous key, even one that names no key of ours, so that the
      // values after it are never taken for the previous key's.
      std::string section;
      in_wanted = false;
      if (!ParseKeyLine(line, &section)) continue;
      if (section == wanted) {
        found = in_wanted = true;
      } else if (!wanted.empty() && section.size() > wanted.size() &&
                 section.compare(0, wanted.size(), wanted) == 0 && section[wanted.size()] == '\\') {
        found = true;
      }
      continue;
    }
    if (!in_wanted) continue;  // the header line, other keys' values
    std::string name;
    RegValue value;
    if (ParseValueLine(line, &name, &value)) data->values[LowerCase(name)] = std::move(value);
  }

  if (!found) return kErrorFileNotFound;
  return kErrorSuccess;
}

uint32_t ReadRegistryFileKey(const char* path, RegKeyData* data) {
  std::string contents;
  if (uint32_t rc = ReadRegistryFile(&contents); rc != kErrorSuccess) return rc;
  return ParseRegistryKey(contents, path, data);
}

}  // namespace platform
