// The lists the benchmarks run on: a typical one beside shapes chosen to be
// hard for the walk and the comparison with "ksthunk" (many short entries,
// near misses). Each is a well-formed list of about `size` bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Shape {
  const char* name;
  std::string (*make)(std::size_t size);
};

namespace shapes {

// Entries repeated until the list is about `size` bytes.
inline std::string Repeat(std::size_t size, const std::string& entry) {
  std::string list;
  while (list.size() + entry.size() + 2 <= size) {
    list += entry;
    list += '\0';
  }
  return list + '\0';
}

// Entries of 8 to 24 characters built by `letters(i, length)`.
template <typename Letters>
std::string Varied(std::size_t size, Letters letters) {
  std::string list;
  for (std::size_t i = 0; list.empty() || list.size() + 26 <= size; ++i) {
    list += letters(i, 8 + i % 17);
    list += '\0';
  }
  return list + '\0';
}

inline std::string Typical(std::size_t size) {
  return Varied(size, [](std::size_t i, std::size_t length) {
    std::string entry = "filter" + std::to_string(i * 7919);
    entry.resize(length, 'x');
    return entry;
  });
}

}  // namespace shapes

inline const std::vector<Shape>& Shapes() {
  using namespace shapes;
  static const std::vector<Shape> all = {
      {"typical", Typical},
      {"one-long-k-entry",
       [](std::size_t size) {
         return std::string(size - 2, 'k') + '\0' + '\0';
       }},
      {"k-entries-8-to-24",
       [](std::size_t size) {
         return Varied(size, [](std::size_t, std::size_t length) {
           return std::string(length, 'k');
         });
       }},
      {"one-letter-entries",
       [](std::size_t size) { return Repeat(size, "k"); }},
      {"only-nuls", [](std::size_t size) { return std::string(size, '\0'); }},
      {"ksthun", [](std::size_t size) { return Repeat(size, "ksthun"); }},
      {"ksthunkk", [](std::size_t size) { return Repeat(size, "ksthunkk"); }},
      {"Ksthunk", [](std::size_t size) { return Repeat(size, "Ksthunk"); }},
      {"space-ksthunk",
       [](std::size_t size) { return Repeat(size, " ksthunk"); }},
      {"ksthunx", [](std::size_t size) { return Repeat(size, "ksthunx"); }},
      {"ksthunk-last",
       [](std::size_t size) {
         std::string list = Typical(size - 8);
         list.pop_back();
         return list + "ksthunk" + '\0' + '\0';
       }},
  };
  return all;
}
