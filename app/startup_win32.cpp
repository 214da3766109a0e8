#include "startup.h"

#include <windows.h>

#include "framework.h"

bool PlatformVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                            std::uint16_t servicePackMajor,
                            std::uint16_t servicePackMinor) {
  OSVERSIONINFOEXA info{};
  static_assert(sizeof info == 156);
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.wServicePackMajor = servicePackMajor;
  info.wServicePackMinor = servicePackMinor;

  DWORDLONG conditions = 0;
  conditions =
      VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
  conditions =
      VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
  conditions =
      VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  conditions =
      VerSetConditionMask(conditions, VER_SERVICEPACKMINOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoA(&info,
                            VER_MAJORVERSION | VER_MINORVERSION |
                                VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR,
                            conditions) != FALSE;
}

ModuleHandle FindModule(const char* name) { return GetModuleHandleA(name); }

EntryPoint FindEntryPoint(ModuleHandle module, const char* name) {
  return reinterpret_cast<EntryPoint>(
      GetProcAddress(static_cast<HMODULE>(module), name));
}

ProcessHandle CurrentProcess() { return GetCurrentProcess(); }

void CallIsWow64Process(EntryPoint isWow64Process, ProcessHandle process,
                        std::int32_t* wow64) {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL flag = *wow64;
  reinterpret_cast<IsWow64ProcessFunction>(isWow64Process)(process, &flag);
  *wow64 = flag;
}

const char* CommandLine() { return GetCommandLineA(); }

int InitialiseFramework(ModuleHandle instance, ModuleHandle previous,
                        const char* commandLine, int showState) {
  return InitialiseApplication(instance, previous, commandLine, showState);
}
