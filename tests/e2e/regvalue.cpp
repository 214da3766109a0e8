// Test helper: seeds and dumps the raw bytes of the class key's UpperFilters
// value, in the same 32-bit registry view the program uses.
//   regvalue create-key
//   regvalue seed TYPE HEX     (HEX may be "-" for no bytes)
//   regvalue seed-file TYPE FILE
//   regvalue dump              prints "nokey", "absent" or "TYPE HEX"
// The narrow calls convert strings between the ANSI code page and the UTF-16
// that the registry stores; seed-wide and dump-wide take and give that
// UTF-16 as it is, through the wide-character calls:
//   regvalue seed-wide TYPE HEX
//   regvalue dump-wide
// written prints the key's last write time, which any write of a value
// moves on:
//   regvalue written
// deny-access gives the key an empty access list, so that opening it is
// refused (status 5) as for a user without administrator rights, then runs
// PROGRAM on the same output and returns its exit status. (Wine forgets an
// access list once its server stops, so PROGRAM must run meanwhile.)
//   regvalue deny-access PROGRAM
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "expected_output.h"

namespace {

constexpr char kValue[] = "UpperFilters";
constexpr wchar_t kWideValue[] = L"UpperFilters";
constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

HKEY CreateKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kClassKey, 0, nullptr, 0, kAccess,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot create the key\n");
    std::exit(2);
  }
  return key;
}

std::string FromHex(const char* hex) {
  std::string bytes;
  if (std::strcmp(hex, "-") == 0) {
    return bytes;
  }
  for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
    const char pair[3] = {hex[i], hex[i + 1], '\0'};
    bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
  }
  return bytes;
}

std::string FromFile(const char* path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path, "rb")) {
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      bytes.append(chunk, got);
    }
    std::fclose(file);
  } else {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(2);
  }
  return bytes;
}

int Seed(const char* type, const std::string& bytes, bool wide) {
  HKEY key = CreateKey();
  const auto kind = static_cast<DWORD>(std::strtoul(type, nullptr, 0));
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const auto size = static_cast<DWORD>(bytes.size());
  const LONG status = wide
                          ? RegSetValueExW(key, kWideValue, 0, kind, data, size)
                          : RegSetValueExA(key, kValue, 0, kind, data, size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 2;
}

int DenyAccessAndRun(const char* program) {
  HKEY key = CreateKey();
  SECURITY_DESCRIPTOR descriptor;
  ACL empty;
  const bool built =
      InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      InitializeAcl(&empty, sizeof empty, ACL_REVISION) &&
      SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
  const LONG status =
      built ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor)
            : ERROR_INVALID_PARAMETER;
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot set the key's access list\n");
    return 2;
  }
  std::string commandLine = "\"" + std::string(program) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start %s\n", program);
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 2;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(exitCode);
}

LONG Query(HKEY key, bool wide, DWORD* type, BYTE* data, DWORD* size) {
  return wide ? RegQueryValueExW(key, kWideValue, nullptr, type, data, size)
              : RegQueryValueExA(key, kValue, nullptr, type, data, size);
}

int Dump(bool wide) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassKey, 0, kAccess, &key) !=
      ERROR_SUCCESS) {
    std::printf("nokey\n");
    return 0;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (Query(key, wide, &type, nullptr, &size) != ERROR_SUCCESS) {
    std::printf("absent\n");
    RegCloseKey(key);
    return 0;
  }
  std::string bytes(size, '\0');
  Query(key, wide, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
  RegCloseKey(key);
  std::printf("%lu ", static_cast<unsigned long>(type));
  for (DWORD i = 0; i < size && i < bytes.size(); ++i) {
    std::printf("%02x",
                static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
  }
  std::printf("\n");
  return 0;
}

int Written() {
  HKEY key = nullptr;
  FILETIME written{};
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassKey, 0, kAccess, &key) !=
          ERROR_SUCCESS ||
      RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr,
                       &written) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot read the key's last write time\n");
    return 2;
  }
  RegCloseKey(key);
  std::printf("%lu %lu\n", static_cast<unsigned long>(written.dwHighDateTime),
              static_cast<unsigned long>(written.dwLowDateTime));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "create-key" && argc == 2) {
    RegCloseKey(CreateKey());
    return 0;
  }
  if ((command == "seed" || command == "seed-wide") && argc == 4) {
    return Seed(argv[2], FromHex(argv[3]), command == "seed-wide");
  }
  if (command == "seed-file" && argc == 4) {
    return Seed(argv[2], FromFile(argv[3]), false);
  }
  if (command == "deny-access" && argc == 3) {
    return DenyAccessAndRun(argv[2]);
  }
  if ((command == "dump" || command == "dump-wide") && argc == 2) {
    return Dump(command == "dump-wide");
  }
  if (command == "written" && argc == 2) {
    return Written();
  }
  std::fprintf(stderr,
               "usage: regvalue create-key | seed[-wide] TYPE HEX | seed-file "
               "TYPE FILE | dump[-wide] | written | deny-access PROGRAM\n");
  return 2;
}
