// The fault sweep: each mode of the command runs once to count its calls to the system, class by
// class, and then once for every call with that call failing, for each error the class can
// meet. Whatever fails, a run must end with an exit code of the documented set (a failure with
// its message), leave no spool file behind, leave the operation record file with whole records
// only, and leave the -o file either complete or reported. A sharing violation that the caller
// tries again must come to the clean run's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cmds/flowtally/loader.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_hooks.h"
#include "common/lwuser.h"
#include "common/test_hooks.h"
#include "environment/test_hooks.h"
#include "platform/clock.h"
#include "platform/fault_plan.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#else
#include "platform/testing-posix.h"
#endif

// The command's own main, built into this test under this name (see CMakeLists.txt).
int flowtally_main(int argc, char** argv);

namespace flowtally {
namespace {

namespace fs = std::filesystem;
using platform::FaultClass;
using platform::FaultError;
using platform::test::ReadFile;
using platform::test::WriteFile;

// The modes swept, with the operation record log on. A row is the arguments after the program
// name; every run adds -o and the path of its file.
struct Mode {
  const char* name;
  std::vector<std::string> args;
  // The day's record file is full when the run starts, so its record goes to a new one.
  bool full_log = false;
};
const Mode kModes[] = {
    {"listing", {"-u", "alice", "-j", "name=DAILY"}},
    {"test", {"-u", "alice", "-j", "trk=DAILY.20261207010000", "-V", "-t", "testp=run"}},
    {"print rd", {"-u", "alice", "-j", "name=DAILY", "-p", "format=rd,style=2,output"}},
    {"print csv", {"-u", "alice", "-j", "name=DAILY", "-p", "format=csv,style=1"}},
    {"full log", {"-u", "alice", "-j", "name=DAILY"}, true},
    {"listing json", {"-u", "alice", "-j", "name=DAILY", "-l", "format=json"}},
    {"print json", {"-u", "alice", "-j", "name=DAILY", "-p", "format=json,style=2,output"}},
};

// The errors that a call of each class can meet, by FaultClass.
const std::vector<FaultError> kClassErrors[platform::kFaultClassCount] = {
    // open or create
    {FaultError::kNoSuchFile, FaultError::kAccessDenied, FaultError::kSharingViolation,
     FaultError::kDiskFull, FaultError::kIoError},
    {FaultError::kIoError},                             // read
    {FaultError::kDiskFull, FaultError::kIoError},      // write
    {FaultError::kAccessDenied, FaultError::kIoError},  // lock
    // rename or remove (a name that is not there has nothing left to remove)
    {FaultError::kAccessDenied, FaultError::kSharingViolation, FaultError::kIoError},
    {FaultError::kNoSuchFile, FaultError::kAccessDenied},                        // spawn
    {FaultError::kIoError},                                                      // wait
    {FaultError::kNoSuchFile, FaultError::kAccessDenied, FaultError::kIoError},  // registry
    {FaultError::kAccessDenied, FaultError::kIoError},                           // account
};

// Two runs of alice's network DAILY on the local machine m: one done, with a job's output and
// error blocks in a sub-network, and one running.
constexpr char kDoneTracker[] =
    "J m:alice:DAILY.20261206010000.kstrk done 0 20261206010001 20261206012020 load - 2400 0 f\n"
    "U extract done 0 0 20261206010004 20261206011155 1301 m {default queue} 20261206010000 900 "
    "-\n"
    "O\n"
    "\textract: 47990 rows read\n"
    "J m:alice:DAILY:LOAD.20261206010000.kstrk done 0 20261206011158 20261206012018 - - 1500 900 "
    "f\n"
    "U load_orders done 0 2 20261206011201 20261206012015 1302 m {default queue} 20261206011500 "
    "900 f\n"
    "O\n"
    "\tload: connecting\n"
    "E\n"
    "\tload: ERROR 1205 lock wait timeout\n";
constexpr char kRunningTracker[] =
    "J m:alice:DAILY.20261207010000.kstrk run 0 20261207010002 - load - 2400 0 -\n"
    "U extract done 0 0 20261207010006 20261207011208 1401 m {default queue} 20261207010000 900 "
    "-\n"
    "U notify wait 0 0 - - - m - 20261207013500 60 -\n";

// A record of the same day that the site's record file holds before a run of a full_log mode.
constexpr char kEarlierRecord[] =
    "2026/12/10 09:00:00.000(UTC),bob,m,CMD,flowtally.exe,flowtally -a\n";

// What a run left behind.
struct Outcome {
  int exit_code = -1;
  std::string out;  // the -o file
  std::string err;  // standard error
  std::vector<std::string> spool_left;
  std::string records;  // every operation record file, one after the other
};

// A site of its own (registry file, site database, the runscan stand-in) for the whole sweep.
class FaultSweep : public ::testing::TestWithParam<size_t> {
 protected:
  FaultSweep()
      : dir_("faults"),
        registry_(nullptr),
        sitedb_("ZOV_SITEDB", dir_.Path("sitedb").c_str()),
        site_("ZOV_SITE", nullptr),
        mark_("LWPProcess", nullptr),
        user_("KestruneUserName", nullptr),
        zone_("UTC0") {
    fs::create_directories(dir_.path() / "base/bin");
    fs::create_directories(dir_.path() / "sitedb/spool/nmap");
    fs::create_directories(dir_.path() / "sitedb/spool/conf");
    fs::create_directories(dir_.path() / "sitedb/spool/users/alice/kstrk");
    WriteFile(dir_.Path("sitedb/spool/nmap/localinfo"), "hostname: m\n");
    WriteFile(dir_.Path("sitedb/spool/users/alice/kstrk/DAILY.20261206010000.kstrk"), kDoneTracker);
    WriteFile(dir_.Path("sitedb/spool/users/alice/kstrk/DAILY.20261207010000.kstrk"),
              kRunningTracker);
    fs::copy_file(FLOWTALLY_RUNSCAN,
                  dir_.path() / "base/bin" / fs::path(FLOWTALLY_RUNSCAN).filename());
    const char* me = lw_GetUserName();
    WriteFile(dir_.Path("registry.reg"),
              platform::test::RegistryText(
                  "\"KSBaseDirectory\"=\"" + EscapedPath("base") + "\"\n\"KSMgrAccount\"=\"" +
                  (me ? me : "") + "\"\n\"KSOpGroup\"=\"" + platform::test::CurrentGroupName() +
                  "\"\n\"KSLanguageId\"=\"0\"\n"));
    registry_.Set(dir_.Path("registry.reg").c_str());
    platform::SetClockForTest([] { return platform::UtcTime{1796896800, 0}; });
    // The pauses between tries of a retried call pass at once.
    platform::SetSleepForTest([](uint32_t) {});
  }
  ~FaultSweep() override {
    platform::StopFaultPlan();
    platform::SetClockForTest({});
    platform::SetSleepForTest({});
    ResetCommandState();
  }

  // The path of name in the site, as a .reg string writes it.
  std::string EscapedPath(const std::string& name) const {
    std::string escaped;
    for (char c : dir_.Path(name)) {
      if (c == '\\' || c == '"') escaped += '\\';
      escaped += c;
    }
    return escaped;
  }

  // What the process keeps between invocations goes back to its start.
  static void ResetCommandState() {
    reset_options_state();
    entry_list_clear();
    summary_reset();
    print_mode_reset_for_test();
    KSAccountResetForTest();
    KSResetLanguageIdForTest();
    lw_PwResetForTest();
    KSRegResetRetryForTest();
    CML_ResetForTest();
  }

  // Runs the command once with mode's arguments, under the plan that start begins.
  template <typename Start>
  Outcome Run(const Mode& mode, Start start) {
    const std::string out_path = dir_.Path("report.out");
    WriteFile(out_path, kOldReport);
    std::error_code ec;
    fs::remove_all(dir_.path() / "sitedb/spool/log", ec);
    if (mode.full_log) {
      // Any record makes the file larger than its limit, and one older file may be kept.
      WriteFile(dir_.Path("sitedb/spool/conf/umsconf.f"),
                "op_log on\nop_maxsize 0\nop_generation 2\n");
      fs::create_directories(dir_.path() / "sitedb/spool/log/record/op");
      WriteFile(dir_.Path("sitedb/spool/log/record/op/record_op_20261210.csv"), kEarlierRecord);
    } else {
      WriteFile(dir_.Path("sitedb/spool/conf/umsconf.f"), "op_log on\n");
    }
    fs::remove_all(dir_.path() / "sitedb/spool/tmp", ec);
    fs::create_directories(dir_.path() / "sitedb/spool/tmp");
    mark_.Set(nullptr);
    ResetCommandState();

    std::vector<std::string> args = {"flowtally"};
    args.insert(args.end(), mode.args.begin(), mode.args.end());
    args.push_back("-o");
    args.push_back(out_path);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    Outcome outcome;
    {
      platform::test::KeptStandardOutput stdout_kept;
      ::testing::internal::CaptureStderr();
      // The site database directory is kept per thread: each run starts on a thread of its own.
      std::thread([&] {
        start();
        outcome.exit_code = flowtally_main(static_cast<int>(args.size()), argv.data());
        platform::StopFaultPlan();
      }).join();
      outcome.err = ::testing::internal::GetCapturedStderr();
    }
    outcome.out = ReadFile(out_path);
    for (const auto& entry : fs::directory_iterator(dir_.path() / "sitedb/spool/tmp", ec)) {
      outcome.spool_left.push_back(entry.path().filename().string());
    }
    const fs::path op_dir = dir_.path() / "sitedb/spool/log/record/op";
    std::vector<fs::path> record_files;
    for (const auto& entry : fs::directory_iterator(op_dir, ec))
      record_files.push_back(entry.path());
    std::sort(record_files.begin(), record_files.end());
    for (const fs::path& file : record_files) outcome.records += ReadFile(file);
    return outcome;
  }

  static constexpr char kOldReport[] = "the report of an earlier run\n";

  platform::test::TempDir dir_;
  platform::test::ScopedRegistryFile registry_;
  platform::test::ScopedEnv sitedb_;
  platform::test::ScopedEnv site_;
  platform::test::ScopedEnv mark_;
  platform::test::ScopedEnv user_;
  platform::test::ScopedZone zone_;
};

// Outcomes of one class's runs, for the table.
struct Tally {
  int points = 0;
  int runs = 0;
  int as_clean = 0;  // the clean run's exit code and -o file
  int retried = 0;   // of those, a sharing violation that the caller tried again
  int exit2 = 0;
  int exit3 = 0;
  int wrong = 0;
};

// What the record files hold besides the record that the site held before the run, which must
// be there once and whole; kLostRecord when it is not.
constexpr char kLostRecord[] = "(the earlier record lost or doubled)";
std::string WithoutEarlierRecord(const Mode& mode, std::string records) {
  if (!mode.full_log) return records;
  const size_t at = records.find(kEarlierRecord);
  if (at == std::string::npos || (at > 0 && records[at - 1] != '\n')) return kLostRecord;
  records.erase(at, std::strlen(kEarlierRecord));
  if (records.find(kEarlierRecord) != std::string::npos) return kLostRecord;
  return records;
}

// The first field of a record line, up to its first comma.
std::string FirstField(const std::string& line) { return line.substr(0, line.find(',')); }

TEST_P(FaultSweep, EveryCallFailsInTurn) {
  const Mode& mode = kModes[GetParam()];
  Run(mode, [] {});  // the first run fills what the process keeps once, as the others find it
  const Outcome clean = Run(mode, [] { platform::StartFaultCount(); });
  const platform::FaultCounts counts = platform::FaultCallCounts();
  ASSERT_TRUE(clean.exit_code == 0 || clean.exit_code == 1) << clean.err;
  ASSERT_NE(kOldReport, clean.out);
  const std::string clean_record = WithoutEarlierRecord(mode, clean.records);
  ASSERT_EQ(1, std::count(clean_record.begin(), clean_record.end(), '\n')) << clean.records;
  const std::string record_time = FirstField(clean_record);
  const std::string record_end = clean_record.substr(clean_record.find(",CMD,"));

  std::array<Tally, platform::kFaultClassCount> tallies{};
  for (int c = 0; c < platform::kFaultClassCount; ++c) {
    const auto fault_class = static_cast<FaultClass>(c);
    Tally& tally = tallies[c];
    tally.points = counts[c];
    for (int nth = 1; nth <= counts[c]; ++nth) {
      for (FaultError error : kClassErrors[c]) {
        const Outcome got = Run(mode, [&] { platform::StartFaultPlan(fault_class, nth, error); });
        const bool injected = platform::FaultInjected();
        // Tried again: the class was called once more than in the clean run.
        const bool repeated = platform::FaultCallCounts()[c] == counts[c] + 1;
        ++tally.runs;
        std::ostringstream where;
        where << mode.name << ": " << platform::FaultClassName(fault_class) << " call " << nth
              << " fails with " << platform::FaultErrorName(error) << "\nexit " << got.exit_code
              << "\nstandard error:\n"
              << got.err << "-o file:\n"
              << got.out << "records:\n"
              << got.records;
        bool right = true;
        auto check = [&](bool holds, const char* what) {
          if (!holds) {
            ADD_FAILURE() << what << "\n" << where.str();
            right = false;
          }
        };
        check(injected, "the planned call was not made");
        check(got.exit_code >= 0 && got.exit_code <= 3, "an exit code outside the documented set");
        const bool same = got.exit_code == clean.exit_code && got.out == clean.out;
        if (got.exit_code == clean.exit_code) {
          check(got.out == clean.out, "success with an -o file unlike the clean run's");
        } else {
          check(got.exit_code == 2 || got.exit_code == 3, "a failure that ends as another answer");
          check(!got.err.empty(), "a failure without a message");
          if (got.exit_code == 2) check(got.out == kOldReport, "exit 2 changed the -o file");
        }
        check(got.spool_left.empty(), "a spool file left behind");
        // Whole records only: the earlier record once, and this run's one record, whole, or none.
        const std::string record = WithoutEarlierRecord(mode, got.records);
        const auto lines = std::count(record.begin(), record.end(), '\n');
        check(record != kLostRecord, "the earlier record lost or doubled");
        check(record.empty() ||
                  (lines == 1 && record.back() == '\n' && FirstField(record) == record_time &&
                   record.size() >= record_end.size() &&
                   record.compare(record.size() - record_end.size(), record_end.size(),
                                  record_end) == 0),
              "an operation record file with a torn, doubled or foreign line");
        if (error == FaultError::kSharingViolation && repeated) {
          check(same && got.err == clean.err, "a retried sharing violation did not pass");
          if (same) ++tally.retried;
        }
        if (std::getenv("FAULTS_VERBOSE") != nullptr && !same)
          std::printf("%s\n----\n", where.str().c_str());
        if (!right) {
          ++tally.wrong;
        } else if (same) {
          ++tally.as_clean;
        } else if (got.exit_code == 2) {
          ++tally.exit2;
        } else {
          ++tally.exit3;
        }
      }
    }
  }

  std::printf("%-10s %-14s %6s %5s %8s %7s %6s %6s %5s\n", "mode", "class", "points", "runs",
              "as clean", "retried", "exit 2", "exit 3", "wrong");
  for (int c = 0; c < platform::kFaultClassCount; ++c) {
    const Tally& t = tallies[c];
    std::printf("%-10s %-14s %6d %5d %8d %7d %6d %6d %5d\n", mode.name,
                platform::FaultClassName(static_cast<FaultClass>(c)), t.points, t.runs, t.as_clean,
                t.retried, t.exit2, t.exit3, t.wrong);
  }
  std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweep, ::testing::Range<size_t>(0, std::size(kModes)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string name = kModes[info.param].name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

}  // namespace
}  // namespace flowtally
