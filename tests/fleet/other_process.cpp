// Test helper for the runner: another process holding a file open, as a log
// agent or a second run might. It prints "ready" once it holds it.
//   other_process hold FILE STOP   opens FILE for writing, sharing read,
//                                  until STOP exists
//   other_process read FILE STOP   opens FILE for reading, sharing read and
//                                  write but not delete, until STOP exists
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string command = argc == 4 ? argv[1] : "";
  if (command != "hold" && command != "read") {
    std::fprintf(stderr, "usage: other_process hold|read FILE STOP\n");
    return 2;
  }
  const bool hold = command == "hold";
  HANDLE file =
      CreateFileA(argv[2], hold ? GENERIC_WRITE : GENERIC_READ,
                  hold ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 2;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) {
    Sleep(20);
  }
  CloseHandle(file);
  return 0;
}
