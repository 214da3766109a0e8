// The Windows side of a run: the child program, the log folder with its
// lock and log, and the Application event. Each error is a system error
// code, 0 for none.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "health.h"
#include "outcome.h"

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

inline constexpr std::size_t kMostOutput = 16U << 20;  // the rest dropped

struct ChildRun {
  std::uint32_t startError = 0;  // CreateProcessW failed so
  std::uint32_t jobError = 0;    // it ran outside a job object
  std::uint32_t exitStatus = 0;
  bool timedOut = false;
  bool outputCut = false;  // it printed more than kMostOutput bytes
  std::string output;      // standard output and error, raw bytes
};

// Whether the file exists, past the WOW64 file system redirection (from
// System32, a 32-bit program would look in SysWOW64).
bool ProgramExists(const std::wstring& path);
// Runs it with no arguments, no standard input, the system folder current,
// in a job that ends it with the runner; ends it after `timeoutMs`.
ChildRun RunChild(const std::wstring& path, std::uint32_t timeoutMs);

struct LogPaths {
  std::wstring folder, log, lock;  // below the system's Windows folder
};
LogPaths FindLogPaths();
// Makes the folder, with its access list, where it is missing.
std::uint32_t MakeLogFolder(const LogPaths& paths);
// SYSTEM and Administrators alone, inherited below, not from above; owner
// Administrators.
std::uint32_t ProtectLogFolder(const LogPaths& paths);
// Null, with `error`, when no lock could be had within `seconds`.
Handle TakeLock(const LogPaths& paths, int seconds, std::uint32_t& error);
// Removes the folder that the cmd wrapper used for its runs.
bool RemoveWrapperLeftovers(const LogPaths& paths);
// A log of 1 MiB or more becomes ksthunk-filter.log.1.
std::uint32_t RotateLog(const LogPaths& paths);
// One write, tried `tries` times a second apart.
bool AppendToLog(const LogPaths& paths, const std::string& entry, int tries);

// Registers the source ksthunk-filter where it is missing, then writes the
// event.
std::uint32_t WriteEvent(std::uint16_t eventId, EventLevel level,
                         const std::wstring& text);

// The class key's filter lists, read whole; none when the key cannot be
// opened (openStatus).
struct ClassHealth {
  std::uint32_t openStatus = 0;
  std::vector<FilterList> lists;  // UpperFilters, LowerFilters
};
ClassHealth ReadClassHealth();
// Whether HKLM\SYSTEM\CurrentControlSet\Services\<name> exists.
bool DriverInstalled(const std::wstring& name);
