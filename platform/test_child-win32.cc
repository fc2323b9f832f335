// A child for the tests: holds a file the way another process of the product would, shows the
// arguments it was given, or ends in a chosen way.
//
//   test_child share PATH MS   opens PATH without sharing
//   test_child lock PATH MS    opens PATH shared and locks its first byte
//   test_child args ARG...     writes each argument on a line of its own, between < and >
//   test_child exit N          writes "a" and exits with N
//   test_child sleep MS        writes "a" and sleeps
//
// A holder writes "held" once it holds the file, keeps it for MS milliseconds and exits with 0;
// with 1 when it cannot take the file.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/windows-win32.h"

namespace {

int Hold(bool lock, const char* path, const char* ms) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, lock ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "test_child: cannot open %s: %lu\n", path, GetLastError());
    return 1;
  }
  OVERLAPPED first_byte{};
  if (lock && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &first_byte)) {
    std::fprintf(stderr, "test_child: cannot lock %s: %lu\n", path, GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::strtoul(ms, nullptr, 10)));
  CloseHandle(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF alone, as the tests compare them
  const char* what = argc > 1 ? argv[1] : "";
  if ((std::strcmp(what, "share") == 0 || std::strcmp(what, "lock") == 0) && argc == 4) {
    return Hold(what[0] == 'l', argv[2], argv[3]);
  }
  if (std::strcmp(what, "args") == 0) {
    for (int i = 2; i < argc; ++i) std::printf("<%s>\n", argv[i]);
    return 0;
  }
  if (std::strcmp(what, "exit") == 0 && argc == 3) {
    std::printf("a\n");
    return std::atoi(argv[2]);
  }
  if (std::strcmp(what, "sleep") == 0 && argc == 3) {
    std::printf("a\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return 0;
  }
  std::fprintf(stderr, "usage: test_child share|lock PATH MS | args ARG... | exit N | sleep MS\n");
  return 2;
}
