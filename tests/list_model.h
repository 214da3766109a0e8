// A plain model of the list layout, for checking the real code against:
// split at NULs, the final NUL not an entry, a last entry without NUL
// ending at the end of the bytes.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> ModelEntries(const std::string& bytes) {
  std::vector<std::string> entries;
  std::string entry;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\0') {
      entry += bytes[i];
      continue;
    }
    const bool finalNul = entry.empty() && i + 1 == bytes.size();
    if (!finalNul) {
      entries.push_back(entry);
    }
    entry.clear();
  }
  if (!entry.empty()) {
    entries.push_back(entry);
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
