#include "registry.h"

#include <windows.h>

#include <cstring>

#include "heap_buffer.h"

static_assert(kStatusNoUnicodeTranslation == ERROR_NO_UNICODE_TRANSLATION);

namespace {

HKEY ToHkey(RegistryKey key) { return static_cast<HKEY>(key); }

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The UTF-16 that the narrow set call would store for `text`: it converts
// with the ANSI code page, as MultiByteToWideChar does with CP_ACP. Text that
// does not convert is no faithful read.
LONG ToUtf16(const char* text, DWORD size, HeapBuffer* wide) {
  const int length = static_cast<int>(size);
  const int characters =
      size == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (size != 0 && characters <= 0) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  if (!AllocateBuffer(static_cast<std::size_t>(characters) * sizeof(wchar_t),
                      wide)) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  const bool converted =
      characters == 0 ||
      MultiByteToWideChar(CP_ACP, 0, text, length,
                          reinterpret_cast<wchar_t*>(wide->data.get()),
                          characters) == characters;
  return converted ? ERROR_SUCCESS : ERROR_NO_UNICODE_TRANSLATION;
}

// Reads the value's bytes and type as the registry holds them, through the
// wide-character call, which converts nothing.
LONG QueryStored(HKEY key, const char* name, DWORD* type, HeapBuffer* stored) {
  HeapBuffer wideName;
  const std::size_t nameSize = std::strlen(name) + 1;  // with its NUL
  LONG status = ToUtf16(name, static_cast<DWORD>(nameSize), &wideName);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  const auto* valueName = reinterpret_cast<const wchar_t*>(wideName.data.get());
  DWORD size = 0;
  status = RegQueryValueExW(key, valueName, nullptr, type, nullptr, &size);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  if (!AllocateBuffer(size, stored)) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  status = RegQueryValueExW(key, valueName, nullptr, type,
                            reinterpret_cast<BYTE*>(stored->data.get()), &size);
  if (status == ERROR_SUCCESS) {
    stored->size = size;  // the bytes stored, never more than the room
  }
  return status;
}

bool SameBytes(const char* data, std::size_t size, const HeapBuffer& stored) {
  return size == stored.size &&
         (size == 0 || std::memcmp(data, stored.data.get(), size) == 0);
}

// Whether the `size` bytes that the narrow query put in `data` are what the
// registry holds: converted back, they give the stored UTF-16 exactly. A
// character that the ANSI code page lacks fails this, and so does a value
// that changed since the narrow read. A value of any other type fails too:
// Windows reads a class's filters as UTF-16 strings, so its bytes were never
// a list, and rewritten they would name drivers that do not exist.
LONG CheckFaithful(HKEY key, const char* name, const char* data, DWORD size) {
  DWORD type = 0;
  HeapBuffer stored;
  LONG status = QueryStored(key, name, &type, &stored);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  if (!IsStringType(type)) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  HeapBuffer wide;
  status = ToUtf16(data, size, &wide);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  return SameBytes(wide.data.get(), wide.size, stored)
             ? ERROR_SUCCESS
             : ERROR_NO_UNICODE_TRANSLATION;
}

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
  LONG status = RegQueryValueExA(ToHkey(key), name, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data), &room);
  *size = room;
  if (status == ERROR_SUCCESS && data != nullptr) {
    status = CheckFaithful(ToHkey(key), name, data, room);
  }
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
