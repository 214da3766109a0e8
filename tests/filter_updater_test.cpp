#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "list_bytes.h"
#include "multi_string.h"
#include "updater_fixture.h"

namespace {

using fake_registry::Call;
using fake_registry::CallOps;
using fake_registry::Calls;
using fake_registry::Op;
using Ops = std::vector<Op>;

const std::string kTwoFilters = WellFormedList({"filter1", "filter2"});
const std::string kAppendedOutput =
    "SUCCESS\n" + Listing({"filter1", "filter2"}) + "SUCCESS\n" + kListingTail;

TEST_F(UpdaterTest, AppendsToOtherFiltersWithTheExactCalls) {
  Store(kTwoFilters);
  EXPECT_EQ(Run(), kAppendedOutput);
  EXPECT_EQ(Stored(), WellFormedList({"filter1", "filter2", "ksthunk"}));
  EXPECT_EQ(fake_registry::GetValue(kKeyPath, kValueName)->type, 7u);

  // The driver's service key is looked up read-only, and the value read
  // again, right before the write.
  ASSERT_EQ(CallOps(),
            (Ops{Op::Open, Op::SizeQuery, Op::DataQuery, Op::Open, Op::Close,
                 Op::SizeQuery, Op::DataQuery, Op::Set, Op::Close}));
  const std::vector<Call>& calls = Calls();
  EXPECT_EQ(calls[0].key, RegistryLocalMachine());
  EXPECT_EQ(calls[0].path, kKeyPath);
  EXPECT_EQ(calls[0].access, 0xF023Fu);
  EXPECT_EQ(calls[3].key, RegistryLocalMachine());
  EXPECT_EQ(calls[3].path, kThunkServicePath);
  EXPECT_EQ(calls[3].access, 0x20219u);
  const RegistryKey opened = calls[1].key;
  EXPECT_NE(opened, RegistryLocalMachine());
  for (const std::size_t i : {1u, 2u, 5u, 6u, 7u, 8u}) {
    EXPECT_EQ(calls[i].key, opened) << i;
    EXPECT_EQ(calls[i].name, i == 8 ? "" : kValueName) << i;
  }
  EXPECT_EQ(calls[1].sizeIn, 0u);
  EXPECT_EQ(calls[2].sizeIn, 17u);
  EXPECT_EQ(calls[5].sizeIn, 0u);
  EXPECT_EQ(calls[6].sizeIn, 17u);
  EXPECT_EQ(calls[7].type, 7u);
  EXPECT_EQ(calls[7].sizeIn, 17u + 7 + 1);
  EXPECT_EQ(allocation_watch::Allocations(), 3);
}

TEST_F(UpdaterTest, FindsKsthunkAndWritesNothing) {
  const std::pair<std::string, std::string> cases[] = {
      {WellFormedList({"ksthunk"}), "ksthunk\n"},
      {WellFormedList({"a", "ksthunk", "b"}), "a\nksthunk\nb\n"},
      {WellFormedList({"a", "ksthunk"}), "a\nksthunk\n"}};
  for (const auto& [list, lines] : cases) {
    SetUp();
    Store(list);
    EXPECT_EQ(Run(), "SUCCESS\n" + (kListingHead + lines) + kListingTail +
                         "SUCCESS\n" + kPresent);
    EXPECT_EQ(Stored(), list);
    EXPECT_EQ(CallOps(),
              (Ops{Op::Open, Op::SizeQuery, Op::DataQuery, Op::Close}));
  }
}

TEST_F(UpdaterTest, ASecondRunFindsWhatTheFirstAdded) {
  Store(kTwoFilters);
  Run();
  EXPECT_EQ(Run(), "SUCCESS\n" + Listing({"filter1", "filter2", "ksthunk"}) +
                       "SUCCESS\n" + kPresent);
  EXPECT_EQ(Stored(), WellFormedList({"filter1", "filter2", "ksthunk"}));
}

TEST_F(UpdaterTest, AppendsAfterANameInAnotherLetterCase) {
  Store(WellFormedList({"KsThunk"}));
  EXPECT_EQ(Run(),
            "SUCCESS\n" + Listing({"KsThunk"}) + "SUCCESS\n" + kListingTail);
  EXPECT_EQ(Stored(), WellFormedList({"KsThunk", "ksthunk"}));
}

TEST_F(UpdaterTest, CreatesAnAbsentValueHoldingKsthunkAlone) {
  EXPECT_EQ(Run(), std::string("SUCCESS\n") + kNotPresent);
  EXPECT_EQ(Stored(), WellFormedList({"ksthunk"}));
  // The driver's service key, then the value still absent, right before
  // the write.
  EXPECT_EQ(CallOps(), (Ops{Op::Open, Op::SizeQuery, Op::Open, Op::Close,
                            Op::SizeQuery, Op::Set, Op::Close}));
  EXPECT_EQ(Calls()[2].path, kThunkServicePath);
  EXPECT_EQ(Calls()[5].type, 7u);
  EXPECT_EQ(Calls()[5].sizeIn, 9u);
}

TEST_F(UpdaterTest, OnlyANotFoundSizeQueryCreatesTheValue) {
  fake_registry::FailOperation(Op::SizeQuery, 2);
  EXPECT_EQ(Run(), std::string("SUCCESS\n") + kNotPresent);
  EXPECT_EQ(Stored(), WellFormedList({"ksthunk"}));

  // Any other failure may hide stored filters: they are never replaced.
  for (const std::uint32_t status : {5u, 6u, 0xEAu, 0xFFFFFFFFu}) {
    SetUp();
    Store(kTwoFilters);
    fake_registry::FailOperation(Op::SizeQuery, status);
    EXPECT_EQ(Run(), "SUCCESS\n" + ReadFailure());
    EXPECT_EQ(Stored(), kTwoFilters);
    EXPECT_EQ(CallOps(), (Ops{Op::Open, Op::SizeQuery, Op::Close}));
  }
}

TEST_F(UpdaterTest, EmptyAndZeroSizedValuesGetKsthunk) {
  for (const std::string& bytes : {WellFormedList({}), std::string()}) {
    SetUp();
    Store(bytes);
    EXPECT_EQ(Run(), "SUCCESS\n" + Listing({}) + "SUCCESS\n" + kListingTail);
    EXPECT_EQ(Stored(), WellFormedList({"ksthunk"}));
    EXPECT_EQ(Calls()[2].sizeIn, bytes.size());
  }
}

TEST_F(UpdaterTest, ListsEmptyEntriesAndMendsAMissingFinalNul) {
  Store(Bytes("a\0\0b", 4));
  EXPECT_EQ(Run(),
            "SUCCESS\n" + Listing({"a", "", "b"}) + "SUCCESS\n" + kListingTail);
  EXPECT_EQ(Stored(), Bytes("a\0\0b\0ksthunk\0\0", 14));
}

TEST_F(UpdaterTest, TheStoredTypeIsNeitherAskedForNorChecked) {
  Store(WellFormedList({"a"}), 1);
  Run();
  EXPECT_EQ(Stored(), WellFormedList({"a", "ksthunk"}));
  EXPECT_EQ(fake_registry::GetValue(kKeyPath, kValueName)->type, 7u);
}

TEST_F(UpdaterTest, AnOpenFailurePrintsItsStatusAlone) {
  EXPECT_EQ(Run("Missing\\Key"), "ERROR 0x2\n");
  for (const std::uint32_t status : {5u, 0xEAu, 0xFFFFFFFFu}) {
    SetUp();
    fake_registry::FailOperation(Op::Open, status);
    char expected[32];
    std::snprintf(expected, sizeof expected, "ERROR 0x%x\n", status);
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(CallOps(), Ops{Op::Open});
  }
}

TEST_F(UpdaterTest, AnEmptyPathUsesTheRootAndClosesIt) {
  fake_registry::PutValue("", kValueName, kRegMultiSz, WellFormedList({"x"}));
  EXPECT_EQ(Run(""), "SUCCESS\n" + Listing({"x"}) + "SUCCESS\n" + kListingTail);
  EXPECT_EQ(fake_registry::GetValue("", kValueName)->bytes,
            WellFormedList({"x", "ksthunk"}));
  EXPECT_EQ(CallOps(), (Ops{Op::SizeQuery, Op::DataQuery, Op::Open, Op::Close,
                            Op::SizeQuery, Op::DataQuery, Op::Set, Op::Close}));
  for (const std::size_t i : {0u, 1u, 2u, 4u, 5u, 6u, 7u}) {
    EXPECT_EQ(Calls()[i].key, RegistryLocalMachine()) << i;
  }
}

TEST_F(UpdaterTest, AFailedWriteIsReported) {
  fake_registry::FailOperation(Op::Set, 5);
  EXPECT_EQ(Run(), std::string("SUCCESS\n") + kNotPresent + SetFailure());
  Store(kTwoFilters);
  EXPECT_EQ(Run(), kAppendedOutput + SetFailure());
  EXPECT_EQ(Stored(), kTwoFilters);
}

TEST_F(UpdaterTest, AFailedReadNeverLeadsToAWrite) {
  Store(kTwoFilters);
  fake_registry::FailOperation(Op::DataQuery, 5);
  EXPECT_EQ(Run(), "SUCCESS\n" + ReadFailure());
  EXPECT_EQ(Stored(), kTwoFilters);
  EXPECT_EQ(CallOps(),
            (Ops{Op::Open, Op::SizeQuery, Op::DataQuery, Op::Close}));
}

TEST_F(UpdaterTest, AValueThatGrewBetweenTheQueriesIsLeftAlone) {
  Store(kTwoFilters);
  const std::string grown = WellFormedList({"filter1", "filter2", "filter3"});
  fake_registry::ChangeBeforeCall(2, [&grown] {
    fake_registry::PutValue(kKeyPath, kValueName, kRegMultiSz, grown);
  });
  EXPECT_EQ(Run(), "SUCCESS\n" + ReadFailure());
  EXPECT_EQ(Stored(), grown);
}

TEST_F(UpdaterTest, AValueThatShrankIsRebuiltFromWhatWasStored) {
  Store(kTwoFilters);
  fake_registry::ChangeBeforeCall(2, [] {
    fake_registry::PutValue(kKeyPath, kValueName, kRegMultiSz,
                            WellFormedList({"f"}));
  });
  EXPECT_EQ(Run(), "SUCCESS\n" + Listing({"f"}) + "SUCCESS\n" + kListingTail);
  EXPECT_EQ(Stored(), WellFormedList({"f", "ksthunk"}));
}

TEST_F(UpdaterTest, ASizeQueryReportingMoreRoomUsesTheBytesStored) {
  Store(kTwoFilters);
  fake_registry::ReportExtraSize(9);
  EXPECT_EQ(Run(), kAppendedOutput);
  EXPECT_EQ(Calls()[2].sizeIn, 17u + 9);
  EXPECT_EQ(Calls()[7].sizeIn, 17u + 8);
}

TEST_F(UpdaterTest, AllocationFailuresStopBeforeAnyWrite) {
  fake_registry::SetLastSystemError(8);
  Store(kTwoFilters);
  EXPECT_EQ(Run(kKeyPath, 1), "SUCCESS\nERROR memory allocation0x8\n");
  EXPECT_EQ(Run(kKeyPath, 2),
            "SUCCESS\n" + Listing({"filter1", "filter2"}) + "ERROR 0x8\n");
  EXPECT_EQ(Stored(), kTwoFilters);

  SetUp();
  fake_registry::SetLastSystemError(8);
  EXPECT_EQ(Run(kKeyPath, 1),
            std::string("SUCCESS\n") + kNotPresent + "ERROR 0x8\n");
  EXPECT_EQ(Stored(), "<absent>");
  EXPECT_EQ(CallOps(),
            (Ops{Op::Open, Op::SizeQuery, Op::Open, Op::Close, Op::Close}));
}

TEST_F(UpdaterTest, ASizeNearFourGibibytesIsAnAllocationFailure) {
  Store(kTwoFilters);
  fake_registry::SetLastSystemError(8);
  fake_registry::ReportSize(0xFFFFFFF9u);
  EXPECT_EQ(Run(), "SUCCESS\nERROR memory allocation0x8\n");
  EXPECT_EQ(Stored(), kTwoFilters);
}

TEST_F(UpdaterTest, MakesTheFewestRegistryCallsOnEachPath) {
  const auto count = [](Op op) {
    const Ops ops = CallOps();
    return std::count(ops.begin(), ops.end(), op);
  };
  // Append: the key and the driver's service key opened and closed, the
  // value read twice (the second time right before the write), one write.
  Store(kTwoFilters);
  Run();
  EXPECT_EQ(Calls().size(), 9u);
  EXPECT_EQ(count(Op::Open), 2);
  EXPECT_EQ(count(Op::Close), 2);
  EXPECT_EQ(count(Op::SizeQuery), 2);
  EXPECT_EQ(count(Op::DataQuery), 2);
  EXPECT_EQ(count(Op::Set), 1);
  // Present: open, one read, close.
  SetUp();
  Store(WellFormedList({"ksthunk"}));
  Run();
  EXPECT_EQ(Calls().size(), 4u);
  EXPECT_EQ(count(Op::Set), 0);
  // Create: no data query.
  SetUp();
  Run();
  EXPECT_EQ(Calls().size(), 7u);
  EXPECT_EQ(count(Op::DataQuery), 0);
}

// Without the driver's service key, neither the append nor the create
// writes; a list that holds ksthunk already is listed as ever.
TEST_F(UpdaterTest, WritesNothingWhenTheDriverIsNotInstalled) {
  fake_registry::Reset();
  fake_registry::AddKey(kKeyPath);
  EXPECT_EQ(Run(), std::string("SUCCESS\n") + kNotPresent +
                       "Could not Find the Driver ksthunk\n");
  EXPECT_EQ(Stored(), "<absent>");
  Store(kTwoFilters);
  EXPECT_EQ(Run(), kAppendedOutput + "Could not Find the Driver ksthunk\n");
  EXPECT_EQ(Stored(), kTwoFilters);
  Store(WellFormedList({"ksthunk"}));
  EXPECT_EQ(Run(), "SUCCESS\n" + Listing({"ksthunk"}) + "SUCCESS\n" + kPresent);
}

}  // namespace
