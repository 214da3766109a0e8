// Rebuilds one list of the given shape and size once, for callgrind to count
// the instructions of RebuildWithEntry alone (--toggle-collect).
//   rebuild_instructions SHAPE SIZE
//   rebuild_instructions --list      (the shapes' names)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "multi_string.h"
#include "shapes.h"

int main(int argc, char** argv) {
  if (argc == 2 && argv[1] == std::string("--list")) {
    for (const Shape& shape : Shapes()) {
      std::printf("%s\n", shape.name);
    }
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: rebuild_instructions SHAPE SIZE\n");
    return 2;
  }
  for (const Shape& shape : Shapes()) {
    if (shape.name != std::string(argv[1])) {
      continue;
    }
    const std::string list = shape.make(std::strtoull(argv[2], nullptr, 10));
    std::vector<char> target(
        static_cast<std::size_t>(RebuiltListSize(list, 7)));
    std::size_t built = 0;
    const RebuildOutcome outcome =
        RebuildWithEntry(list, "ksthunk", "ksthunk", target, built);
    std::printf("%zu bytes, %s\n", list.size(),
                outcome == RebuildOutcome::Present ? "present" : "appended");
    return 0;
  }
  std::fprintf(stderr, "no shape %s\n", argv[1]);
  return 2;
}
