#include <algorithm>
#include <array>
#include <vector>

#include "runner_win32.h"

namespace {

// The WOW64 file system redirection is off while one lives: a runner in
// System32 looks beside itself, not in SysWOW64.
class RedirectionOff {
 public:
  RedirectionOff() : off_(Wow64DisableWow64FsRedirection(&old_) != FALSE) {}
  ~RedirectionOff() {
    if (off_) {
      Wow64RevertWow64FsRedirection(old_);
    }
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  void* old_ = nullptr;
  bool off_;
};

// Reads what the pipe holds now; false once every writer has closed it.
bool Drain(HANDLE pipe, ChildRun& run) {
  std::array<char, 4096> buffer{};
  for (DWORD available = 0;;) {
    DWORD got = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ==
            FALSE ||
        (available > 0 &&
         ReadFile(pipe, buffer.data(), std::min<DWORD>(available, 4096), &got,
                  nullptr) == FALSE)) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    const std::size_t kept =
        std::min<std::size_t>(got, kMostOutput - run.output.size());
    run.outputCut = run.outputCut || kept < got;
    run.output.append(buffer.data(), kept);
  }
}

// Ends its processes when its last handle closes: when the runner ends,
// however it ends.
Handle KillOnCloseJob() {
  Handle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job &&
      SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation,
                              &limits, sizeof limits) == FALSE) {
    job.reset();
  }
  return job;
}

// Started suspended, with the pipe's write end as its standard output and
// error and as the one handle it inherits.
bool Start(const std::wstring& path, HANDLE output, PROCESS_INFORMATION& got) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> list(size);
  STARTUPINFOEXW info{};
  info.StartupInfo.cb = sizeof info;
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdOutput = info.StartupInfo.hStdError = output;
  info.lpAttributeList =
      reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  if (InitializeProcThreadAttributeList(info.lpAttributeList, 1, 0, &size) ==
      FALSE) {
    return false;
  }
  std::wstring system(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(system.data(), MAX_PATH);
  system.resize(length < MAX_PATH ? length : 0);
  std::wstring commandLine = L"\"" + path + L"\"";
  const RedirectionOff off;
  const bool started =
      UpdateProcThreadAttribute(info.lpAttributeList, 0,
                                PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &output,
                                sizeof output, nullptr, nullptr) != FALSE &&
      CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                     CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                     system.empty() ? nullptr : system.c_str(),
                     &info.StartupInfo, &got) != FALSE;
  const DWORD error = GetLastError();
  DeleteProcThreadAttributeList(info.lpAttributeList);
  SetLastError(error);
  return started;
}

}  // namespace

bool ProgramExists(const std::wstring& path) {
  const RedirectionOff off;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

ChildRun RunChild(const std::wstring& path, std::uint32_t timeoutMs) {
  ChildRun run;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  if (CreatePipe(&readEnd, &writeEnd, &inheritable, 0) == FALSE) {
    run.startError = GetLastError();
    return run;
  }
  const Handle pipe(readEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION started{};
  run.startError = Start(path, writeEnd, started) ? 0 : GetLastError();
  CloseHandle(writeEnd);  // the child holds the only write end now
  if (run.startError != 0) {
    return run;
  }
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  // Windows 7 puts a process into one job only: where the runner already
  // runs in one, the program runs without, and the timeout still ends it.
  const Handle job = KillOnCloseJob();
  if (!job || AssignProcessToJobObject(job.get(), process.get()) == FALSE) {
    run.jobError = GetLastError();
  }
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    run.startError = GetLastError();
    TerminateProcess(process.get(), ERROR_TIMEOUT);
    return run;
  }
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  bool open = true;
  while (WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT) {
    open = open && Drain(pipe.get(), run);
    if (GetTickCount64() >= deadline) {
      run.timedOut = true;
      if (run.jobError != 0 ||
          TerminateJobObject(job.get(), ERROR_TIMEOUT) == FALSE) {
        TerminateProcess(process.get(), ERROR_TIMEOUT);
      }
      WaitForSingleObject(process.get(), 10000);
      break;
    }
  }
  // What is left in the pipe once the program has ended.
  while (open && Drain(pipe.get(), run) && GetTickCount64() < deadline) {
    Sleep(10);
  }
  // A status that cannot be read is none the program returns: never 0,
  // which would let a complete-looking output count as a success.
  DWORD status = 0;
  run.exitStatus =
      GetExitCodeProcess(process.get(), &status) != FALSE ? status : ~DWORD{0};
  return run;
}
