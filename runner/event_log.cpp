#include <array>
#include <cwchar>

#include "runner_win32.h"

namespace {

constexpr const wchar_t* kSource = L"ksthunk-filter";
constexpr const wchar_t* kSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
    L"ksthunk-filter";
// eventcreate's message file shows the text given for IDs 1 to 1000; where
// the 1.0.0 wrapper ran, eventcreate registered the source so already.
constexpr const wchar_t* kMessageFile =
    L"%SystemRoot%\\System32\\EventCreate.exe";

[[nodiscard]] DWORD SetValue(HKEY key, const wchar_t* name, DWORD type,
                             const void* data, std::size_t size) {
  return static_cast<DWORD>(RegSetValueExW(key, name, 0, type,
                                           static_cast<const BYTE*>(data),
                                           static_cast<DWORD>(size)));
}

// As eventcreate registers it, CustomSource included: without it,
// eventcreate would refuse the source later. One that exists stays.
[[nodiscard]] DWORD RegisterSource() {
  HKEY created = nullptr;
  DWORD disposition = 0;
  if (const LSTATUS status =
          RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &created, &disposition)) {
    return static_cast<DWORD>(status);
  }
  const Key key(created);
  if (disposition != REG_CREATED_NEW_KEY) return 0;
  const DWORD types =
      EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  const DWORD custom = 1;
  if (const DWORD error =
          SetValue(key.get(), L"EventMessageFile", REG_EXPAND_SZ, kMessageFile,
                   (std::wcslen(kMessageFile) + 1) * sizeof(wchar_t))) {
    return error;
  }
  if (const DWORD error = SetValue(key.get(), L"TypesSupported", REG_DWORD,
                                   &types, sizeof types)) {
    return error;
  }
  return SetValue(key.get(), L"CustomSource", REG_DWORD, &custom,
                  sizeof custom);
}

}  // namespace

DWORD WriteEvent(std::uint16_t eventId, EventLevel level,
                 const std::wstring& text) {
  if (const DWORD error = RegisterSource()) {
    return error;
  }
  const EventSource source(RegisterEventSourceW(nullptr, kSource));
  std::array<const wchar_t*, 1> strings{text.c_str()};
  const WORD type = level == EventLevel::Information ? EVENTLOG_INFORMATION_TYPE
                    : level == EventLevel::Warning   ? EVENTLOG_WARNING_TYPE
                                                     : EVENTLOG_ERROR_TYPE;
  if (!source || ReportEventW(source.get(), type, 0, eventId, nullptr, 1, 0,
                              strings.data(), nullptr) == FALSE) {
    return GetLastError();
  }
  return 0;
}
