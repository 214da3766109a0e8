// A plain model of the list layout, for checking the real code against and
// for building lists in tests: split at NULs, the final NUL not an entry, a
// last entry without NUL ending at the end of the bytes.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

inline std::vector<std::string> ModelEntries(const std::string& bytes) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t nul = bytes.find('\0', start);
    if (nul == std::string::npos) {
      entries.push_back(bytes.substr(start));
      break;
    }
    const bool finalNul = nul == start && nul + 1 == bytes.size();
    if (!finalNul) {
      entries.push_back(bytes.substr(start, nul - start));
    }
    start = nul + 1;
  }
  return entries;
}

inline std::string ModelList(const std::vector<std::string>& entries) {
  std::string bytes;
  for (const std::string& entry : entries) {
    bytes += entry;
    bytes += '\0';
  }
  return bytes + '\0';
}

// The well-formed list of `entries`: each with its NUL, then the final NUL.
inline std::string WellFormedList(
    std::initializer_list<std::string_view> entries) {
  return ModelList(std::vector<std::string>(entries.begin(), entries.end()));
}

// Bytes written with embedded NULs, e.g. Bytes("a\0b", 3).
inline std::string Bytes(const char* text, std::size_t size) {
  return std::string(text, size);
}
