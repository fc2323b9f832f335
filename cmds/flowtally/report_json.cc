// The JSON forms of print mode: the records that the CSV report has rows for, as JSON Lines
// (one "tracker", "jnw" or "job" record a line, each with "v" and "record") or as elements of
// one document, {"format_version":"1.0","trackers":[...]}, where each tracker's element holds its
// JNW and job records. Every key of a record kind is always there, in a fixed order; a value
// that is not set is null. Captured output is copied from the spool file a line at a time, so a
// tracker's output is never held whole.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "cmds/flowtally/line_piece.h"
#include "cmds/flowtally/machine_values.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/report_select.h"
#include "cmds/flowtally/search.h"
#include "platform/file.h"

namespace flowtally {

namespace {

constexpr std::string_view kDocumentHead = "{\"format_version\":\"1.0\",\"trackers\":[";
constexpr std::string_view kDocumentTail = "]}\n";

/// The block in which the spool file's content blocks are read.
constexpr size_t kSpoolBlockSize = size_t{1024} * 1024;
/// The longest part of a captured line that is held before it is written: a longer line is
/// written in parts of about this size, each made UTF-8 on its own.
constexpr size_t kLineHoldMax = size_t{64} * 1024;

// Whether the document has been opened: its head is written.
bool g_document_open = false;

constexpr const char* kJobTypes[kJobKinds] = {"unit", "erp", "bi", "pc", "qdrs", "hlbs", "custom"};

constexpr const char* kCountKeys[kCountBlocks] = {"total", "unit", "jnw",  "erp",    "bi",
                                                  "pc",    "qdrs", "hlbs", "custom", "other"};

// The two content blocks of a job type: their keys (null for none), letters and offsets.
struct ContentBlock {
  const char* key;
  char letter;
  int64_t offset;
};

// The summary's keys of an element without a summary.
void null_summary(JsonWriter& json) {
  for (const char* key : {"jnw", "user", "machine", "status", "class", "start", "end",
                          "expected_start", "expected_end", "duration", "counts"}) {
    json.Key(key).Null();
  }
}

// Puts the separator before a tracker's element: the document's head before the first.
void begin_element(OutputBuffer& out) {
  if (!g_document_open) {
    out.Put(kDocumentHead);
    g_document_open = true;
  } else {
    out.Put(',');
  }
}

// A text that the tool writes as "-" or leaves empty when it has none.
bool absent(const char* text) {
  return text == nullptr || text[0] == '\0' || (text[0] == '-' && text[1] == '\0');
}

// The JSON form of the records chosen for one tracker, gathered and written a buffer at a time:
// a line a record (JSON Lines), or the tracker's element of the document, begun when made and
// ended by Finish.
class JsonRecords : public ReportRecordSink {
 public:
  JsonRecords(FILE* out, FILE* spool, const JnwEntry& entry, const ReportSwitches& switches,
              bool document)
      : out_(out),
        json_(out_),
        tracker_(entry.trackername),
        zone_(switches.local_times ? TimeZoneChoice::kLocal : TimeZoneChoice::kUtc),
        content_(switches.first_content != 0 && spool != nullptr),
        document_(document),
        spool_(spool, kSpoolBlockSize) {
    if (!document_) return;
    begin_element(out_);
    json_.BeginObject().Key("tracker").String(tracker_);
  }

  // Closes the tracker's element.
  /// Whether a content block could not be read whole; the system's error number then.
  bool spool_failed() const { return spool_.failed(); }
  int spool_error() const { return spool_.error(); }

  void Finish() {
    if (!document_) return;
    Reach(kClosed);
  }

  void Summary(const JnwEntry& entry) override {
    Begin("tracker");
    json_.Key("jnw").String(report_text(g_load_summary.jnwname));
    json_.Key("user").String(entry.user);
    Text("machine", g_local_machine);
    Times(load_summary_head());
    Counts(g_load_table);
    if (document_) {
      stage_ = kSummary;
    } else {
      End();
    }
  }

  void Jnw(const JnwRecord& record) override {
    if (document_) Reach(kJnws);
    Begin("jnw");
    json_.Key("name").String(report_text(record.name));
    Text("parent", record.parentjnw);
    Times(record);
    Counts(record.counts);
    End();
  }

  void Job(JobKind kind, const JobRecord& record) override {
    if (document_) Reach(kJobs);
    Begin("job");
    json_.Key("type").String(kJobTypes[static_cast<int>(kind)]);
    json_.Key("name").String(report_text(record.name));
    Text("parent", record.parentjnw);
    Times(record);
    ContentBlock blocks[2] = {};
    switch (kind) {
      case JobKind::kUnit:
      case JobKind::kCustom: {
        const auto& r = static_cast<const UnitJob&>(record);
        Codes(r.errclass, r.code);
        Text("machine", r.machine);
        Text("request_id", r.requestid);
        blocks[0] = {"stdout", 'O', r.stdout_offset};
        blocks[1] = {"stderr", 'E', r.stderr_offset};
        break;
      }
      case JobKind::kErp: {
        const auto& r = static_cast<const ErpJob&>(record);
        Text("machine", r.machine);
        Text("job_count", r.jobcount);
        blocks[0] = {"spool", 'O', r.spool_offset};
        blocks[1] = {"joblog", 'E', r.joblog_offset};
        break;
      }
      case JobKind::kBi: {
        const auto& r = static_cast<const BiJob&>(record);
        Text("request_id", r.requestid);
        blocks[0] = {"ipkg_status", 'O', r.ipkg_offset};
        break;
      }
      case JobKind::kPc: {
        const auto& r = static_cast<const PcJob&>(record);
        Text("request_id", r.requestid);
        blocks[0] = {"chain_log", 'O', r.chainlog_offset};
        blocks[1] = {"chain_process", 'E', r.chainproc_offset};
        break;
      }
      case JobKind::kQdrs:
      case JobKind::kHlbs: {
        const auto& r = static_cast<const QdrsJob&>(record);
        Codes(r.errclass, r.code);
        blocks[0] = {"stdout", 'O', r.stdout_offset};
        blocks[1] = {"stderr", 'E', r.stderr_offset};
        break;
      }
    }
    if (content_) {
      json_.Key("output").BeginObject();
      for (const ContentBlock& block : blocks) {
        if (block.key != nullptr) Content(block);
      }
      json_.EndObject();
    }
    End();
  }

 private:
  // Where the tracker's element of the document stands: each stage's keys are written once.
  enum Stage { kOpen, kSummary, kJnws, kJobs, kClosed };

  // Writes what the element needs up to stage: null summary keys where no summary came, the
  // "jnws" array, then the "jobs" array, then the end.
  void Reach(Stage stage) {
    while (stage_ < stage) {
      switch (stage_) {
        case kOpen:
          null_summary(json_);
          stage_ = kSummary;
          break;
        case kSummary:
          json_.Key("jnws").BeginArray();
          stage_ = kJnws;
          break;
        case kJnws:
          json_.EndArray().Key("jobs").BeginArray();
          stage_ = kJobs;
          break;
        case kJobs:
          json_.EndArray().EndObject();
          stage_ = kClosed;
          break;
        case kClosed:
          break;
      }
    }
  }

  // The keys before a record's own: "v", "record" and "tracker" in JSON Lines; the summary's
  // keys go into the element, which has its "tracker" already; the others are objects of their
  // array.
  void Begin(const char* record) {
    if (document_) {
      if (stage_ != kOpen) json_.BeginObject();
      return;
    }
    json_.BeginObject().Key("v").Number(1).Key("record").String(record);
    json_.Key("tracker").String(tracker_);
  }

  void End() {
    json_.EndObject();
    if (!document_) out_.Put('\n');
  }

  void Text(const char* key, const char* text) {
    json_.Key(key);
    if (absent(text)) {
      json_.Null();
    } else {
      json_.String(text);
    }
  }

  // The status, its class and the times of a record.
  void Times(const RecordHead& head) {
    json_.Key("status").String(status_class_info(head.status).machine);
    json_.Key("class").Number(head.status);
    json_.Key("start").Time(head.starttime, zone_);
    json_.Key("end").Time(head.endtime, zone_);
    json_.Key("expected_start").Time(head.expstarttime, zone_);
    json_.Key("expected_end").Time(head.expendtime, zone_);
    json_.Key("duration");
    if (head.starttime >= 1 && head.endtime >= 1) {
      json_.Number(head.endtime - head.starttime);
    } else {
      json_.Null();
    }
  }

  // A job ends with an exit code (error class 0) or with an error class and its code.
  void Codes(int32_t errclass, int32_t code) {
    json_.Key("exit_code");
    if (errclass == 0) {
      json_.Number(code);
    } else {
      json_.Null();
    }
    json_.Key("error_class").Number(errclass);
    json_.Key("error_code");
    if (errclass != 0) {
      json_.Number(code);
    } else {
      json_.Null();
    }
  }

  void Counts(const CountTable& table) {
    json_.Key("counts").BeginObject();
    for (int b = 0; b < kCountBlocks; ++b) {
      const CountBlock& c = table.block[b];
      json_.Key(kCountKeys[b]).BeginObject();
      json_.Key("component").Number(c.component).Key("wait").Number(c.wait);
      json_.Key("wait_hold").Number(c.waithold).Key("wait_skip").Number(c.waitskip);
      json_.Key("run").Number(c.run).Key("done").Number(c.done);
      json_.Key("done_skip").Number(c.doneskip).Key("error").Number(c.error);
      json_.EndObject();
    }
    json_.EndObject();
  }

  // A content block as one string of its lines, each ending in "\n"; null when the tool noted
  // no block. A line is made UTF-8 whole, so its pieces are gathered until its end.
  void Content(const ContentBlock& block) {
    json_.Key(block.key);
    bool begun = false;
    line_.clear();
    const bool found = content_block_pieces(spool_, block.letter, block.offset,
                                            [&](std::string_view piece, bool line_end) {
                                              if (!begun) json_.BeginString();
                                              begun = true;
                                              if (line_.empty() && line_end) {
                                                json_.StringPiece(piece).StringPiece("\n");
                                                return;
                                              }
                                              line_ += piece;
                                              if (line_end) line_ += '\n';
                                              if (line_end || line_.size() >= kLineHoldMax) {
                                                json_.StringPiece(line_);
                                                line_.clear();
                                              }
                                            });
    if (!found) {
      json_.Null();
    } else if (!begun) {
      json_.String(std::string_view());
    } else {
      json_.EndString();
    }
  }

  OutputBuffer out_;
  JsonWriter json_;
  const std::string& tracker_;
  TimeZoneChoice zone_;
  bool content_;
  bool document_;
  Stage stage_ = kOpen;
  BlockReader spool_;
  std::string line_;  // the pieces of a captured line so far
};

}  // namespace

int summary_output_json(FILE* out, const char* spool_path, const JnwEntry& entry,
                        const ReportSwitches& switches, bool document) {
  platform::UniqueStream spool;
  if (switches.first_content) {
    spool = report_open_spool(spool_path);
    if (spool == nullptr) return -1;
  }
  JsonRecords records(out, spool.get(), entry, switches, document);
  select_report_records(entry, switches, records);
  records.Finish();
  if (records.spool_failed()) {
    report_spool_unreadable(spool_path, records.spool_error());
    return -1;
  }
  return 0;
}

void json_tracker_without_report(FILE* out, std::string_view tracker, std::string_view message,
                                 bool document) {
  OutputBuffer text(out);
  JsonWriter json(text);
  if (!document) {
    json.BeginObject().Key("v").Number(1).Key("record").String("error");
    json.Key("tracker").String(tracker).Key("message").String(message).EndObject();
    text.Put('\n');
    return;
  }
  begin_element(text);
  json.BeginObject().Key("tracker").String(tracker);
  if (!message.empty()) {
    json.Key("error").String(message).EndObject();
    return;
  }
  null_summary(json);
  json.Key("jnws").BeginArray().EndArray().Key("jobs").BeginArray().EndArray().EndObject();
}

void json_document_end(FILE* out) {
  OutputBuffer text(out);
  if (!g_document_open) text.Put(kDocumentHead);
  text.Put(kDocumentTail);
  g_document_open = false;
}

}  // namespace flowtally
