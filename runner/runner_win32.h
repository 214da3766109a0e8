// The runner's Windows side: an owner for each kind of handle, and the
// steps of a run. A function that can fail returns the Win32 error code of
// the call that failed, 0 for none.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "health.h"
#include "outcome.h"

// Closes what a call gave with `Close`; null is none.
template <auto Close>
struct Closer {
  template <typename T>
  void operator()(T* value) const {
    Close(value);
  }
};
using Handle = std::unique_ptr<void, Closer<CloseHandle>>;
using Key = std::unique_ptr<HKEY__, Closer<RegCloseKey>>;
using EventSource = std::unique_ptr<void, Closer<DeregisterEventSource>>;
using LocalMemory = std::unique_ptr<void, Closer<LocalFree>>;
// CreateFileW gives INVALID_HANDLE_VALUE, not null, for no file.
struct File : Handle {
  explicit File(HANDLE file = nullptr)
      : Handle(file == INVALID_HANDLE_VALUE ? nullptr : file) {}
};

// The folder that GetSystemDirectoryW or GetSystemWindowsDirectoryW gives,
// empty when it fails.
std::wstring FolderFrom(UINT(WINAPI* call)(LPWSTR, UINT));
// ksthunk-filter.exe beside the runner, by a path this process reaches it
// by; empty when the runner's own full path is not to be had.
std::wstring ToolPath();

struct ChildRun {
  DWORD exitStatus = 0;
  bool timedOut = false;
  bool outputCut = false;  // it printed more than the runner keeps
  std::string output;      // standard output and error, raw bytes
  DWORD jobError = 0;      // why it runs in no job of its own
  DWORD endError = 0;      // why it could not be ended at the timeout
};
// Runs the tool with no arguments, no standard input and no window, the
// system folder current, in a job that ends it with the runner; ends it
// after `timeoutMs`.
[[nodiscard]] DWORD RunChild(const std::wstring& path, DWORD timeoutMs,
                             ChildRun& run);

struct LogPaths {
  std::wstring folder, log, lock;  // below the system's Windows folder
};
[[nodiscard]] DWORD FindLogPaths(LogPaths& paths);
// Makes the folder where it is missing, and sets its access list (SYSTEM
// and Administrators alone, inherited below, not from above; owner
// Administrators); `unprotected`: why that could not be set.
[[nodiscard]] DWORD MakeLogFolder(const LogPaths& paths, DWORD& unprotected);
// Waits up to `seconds`; ERROR_SHARING_VIOLATION when another run held it.
[[nodiscard]] DWORD TakeLock(const LogPaths& paths, int seconds, File& lock);
// A log of 1 MiB or more, or the 1.x wrapper's in the ANSI code page,
// becomes ksthunk-filter.log.1.
[[nodiscard]] DWORD RotateLog(const LogPaths& paths);
[[nodiscard]] DWORD AppendToLog(const LogPaths& paths,
                                const std::string& entry);

// Registers the source ksthunk-filter as eventcreate does where it is
// missing, then writes the event.
[[nodiscard]] DWORD WriteEvent(std::uint16_t eventId, EventLevel level,
                               const std::wstring& text);

// The class key's UpperFilters and LowerFilters, read whole.
[[nodiscard]] DWORD ReadClassLists(std::vector<FilterList>& lists);
// Whether HKLM\SYSTEM\CurrentControlSet\Services\<name> exists.
bool DriverInstalled(const std::wstring& name);
