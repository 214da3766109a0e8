#include "startup.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "filter_updater.h"

namespace {

// Set once from kernel32's exports; null where the system lacks it.
EntryPoint isWow64Process = nullptr;

// True only for a 32-bit process on 64-bit Windows.
bool RunsUnderWow64() {
  isWow64Process = FindEntryPoint(FindModule("kernel32"), "IsWow64Process");
  std::int32_t wow64 = 0;
  if (isWow64Process != nullptr) {
    CallIsWow64Process(isWow64Process, CurrentProcess(), &wow64);
  }
  return wow64 != 0;
}

}  // namespace

bool IsSupportedOsVersion() { return PlatformVersionAtLeast(6, 0, 0, 0); }

int RunProgram() {
  if (!IsSupportedOsVersion()) {
    std::printf("OS Not supported\n");
    return 1;
  }
  if (!RunsUnderWow64()) {
    std::printf("This is not a 64 bits Operating System\n");
    return 1;
  }
  const ModuleHandle self = FindModule(nullptr);
  if (self == nullptr) {
    // Windows-1252 bytes, printed as they are.
    std::printf(
        "Erreur irr\xE9"
        "cup\xE9"
        "rable : \xE9"
        "chec de GetModuleHandle\n");
    return 1;
  }
  if (InitialiseFramework(self, nullptr, CommandLine(), 0) == 0) {
    // The blank before the colon is a no-break space (0xA0).
    std::printf(
        "Erreur irr\xE9"
        "cup\xE9"
        "rable\xA0: l'initialisation MFC a \xE9"
        "chou\xE9"
        "\n");
    return 1;
  }
  AddFilterEntry(std::string(kClassKeyPath), "UpperFilters", "ksthunk");
  return 0;
}
