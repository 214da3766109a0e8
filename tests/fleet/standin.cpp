// Stands in for eventcreate.exe and icacls.exe, which Wine lacks or only
// pretends to have: appends its command line, which begins with the tool's
// path, to C:\standin-calls.txt, one line a call, and succeeds.
#include <windows.h>

#include <cstdio>

int main() {
  std::FILE* calls = std::fopen("C:\\standin-calls.txt", "ab");
  if (calls == nullptr) {
    return 1;
  }
  std::fprintf(calls, "%s\n", GetCommandLineA());
  std::fclose(calls);
  return 0;
}
