// The class's filter lists read whole: their entries, and those that name a
// driver without a service key, which stops every device of the class.
// Portable: the Windows side reads the values and asks for the keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FilterList {
  std::wstring value;  // "UpperFilters" or "LowerFilters"
  bool present = false;
  std::uint32_t type = 0;
  std::vector<std::wstring> entries;
  std::vector<std::wstring> missing;  // entries without a service key
};

// Whether a value of this type is a list at all (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ); the bytes of any other type were never one.
bool IsList(std::uint32_t type);

// The entries of a value's UTF-16 data: a REG_MULTI_SZ split at its NULs,
// a REG_SZ or REG_EXPAND_SZ whole, up to its first NUL; empty entries
// skipped; nothing for any other type. Never reads past `data`.
std::vector<std::wstring> SplitEntries(std::uint32_t type,
                                       std::wstring_view data);

// Whether `name` could be a key's name (a name that cannot has no service
// key): not empty, no backslash, at most 255 characters.
bool CanBeKeyName(std::wstring_view name);

// "filters without a driver: UpperFilters A, B; LowerFilters C", at most
// `most` characters: the names past that are counted ("and N more").
// Empty when every entry has its driver.
std::wstring MissingDrivers(const std::vector<FilterList>& lists,
                            std::size_t most);

// One line for each value: its entries, and those without a driver.
std::wstring Describe(const FilterList& list);
