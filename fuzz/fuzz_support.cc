#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "cmds/flowtally/subopts.h"
#include "platform/clock.h"
#include "platform/test_hooks.h"

namespace fuzz {
namespace {

// 2014-09-30 12:00:00 UTC, the clock of the unit tests too.
constexpr int64_t kNoon = 1412078400;

// Owns the directory; a static, so it goes at the process's end.
class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path candidate =
          fs::temp_directory_path() / ("flowtally_fuzz." + std::to_string(random()));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) path_ = candidate.string();
    }
    if (path_.empty()) std::abort();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string Text(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  return text.substr(0, text.find('\0'));
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

const std::string& Dir() {
  static const TempDir dir;
  return dir.path();
}

std::string PathIn(const std::string& name) {
  std::filesystem::path path = std::filesystem::path(Dir()) / name;
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  return path.string();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void SetEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void FixTime() {
  SetEnv("TZ", "UTC");
  platform::SetZoneForTest(nullptr);
  platform::SetClockForTest([] { return platform::UtcTime{kNoon, 0}; });
  platform::SetSleepForTest([](uint32_t) {});
}

bool EndsTheSearch(std::string items) {
  const char* const name_key[] = {"name", nullptr};
  char* rest = items.data();
  while (rest != nullptr && *rest != '\0') {
    char* value;
    if (flowtally::getsubopt(&rest, name_key, &value) == 0 && value != nullptr && *value == '\0') {
      return true;
    }
  }
  return false;
}

}  // namespace fuzz
