// Helpers for the unit tests of every layer: a temporary directory, whole-file reads and
// writes, a registry file, and scoped changes of an environment variable or the local zone.
// Test code only; nothing in the product includes this header.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/test_hooks.h"

// Builds under AddressSanitizer or LeakSanitizer check for leaks when a process ends.
#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define PLATFORM_TEST_LEAK_CHECK 1
#endif
#endif
#ifdef PLATFORM_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace platform::test {

/// For the child of a death test that ends the process in the middle of its work: what it
/// allocates after this call is never reported as leaked. Such a child leaves its objects
/// allocated by design, and a leak report would add to its standard error and change its exit
/// status. Does nothing in a build without a leak checker.
inline void NoLeakReportInThisChild() {
#ifdef PLATFORM_TEST_LEAK_CHECK
  __lsan_disable();
#endif
}

/// Replaces the file at path with exactly the bytes of text.
inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

/// The bytes of the file at path; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/// The text of a registry file that holds the given value lines (in .reg syntax) under the
/// product key.
inline std::string RegistryText(const std::string& values) {
  return std::string("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\") +
         kProductKeyPath + "]\n" + values;
}

/// A new, empty directory of the running test under the system's temporary directory; it is
/// removed with everything in it when the object goes. The name holds the given prefix and
/// the test's name, and is unique, so parallel runs of the same test never share it.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix) {
    std::string name = prefix;
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
      name += std::string(".") + info->name();
    }
    for (char& c : name) {
      if (c == '/') c = '_';  // parameterised tests are named "Case/N"
    }
    std::string pattern = (std::filesystem::temp_directory_path() / (name + ".XXXXXX")).string();
#ifdef _WIN32
    std::random_device random;
    for (int tries = 0; tries < 100 && dir_.empty(); ++tries) {
      std::string candidate = pattern.substr(0, pattern.size() - 6);
      for (int i = 0; i < 6; ++i)
        candidate += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) dir_ = candidate;
    }
    if (dir_.empty()) ADD_FAILURE() << "cannot create a temporary directory like " << pattern;
#else
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      ADD_FAILURE() << "cannot create a temporary directory like " << pattern;
      return;
    }
    dir_ = buf.data();
#endif
  }
  ~TempDir() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return dir_; }
  /// The path of name inside the directory.
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

/// Sets (or, given nullptr, removes) an environment variable for the life of the object and
/// restores its previous state after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Restore(); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  /// Changes the value again; the state before the object still comes back at the end.
  void Set(const char* value) {
#ifdef _WIN32
    // An empty value removes the variable; the C runtime passes the change on to the system's
    // block, which children inherit.
    _putenv_s(name_.c_str(), value != nullptr ? value : "");
#else
    if (value != nullptr) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
#endif
  }
  /// Puts the state before the object back now.
  void Restore() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

#ifdef _WIN32
/// The zone of a TZ text such as "JST-9", "NST3:30" or "EST5EDT,M3.2.0,M11.1.0" (hours and
/// minutes, rules by month, week and weekday at 02:00) in the terms of the Windows zone functions.
inline ZoneForTest ZoneOfTz(const std::string& tz) {
  ZoneForTest zone;
  size_t i = 0;
  auto name = [&] {
    size_t start = i;
    while (i < tz.size() && std::isalpha(static_cast<unsigned char>(tz[i]))) ++i;
    return tz.substr(start, i - start);
  };
  auto number = [&] {
    size_t start = i;
    if (i < tz.size() && (tz[i] == '-' || tz[i] == '+')) ++i;
    while (i < tz.size() && std::isdigit(static_cast<unsigned char>(tz[i]))) ++i;
    return std::atoi(tz.substr(start, i - start).c_str());
  };
  auto rule = [&](ZoneRuleForTest* r) {
    if (i + 1 >= tz.size() || tz[i] != ',' || tz[i + 1] != 'M') return;
    i += 2;
    r->month = number();
    ++i;
    r->week = number();
    ++i;
    r->weekday = number();
    r->hour = 2;
  };
  zone.standard_name = name();
  const bool negative = i < tz.size() && tz[i] == '-';
  zone.bias_minutes = number() * 60;
  if (i + 1 < tz.size() && tz[i] == ':') {
    ++i;
    zone.bias_minutes += (negative ? -1 : 1) * number();
  }
  zone.daylight_name = name();
  if (!zone.daylight_name.empty()) {
    zone.daylight_bias_minutes = -60;
    rule(&zone.daylight_start);
    rule(&zone.standard_start);
  }
  return zone;
}
#endif

/// Sets TZ for the life of the object, so local time follows the given zone, and restores the
/// previous zone after.
class ScopedZone {
 public:
  explicit ScopedZone(const char* tz) : tz_("TZ", tz) {
#ifdef _WIN32
    const ZoneForTest zone = ZoneOfTz(tz != nullptr ? tz : "UTC0");
    SetZoneForTest(&zone);
#else
    SetZoneForTest(nullptr);
#endif
  }
  ~ScopedZone() {
    tz_.Restore();
    SetZoneForTest(nullptr);
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  ScopedEnv tz_;
};

/// Names the registry file in KS_REGISTRY (nullptr: none) for the life of the object and makes
/// that file the settings store on every system (on Windows the store is otherwise the
/// system's registry), so that each test gives its cases settings of their own. Both come back
/// after.
class ScopedRegistryFile {
 public:
  explicit ScopedRegistryFile(const char* path) : path_("KS_REGISTRY", path) {
    SetRegistryFileForTest(true);
  }
  ~ScopedRegistryFile() { SetRegistryFileForTest(false); }
  ScopedRegistryFile(const ScopedRegistryFile&) = delete;
  ScopedRegistryFile& operator=(const ScopedRegistryFile&) = delete;

  /// Names another file (nullptr: none).
  void Set(const char* path) { path_.Set(path); }

 private:
  ScopedEnv path_;
};

/// A test with a directory of its own and a registry file in it that KS_REGISTRY names, for
/// the code above that reads the product key. Derived fixtures write the registry in their
/// SetUp (or constructor), before the code under test first reads it.
class RegistryFileTest : public ::testing::Test {
 protected:
  explicit RegistryFileTest(const std::string& prefix) : dir_(prefix) {}

  std::string Path(const std::string& name) const { return dir_.Path(name); }
  void Write(const std::string& name, const std::string& text) const {
    WriteFile(Path(name), text);
  }
  std::string Read(const std::string& name) const { return ReadFile(Path(name)); }
  // Values (in .reg syntax) under the product key.
  void SetRegistry(const std::string& values) {
    Write("registry.reg", RegistryText(values));
    registry_.Set(Path("registry.reg").c_str());
  }

  TempDir dir_;
  ScopedRegistryFile registry_{nullptr};
};

}  // namespace platform::test
