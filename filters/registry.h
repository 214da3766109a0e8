// The registry operations the filter updater needs, as plain functions.
// The Windows build links them over advapi32; the tests link an in-memory
// registry in their place. Every status is the system's own code, 0 for
// success.
#pragma once

#include <cstdint>

using RegistryKey = void*;
using SystemStatus = std::uint32_t;

inline constexpr SystemStatus kStatusSuccess = 0;
// ERROR_FILE_NOT_FOUND: no such key, or no such value.
inline constexpr SystemStatus kStatusNotFound = 2;
// ERROR_NO_UNICODE_TRANSLATION: a stored string does not survive the narrow
// read.
inline constexpr SystemStatus kStatusNoUnicodeTranslation = 1113;
inline constexpr std::uint32_t kRegMultiSz = 7;

// The HKEY_LOCAL_MACHINE root handle.
RegistryKey RegistryLocalMachine();

// Opens `path` under `root`; on success `*key` is the opened handle.
SystemStatus RegistryOpenKey(RegistryKey root, const char* path,
                             std::uint32_t access, RegistryKey* key);

// Queries the value `name` without asking for its type. With `data` null it
// reports the value's size in `*size`; otherwise `*size` goes in as the room
// in `data` and comes out as the bytes stored there. A successful data query
// is a faithful one: the bytes, written back as they are through the narrow
// set call, store the same entries. Where the ANSI code page cannot hold a
// character of a stored string, or the value is of a type other than the
// three string types (its bytes were never a list of names), the query
// fails with kStatusNoUnicodeTranslation.
SystemStatus RegistryQueryValue(RegistryKey key, const char* name, char* data,
                                std::uint32_t* size);

SystemStatus RegistrySetValue(RegistryKey key, const char* name,
                              std::uint32_t type, const char* data,
                              std::uint32_t size);

void RegistryCloseKey(RegistryKey key);

// The calling thread's last system error code.
std::uint32_t LastSystemError();
