// Test helper for the wrapper: another process at work on the machine. It
// prints "ready" once it is at work.
//   other_process hold FILE STOP       holds FILE open for writing, without
//                                      write sharing, until STOP exists
//   other_process change-on-output FILE TEXT
//                                      rewrites the class's UpperFilters as
//                                      "filter1 writer" once FILE holds
//                                      TEXT, as a driver installer might
//                                      while the program runs
#include <windows.h>

#include <cstdio>
#include <string>

#include "expected_output.h"

namespace {

bool Stopped(const char* stop) {
  return GetFileAttributesA(stop) != INVALID_FILE_ATTRIBUTES;
}

void Ready() {
  std::printf("ready\n");
  std::fflush(stdout);
}

int Hold(const char* path, const char* stop) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s\n", path);
    return 2;
  }
  Ready();
  while (!Stopped(stop)) {
    Sleep(20);
  }
  CloseHandle(file);
  return 0;
}

// Whether the first bytes of the file at `path`, which another process may
// be writing, hold `text`.
bool Holds(const char* path, const std::string& text) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  std::string bytes(4096, '\0');
  DWORD read = 0;
  const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                           &read, nullptr);
  CloseHandle(file);
  bytes.resize(ok ? read : 0);
  return bytes.find(text) != std::string::npos;
}

// Waits until FILE holds TEXT (the program's output file, once the program
// has read the list and prints it), then gives the list other entries,
// before the program's last check of it.
int ChangeOnOutput(const char* path, const std::string& text) {
  Ready();
  while (!Holds(path, text)) {
    Sleep(1);
  }
  const std::string list("filter1\0writer\0", 16);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassKey, 0,
                    KEY_ALL_ACCESS | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS ||
      RegSetValueExA(key, "UpperFilters", 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(list.data()),
                     static_cast<DWORD>(list.size())) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot write the class's list\n");
    return 2;
  }
  RegCloseKey(key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "hold" && argc == 4) {
    return Hold(argv[2], argv[3]);
  }
  if (command == "change-on-output" && argc == 4) {
    return ChangeOnOutput(argv[2], argv[3]);
  }
  std::fprintf(stderr,
               "usage: other_process hold FILE STOP | change-on-output FILE "
               "TEXT\n");
  return 2;
}
