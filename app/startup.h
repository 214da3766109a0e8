// Start-up: the checks that must pass before the program touches the
// registry, and the narrow interface to the platform services they probe.
// The Windows build links the probes over kernel32; the tests link
// in-memory probes that answer as each test asks.
#pragma once

#include <cstdint>
#include <string_view>

// The registry key of the device setup class for sound, video and game
// controllers, under HKEY_LOCAL_MACHINE: the key the program works on.
inline constexpr std::string_view kClassKeyPath =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\"
    "{4D36E96C-E325-11CE-BFC1-08002BE10318}";
static_assert(kClassKeyPath.size() == 77);

using ModuleHandle = void*;
using ProcessHandle = void*;
using EntryPoint = void (*)();

// Platform probes.

// Whether the system is at least the given version and service pack.
bool PlatformVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                            std::uint16_t servicePackMajor,
                            std::uint16_t servicePackMinor);
// The handle of a loaded module, or of the program itself for a null name.
ModuleHandle FindModule(const char* name);
// The address of an exported function, or null.
EntryPoint FindEntryPoint(ModuleHandle module, const char* name);
ProcessHandle CurrentProcess();
// Calls IsWow64Process through the address that FindEntryPoint gave.
void CallIsWow64Process(EntryPoint isWow64Process, ProcessHandle process,
                        std::int32_t* wow64);
const char* CommandLine();
// The application framework's initialisation; non-zero on success.
int InitialiseFramework(ModuleHandle instance, ModuleHandle previous,
                        const char* commandLine, int showState);

// True on Windows 6.0 or later.
bool IsSupportedOsVersion();

// The main function's work: the start-up checks, then the filter update.
// Returns the exit status: 1 when a check refuses, 0 otherwise.
int RunProgram();
