// The scripted runscan of the end-to-end suites, for their Windows mode: Wine cannot start a
// Unix shell script as a Windows child process, so the suites' shell fakes have this program
// as their Windows twin (see install_scripted_runscan in helpers.bash).
//
// Installed as <site>\base\bin\runscan.exe, it takes <site> from its own path and runs the steps
// of <site>\runscan.steps, one a line, in order; a line is blank-separated words:
//
//   calls          appends its arguments, joined by blanks, as one line to <site>\calls
//   argv           writes each argument as one line into <site>\argv, and its process id into
//                  <site>\runscan.pid
//   mark           appends the value of LWPProcess (or "unset") as one line to <site>\marks
//   spool          appends the path of its standard output (as a Unix path of drive Z:) as one
//                  line to <site>\spools
//   pid FILE       writes its process id into <site>\FILE
//   cat FILE       copies <site>\FILE, if it exists, to standard output
//   cat-stamp PRE  copies <site>\PRE.<stamp> to standard output, where <stamp> is the 14 digits
//                  before ".kstrk" at the end of the first argument; exits with 1 when missing
//   steps FILE     runs the steps of <site>\FILE, if it exists
//   sleep S [F]    sleeps S seconds, holding <site>\F (default runscan.alive) open meanwhile
//                  (the file goes away with the process, however it ends)
//   child FILE     starts a second copy of this program, which inherits its standard output
//                  and runs the steps of <site>\FILE, and goes on without waiting for it
//   crash          ends as a process ends on an access violation (status 0xC0000005)
//   exit N         exits with N
//   if-word W ...  the rest of the line, only when W is one of the blank-separated words of the
//                  joined arguments (the shell's case " $* " in *" W "*)
//   if-arg A ...   the rest of the line, only when one argument is exactly A
//   unless-arg A ...  the rest of the line, only when no argument is A
//   if-file F ...  the rest of the line, only when <site>\F exists
//
// After the last step it exits with 0.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

std::string g_site;
std::vector<std::string> g_args;

std::string SitePath(const std::string& name) { return g_site + "\\" + name; }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Append(const std::string& name, const std::string& text, bool truncate = false) {
  FILE* f = std::fopen(SitePath(name).c_str(), truncate ? "wb" : "ab");
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::string Joined() {
  std::string line;
  for (size_t i = 0; i < g_args.size(); ++i) {
    if (i > 0) line += ' ';
    line += g_args[i];
  }
  return line;
}

bool CopyOut(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) std::fwrite(buffer, 1, got, stdout);
  std::fclose(f);
  std::fflush(stdout);
  return true;
}

// The path of standard output as a Unix path: \\?\Z:\a\b becomes /a/b.
std::string StdoutPath() {
  char path[MAX_PATH * 4];
  DWORD n = GetFinalPathNameByHandleA(GetStdHandle(STD_OUTPUT_HANDLE), path, sizeof path,
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= sizeof path) return "?";
  std::string p(path, n);
  if (p.rfind("\\\\?\\", 0) == 0) p.erase(0, 4);
  if (p.size() >= 2 && (p[0] == 'Z' || p[0] == 'z') && p[1] == ':') p.erase(0, 2);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

void RunSteps(const std::string& file);

// The variable through which a copy started by the step "child" learns its steps.
constexpr char kChildSteps[] = "FAKE_RUNSCAN_CHILD_STEPS";

void StartChild(const std::string& steps) {
  char self[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self) return;
  std::fflush(stdout);
  SetEnvironmentVariableA(kChildSteps, steps.c_str());
  std::string line = "\"" + std::string(self, n) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (CreateProcessA(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  SetEnvironmentVariableA(kChildSteps, nullptr);
}

void Step(std::vector<std::string> words) {
  while (!words.empty()) {
    const std::string op = words[0];
    if ((op == "if-word" || op == "if-arg" || op == "unless-arg" || op == "if-file") &&
        words.size() >= 3) {
      bool holds = false;
      if (op == "if-word") {
        holds = (" " + Joined() + " ").find(" " + words[1] + " ") != std::string::npos;
      } else if (op == "if-file") {
        holds = Exists(SitePath(words[1]));
      } else {
        for (const std::string& a : g_args) holds = holds || a == words[1];
        if (op == "unless-arg") holds = !holds;
      }
      if (!holds) return;
      words.erase(words.begin(), words.begin() + 2);
      continue;
    }
    const std::string arg = words.size() > 1 ? words[1] : "";
    if (op == "calls") {
      Append("calls", Joined() + "\n");
    } else if (op == "argv") {
      std::string text;
      for (const std::string& a : g_args) text += a + "\n";
      Append("argv", text, true);
      Append("runscan.pid", std::to_string(GetCurrentProcessId()) + "\n", true);
    } else if (op == "mark") {
      const char* mark = std::getenv("LWPProcess");
      Append("marks", std::string(mark != nullptr ? mark : "unset") + "\n");
    } else if (op == "spool") {
      Append("spools", StdoutPath() + "\n");
    } else if (op == "pid") {
      Append(arg, std::to_string(GetCurrentProcessId()) + "\n", true);
    } else if (op == "cat") {
      CopyOut(SitePath(arg));
    } else if (op == "cat-stamp") {
      std::string first = g_args.empty() ? "" : g_args[0];
      std::string stamp;
      const std::string suffix = ".kstrk";
      if (first.size() > suffix.size() + 15 &&
          first.compare(first.size() - suffix.size(), suffix.size(), suffix) == 0 &&
          first[first.size() - suffix.size() - 15] == '.') {
        stamp = first.substr(first.size() - suffix.size() - 14, 14);
      }
      if (!CopyOut(SitePath(arg + "." + stamp))) std::exit(1);
    } else if (op == "steps") {
      RunSteps(SitePath(arg));
    } else if (op == "child") {
      StartChild(arg);
    } else if (op == "sleep") {
      const std::string held = words.size() > 2 ? words[2] : "runscan.alive";
      HANDLE alive = CreateFileA(SitePath(held).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      Sleep(static_cast<DWORD>(std::atoi(arg.c_str())) * 1000u);
      if (alive != INVALID_HANDLE_VALUE) CloseHandle(alive);
    } else if (op == "crash") {
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 0xC0000005u);
    } else if (op == "exit") {
      std::fflush(stdout);
      std::exit(std::atoi(arg.c_str()));
    }
    return;
  }
}

void RunSteps(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words_of(line);
    std::vector<std::string> words;
    for (std::string w; words_of >> w;) words.push_back(w);
    if (!words.empty()) Step(words);
  }
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  for (int i = 1; i < argc; ++i) g_args.push_back(argv[i]);
  char self[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  g_site.assign(self, n);
  // <site>\base\bin\runscan.exe: three levels up.
  for (int up = 0; up < 3; ++up) {
    size_t cut = g_site.find_last_of("\\/");
    if (cut == std::string::npos) return 126;
    g_site.erase(cut);
  }
  const char* child_steps = std::getenv(kChildSteps);
  RunSteps(SitePath(child_steps != nullptr ? child_steps : "runscan.steps"));
  std::fflush(stdout);
  return 0;
}
