#include "registry.h"

#include <windows.h>

namespace {

HKEY ToHkey(RegistryKey key) { return static_cast<HKEY>(key); }

}  // namespace

RegistryKey RegistryLocalMachine() { return HKEY_LOCAL_MACHINE; }

SystemStatus RegistryOpenKey(RegistryKey root, const char* path,
                             std::uint32_t access, RegistryKey* key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExA(ToHkey(root), path, 0, access, &opened);
  if (status == ERROR_SUCCESS) {
    *key = opened;
  }
  return static_cast<SystemStatus>(status);
}

SystemStatus RegistryQueryValue(RegistryKey key, const char* name, char* data,
                                std::uint32_t* size) {
  DWORD room = *size;
  const LONG status = RegQueryValueExA(ToHkey(key), name, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(data), &room);
  *size = room;
  return static_cast<SystemStatus>(status);
}

SystemStatus RegistrySetValue(RegistryKey key, const char* name,
                              std::uint32_t type, const char* data,
                              std::uint32_t size) {
  const LONG status = RegSetValueExA(ToHkey(key), name, 0, type,
                                     reinterpret_cast<const BYTE*>(data), size);
  return static_cast<SystemStatus>(status);
}

void RegistryCloseKey(RegistryKey key) { RegCloseKey(ToHkey(key)); }

std::uint32_t LastSystemError() { return GetLastError(); }
