// Builds multi-string byte images for tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The well-formed list of `entries`: each with its NUL, then the final NUL.
inline std::string WellFormedList(std::initializer_list<std::string_view> entries) {
  std::string bytes;
  for (std::string_view entry : entries) {
    bytes += entry;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

// Bytes written with embedded NULs, e.g. Bytes("a\0b", 3).
inline std::string Bytes(const char* text, std::size_t size) {
  return std::string(text, size);
}
