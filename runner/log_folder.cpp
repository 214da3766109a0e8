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

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using Security = std::unique_ptr<void, LocalFreer>;

Security FolderSecurity() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(
      kFolderAccess, SDDL_REVISION_1, &descriptor, nullptr);
  return Security(descriptor);
}

bool MakeFolder(const std::wstring& path, void* security) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
  return CreateDirectoryW(path.c_str(), &attributes) != FALSE ||
         GetLastError() == ERROR_ALREADY_EXISTS;
}

Handle OpenLog(const LogPaths& paths, DWORD access, DWORD disposition) {
  const HANDLE file = CreateFileW(paths.log.c_str(), access, kShareAll, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return Handle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// Whether the log starts with the UTF-8 mark, as every log the runner began
// does (the cmd wrapper wrote the ANSI code page).
bool MarkedUtf8(const LogPaths& paths) {
  const Handle log = OpenLog(paths, GENERIC_READ, OPEN_EXISTING);
  std::string start(kUtf8Mark.size(), '\0');
  DWORD got = 0;
  return log &&
         ReadFile(log.get(), start.data(), static_cast<DWORD>(start.size()),
                  &got, nullptr) != FALSE &&
         start == kUtf8Mark;
}

}  // namespace

LogPaths FindLogPaths() {
  std::wstring folder(MAX_PATH, L'\0');
  const UINT length = GetSystemWindowsDirectoryW(folder.data(), MAX_PATH);
  folder.resize(length < MAX_PATH ? length : 0);
  folder += L"\\Logs\\ksthunk-filter";
  return {folder, folder + L"\\ksthunk-filter.log",
          folder + L"\\ksthunk-filter.lock"};
}

std::uint32_t MakeLogFolder(const LogPaths& paths) {
  // Made with its access list, so that nothing can be put in it first.
  const Security security = FolderSecurity();
  const std::wstring logs = paths.folder.substr(0, paths.folder.rfind(L'\\'));
  return security && MakeFolder(logs, nullptr) &&
                 MakeFolder(paths.folder, security.get())
             ? 0
             : GetLastError();
}

std::uint32_t ProtectLogFolder(const LogPaths& paths) {
  const Security security = FolderSecurity();
  PSID owner = nullptr;
  PACL access = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!security ||
      GetSecurityDescriptorOwner(security.get(), &owner, &defaulted) == FALSE ||
      GetSecurityDescriptorDacl(security.get(), &present, &access,
                                &defaulted) == FALSE) {
    return GetLastError();
  }
  std::wstring folder = paths.folder;
  return SetNamedSecurityInfoW(folder.data(), SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION |
                                   DACL_SECURITY_INFORMATION |
                                   PROTECTED_DACL_SECURITY_INFORMATION,
                               owner, nullptr, access, nullptr);
}

Handle TakeLock(const LogPaths& paths, int seconds, std::uint32_t& error) {
  for (int waited = 0;; ++waited) {
    // No sharing, not inherited, and gone when Windows closes it.
    const HANDLE lock =
        CreateFileW(paths.lock.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (lock != INVALID_HANDLE_VALUE) {
      return Handle(lock);
    }
    // Access denied while the last holder's lock is being deleted.
    error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
        waited >= seconds) {
      return nullptr;
    }
    Sleep(1000);
  }
}

bool RemoveWrapperLeftovers(const LogPaths& paths) {
  const std::wstring run = paths.folder + L"\\run\\";
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((run + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return GetFileAttributesW(run.c_str()) == INVALID_FILE_ATTRIBUTES;
  }
  do {
    DeleteFileW((run + found.cFileName).c_str());
  } while (FindNextFileW(search, &found) != FALSE);
  FindClose(search);
  return RemoveDirectoryW(run.c_str()) != FALSE;
}

std::uint32_t RotateLog(const LogPaths& paths) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  const std::wstring old = paths.log + L".1";
  if (GetFileAttributesExW(paths.log.c_str(), GetFileExInfoStandard, &data) ==
          FALSE ||
      (data.nFileSizeHigh == 0 && data.nFileSizeLow < kRotateAt &&
       (data.nFileSizeLow == 0 || MarkedUtf8(paths))) ||
      MoveFileExW(paths.log.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING) !=
          FALSE) {
    return 0;
  }
  // A reader that holds the log without delete sharing blocks the rename:
  // then it is copied and emptied in place.
  const DWORD moveError = GetLastError();
  if (CopyFileW(paths.log.c_str(), old.c_str(), FALSE) == FALSE) {
    return moveError;
  }
  return OpenLog(paths, GENERIC_WRITE, TRUNCATE_EXISTING) ? 0 : GetLastError();
}

bool AppendToLog(const LogPaths& paths, const std::string& entry, int tries) {
  for (int tried = 1;; ++tried) {
    // Every sharing, so that a reader of the log never blocks a run.
    const Handle log =
        OpenLog(paths, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, OPEN_ALWAYS);
    LARGE_INTEGER size{};
    const std::string text =
        log && GetFileSizeEx(log.get(), &size) != FALSE && size.QuadPart == 0
            ? std::string(kUtf8Mark) + entry
            : entry;
    DWORD written = 0;
    if (log &&
        WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()),
                  &written, nullptr) != FALSE &&
        written == text.size()) {
      return true;
    }
    if (tried >= tries) {
      return false;
    }
    Sleep(1000);
  }
}
