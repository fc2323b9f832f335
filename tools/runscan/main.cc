// runscan: the stand-in for the scheduler's tracker search tool. It reads the tracker files of
// the site and answers flowtally's option strings with entry lines (a search, N1) or with the
// detail lines of one tracker (a dump, U). README.md lists every option item.
//
// Exit status: 0 done (a search that finds nothing included); 1 bad option items, an unknown
// site, a tracker file that cannot be read or is damaged, a dump of a tracker that does not
// exist, or output that could not be written.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/kssettings.h"
#include "environment/lwfile.h"
#include "environment/site.h"
#include "tools/runscan/scan.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitError = 1;

// One tracker file of the site.
struct Tracker {
  std::string user;
  std::string file;  // "<JNW>.<stamp>.kstrk"
  std::string jnw;
  std::string path;
  bool archived = false;
};

// Every problem met is reported when it is met; the run goes on where it can and ends with
// exit status 1.
bool g_failed = false;

void Fail(const char* what, const std::string& subject, const std::string& why) {
  std::fprintf(stderr, "runscan: %s %s%s%s\n", what, subject.c_str(), why.empty() ? "" : ": ",
               why.c_str());
  g_failed = true;
}

// The entries of a directory, in name order. A directory that does not exist has none.
std::vector<fs::directory_entry> ListDir(const std::string& dir) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    if (ec != std::errc::no_such_file_or_directory)
      Fail("cannot read directory", dir, ec.message());
    return entries;
  }
  // Entries of one directory order as their names do; the names are taken once, since
  // comparing whole paths costs far more than comparing names.
  std::vector<std::pair<std::string, fs::directory_entry>> named;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    named.emplace_back(it->path().filename().string(), *it);
  }
  if (ec) Fail("cannot read directory", dir, ec.message());
  std::sort(named.begin(), named.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  entries.reserve(named.size());
  for (auto& [name, entry] : named) entries.push_back(std::move(entry));
  return entries;
}

// The users of the site: the directories below spool/users.
std::vector<std::string> ListUsers() {
  std::vector<std::string> users;
  char dir[kPathBufSize];
  if (lwfile_path_spool_users(dir, sizeof dir, nullptr) < 0) {
    Fail("cannot name the users directory", "of the site", "");
    return users;
  }
  for (const fs::directory_entry& e : ListDir(dir)) {
    const std::string name = e.path().filename().string();
    std::error_code ec;
    if (name[0] != '.' && e.is_directory(ec)) users.push_back(name);
  }
  return users;
}

// One user's tracker files in file name order; with archive, the archived ones too. A tracker
// that is both live and archived is served live.
std::vector<Tracker> ListTrackers(const std::string& user, bool archive) {
  std::vector<Tracker> trackers;
  std::unordered_set<std::string> live;  // file names of the live trackers
  size_t live_count = 0;                 // the first trackers, live; then the archived ones
  char dir[kPathBufSize];
  for (int pass = 0; pass < (archive ? 2 : 1); ++pass) {
    const int n = pass == 0 ? lwfile_path_user_kstrk(dir, sizeof dir, user.c_str(), nullptr)
                            : lwfile_path_user_archive(dir, sizeof dir, user.c_str(), nullptr);
    if (n < 0) {
      Fail("cannot name the tracker directory of user", user, "");
      return trackers;
    }
    for (const fs::directory_entry& e : ListDir(dir)) {
      Tracker t;
      t.user = user;
      t.file = e.path().filename().string();
      t.path = e.path().string();
      t.archived = pass == 1;
      std::string stamp;
      std::error_code ec;
      if (scan_parse_tracker_file(t.file, &t.jnw, &stamp) != 0 || e.is_directory(ec)) continue;
      if (pass == 0) {
        if (archive) live.insert(t.file);
      } else if (live.count(t.file) != 0) {
        continue;
      }
      trackers.push_back(std::move(t));
    }
    if (pass == 0) live_count = trackers.size();
  }
  // Each pass comes in file name order already: the archived trackers only merge in.
  std::inplace_merge(trackers.begin(), trackers.begin() + static_cast<std::ptrdiff_t>(live_count),
                     trackers.end(),
                     [](const Tracker& a, const Tracker& b) { return a.file < b.file; });
  return trackers;
}

// Hands each tracker that the object names, before the filters, by user and then file name, to
// take, one user's trackers at a time; stops when take returns false.
template <class Take>
void ForObjectTrackers(const ScanObject& object, bool archive, Take&& take) {
  std::vector<std::string> users;
  if (object.kind == ScanObjectKind::kMachine) {
    users = ListUsers();
  } else {
    users.push_back(object.user);
  }
  const std::string tracker_file =
      object.kind == ScanObjectKind::kTracker
          ? object.jnw.substr(0, object.jnw.find(':')) + "." + object.stamp + ".kstrk"
          : std::string();
  for (const std::string& user : users) {
    for (const Tracker& t : ListTrackers(user, archive)) {
      const bool wanted =
          object.kind == ScanObjectKind::kMachine || object.kind == ScanObjectKind::kUser ||
          (object.kind == ScanObjectKind::kJnw && scan_same_name(t.jnw, object.jnw)) ||
          (object.kind == ScanObjectKind::kTracker && scan_same_name(t.file, tracker_file));
      if (wanted && !take(t)) return;
    }
  }
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// Reads tracker t and hands each line of the network that dump names to take_line, the
// network's own J line marked when t is archived; with first_only, stops at that J line.
// 0; 1 when the file holds no such network; -1 when it cannot be read or is damaged
// (reported).
template <class TakeLine>
int ReadNetwork(const Tracker& t, ScanDump* dump, bool first_only, TakeLine&& take_line) {
  std::ifstream in(t.path, std::ios::binary);
  if (!in) {
    Fail("cannot read", t.path, std::strerror(errno));
    return -1;
  }
  std::string line;
  std::string why;  // what is wrong with line number, when the file is damaged
  int number = 0;
  bool damaged = false;
  while (!damaged && std::getline(in, line)) {
    // A line ends with LF or CR LF: the CR is no part of the line, and is never printed back.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++number;
    // A tracker file begins with the J line of its own JNW.
    ScanJLine top;
    if (number == 1 && scan_parse_jline(line, &top, &why) != 0) {
      damaged = true;
      break;
    }
    if (number == 1 && !scan_same_name(top.jnw_path, t.jnw)) {
      why = "is the J line of JNW " + top.jnw_path + ", not of " + t.jnw;
      damaged = true;
      break;
    }
    const ScanTake take = scan_dump_take(dump, line);
    damaged = take == ScanTake::kBadLine;
    if (damaged) scan_parse_jline(line, &top, &why);
    if (take == ScanTake::kPrintHead) {
      take_line(t.archived ? scan_mark_archived(line) : line);
      if (first_only) return 0;
    } else if (take == ScanTake::kPrint) {
      take_line(line);
    }
  }
  if (in.bad()) {
    Fail("cannot read", t.path, std::strerror(errno));
    return -1;
  }
  if (damaged || number == 0) {
    Fail("damaged tracker file", t.path,
         number == 0 ? "it is empty" : "line " + std::to_string(number) + " " + why);
    return -1;
  }
  return dump->found ? 0 : 1;
}

// The search (N1): the entry line of every selected tracker. For a tracker object with a
// sub-network path, the entry line is the sub-network's J line.
void Search(const ScanOptions& options) {
  const ScanObject& object = options.object;
  ForObjectTrackers(object, options.archive, [&](const Tracker& t) {
    ScanDump dump;
    dump.target = object.kind == ScanObjectKind::kTracker ? object.jnw : t.jnw;
    std::string head;
    ScanJLine jline;
    if (ReadNetwork(t, &dump, true, [&](const std::string& line) { head = line; }) != 0 ||
        scan_parse_jline(head, &jline) != 0) {
      return true;
    }
    if (scan_select(options, t.jnw, jline)) PrintLine(head);
    return true;
  });
}

// The dump (U): the lines of one tracker's network. A network that does not exist is an error,
// and so is a damaged file, which then yields no lines at all rather than half a network: a
// first reading checks the whole file, a second one prints as it reads, so memory stays the
// same whatever the size of the tracker.
void Dump(const ScanOptions& options) {
  std::vector<Tracker> trackers;  // the first one the object names, if any
  ForObjectTrackers(options.object, options.archive, [&](const Tracker& t) {
    trackers.push_back(t);
    return false;
  });
  ScanDump start;
  start.target = options.object.jnw;
  start.nested = options.nested;
  start.want_stdout = options.want_stdout;
  start.want_stderr = options.want_stderr;
  ScanDump check = start;
  const int rc = trackers.empty()
                     ? 1
                     : ReadNetwork(trackers.front(), &check, false, [](const std::string&) {});
  if (rc == 1) Fail("no such tracker", options.object.text, "");
  if (rc != 0) return;
  ScanDump print = start;
  if (ReadNetwork(trackers.front(), &print, false, PrintLine) == 1) {
    Fail("no such tracker", options.object.text, "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ScanOptions options;
  std::string err;
  if (args.empty()) {
    std::fputs(
        "usage: runscan O<object> N1 [S<stamp>] [E<stamp>] [I] [Ps<status>/...] [Pj<JNW>]\n"
        "       runscan O<machine>:<user>:<JNWpath>.<stamp>.kstrk U [Z] [Fo|Fe|Foe] [I]\n",
        stderr);
    return kExitError;
  }
  if (scan_parse_options(args, &options, &err) != 0) {
    std::fprintf(stderr, "runscan: %s\n", err.c_str());
    return kExitError;
  }

  // The language id decides how tracker lines split; read it only from a readable registry,
  // since a missing one would be retried with pauses. Without it, single-byte text is assumed.
  if (lwfile_base_dir() != nullptr) {
    const int language_id = KSGetLanguageId();
    if (language_id >= 0) g_language_id = language_id;
  }
  if (lwfile_sitedb_dir() == nullptr) {
    std::fputs("runscan: cannot determine the site database directory\n", stderr);
    return kExitError;
  }
  svlib_InitSpoolDir(stderr);
  char machine[kPathBufSize];
  if (svlib_GetLocalMachine(machine) != 0) {
    std::fputs("runscan: cannot read the local machine name of the site\n", stderr);
    return kExitError;
  }

  // Objects of another machine are not held here.
  if (scan_same_name(options.object.machine, machine)) {
    if (options.search) {
      Search(options);
    } else {
      Dump(options);
    }
  } else if (options.dump) {
    Fail("no such tracker", options.object.text, "not on this machine");
  }

  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "runscan: cannot write the output: %s\n", std::strerror(errno));
    return kExitError;
  }
  return g_failed ? kExitError : kExitOk;
}
