#include "multi_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "list_model.h"

namespace {

std::vector<std::string> Walk(const std::string& bytes) {
  std::vector<std::string> entries;
  std::size_t offset = 0;
  std::string_view entry;
  while (NextEntry(bytes, offset, entry)) {
    entries.emplace_back(entry);
  }
  return entries;
}

// Rebuilds into a target of exactly RebuiltListSize() bytes, so that any
// write past it is caught by the sanitizers; returns the built bytes, or
// nothing when the list already holds ksthunk.
std::optional<std::string> Rebuild(const std::string& bytes,
                                   std::string_view entry = "ksthunk") {
  std::vector<char> target(
      static_cast<std::size_t>(RebuiltListSize(bytes, entry.size())));
  std::size_t built = 0;
  const RebuildOutcome outcome =
      RebuildWithEntry(bytes, "ksthunk", entry, target, built);
  if (outcome == RebuildOutcome::Present) {
    return std::nullopt;
  }
  EXPECT_EQ(outcome, RebuildOutcome::Appended);
  EXPECT_EQ(built, target.size());
  return std::string(target.data(), built);
}

using Entries = std::vector<std::string>;

TEST(WalkEntries, WellFormedListsYieldTheirEntriesInOrder) {
  EXPECT_EQ(Walk(WellFormedList({})), Entries{});
  EXPECT_EQ(Walk(WellFormedList({"ksthunk"})), Entries{"ksthunk"});
  EXPECT_EQ(Walk(WellFormedList({"zeta", "alpha", "zeta"})),
            (Entries{"zeta", "alpha", "zeta"}));
}

TEST(WalkEntries, EmptyEntriesInsideTheListAreYielded) {
  EXPECT_EQ(Walk(Bytes("a\0\0b\0\0", 6)), (Entries{"a", "", "b"}));
  EXPECT_EQ(Walk(Bytes("\0\0", 2)), Entries{""});
}

TEST(WalkEntries, StaysWithinBuffersThatAreNotWellFormed) {
  EXPECT_EQ(Walk(""), Entries{});
  EXPECT_EQ(Walk(Bytes("a\0", 2)), Entries{"a"});  // no final NUL
  EXPECT_EQ(Walk("a"), Entries{"a"});              // no NUL at all
  EXPECT_EQ(Walk(Bytes("ab\0cd", 5)), (Entries{"ab", "cd"}));
}

TEST(RebuildWithEntry, AppendsToWellFormedListsAtSizePlusLengthPlusOne) {
  EXPECT_EQ(Rebuild(WellFormedList({})), WellFormedList({"ksthunk"}));
  const std::string two = WellFormedList({"filter1", "filter2"});
  ASSERT_EQ(two.size(), 17u);
  const auto rebuilt = Rebuild(two);
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(rebuilt->size(), 25u);
  EXPECT_EQ(*rebuilt, WellFormedList({"filter1", "filter2", "ksthunk"}));
}

TEST(RebuildWithEntry, FindsKsthunkWhereverItStands) {
  EXPECT_FALSE(Rebuild(WellFormedList({"ksthunk", "b", "c"})));
  EXPECT_FALSE(Rebuild(WellFormedList({"a", "ksthunk", "c"})));
  EXPECT_FALSE(Rebuild(WellFormedList({"a", "b", "ksthunk"})));
  EXPECT_FALSE(Rebuild(Bytes("a\0ksthunk", 9)));  // last entry without NUL
  EXPECT_FALSE(Rebuild(Bytes("\0ksthunk\0\0", 10)));
}

TEST(RebuildWithEntry, OnlyAnExactEntryCounts) {
  for (const char* other : {"KsThunk", "KSTHUNK", "ksthunk2", " ksthunk",
                            "ksthunk ", "xksthunk", "kstkunk", "ksthun"}) {
    EXPECT_EQ(Rebuild(WellFormedList({other})),
              WellFormedList({other, "ksthunk"}))
        << other;
  }
  // A match that spans two entries is no entry.
  EXPECT_EQ(Rebuild(WellFormedList({"ks", "thunk"})),
            WellFormedList({"ks", "thunk", "ksthunk"}));
  EXPECT_EQ(Rebuild(WellFormedList({"ksthunkksthunk"})),
            WellFormedList({"ksthunkksthunk", "ksthunk"}));
}

TEST(RebuildWithEntry, KeepsEveryEntryInStoredOrder) {
  EXPECT_EQ(Rebuild(WellFormedList({"b", "a", "b", "a"})),
            WellFormedList({"b", "a", "b", "a", "ksthunk"}));
  EXPECT_EQ(Rebuild(Bytes("a\0\0b\0\0", 6)), Bytes("a\0\0b\0ksthunk\0\0", 14));
  EXPECT_EQ(Rebuild(WellFormedList({"irr\xE9"
                                    "cup\xA0\xFF"})),
            WellFormedList({"irr\xE9"
                            "cup\xA0\xFF",
                            "ksthunk"}));
}

TEST(RebuildWithEntry, TerminatesListsThatAreNotWellFormed) {
  EXPECT_EQ(Rebuild(""), WellFormedList({"ksthunk"}));
  EXPECT_EQ(Rebuild(Bytes("a\0", 2)), WellFormedList({"a", "ksthunk"}));
  EXPECT_EQ(Rebuild("a"), WellFormedList({"a", "ksthunk"}));
  EXPECT_EQ(Rebuild(Bytes("ab\0cd", 5)),
            WellFormedList({"ab", "cd", "ksthunk"}));
}

TEST(RebuildWithEntry, LooksForKsthunkWhateverTheNewEntry) {
  std::vector<char> target(64);
  std::size_t built = 0;
  const std::string list = WellFormedList({"ksthunk"});
  EXPECT_EQ(RebuildWithEntry(list, "ksthunk", "other", target, built),
            RebuildOutcome::Present);
  const std::string others = WellFormedList({"other"});
  EXPECT_EQ(RebuildWithEntry(others, "ksthunk", "other", target, built),
            RebuildOutcome::Appended);
  EXPECT_EQ(std::string(target.data(), built),
            WellFormedList({"other", "other"}));
}

TEST(RebuildWithEntry, RefusesATargetTooSmallAndWritesNothing) {
  const std::string list = WellFormedList({"a"});
  std::vector<char> target(
      static_cast<std::size_t>(RebuiltListSize(list, 7) - 1), 'x');
  std::size_t built = 99;
  EXPECT_EQ(RebuildWithEntry(list, "ksthunk", "ksthunk", target, built),
            RebuildOutcome::NoRoom);
  EXPECT_EQ(built, 0u);
  EXPECT_EQ(std::string(target.begin(), target.end()),
            std::string(target.size(), 'x'));
}

TEST(RebuiltListSize, CountsTheBytesEachShapeNeeds) {
  EXPECT_EQ(RebuiltListSize(WellFormedList({"a", "b"}), 7), 5u + 7 + 1);
  EXPECT_EQ(RebuiltListSize(WellFormedList({}), 7), 9u);
  EXPECT_EQ(RebuiltListSize(std::string(), 7), 9u);
  EXPECT_EQ(RebuiltListSize(Bytes("a\0", 2), 7), 2u + 7 + 2);
  EXPECT_EQ(RebuiltListSize(std::string("a"), 7), 1u + 7 + 3);
}

TEST(RebuiltListSize, DoesNotWrapAtThirtyTwoBits) {
  const std::string list = WellFormedList({"a"});
  EXPECT_EQ(RebuiltListSize(list, UINT32_MAX),
            std::uint64_t{UINT32_MAX} + 3 + 1);
}

TEST(SingleEntryList, IsTheEmptyListRebuilt) {
  EXPECT_EQ(RebuiltListSize(kEmptyList, 7), 9u);
  std::vector<char> target(9);
  std::size_t built = 0;
  EXPECT_EQ(RebuildWithEntry(kEmptyList, {}, "ksthunk", target, built),
            RebuildOutcome::Appended);
  EXPECT_EQ(built, 9u);
  EXPECT_EQ(std::string(target.begin(), target.end()),
            WellFormedList({"ksthunk"}));
  std::vector<char> small(8, 'x');
  EXPECT_EQ(RebuildWithEntry(kEmptyList, {}, "ksthunk", small, built),
            RebuildOutcome::NoRoom);
  EXPECT_EQ(std::string(small.begin(), small.end()), std::string(8, 'x'));
}

TEST(ContainsEntry, AcceptsOnlyWholeEntries) {
  const std::string list = WellFormedList({"a", "", "ksthunk2", "b"});
  EXPECT_TRUE(ContainsEntry(list, "a"));
  EXPECT_TRUE(ContainsEntry(list, ""));
  EXPECT_TRUE(ContainsEntry(list, "b"));
  EXPECT_FALSE(ContainsEntry(list, "ksthunk"));
  EXPECT_FALSE(ContainsEntry(WellFormedList({"a"}), ""));
  EXPECT_FALSE(ContainsEntry(list, std::string_view("a\0", 2)));
}

// The name at many offsets, whole and as near misses, in buffers of exactly
// the list's size (so that AddressSanitizer sees any read past the end),
// checked against the plain model of the layout.
TEST(ContainsEntry, AgreesWithTheModelAtEveryOffset) {
  const std::vector<std::string> shapes = {
      "ksthunk", "kksthunk", "ksthunkk", "Ksthunk", "ksthun", "k", ""};
  for (std::size_t before = 0; before < 40; ++before) {
    for (std::size_t after = 0; after < 40; after += 7) {
      for (const std::string& shape : shapes) {
        for (const bool finalNul : {true, false}) {
          std::vector<std::string> entries = {std::string(before, 'k'), shape};
          if (after > 0) {
            entries.emplace_back(after, 'k');
          }
          std::string bytes = ModelList(entries);
          if (!finalNul) {
            bytes.resize(bytes.size() - 2);  // no final NUL, no last NUL
          }
          const std::unique_ptr<char[]> exact(new char[bytes.size()]);
          std::memcpy(exact.get(), bytes.data(), bytes.size());
          const std::vector<std::string> model = ModelEntries(bytes);
          const bool expected =
              std::find(model.begin(), model.end(), "ksthunk") != model.end();
          EXPECT_EQ(ContainsEntry({exact.get(), bytes.size()}, "ksthunk"),
                    expected)
              << before << " " << shape << " " << after << " " << finalNul;
        }
      }
    }
  }
}

}  // namespace
