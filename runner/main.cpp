// ksthunk-filter-run.exe: runs ksthunk-filter.exe from its own folder as the
// fleet tools do (as Local System), one run at a time, and reports the
// outcome as its exit code, an Application event and a log entry.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cwctype>
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
constexpr int kToolTries = 3;  // while other programs change the list
constexpr std::size_t kMostEventText = 2000;  // the Event Viewer cuts more
constexpr std::uint16_t kMissingDriversEvent = 400;

// What went wrong on the way that the outcome does not say; the log entry,
// the event and the result line end with them.
using Notes = std::vector<std::wstring>;

std::wstring Wide(std::string_view bytes, UINT codePage) {
  const int length = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
      codePage, 0, bytes.data(), length, wide.data(), length)));
  return wide;
}

// The text in `codePage`, where what it cannot hold becomes its default
// character.
std::string Narrow(const std::wstring& text, UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(codePage, 0, text.data(), length,
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// "WHAT: error 5 (Access is denied.)", in the system's language.
std::wstring Note(const std::wstring& what, DWORD error) {
  std::array<wchar_t, 512> text{};
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, text.data(), DWORD{text.size()}, nullptr);
  while (length > 0 && std::iswspace(text[length - 1]) != 0) --length;
  const std::wstring message(text.data(), length);  // none for some codes
  return what + L": error " + std::to_wstring(error) +
         (message.empty() ? L"" : L" (" + message + L")");
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
    std::printf("  exit code %4u: %s\n", unsigned{outcome.exitCode},
                std::string(outcome.name).c_str());
  }
  const std::array<std::string_view, 4> help = {"/?", "-?", "-h", "--help"};
  const bool asked =
      std::find(help.begin(), help.end(), argument) != help.end();
  return asked ? 0 : ERROR_INVALID_PARAMETER;
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
  return {line.data(), static_cast<std::size_t>(std::max(length, 0))};
}

// Runs the tool, again while other programs change the list under it; each
// try's status and output go to the log entry, in UTF-8.
Kind RunTool(const std::wstring& tool, std::string& entry, Notes& notes) {
  for (int tried = 1;; ++tried) {
    ChildRun run;
    const DWORD error = RunChild(tool, KSF_RUN_TIMEOUT_SECONDS * 1000, run);
    if (error != 0) {
      notes.push_back(Note(L"ksthunk-filter.exe could not be started", error));
      return Kind::NoExe;
    }
    if (run.jobError != 0 && tried == 1) {
      notes.push_back(
          Note(L"ksthunk-filter.exe has no job of its own and "
               L"runs in the runner's, if that has one",
               run.jobError));
    }
    const UINT codePage = IsFrenchRefusal(run.output) ? 1252 : CP_ACP;
    const bool ended = run.output.empty() || run.output.ends_with('\n');
    entry +=
        "try " + std::to_string(tried) + ": ksthunk-filter.exe exit status " +
        std::to_string(run.exitStatus) + "\r\n" +
        Narrow(Wide(run.output, codePage), CP_UTF8) + (ended ? "" : "\r\n");
    if (run.timedOut) {
      notes.emplace_back(run.endError == 0
                             ? L"ksthunk-filter.exe ran too long and was ended"
                             : Note(L"ksthunk-filter.exe ran too long and "
                                    L"could not be ended",
                                    run.endError));
      return Kind::TimedOut;
    }
    // Failure lines are known by how they start: a cut output may look so.
    if (run.outputCut) {
      notes.emplace_back(L"its output passed 16 MiB: the rest was dropped");
      return Kind::Unrecognised;
    }
    const Kind kind = ClassifyRun(run.exitStatus, run.output);
    if (kind != Kind::NotWritten || tried == kToolTries) return kind;
    Sleep(2000);
  }
}

// Under the lock: the log rotated, the tool's tries, then the entry with
// the class's lists as the run left them, and the warning of filters
// without a driver.
Kind RunLocked(const std::wstring& tool, const LogPaths& paths, Notes& notes) {
  if (const DWORD error = RotateLog(paths)) {
    notes.push_back(Note(L"the log could not be rotated", error));
  }
  std::string entry = Header();
  const Kind kind = RunTool(tool, entry, notes);
  std::vector<FilterList> lists;
  const DWORD unread = ReadClassLists(lists);
  // Where the tool could not open the key, the outcome says so already.
  if (unread != 0 && kind != Kind::KeyMissing && kind != Kind::AccessDenied &&
      kind != Kind::OpenFailed) {
    notes.push_back(
        Note(L"the class's filter lists could not be read", unread));
  }
  std::wstring tail;
  for (const FilterList& list : lists) {
    if (list.present && !IsList(list.type)) tail += Describe(list) + L"\r\n";
  }
  const std::wstring warning = L"ksthunk-filter: ";
  const std::wstring missing =
      MissingDrivers(lists, kMostEventText - warning.size());
  if (!missing.empty()) tail += missing + L"\r\n";
  tail += L"outcome " + Wide(OutcomeOf(kind).name, CP_UTF8) + L", exit code " +
          std::to_wstring(OutcomeOf(kind).exitCode) + L"\r\n";
  for (const std::wstring& note : notes) tail += note + L"\r\n";
  if (const DWORD error = AppendToLog(paths, entry + Narrow(tail, CP_UTF8))) {
    notes.push_back(
        Note(L"this run's entry could not be appended to it", error));
  }
  if (missing.empty()) return kind;
  const DWORD error =
      WriteEvent(kMissingDriversEvent, EventLevel::Warning, warning + missing);
  if (error != 0) {
    notes.push_back(Note(L"the warning event could not be written", error));
  }
  return kind;
}

// A run's steps up to the lock; the outcome, with what went wrong in `notes`.
Kind Run(LogPaths& paths, Notes& notes) {
  if (const DWORD error = FindLogPaths(paths)) {
    paths.log = L"%SystemRoot%\\Logs\\ksthunk-filter\\ksthunk-filter.log";
    notes.push_back(Note(L"the Windows folder could not be found", error));
    return Kind::NoLog;
  }
  const std::wstring tool = ToolPath();
  const DWORD found =
      tool.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(tool.c_str());
  if (found == INVALID_FILE_ATTRIBUTES ||
      (found & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    notes.emplace_back(L"no ksthunk-filter.exe beside this program");
    return Kind::NoExe;
  }
  DWORD unprotected = 0;
  if (const DWORD error = MakeLogFolder(paths, unprotected)) {
    notes.push_back(
        Note(L"the log folder " + paths.folder + L" could not be made", error));
    return Kind::NoLog;
  }
  if (unprotected != 0) {
    notes.push_back(
        Note(L"the log folder's access list could not be set", unprotected));
  }
  File lock;
  const DWORD error = TakeLock(paths, kLockWaitSeconds, lock);
  if (error == ERROR_SHARING_VIOLATION) return Kind::Busy;
  if (error == 0) return RunLocked(tool, paths, notes);
  notes.push_back(Note(L"the lock file could not be created", error));
  return Kind::NoLog;
}

// /check: what a run would find, read only.
int Check() {
  std::vector<FilterList> lists;
  const DWORD status = ReadClassLists(lists);
  Kind kind = status == ERROR_FILE_NOT_FOUND  ? Kind::KeyMissing
              : status == ERROR_ACCESS_DENIED ? Kind::AccessDenied
                                              : Kind::OpenFailed;
  if (status == 0) {
    for (const FilterList& list : lists) {
      std::printf("%s\n", Narrow(Describe(list), CP_ACP).c_str());
    }
    const FilterList& upper = lists.front();
    const bool listed = std::find(upper.entries.begin(), upper.entries.end(),
                                  L"ksthunk") != upper.entries.end();
    kind = upper.present && !IsList(upper.type) ? Kind::ReadFailed
           : listed                             ? Kind::InPlace
                                                : Kind::NoDriver;
  }
  // Missing where a run would add it: 1, as a detection script says so.
  const bool missing = kind == Kind::NoDriver && DriverInstalled(L"ksthunk");
  const unsigned code = missing ? 1 : OutcomeOf(kind).exitCode;
  const std::string name =
      missing ? "missing" : std::string(OutcomeOf(kind).name);
  std::printf("ksthunk-filter: check %s, exit code %u\n", name.c_str(), code);
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "/check") return Check();
  if (argc > 1) return Usage(argv[1]);
  LogPaths paths;
  Notes notes;
  const Outcome& outcome = OutcomeOf(Run(paths, notes));
  const std::wstring said = L"ksthunk-filter: " + Wide(outcome.name, CP_UTF8) +
                            L", exit code " + std::to_wstring(outcome.exitCode);
  std::wstring noted;
  for (const std::wstring& note : notes) noted += L" (" + note + L")";
  if (const DWORD error = WriteEvent(outcome.eventId, outcome.level,
                                     said + L". Log: " + paths.log + noted)) {
    noted += L" (" + Note(L"the event could not be written", error) + L")";
  }
  std::printf("%s\n",
              Narrow(said + L", log " + paths.log + noted, CP_ACP).c_str());
  return static_cast<int>(outcome.exitCode);
}
