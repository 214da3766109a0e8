// ksthunk-filter-run.exe: runs ksthunk-filter.exe from its own folder as the
// fleet tools do (as Local System), one run at a time, and reports the
// outcome as its exit code, an Application event and a log entry.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "outcome.h"
#include "runner_win32.h"
#include "version.h"

// The test build compiles a shorter one in; nothing at run time changes it.
#ifndef KSF_RUN_TIMEOUT_SECONDS
#define KSF_RUN_TIMEOUT_SECONDS 120
#endif

namespace {

constexpr int kLockWaitSeconds = 30;
constexpr int kProgramTries = 3;  // while other programs change the list
constexpr int kLogTries = 5;

using Notes = std::vector<std::string>;

std::string Note(const char* what, std::uint32_t error) {
  return std::string(what) + ": error " + std::to_string(error);
}

// A longer event text than this is cut by the Event Viewer.
constexpr std::size_t kMostEventText = 2000;
constexpr std::uint16_t kMissingDriversEvent = 400;

std::string Narrow(const std::wstring& text, UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(codePage, 0, text.data(), length,
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// Bytes of `codePage` as UTF-8; what does not convert becomes U+FFFD.
std::string Utf8(const std::string& bytes, UINT codePage) {
  const int length = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
      codePage, 0, bytes.data(), length, wide.data(), length)));
  return Narrow(wide, CP_UTF8);
}

// ksthunk-filter.exe beside this program, whatever the path's length; none
// when the program's own path is not to be had (never a relative path).
std::wstring ToolPath() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = GetModuleFileNameW(nullptr, path.data(),
                                      static_cast<DWORD>(path.size()))) ==
         path.size()) {
    path.resize(path.size() * 2);
  }
  path.resize(length);
  const std::size_t folder = path.rfind(L'\\');
  return folder == std::wstring::npos
             ? std::wstring()
             : path.substr(0, folder + 1) + L"ksthunk-filter.exe";
}

int Usage(const std::string& argument) {
  std::printf(
      "ksthunk-filter-run %s runs ksthunk-filter.exe from its own folder, one\n"
      "run at a time, and reports the outcome as its exit code, an event\n"
      "(Application log, source ksthunk-filter) and an entry of\n"
      "%%SystemRoot%%\\Logs\\ksthunk-filter\\ksthunk-filter.log. Fleet tools\n"
      "run it as Local System, without arguments. /check reads the class's\n"
      "filter lists, names those without a driver and changes nothing (exit\n"
      "code 0 ksthunk in place, 1 missing). /? shows this text only; to\n"
      "ksthunk-filter.exe, /? is no option: it ignores it and runs.\n",
      KSF_VERSION);
  for (const Outcome& outcome : kOutcomes) {
    std::printf("  exit code %4u: %.*s\n", unsigned{outcome.exitCode},
                static_cast<int>(outcome.kind.size()), outcome.kind.data());
  }
  for (const char* help : {"/?", "-?", "-h", "--help"}) {
    if (argument == help) {
      return 0;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

std::string Header() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  std::array<char, 96> line{};
  const int length = std::snprintf(
      line.data(), line.size(),
      "=== ksthunk-filter-run %s, %04u-%02u-%02uT%02u:%02u:%02uZ\r\n",
      KSF_VERSION, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
      now.wSecond);
  return {line.data(), length > 0 ? static_cast<std::size_t>(length) : 0};
}

// Runs the program, again while other programs change the list under it,
// each try's status and output going to the log entry.
const Outcome& RunTool(const std::wstring& tool, std::string& entry,
                       Notes& notes) {
  for (int tried = 1;; ++tried) {
    const ChildRun run = RunChild(tool, KSF_RUN_TIMEOUT_SECONDS * 1000);
    if (run.startError != 0) {
      notes.push_back(
          Note("ksthunk-filter.exe could not be started", run.startError));
      return FindOutcome("no-exe");
    }
    if (run.jobError != 0 && tried == 1) {
      notes.push_back(
          Note("ksthunk-filter.exe ran outside a job object", run.jobError));
    }
    entry += "try " + std::to_string(tried) +
             ": ksthunk-filter.exe exit status " +
             std::to_string(run.exitStatus) + "\r\n" +
             Utf8(run.output, IsFrenchRefusal(run.output) ? 1252 : CP_ACP) +
             (run.output.ends_with('\n') || run.output.empty() ? "" : "\r\n");
    if (run.timedOut || run.outputCut) {
      notes.emplace_back(
          run.timedOut ? "ksthunk-filter.exe ran too long and was ended"
                       : "its output passed 16 MiB: the rest was dropped");
      return FindOutcome(run.timedOut ? "timed-out" : "unrecognised");
    }
    const Outcome& outcome = ClassifyRun(run.exitStatus, run.output);
    if (outcome.kind != "not-written" || tried == kProgramTries) {
      return outcome;
    }
    Sleep(2000);
  }
}

// The event, then the result line; returns the exit code.
int Finish(const Outcome& outcome, const Notes& notes, const LogPaths& paths) {
  const std::string said = "ksthunk-filter: " + std::string(outcome.kind) +
                           ", exit code " + std::to_string(outcome.exitCode);
  std::string noted;
  for (const std::string& note : notes) {
    noted += " (" + note + ")";
  }
  const std::string event = said + ". Log: ";
  if (const std::uint32_t error =
          WriteEvent(outcome.eventId, outcome.level,
                     std::wstring(event.begin(), event.end()) + paths.log +
                         std::wstring(noted.begin(), noted.end()))) {
    noted += " (" + Note("the event could not be written", error) + ")";
  }
  std::printf("%s, log %s%s\n", said.c_str(), Narrow(paths.log, CP_ACP).c_str(),
              noted.c_str());
  return static_cast<int>(outcome.exitCode);
}

// Everything after the lock: the log rotated, the program's tries, the
// entry appended.
int RunLocked(const std::wstring& tool, const LogPaths& paths, Notes notes) {
  if (!RemoveWrapperLeftovers(paths)) {
    notes.emplace_back("the cmd wrapper's run folder could not be removed");
  }
  if (const std::uint32_t error = RotateLog(paths)) {
    notes.push_back(Note("the log could not be rotated", error));
  }
  std::string entry = Header();
  const Outcome& outcome = RunTool(tool, entry, notes);
  // The class's lists as the run left them: filters without a driver.
  const ClassHealth health = ReadClassHealth();
  for (const FilterList& list : health.lists) {
    if (list.present && !IsList(list.type)) {
      entry += Narrow(Describe(list), CP_UTF8) + "\r\n";
    }
  }
  const std::wstring missing = MissingDrivers(
      health.lists, kMostEventText - std::wstring(L"ksthunk-filter: ").size());
  if (!missing.empty()) {
    entry += Narrow(missing, CP_UTF8) + "\r\n";
  }
  entry += "outcome " + std::string(outcome.kind) + ", exit code " +
           std::to_string(outcome.exitCode) + "\r\n";
  for (const std::string& note : notes) {
    entry += note + "\r\n";
  }
  if (!AppendToLog(paths, entry, kLogTries)) {
    notes.emplace_back("this run's entry could not be appended to it");
  }
  if (const std::uint32_t error =
          missing.empty()
              ? 0
              : WriteEvent(kMissingDriversEvent, EventLevel::Warning,
                           L"ksthunk-filter: " + missing)) {
    notes.push_back(Note("the warning event could not be written", error));
  }
  return Finish(outcome, notes, paths);
}

// /check: what a run would find, read only.
int Check() {
  const ClassHealth health = ReadClassHealth();
  std::string kind = health.openStatus == ERROR_FILE_NOT_FOUND ? "key-missing"
                     : health.openStatus == ERROR_ACCESS_DENIED
                         ? "access-denied"
                         : "open-failed";
  if (health.openStatus == ERROR_SUCCESS) {
    for (const FilterList& list : health.lists) {
      std::printf("%s\n", Narrow(Describe(list), CP_ACP).c_str());
    }
    const FilterList& upper = health.lists.front();
    const bool listed = std::find(upper.entries.begin(), upper.entries.end(),
                                  L"ksthunk") != upper.entries.end();
    kind = upper.present && !IsList(upper.type) ? "read-failed"
           : listed                             ? "in-place"
           : DriverInstalled(L"ksthunk")        ? "missing"
                                                : "no-driver";
  }
  const std::uint32_t code = kind == "missing" ? 1 : FindOutcome(kind).exitCode;
  std::printf("ksthunk-filter: check %s, exit code %u\n", kind.c_str(),
              static_cast<unsigned>(code));
  return static_cast<int>(code);
}

int Run() {
  const LogPaths paths = FindLogPaths();
  const std::wstring tool = ToolPath();
  if (!ProgramExists(tool)) {
    return Finish(FindOutcome("no-exe"),
                  {"no ksthunk-filter.exe beside this program"}, paths);
  }
  if (const std::uint32_t error = MakeLogFolder(paths)) {
    return Finish(FindOutcome("no-log"),
                  {Note("the log folder could not be made", error)}, paths);
  }
  Notes notes;
  if (const std::uint32_t error = ProtectLogFolder(paths)) {
    notes.push_back(
        Note("the log folder's access list could not be set", error));
  }
  std::uint32_t error = 0;
  const Handle lock = TakeLock(paths, kLockWaitSeconds, error);
  if (lock) {
    return RunLocked(tool, paths, notes);
  }
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
    return Finish(FindOutcome("busy"), notes, paths);
  }
  notes.push_back(Note("the lock file could not be created", error));
  return Finish(FindOutcome("no-log"), notes, paths);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "/check") {
    return Check();
  }
  return argc > 1 ? Usage(argv[1]) : Run();
}
