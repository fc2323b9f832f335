#include "tools/runscan/scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>

#include "environment/datestr.h"
#include "environment/splitwords.h"
#include "platform/file.h"
#include "platform/textcase.h"

namespace {

constexpr size_t kStampLength = 14;
// Fields of a J line: 1 'J', 2 tracker path, 3 status, 5 start, 11 extended status.
constexpr int kJLineFields = 11;
// What each field of a J line holds, from field 1 on.
constexpr const char* kJLineFieldNames[kJLineFields] = {"J",
                                                        "tracker path",
                                                        "status",
                                                        "error class",
                                                        "start",
                                                        "end",
                                                        "comment",
                                                        "unused",
                                                        "expected duration",
                                                        "expected start offset",
                                                        "extended status"};
// Room for every field of a tracker line; fields after the 20th are never read.
constexpr int kMaxFields = 20;

bool EndsWith(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool IsStamp(const std::string& s) {
  if (s.size() != kStampLength) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// A name that becomes one path component (a user directory, a JNW in a file name) must not
// climb out of its directory or split into two components.
bool IsPlainName(const std::string& s, const char* also_forbidden) {
  if (s.empty() || s == "." || s == "..") return false;
  for (char c : s) {
    if (platform::IsPathSeparator(c) || c == ':' || std::strchr(also_forbidden, c) != nullptr) {
      return false;
    }
  }
  return true;
}

// Splits s at sep; an empty s gives one empty part.
std::vector<std::string> SplitAt(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t to = s.find(sep, from);
    parts.push_back(s.substr(from, to == std::string::npos ? std::string::npos : to - from));
    if (to == std::string::npos) return parts;
    from = to + 1;
  }
}

bool IsJnwPath(const std::string& path) {
  for (const std::string& part : SplitAt(path, ':')) {
    if (!IsPlainName(part, ".")) return false;
  }
  return true;
}

// The words of a tracker line, split as the command splits them (braces keep blanks inside a
// field), with each word's offset in the line.
struct Fields {
  std::vector<char> text;
  std::vector<char*> words;
  int count = 0;

  explicit Fields(const std::string& line) : text(line.begin(), line.end()), words(kMaxFields) {
    text.push_back('\0');
    count = svlib_SplitWords(text.data(), words.data(), kMaxFields);
    if (count > kMaxFields) count = kMaxFields;
  }
  std::string Word(int n) const { return words[n - 1]; }  // n counts from 1
  size_t Offset(int n) const { return static_cast<size_t>(words[n - 1] - text.data()); }
};

}  // namespace

bool scan_same_name(const std::string& a, const std::string& b) {
  return platform::EqualIgnoringCase(a, b);
}

int scan_parse_object(const std::string& text, ScanObject* object) {
  ScanObject o;
  o.text = text;
  std::string body;
  if (EndsWith(text, ".kstrk")) {
    o.kind = ScanObjectKind::kTracker;
    body = text.substr(0, text.size() - 6);
  } else if (EndsWith(text, ".ksjnw")) {
    o.kind = ScanObjectKind::kJnw;
    body = text.substr(0, text.size() - 6);
  } else if (EndsWith(text, ".user")) {
    o.kind = ScanObjectKind::kUser;
    body = text.substr(0, text.size() - 5);
  } else if (EndsWith(text, ".machine")) {
    o.kind = ScanObjectKind::kMachine;
    body = text.substr(0, text.size() - 8);
  } else {
    return -1;
  }

  // The machine may hold dots (a domain name) but never a colon.
  const size_t m_end = body.find(':');
  o.machine = body.substr(0, m_end);
  if (o.machine.empty() || o.machine.find('/') != std::string::npos) return -1;
  if (o.kind == ScanObjectKind::kMachine) {
    if (m_end != std::string::npos) return -1;
    *object = o;
    return 0;
  }
  if (m_end == std::string::npos) return -1;

  const size_t u_end = body.find(':', m_end + 1);
  o.user =
      body.substr(m_end + 1, u_end == std::string::npos ? std::string::npos : u_end - m_end - 1);
  if (!IsPlainName(o.user, "")) return -1;
  if (o.kind == ScanObjectKind::kUser) {
    if (u_end != std::string::npos) return -1;
    *object = o;
    return 0;
  }
  if (u_end == std::string::npos) return -1;

  std::string rest = body.substr(u_end + 1);
  if (o.kind == ScanObjectKind::kTracker) {
    const size_t dot = rest.find('.');
    if (dot == std::string::npos) return -1;
    o.stamp = rest.substr(dot + 1);
    rest.resize(dot);
    if (!IsStamp(o.stamp) || !IsJnwPath(rest)) return -1;
  } else if (!IsPlainName(rest, ".")) {
    return -1;
  }
  o.jnw = rest;
  *object = o;
  return 0;
}

int scan_parse_options(const std::vector<std::string>& args, ScanOptions* options,
                       std::string* err) {
  ScanOptions o;
  bool have_object = false;
  // A whole option string in one argument is split at blanks, as a command processor would
  // pass it; given as several arguments, each is one item, and a value with blanks in it stays
  // inside its item.
  std::vector<std::string> items;
  if (args.size() == 1) {
    const std::string& arg = args.front();
    size_t from = arg.find_first_not_of(" \t");
    while (from != std::string::npos) {
      const size_t to = arg.find_first_of(" \t", from);
      items.push_back(arg.substr(from, to == std::string::npos ? std::string::npos : to - from));
      from = to == std::string::npos ? to : arg.find_first_not_of(" \t", to);
    }
  } else {
    for (const std::string& arg : args) {
      if (!arg.empty()) items.push_back(arg);
    }
  }

  for (const std::string& item : items) {
    const std::string value = item.substr(1);
    bool ok = true;
    switch (item[0]) {
      case 'O':
        if (have_object) {
          *err = "more than one object item: " + item;
          return -1;
        }
        ok = scan_parse_object(value, &o.object) == 0;
        have_object = true;
        break;
      case 'N':
        ok = value == "1";
        o.search = true;
        break;
      case 'U':
      case 'Z':
      case 'I':
        ok = value.empty();
        (item[0] == 'U' ? o.dump : item[0] == 'Z' ? o.nested : o.archive) = true;
        break;
      case 'F':
        o.want_stdout = value.find('o') != std::string::npos;
        o.want_stderr = value.find('e') != std::string::npos;
        ok = value.find_first_not_of("oe") == std::string::npos;
        break;
      case 'S':
      case 'E':
        ok = IsStamp(value);
        (item[0] == 'S' ? o.start_from : o.start_to) = value;
        break;
      case 'P':
        if (value[0] == 's') {
          o.statuses = SplitAt(value.substr(1), '/');
          for (const std::string& status : o.statuses) ok = ok && !status.empty();
        } else if (value[0] == 'j') {
          o.jnw_filter = value.substr(1);
          ok = IsPlainName(o.jnw_filter, ".");
        } else {
          ok = false;
        }
        break;
      default:
        ok = false;
    }
    if (!ok) {
      *err = "invalid option item: " + item;
      return -1;
    }
  }

  if (!have_object) {
    *err = "no object item (O...)";
    return -1;
  }
  if (o.search == o.dump) {
    *err = "give one of N1 (search) and U (dump)";
    return -1;
  }
  if (o.dump && o.object.kind != ScanObjectKind::kTracker) {
    *err = "U needs a tracker object (O<machine>:<user>:<JNW>.<YYYYMMDDhhmmss>.kstrk)";
    return -1;
  }
  *options = o;
  return 0;
}

int scan_parse_tracker_file(const std::string& name, std::string* jnw, std::string* stamp) {
  if (!EndsWith(name, ".kstrk")) return -1;
  const std::string body = name.substr(0, name.size() - 6);
  const size_t dot = body.find('.');
  if (dot == std::string::npos) return -1;
  const std::string j = body.substr(0, dot);
  const std::string s = body.substr(dot + 1);
  if (!IsPlainName(j, ".") || !IsStamp(s)) return -1;
  *jnw = j;
  *stamp = s;
  return 0;
}

int scan_parse_jline(const std::string& line, ScanJLine* jline, std::string* why) {
  const auto refuse = [why](std::string text) {
    if (why != nullptr) *why = std::move(text);
    return -1;
  };
  if (line.empty() || line[0] != 'J') return refuse("is no J line");
  const Fields f(line);
  if (f.count < kJLineFields) {
    // A line that begins with 'J' has at least that field.
    const int missing = std::max(f.count, 1) + 1;
    return refuse("is a J line with " + std::to_string(missing - 1) + " of its " +
                  std::to_string(kJLineFields) + " fields: field " + std::to_string(missing) +
                  " (" + kJLineFieldNames[missing - 1] + ") and those after it are missing");
  }
  // Field 2 is "<machine>:<user>:<JNWpath>.<stamp>[.<suffix>]".
  const std::string path = f.Word(2);
  const size_t first = path.find(':');
  const size_t second = first == std::string::npos ? first : path.find(':', first + 1);
  const std::string jnw_path = second == std::string::npos
                                   ? std::string()
                                   : path.substr(second + 1, path.find('.', second) - second - 1);
  if (jnw_path.empty()) {
    return refuse("is a J line whose tracker path names no JNW after <machine>:<user>:");
  }
  jline->jnw_path = jnw_path;
  jline->status = f.Word(3);
  jline->start = f.Word(5);
  jline->flags = f.Word(11);
  return 0;
}

std::string scan_mark_archived(const std::string& line) {
  ScanJLine jline;
  if (scan_parse_jline(line, &jline) != 0) return line;
  if (jline.flags.find('a') != std::string::npos) return line;
  const Fields f(line);
  const size_t at = f.Offset(kJLineFields);
  std::string marked = line;
  if (jline.flags == "-") {
    marked[at] = 'a';
  } else {
    // A braced field lost its closing brace in the split; 'a' goes in front of it.
    marked.insert(at + jline.flags.size(), 1, 'a');
  }
  return marked;
}

bool scan_select(const ScanOptions& options, const std::string& jnw, const ScanJLine& top) {
  if (!options.jnw_filter.empty() && !scan_same_name(jnw, options.jnw_filter)) return false;
  if (!options.statuses.empty()) {
    bool listed = false;
    for (const std::string& status : options.statuses) listed = listed || status == top.status;
    if (!listed) return false;
  }
  const bool started = !top.start.empty() && top.start[0] != '-';
  if (!options.start_from.empty() &&
      (!started || svlib_CmpStrTime(top.start.c_str(), options.start_from.c_str()) < 0)) {
    return false;
  }
  if (!options.start_to.empty() && started &&
      svlib_CmpStrTime(top.start.c_str(), options.start_to.c_str()) > 0) {
    return false;
  }
  return true;
}

ScanTake scan_dump_take(ScanDump* dump, const std::string& line) {
  const char first = line.empty() ? '\0' : line[0];
  if (first == 'J') {
    ScanJLine jline;
    if (scan_parse_jline(line, &jline) != 0) return ScanTake::kBadLine;
    dump->block = 0;
    const std::string& path = jline.jnw_path;
    const size_t n = dump->target.size();
    const bool own = scan_same_name(path, dump->target);
    const bool below = dump->nested && path.size() > n && path[n] == ':' &&
                       scan_same_name(path.substr(0, n), dump->target);
    dump->in_network = own || below;
    if (own && !dump->found) {
      dump->found = true;
      return ScanTake::kPrintHead;
    }
    return dump->in_network ? ScanTake::kPrint : ScanTake::kSkip;
  }
  if (first == 'O' || first == 'E') {
    dump->block = first;
  } else if (first != '\t') {
    dump->block = 0;
  }
  // TAB lines continue the block they are in; outside a block they go with their network.
  const bool kept = dump->block == 0 || (dump->block == 'O' && dump->want_stdout) ||
                    (dump->block == 'E' && dump->want_stderr);
  return dump->in_network && kept ? ScanTake::kPrint : ScanTake::kSkip;
}
