#include <aclapi.h>
#include <sddl.h>

#include "runner_win32.h"

namespace {

// Owner Administrators; full control for SYSTEM and Administrators alone,
// inherited by files and folders, none from above. SIDs, not the names,
// which Windows localises.
constexpr const wchar_t* kFolderAccess =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kRotateAt = 1U << 20;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// Access is denied for the moment a lock is being deleted; denied this
// long, it is no other run's lock.
constexpr int kDeniedSeconds = 5;

// Makes the folder where it is missing; a file in its place is an error.
[[nodiscard]] DWORD MakeFolder(const std::wstring& path, void* security) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
  if (CreateDirectoryW(path.c_str(), &attributes) != FALSE) return 0;
  const DWORD error = GetLastError();
  const DWORD found = GetFileAttributesW(path.c_str());
  const bool folder = found != INVALID_FILE_ATTRIBUTES &&
                      (found & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return error == ERROR_ALREADY_EXISTS && folder ? 0 : error;
}

// Sets the folder's owner and access list, protected from inheritance.
[[nodiscard]] DWORD Protect(const std::wstring& path, void* security) {
  PSID owner = nullptr;
  PACL access = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (GetSecurityDescriptorOwner(security, &owner, &defaulted) == FALSE ||
      GetSecurityDescriptorDacl(security, &present, &access, &defaulted) ==
          FALSE) {
    return GetLastError();
  }
  std::wstring name = path;
  return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION |
                                   DACL_SECURITY_INFORMATION |
                                   PROTECTED_DACL_SECURITY_INFORMATION,
                               owner, nullptr, access, nullptr);
}

File OpenLog(const LogPaths& paths, DWORD access, DWORD disposition) {
  return File(CreateFileW(paths.log.c_str(), access, kShareAll, nullptr,
                          disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Whether the log starts with the UTF-8 mark, as every log the runner
// began does.
bool MarkedUtf8(const LogPaths& paths) {
  const File log = OpenLog(paths, GENERIC_READ, OPEN_EXISTING);
  std::string start(kUtf8Mark.size(), '\0');
  DWORD got = 0;
  return log &&
         ReadFile(log.get(), start.data(), DWORD{kUtf8Mark.size()}, &got,
                  nullptr) != FALSE &&
         start == kUtf8Mark;
}

}  // namespace

DWORD FindLogPaths(LogPaths& paths) {
  const std::wstring windows = FolderFrom(GetSystemWindowsDirectoryW);
  // Never a path from the root of the current drive.
  if (windows.empty()) return ERROR_PATH_NOT_FOUND;
  const std::wstring folder = windows + L"\\Logs\\ksthunk-filter";
  paths = {folder, folder + L"\\ksthunk-filter.log",
           folder + L"\\ksthunk-filter.lock"};
  return 0;
}

DWORD MakeLogFolder(const LogPaths& paths, DWORD& unprotected) {
  PSECURITY_DESCRIPTOR made = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kFolderAccess, SDDL_REVISION_1, &made, nullptr) == FALSE) {
    return GetLastError();
  }
  const LocalMemory security(made);
  const std::wstring logs = paths.folder.substr(0, paths.folder.rfind(L'\\'));
  if (const DWORD error = MakeFolder(logs, nullptr)) return error;
  // Made with its access list, so that nothing can be put in it first.
  if (const DWORD error = MakeFolder(paths.folder, made)) return error;
  unprotected = Protect(paths.folder, made);
  return 0;
}

DWORD TakeLock(const LogPaths& paths, int seconds, File& lock) {
  bool shared = false;
  for (int waited = 0;; ++waited) {
    // No sharing, not inherited, and gone when Windows closes it.
    lock = File(CreateFileW(
        paths.lock.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr));
    if (lock) return 0;
    const DWORD error = GetLastError();
    shared = shared || error == ERROR_SHARING_VIOLATION;
    const bool denied = error == ERROR_ACCESS_DENIED;
    const bool held = error == ERROR_SHARING_VIOLATION ||
                      (denied && (shared || waited < kDeniedSeconds));
    if (!held || waited >= seconds) {
      return shared ? ERROR_SHARING_VIOLATION : error;
    }
    Sleep(1000);
  }
}

DWORD RotateLog(const LogPaths& paths) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(paths.log.c_str(), GetFileExInfoStandard, &data) ==
      FALSE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;  // 0: no log yet
  }
  if (data.nFileSizeHigh == 0 && data.nFileSizeLow < kRotateAt &&
      (data.nFileSizeLow == 0 || MarkedUtf8(paths))) {
    return 0;  // one to go on with
  }
  const std::wstring old = paths.log + L".1";
  const DWORD replace = MOVEFILE_REPLACE_EXISTING;
  if (MoveFileExW(paths.log.c_str(), old.c_str(), replace) != FALSE) return 0;
  // A reader that holds the log without delete sharing blocks the rename:
  // then it is copied and emptied in place.
  const DWORD moveError = GetLastError();
  if (CopyFileW(paths.log.c_str(), old.c_str(), FALSE) == FALSE) {
    return moveError;
  }
  return OpenLog(paths, GENERIC_WRITE, TRUNCATE_EXISTING) ? 0 : GetLastError();
}

DWORD AppendToLog(const LogPaths& paths, const std::string& entry) {
  // Every sharing, so that a reader of the log never blocks a run.
  const File log =
      OpenLog(paths, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, OPEN_ALWAYS);
  LARGE_INTEGER size{};
  if (!log || GetFileSizeEx(log.get(), &size) == FALSE) return GetLastError();
  const std::string text =
      size.QuadPart == 0 ? std::string(kUtf8Mark) + entry : entry;
  DWORD written = 0;
  if (WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()),
                &written, nullptr) == FALSE) {
    return GetLastError();
  }
  return written == text.size() ? 0 : ERROR_WRITE_FAULT;
}
