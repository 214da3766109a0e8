// Stands in for Windows' eventcreate.exe, which Wine lacks: appends its
// command line to C:\eventcreate-calls.txt, one line a call, and succeeds.
#include <windows.h>

#include <cstdio>

int main() {
  std::FILE* calls = std::fopen("C:\\eventcreate-calls.txt", "ab");
  if (calls == nullptr) {
    return 1;
  }
  std::fprintf(calls, "%s\n", GetCommandLineA());
  std::fclose(calls);
  return 0;
}
