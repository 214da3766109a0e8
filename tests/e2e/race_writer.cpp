// Measurement helper: another program that edits the class's UpperFilters
// list while ksthunk-filter.exe runs, as a driver installer does. Until the
// file STOP exists it reads the list through the wide calls, drops ksthunk
// (so that every run of the tool has something to write), appends an entry
// of its own ("w0", "w1", ...), writes the list back and sleeps INTERVAL
// milliseconds. It then prints how many entries it appended.
//   race_writer INTERVAL STOP
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "expected_output.h"

namespace {

constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

// The list's entries; false when the read failed (the list grew between
// the two queries), so that a failed read is never written back.
bool ReadEntries(HKEY key, std::vector<std::wstring>& entries) {
  DWORD size = 0;
  if (RegQueryValueExW(key, L"UpperFilters", nullptr, nullptr, nullptr,
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, L"UpperFilters", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  data.resize(size / sizeof(wchar_t));
  entries.clear();
  std::size_t start = 0;
  while (start < data.size()) {
    const std::size_t end = data.find(L'\0', start);
    const std::wstring entry =
        data.substr(start, end == std::wstring::npos ? end : end - start);
    if (!entry.empty()) {
      entries.push_back(entry);
    }
    if (end == std::wstring::npos) {
      break;
    }
    start = end + 1;
  }
  return true;
}

void WriteEntries(HKEY key, const std::vector<std::wstring>& entries) {
  std::wstring data;
  for (const std::wstring& entry : entries) {
    data += entry;
    data += L'\0';
  }
  data += L'\0';
  RegSetValueExW(key, L"UpperFilters", 0, REG_MULTI_SZ,
                 reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: race_writer INTERVAL STOP\n");
    return 2;
  }
  const auto interval = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassKey, 0, kAccess, &key) !=
      ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot open the class key\n");
    return 2;
  }
  unsigned appended = 0;
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
    std::vector<std::wstring> entries;
    if (!ReadEntries(key, entries)) {
      continue;
    }
    std::vector<std::wstring> kept;
    for (const std::wstring& entry : entries) {
      if (entry != L"ksthunk") {
        kept.push_back(entry);
      }
    }
    kept.push_back(L"w" + std::to_wstring(appended++));
    WriteEntries(key, kept);
    Sleep(interval);
  }
  RegCloseKey(key);
  std::printf("%u\n", appended);
  return 0;
}
