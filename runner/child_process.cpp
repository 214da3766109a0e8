#include <algorithm>
#include <array>
#include <type_traits>
#include <vector>

#include "runner_win32.h"

namespace {

constexpr std::size_t kMostOutput = 16U << 20;  // the rest is dropped
constexpr DWORD kPollMs = 20;
using AttributeList =
    std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>,
                    Closer<DeleteProcThreadAttributeList>>;

// Whether `path` lies below `folder`, in any letter case.
bool IsBelow(const std::wstring& path, const std::wstring& folder) {
  const int length = static_cast<int>(folder.size());
  return length > 0 && path.size() > folder.size() &&
         path[folder.size()] == L'\\' &&
         CompareStringOrdinal(path.c_str(), length, folder.c_str(), length,
                              TRUE) == CSTR_EQUAL;
}

// Starts the tool suspended, with `output` as its standard output and
// error and as the one handle it inherits.
[[nodiscard]] DWORD Start(const std::wstring& path, HANDLE output,
                          PROCESS_INFORMATION& started) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> memory(size);
  auto* const list =
      reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory.data());
  if (InitializeProcThreadAttributeList(list, 1, 0, &size) == FALSE) {
    return GetLastError();
  }
  const AttributeList owned(list);
  if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                &output, sizeof output, nullptr,
                                nullptr) == FALSE) {
    return GetLastError();
  }
  STARTUPINFOEXW info{};
  info.StartupInfo.cb = sizeof info;
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdOutput = info.StartupInfo.hStdError = output;
  info.lpAttributeList = list;
  std::wstring commandLine = L"\"" + path + L"\"";
  const std::wstring system = FolderFrom(GetSystemDirectoryW);
  const DWORD flags =
      CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
  if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                     flags, nullptr, system.empty() ? nullptr : system.c_str(),
                     &info.StartupInfo, &started) == FALSE) {
    return GetLastError();
  }
  return 0;
}

// Puts the process into a new job that ends it when the job's last handle
// closes: when the runner ends, however it ends.
[[nodiscard]] DWORD PutInJob(HANDLE process, Handle& job) {
  job = Handle(CreateJobObjectW(nullptr, nullptr));
  if (!job) return GetLastError();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation,
                              &limits, sizeof limits) == FALSE ||
      AssignProcessToJobObject(job.get(), process) == FALSE) {
    return GetLastError();
  }
  return 0;
}

// Appends what the pipe holds now, one buffer at most, keeping kMostOutput
// bytes in all. Returns the bytes read; `open` turns false once the pipe is
// closed and empty.
DWORD ReadSome(HANDLE pipe, ChildRun& run, bool& open) {
  std::array<char, 65536> buffer{};
  DWORD available = 0;
  DWORD got = 0;
  open = PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) != FALSE;
  if (!open || available == 0 ||
      ReadFile(pipe, buffer.data(), std::min<DWORD>(available, 65536), &got,
               nullptr) == FALSE) {
    return 0;
  }
  const std::size_t kept =
      std::min(std::size_t{got}, kMostOutput - run.output.size());
  run.outputCut = run.outputCut || kept < got;
  run.output.append(buffer.data(), kept);
  return got;
}

}  // namespace

std::wstring FolderFrom(UINT(WINAPI* call)(LPWSTR, UINT)) {
  std::array<wchar_t, MAX_PATH> folder{};
  const UINT length = call(folder.data(), MAX_PATH);
  return length < MAX_PATH ? std::wstring(folder.data(), length) : L"";
}

std::wstring ToolPath() {
  std::array<wchar_t, 32768> self{};  // the longest path Windows takes
  const DWORD length = GetModuleFileNameW(nullptr, self.data(), 32768);
  const std::wstring runner(self.data(), length < 32768 ? length : 0);
  const std::size_t name = runner.rfind(L'\\');
  if (name == std::wstring::npos) return L"";  // never a relative path
  // Below System32 (the local Group Policy's start-up folder), a 32-bit
  // process would reach SysWOW64; Sysnative is the real System32 to it.
  const std::wstring system = FolderFrom(GetSystemDirectoryW);
  const std::wstring windows = FolderFrom(GetSystemWindowsDirectoryW);
  BOOL wow64 = FALSE;
  if (IsBelow(runner, system) && !windows.empty() &&
      IsWow64Process(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE) {
    return windows + L"\\Sysnative" +
           runner.substr(system.size(), name - system.size()) +
           L"\\ksthunk-filter.exe";
  }
  return runner.substr(0, name) + L"\\ksthunk-filter.exe";
}

DWORD RunChild(const std::wstring& path, DWORD timeoutMs, ChildRun& run) {
  HANDLE reading = nullptr;
  HANDLE writing = nullptr;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const BOOL piped = CreatePipe(&reading, &writing, &inheritable, 0);
  if (piped == FALSE) return GetLastError();
  const Handle readEnd(reading);
  Handle writeEnd(writing);
  if (SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0) == FALSE) {
    return GetLastError();
  }
  PROCESS_INFORMATION started{};
  if (const DWORD error = Start(path, writeEnd.get(), started)) return error;
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  writeEnd.reset();  // the tool holds the only write end now
  // Windows 7 puts a process in one job only: where the runner runs in one,
  // the tool stays in that, under its limits. The timeout still holds.
  Handle job;
  run.jobError = PutInJob(process.get(), job);
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    const DWORD error = GetLastError();
    TerminateProcess(process.get(), error);
    return error;
  }
  // Each pass reads one buffer at most, and waits only when it read none:
  // until the tool has ended and the pipe is empty, or the time is up.
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  bool open = true;
  for (DWORD got = 0;;) {
    const DWORD wait = got > 0 ? 0 : kPollMs;
    const bool ended = WaitForSingleObject(process.get(), wait) != WAIT_TIMEOUT;
    got = ReadSome(readEnd.get(), run, open);
    if (ended && !open) break;
    if (GetTickCount64() >= deadline) {
      run.timedOut = !ended;
      break;
    }
    if (ended && got == 0) Sleep(kPollMs);  // another writer holds the pipe
  }
  if (run.timedOut) {
    // The job ends the rest, and the tool too when the runner ends.
    if (TerminateProcess(process.get(), ERROR_TIMEOUT) == FALSE) {
      run.endError = GetLastError();
    } else if (WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) {
      run.endError = ERROR_TIMEOUT;
    }
  }
  // A status that cannot be read is none the tool returns: never 0, which
  // would let a complete-looking output count as a success.
  DWORD status = 0;
  const bool known = GetExitCodeProcess(process.get(), &status) != FALSE;
  run.exitStatus = known ? status : ~DWORD{0};
  return 0;
}
