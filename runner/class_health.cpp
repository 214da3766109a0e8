#include <algorithm>

#include "health.h"
#include "runner_win32.h"

namespace {

constexpr const wchar_t* kClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
    L"{4D36E96C-E325-11CE-BFC1-08002BE10318}";
constexpr const wchar_t* kServices = L"SYSTEM\\CurrentControlSet\\Services\\";

// The value read whole through the wide call, its entries, and those whose
// driver is missing.
FilterList ReadList(HKEY key, const wchar_t* name) {
  FilterList list;
  list.value = name;
  std::wstring data;
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = ERROR_MORE_DATA;
  while (status == ERROR_MORE_DATA) {  // it may grow between two calls
    data.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(data.size()) * DWORD{sizeof(wchar_t)};
    status = RegQueryValueExW(key, name, nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
  }
  if (status == ERROR_SUCCESS) {
    data.resize(std::min<std::size_t>(size / sizeof(wchar_t), data.size()));
    list.present = true;
    list.type = type;
    list.entries = SplitEntries(type, data);
  }
  for (const std::wstring& entry : list.entries) {
    if (!DriverInstalled(entry)) {
      list.missing.push_back(entry);
    }
  }
  return list;
}

}  // namespace

bool DriverInstalled(const std::wstring& name) {
  HKEY key = nullptr;
  const LSTATUS status =
      CanBeKeyName(name)
          ? RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kServices + name).c_str(), 0,
                          KEY_QUERY_VALUE, &key)
          : ERROR_FILE_NOT_FOUND;
  const Key opened(key);
  // A key that exists but refuses this run is installed all the same.
  return status != ERROR_FILE_NOT_FOUND;
}

DWORD ReadClassLists(std::vector<FilterList>& lists) {
  HKEY key = nullptr;
  if (const LSTATUS status =
          RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassKey, 0,
                        KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key)) {
    return static_cast<DWORD>(status);
  }
  const Key opened(key);
  lists = {ReadList(key, L"UpperFilters"), ReadList(key, L"LowerFilters")};
  return 0;
}
