#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

// A network DAILY with a sub-network SUB and four unit jobs, all done, one of them skipped.
const std::string kDaily =
    std::string(kDailyStart) +
    "O\n"
    "\tbackup finished\n"
    "U JOB2 done 0 0 20140930121006 20140930122006 1235 mach2 - 20140930121000 600 s\n"
    "U JOB3 done 3 77 20140930122007 20140930130459 1236 mach2 - 20140930122000 600 -\n";

const char kSummary[] =
    "**** SUMMARY ****\n"
    "TRACKER-ID: DAILY.20140930120000\n"
    "STATUS    : done\n"
    "START TIME: 14-09-30 12:00'02      (EXP. 14-09-30 12:00'00)\n"
    "END TIME  : 14-09-30 13:05'11      (EXP. 14-09-30 12:30'00)\n"
    "AMOUNTTIME: 1:05'09\n"
    "USER      : opuser\n"
    "COUNT: TOTAL  WAIT( hold, skip)   RUN  DONE( skip) ERROR\n"
    "----------------------------------------------------------\n"
    "  ALL:     6     0(    0,    0)     0     6(    1)     0\n"
    "   UJ:     4     0(    0,    0)     0     4(    1)     0\n"
    "  ERP:     0     0(    0,    0)     0     0(    0)     0\n"
    "   BI:     0     0(    0,    0)     0     0(    0)     0\n"
    "  JNW:     2     0(    0,    0)     0     2(    0)     0\n"
    "   PC:     0     0(    0,    0)     0     0(    0)     0\n"
    "QDRSJ:     0     0(    0,    0)     0     0(    0)     0\n"
    "HLBSJ:     0     0(    0,    0)     0     0(    0)     0\n"
    "CSTMJ:     0     0(    0,    0)     0     0(    0)     0\n"
    "OTHER:     0     0(    0,    0)     0     0(    0)     0\n";

// The COUNT table of DAILY:SUB: its three direct jobs.
const char kSubCounts[] =
    "COUNT: TOTAL  WAIT( hold, skip)   RUN  DONE( skip) ERROR\n"
    "----------------------------------------------------------\n"
    "  ALL:     3     0(    0,    0)     0     3(    1)     0\n"
    "   UJ:     3     0(    0,    0)     0     3(    1)     0\n"
    "  ERP:     0     0(    0,    0)     0     0(    0)     0\n"
    "   BI:     0     0(    0,    0)     0     0(    0)     0\n"
    "  JNW:     0     0(    0,    0)     0     0(    0)     0\n"
    "   PC:     0     0(    0,    0)     0     0(    0)     0\n"
    "QDRSJ:     0     0(    0,    0)     0     0(    0)     0\n"
    "HLBSJ:     0     0(    0,    0)     0     0(    0)     0\n"
    "CSTMJ:     0     0(    0,    0)     0     0(    0)     0\n"
    "OTHER:     0     0(    0,    0)     0     0(    0)     0\n";

// A time that is not set, in its 20-character column and the three blanks after it.
const std::string kNoTime = "-" + std::string(22, ' ');

const char kRule[] = "------------------------------------------------------------------\n";

// The common block of a record whose times are all set (minutes'seconds on 2014-09-30, UTC).
std::string Common(const std::string& name, const std::string& parent, const std::string& status,
                   const std::string& start, const std::string& expstart, const std::string& end,
                   const std::string& expend, const std::string& amount) {
  return "NAME      : " + name + "\nPARENT    : " + parent + "\nSTATUS    : " + status +
         "\nSTART TIME: 14-09-30 " + start + "      (EXP. 14-09-30 " + expstart +
         ")\nEND TIME  : 14-09-30 " + end + "      (EXP. 14-09-30 " + expend +
         ")\nAMOUNTTIME: " + amount + "\n";
}

class ReportRdTest : public ReportTest {
 protected:
  // The report at the given settings; rc receives the writer's result.
  std::string Report(int style, bool content = false, int* rc = nullptr, bool ujonly = false,
                     bool erronly = false) {
    const ReportSwitches sw{style, ujonly, erronly, 0, content, content, 0};
    return written_by([&](FILE* out) {
      const int r = summary_output_rd(out, spool_.c_str(), entry_, sw);
      if (rc != nullptr) *rc = r;
    });
  }
};

TEST_F(ReportRdTest, StylesZeroAndNegativeWriteTheSummaryBlockOnly) {
  Load(kDaily);
  for (int style : {0, -1, -5}) {
    int rc = -2;
    EXPECT_EQ(kSummary, Report(style, true, &rc)) << style;
    EXPECT_EQ(0, rc);
  }
}

TEST_F(ReportRdTest, StyleOneAddsTheJnwAndJobSections) {
  Load(kDaily);
  const std::string expected =
      std::string(kSummary) + "**** JNW ****\n" +
      Common("DAILY", "", "done", "12:00'02", "12:00'00", "13:05'11", "12:30'00", "1:05'09") +
      "\n" +
      Common("DAILY:SUB", "DAILY", "done", "12:00'05", "12:00'00", "13:05'00", "13:00'00",
             "1:04'55") +
      "\n**** UNITJOB ****\n" +
      Common("JOB0", "DAILY", "done", "12:00'03", "12:00'00", "12:00'04", "12:01'00", "0:00'01") +
      "\n" +
      Common("JOB1", "DAILY:SUB", "done", "12:00'05", "12:00'00", "12:10'05", "12:10'00",
             "0:10'00") +
      "\n" +
      Common("JOB2", "DAILY:SUB", "done (skip)", "12:10'06", "12:10'00", "12:20'06", "12:20'00",
             "0:10'00") +
      "\n" +
      Common("JOB3", "DAILY:SUB", "done", "12:20'07", "12:20'00", "13:04'59", "12:30'00",
             "0:44'52") +
      "\n";
  EXPECT_EQ(expected, Report(1));
}

TEST_F(ReportRdTest, StyleTwoAddsCountTablesTypeBlocksAndContent) {
  Load(kDaily);
  const std::string report = Report(2, true);
  // The sub-network's own table: its three direct jobs.
  EXPECT_NE(std::string::npos,
            report.find("AMOUNTTIME: 1:04'55\n" + std::string(kSubCounts) + "\n**** UNITJOB"));
  // The top network's table counts its job and its sub-network.
  EXPECT_NE(std::string::npos, report.find("  ALL:     2     0(    0,    0)     0     2(    0)"));
  EXPECT_NE(std::string::npos, report.find("  JNW:     1     0(    0,    0)     0     1(    0)"));
  const std::string job3 =
      "EXIT CODE : 0\nERROR CODE: 3/77\nEXEC MAC  : mach2\nREQUEST-ID: 1236\nSTDOUT    : \n" +
      std::string(kRule) + kRule + "STDERR    : \n" + kRule + kRule + "\n";
  EXPECT_EQ(report.size() - job3.size(), report.rfind(job3));
}

TEST_F(ReportRdTest, ComponentJobAtStyleTwoWithBothContentBlocks) {
  Load(kDaily);
  set_component("DAILY:SUB/JOB1");
  int rc = -2;
  const std::string expected = "**** UNITJOB ****\n" +
                               Common("JOB1", "DAILY:SUB", "done", "12:00'05", "12:00'00",
                                      "12:10'05", "12:10'00", "0:10'00") +
                               "EXIT CODE : 0\n"
                               "ERROR CODE: 0/0\n"
                               "EXEC MAC  : mach1\n"
                               "REQUEST-ID: 1234\n"
                               "STDOUT    : \n" +
                               kRule + "backup finished\n" + kRule + "STDERR    : \n" + kRule +
                               kRule + "\n";
  EXPECT_EQ(expected, Report(2, true, &rc));
  EXPECT_EQ(0, rc);
}

TEST_F(ReportRdTest, UjonlyLeavesOutTheJnwSection) {
  Load(kDaily);
  const std::string report = Report(1, false, nullptr, true);
  EXPECT_EQ(0u, report.find(kSummary));
  EXPECT_EQ(std::string::npos, report.find("**** JNW ****"));
  EXPECT_EQ(std::string(kSummary).size(), report.find("**** UNITJOB ****\n"));
}

TEST_F(ReportRdTest, ErronlyKeepsClassesEightAndNineOnly) {
  Load(
      // Class 13 (run with f) and 14 (run with r) read "error" but are not kept.
      "J m:opuser:DAILY.20140930120000.kstrk run 0 20140930120002 - - - 1800 0 f\n"
      "U DONE done 0 0 20140930120003 20140930120004 1 mach1 - - 60 -\n"
      "U FAILED done 0 9 20140930120003 20140930120004 2 mach1 - - 60 f\n"
      "X ERPOK done 0 0 20140930120003 20140930120004 3 mach1 - - 60 -\n"
      "J m:opuser:DAILY:A.20140930120000.kstrk run 0 20140930120005 - - - 60 0 r\n"
      "J m:opuser:DAILY:B.20140930120000.kstrk done 0 20140930120005 - - - 60 0 f\n"
      "J m:opuser:DAILY:C.20140930120000.kstrk estop 0 20140930120005 - - - 60 0 -\n"
      "U STOPPED estop 0 0 20140930120003 - 4 mach1 - - 60 -\n");
  const std::string report = Report(1, false, nullptr, false, true);
  EXPECT_NE(std::string::npos,
            report.find("TRACKER-ID: DAILY.20140930120000\nSTATUS    : error\n"));
  std::vector<std::string> names;
  for (size_t at = report.find("NAME      : "); at != std::string::npos;
       at = report.find("NAME      : ", at + 1)) {
    names.push_back(report.substr(at + 12, report.find('\n', at) - at - 12));
  }
  EXPECT_EQ((std::vector<std::string>{"DAILY:B", "DAILY:C", "FAILED", "STOPPED"}), names);
  EXPECT_NE(std::string::npos, report.find("**** JNW ****\nNAME      : DAILY:B\n"));
  EXPECT_NE(std::string::npos, report.find("STATUS    : error (stop)\n"));
  EXPECT_EQ(std::string::npos, report.find("ERP JOB"));  // every record filtered out
}

TEST_F(ReportRdTest, UnsetTimesAndAmounts) {
  Load(
      "J m:opuser:DAILY.20140930120000.kstrk run 0 20140930120000 - - - 1800 0 -\n"
      "U H1 done 0 0 20140930120000 20140930130000 1 m - - 60 -\n"
      "U S59 done 0 0 20140930120000 20140930120059 1 m - - 60 -\n"
      "U H25 done 0 0 20140930120000 20141001130000 1 m - - 60 -\n"
      "U BACK done 0 0 20140930130509 20140930120000 1 m - - 60 -\n"
      "U NOSTART wait 0 0 - 20140930120000 1 m - 20140930120000 60 -\n"
      "U BADSTAMP done 0 0 2014 20140930120000 1 m - - 60 -\n");
  const std::string report = Report(1);
  const struct {
    const char* name;
    std::string lines;
  } cases[] = {
      {"H1", "AMOUNTTIME: 1:00'00\n"},
      {"S59", "AMOUNTTIME: 0:00'59\n"},
      {"H25", "AMOUNTTIME: 25:00'00\n"},
      {"BACK", "AMOUNTTIME: -1:05'09\n"},
      {"NOSTART", "START TIME: " + kNoTime +
                      "(EXP. 14-09-30 12:00'00)\n"
                      "END TIME  : 14-09-30 12:00'00      (EXP. 14-09-30 12:01'00)\n"
                      "AMOUNTTIME: -\n"},
      {"BADSTAMP", "START TIME: " + kNoTime +
                       "(EXP. -)\n"
                       "END TIME  : 14-09-30 12:00'00      (EXP. -)\n"
                       "AMOUNTTIME: -\n"},
      // A network still running: no end, but an expected one.
      {"DAILY", "END TIME  : " + kNoTime + "(EXP. 14-09-30 12:30'00)\nAMOUNTTIME: -\n"},
  };
  for (const auto& c : cases) {
    const size_t at = report.find(std::string("NAME      : ") + c.name + "\n");
    ASSERT_NE(std::string::npos, at) << c.name;
    const size_t block_end = report.find("\n\n", at);
    EXPECT_NE(std::string::npos, report.substr(at, block_end - at + 1).find(c.lines)) << c.name;
  }
}

TEST_F(ReportRdTest, ContentCopiesLongLinesWholeAndEndsAtTheNextLine) {
  // A captured line of 3000 characters arrives in three chunks; the second begins with a TAB
  // and the third with a letter that starts component lines: both are copied as they are.
  std::string longline(3000, 'x');
  longline[1021] = '\t';
  longline[2043] = 'J';
  const std::string binary("bin\0ary", 7);
  Load(
      "J m:opuser:DAILY.20140930120000.kstrk done 0 20140930120002 - - - 1800 0 -\n"
      "U JOB1 done 0 0 20140930120005 20140930121005 1234 mach1 - - 600 -\n"
      "O\n\t" +
      longline + "\n\t\n\t" + binary +
      "\n"
      "E trailing words on the marker line\n"
      "\tlast line without its end");
  set_component("DAILY/JOB1");
  const std::string report = Report(1, true);
  const std::string stdout_block =
      "STDOUT    : \n" + std::string(kRule) + longline + "\n\n" + binary + "\n" + kRule;
  const std::string stderr_block =
      "STDERR    : \n" + std::string(kRule) + "last line without its end\n" + kRule + "\n";
  EXPECT_NE(std::string::npos, report.find(stdout_block + stderr_block));
  EXPECT_EQ(report.size(), report.find(stderr_block) + stderr_block.size());
}

TEST_F(ReportRdTest, ContentLinesEndingInCrLfAreWrittenWithTheLineEndAlone) {
  Load(
      "J m:opuser:DAILY.20140930120000.kstrk done 0 20140930120002 - - - 1800 0 -\r\n"
      "U JOB1 done 0 0 20140930120005 20140930121005 1234 mach1 - - 600 -\r\n"
      "O\r\n\tfirst\r\n\t\r\n\tlast\r\n");
  set_component("DAILY/JOB1");
  const std::string stdout_block =
      "STDOUT    : \n" + std::string(kRule) + "first\n\nlast\n" + kRule;
  EXPECT_NE(std::string::npos, Report(1, true).find(stdout_block));
}

TEST_F(ReportRdTest, ContentOfALargeSpoolFileInReportOrder) {
  // Jobs in the file in the reverse of report order, each with its own content lines, some
  // blocks larger than any read-ahead, some lines longer than a chunk, lines that cross the
  // loader's read blocks, and a file larger than the window the report reads it through: every
  // job's blocks and only its blocks appear, in report order.
  std::string spool =
      "J m:opuser:DAILY.20140930120000.kstrk done 0 20140930120002 - - - 1800 0 -\n";
  std::vector<std::string> expected;
  for (int job = 59; job >= 0; --job) {
    char name[16];
    std::snprintf(name, sizeof name, "JOB%02d", job);
    spool += "U " + std::string(name) + " done 0 0 20140930120005 20140930121005 1 mach1 - - 6 -\n";
    std::vector<std::string> out;
    std::vector<std::string> err;
    const int lines = job % 7 == 0 ? 3000 : 3 + job % 5;  // 3000 lines: about 170 KiB
    for (int i = 0; i < lines; ++i) {
      std::string line = "c-" + std::string(name) + "-out-" + std::to_string(i);
      if (i % 40 == 3) line += std::string(1500 + job, 'w');  // longer than a chunk
      out.push_back(line);
    }
    if (job % 3 != 0) err.push_back("c-" + std::string(name) + "-err");
    spool += "O\n";
    for (const std::string& l : out) spool += "\t" + l + "\n";
    if (!err.empty()) spool += "E\n\t" + err[0] + "\n";
    std::vector<std::string> block = out;
    block.insert(block.end(), err.begin(), err.end());
    expected.insert(expected.begin(), block.begin(), block.end());
  }
  ASSERT_GT(spool.size(), size_t{3} * 512 * 1024);
  Load(spool);
  const std::string report = Report(1, true);
  std::vector<std::string> got;
  size_t at = 0;
  while (at < report.size()) {
    const size_t end = report.find('\n', at);
    const std::string line = report.substr(at, end - at);
    if (line.rfind("c-", 0) == 0) got.push_back(line);
    at = end == std::string::npos ? report.size() : end + 1;
  }
  EXPECT_EQ(expected, got);
}

TEST_F(ReportRdTest, ComponentJobIsTheFirstMatchInTypeOrder) {
  Load(kDaily +
       std::string("U JOB1 done 0 0 20140930120005 20140930121005 9 m9 - 20140930120000 600 s\n"
                   "Z custom JOB1 done 0 0 20140930120005 20140930121005 8 mach8 - - 600 -\n"));
  // Of the two unit jobs JOB1 the sorted view puts the one loaded last first.
  const std::string expected = "**** UNITJOB ****\n" +
                               Common("JOB1", "DAILY:SUB", "done (skip)", "12:00'05", "12:00'00",
                                      "12:10'05", "12:10'00", "0:10'00") +
                               "\n";
  // Style 0 is shown as style 1; names and path compare without regard to case.
  for (const char* component : {"DAILY:SUB/JOB1", "daily:sub/job1"}) {
    set_component(component);
    int rc = -2;
    EXPECT_EQ(expected, Report(0, false, &rc)) << component;
    EXPECT_EQ(0, rc);
  }
  set_component("DAILY/JOB1");  // JOB1 is not a direct job of DAILY
  EXPECT_EQ("", Report(1));
  set_component("DAILY:SUB/JOB2");
  EXPECT_EQ("", Report(1, false, nullptr, false, true));  // erronly: JOB2 is not an error
}

TEST_F(ReportRdTest, ComponentSubNetwork) {
  Load(kDaily);
  const std::string sub = "**** JNW ****\n" + Common("DAILY:SUB", "DAILY", "done", "12:00'05",
                                                     "12:00'00", "13:05'00", "13:00'00", "1:04'55");
  for (const char* component : {"DAILY:SUB", "daily:Sub"}) {
    set_component(component);
    EXPECT_EQ(sub + "\n", Report(0, true)) << component;
    EXPECT_EQ(sub + "\n", Report(1, true, nullptr, true)) << component;  // ujonly changes nothing
    EXPECT_EQ(sub + kSubCounts + "\n", Report(2)) << component;
  }
  set_component("DAILY");
  EXPECT_EQ(0u, Report(1).find("**** JNW ****\nNAME      : DAILY\nPARENT    : \n"));
  set_component("DAILY:SUB");
  EXPECT_EQ("", Report(1, false, nullptr, false, true));
}

TEST_F(ReportRdTest, SpoolFileThatCannotBeOpened) {
  Load(kDaily);
  spool_ = spools_.Path("gone");
  const std::string message = "flowtally: Unable to open spool file:" + spool_ + "\nflowtally: ";

  int rc = -2;
  std::string report;
  EXPECT_EQ(0u, stderr_of([&] { report = Report(1, true, &rc); }).find(message));
  EXPECT_EQ(-1, rc);  // what was written stands, without the job sections: not reported
  EXPECT_EQ(0u, report.find(kSummary));
  EXPECT_NE(std::string::npos, report.find("**** JNW ****"));
  EXPECT_EQ(std::string::npos, report.find("UNITJOB"));

  set_component("DAILY:SUB/JOB1");
  EXPECT_EQ(0u, stderr_of([&] { report = Report(1, true, &rc); }).find(message));
  EXPECT_EQ(-1, rc);
  EXPECT_EQ("", report);

  // Without content the spool file is not needed.
  EXPECT_NE(std::string::npos, Report(1, false, &rc).find("**** UNITJOB ****"));
  EXPECT_EQ(0, rc);
}

TEST_F(ReportRdTest, EveryTypeHasItsHeadingTypeBlockAndContentLabels) {
  Load(
      "J m:opuser:DAILY.20140930120000.kstrk done 0 - - - - 60 0 -\n"
      "X E1 done 0 0 - - cnt7 macX - - 60 -\nO\n\tspool line\nE\n\tjoblog line\n"
      "B B1 done 0 0 - - breq - - - 60 -\nO\n\tipkg line\nE\n\tignored\n"
      "P P1 done 0 0 - - preq - - - 60 -\nO\n\tchain line\nE\n\tproc line\n"
      "V Q1 done 2 5 - - - - - - 60 - - -\nO\n\tq out\n"
      "Z java H1 done 0 4 - - - - - - 60 -\nE\n\th err\n"
      "Z other C1 done 0 3 - - creq macC - - 60 -\n");
  const std::string report = Report(2, true);
  const std::string rules = std::string(kRule) + kRule;
  const char* const pieces[] = {
      "**** ERP JOB ****\n",
      "EXEC MACH : macX\nJOB COUNT : cnt7\nSPOOL     :\n",
      "spool line\n",
      "JOBLOG    :\n",
      "joblog line\n",
      "**** BI JOB ****\n",
      "BIREQ-ID  : breq\nIPKG STATUS    :\n",
      "ipkg line\n",
      "**** PC JOB ****\n",
      "PCREQ-ID  : preq\nCHAIN LOG     :\n",
      "chain line\n",
      "CHAIN PROCESS    :\n",
      "proc line\n",
      "**** QDRSJOB ****\n",
      "EXIT CODE : 0\nERROR CODE: 2/5\nSTDOUT    : \n",
      "q out\n",
      "STDERR    : \n",
      "**** HLBSJOB ****\n",
      "EXIT CODE : 4\nERROR CODE: 0/0\nSTDOUT    : \n",
      "STDERR    : \n",
      "h err\n",
      "**** CUSTOMJOB ****\n",
      "EXIT CODE : 3\nERROR CODE: 0/0\nEXEC MAC  : macC\nREQUEST-ID: creq\nSTDOUT    : \n",
  };
  size_t at = 0;
  for (const char* piece : pieces) {
    at = report.find(piece, at);
    ASSERT_NE(std::string::npos, at) << piece;
  }
  EXPECT_EQ(std::string::npos, report.find("ignored"));
  EXPECT_EQ(std::string::npos, report.find("UNITJOB"));
}

}  // namespace
}  // namespace flowtally
