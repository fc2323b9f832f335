// What the process services say the same way on every system.
#include "platform/process.h"

#include <cstdio>
#include <string>

#include "platform/children.h"

namespace platform {

std::string DescribeChildEnd(const ChildEnd& end) {
  switch (end.kind) {
    case ChildEnd::kExited:
      return "rc=" + std::to_string(end.code);
    case ChildEnd::kSignaled: {
      const char* name = SignalDescription(end.code);
      return "ended by signal " + std::to_string(end.code) +
             (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    case ChildEnd::kTimedOut:
      return "ended after the time limit of " + std::to_string(end.code) + " s";
    case ChildEnd::kNotRun:
      break;
  }
  return "could not be run";
}

ChildProcess::~ChildProcess() { Finish(); }

ChildEnd ChildProcess::Finish() {
  if (output_ != nullptr) {
    std::fclose(output_);
    output_ = nullptr;
  }
  if (slot_ < 0) return ChildEnd{};
  const ChildEnd end = CollectChild(slot_);
  slot_ = -1;
  return end;
}

}  // namespace platform
