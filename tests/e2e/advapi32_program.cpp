// An empty console program that imports advapi32.dll, as ksthunk-filter.exe
// must for the registry: the yardstick for a process start that includes
// loading that DLL.
#include <windows.h>

int main(int argc, char**) {
  if (argc < 0) {
    RegCloseKey(HKEY_LOCAL_MACHINE);  // never runs; only links advapi32
  }
  return 0;
}
