#include <array>
#include <cwchar>

#include "runner_win32.h"

namespace {

constexpr const wchar_t* kSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
    L"ksthunk-filter";
// eventcreate's message file shows the text given for IDs 1 to 1000; where
// the cmd wrapper ran, eventcreate registered the source so already.
constexpr const wchar_t* kMessageFile =
    L"%SystemRoot%\\System32\\EventCreate.exe";

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// As eventcreate registers it, CustomSource included: without it,
// eventcreate would refuse the source later. One that exists stays.
LSTATUS RegisterSource() {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, &disposition);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  if (disposition == REG_CREATED_NEW_KEY) {
    const auto size = (std::wcslen(kMessageFile) + 1) * sizeof(wchar_t);
    status = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(kMessageFile),
                            static_cast<DWORD>(size));
    if (status == ERROR_SUCCESS) {
      status = SetDword(key, L"TypesSupported",
                        EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                            EVENTLOG_INFORMATION_TYPE);
    }
    if (status == ERROR_SUCCESS) {
      status = SetDword(key, L"CustomSource", 1);
    }
  }
  RegCloseKey(key);
  return status;
}

}  // namespace

std::uint32_t WriteEvent(std::uint16_t eventId, EventLevel level,
                         const std::wstring& text) {
  if (const LSTATUS status = RegisterSource(); status != ERROR_SUCCESS) {
    return static_cast<std::uint32_t>(status);
  }
  const HANDLE source = RegisterEventSourceW(nullptr, L"ksthunk-filter");
  std::array<const wchar_t*, 1> strings{text.c_str()};
  const WORD type = level == EventLevel::Information ? EVENTLOG_INFORMATION_TYPE
                    : level == EventLevel::Warning   ? EVENTLOG_WARNING_TYPE
                                                     : EVENTLOG_ERROR_TYPE;
  const bool reported =
      source != nullptr && ReportEventW(source, type, 0, eventId, nullptr, 1, 0,
                                        strings.data(), nullptr) != FALSE;
  const DWORD error = reported ? 0 : GetLastError();
  if (source != nullptr) {
    DeregisterEventSource(source);
  }
  return error;
}
