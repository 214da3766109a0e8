// Builds multi-string byte images for tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "list_model.h"

// The well-formed list of `entries`: each with its NUL, then the final NUL.
inline std::string WellFormedList(
    std::initializer_list<std::string_view> entries) {
  return ModelList(std::vector<std::string>(entries.begin(), entries.end()));
}

// Bytes written with embedded NULs, e.g. Bytes("a\0b", 3).
inline std::string Bytes(const char* text, std::size_t size) {
  return std::string(text, size);
}
