// Arbitrary bytes through the walk and the rebuild, checked against the
// plain model of the layout: every read and write stays in bounds (the
// sanitizers watch), the walk yields the model's entries, the rebuilt list
// is well formed with every old entry kept in order, and Present comes back
// exactly when an entry equals ksthunk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "list_model.h"
#include "multi_string.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A heap copy of exactly `size` bytes, so that any read past it is caught.
  const std::vector<char> list(data, data + size);
  const std::span<const char> bytes(list.data(), list.size());
  const std::string text(list.begin(), list.end());
  const std::vector<std::string> model = ModelEntries(text);

  std::vector<std::string> walked;
  std::size_t offset = 0;
  std::string_view entry;
  while (NextEntry(bytes, offset, entry)) {
    walked.emplace_back(entry);
  }
  Require(walked == model);

  bool present = false;
  for (const std::string& e : model) {
    present = present || e == "ksthunk";
  }
  Require(ContainsEntry(bytes, "ksthunk") == present);

  const std::uint64_t room = RebuiltListSize(bytes, 7);
  std::vector<char> target(static_cast<std::size_t>(room));
  std::size_t built = 0;
  const RebuildOutcome outcome =
      RebuildWithEntry(bytes, "ksthunk", "ksthunk", target, built);
  if (present) {
    Require(outcome == RebuildOutcome::Present);
    return 0;
  }
  Require(outcome == RebuildOutcome::Appended);
  std::vector<std::string> amended = model;
  amended.push_back("ksthunk");
  Require(std::string(target.data(), built) == ModelList(amended));
  Require(built == room);
  if (ModelList(model) == text) {
    Require(built == size + 7 + 1);  // S + L + 1 for a well-formed list
  }

  std::vector<char> small(static_cast<std::size_t>(room) - 1);
  Require(RebuildWithEntry(bytes, "ksthunk", "ksthunk", small, built) ==
          RebuildOutcome::NoRoom);
  return 0;
}
