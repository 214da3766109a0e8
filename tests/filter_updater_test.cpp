// What the fault matrix's model does not look at: the arguments of each
// registry call, two runs in a row, and the root key for an empty path.
// Every path's output, stored value, call sequence and write size is the
// matrix's (fault_matrix_test.cpp).
#include "filter_updater.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "allocation_watch.h"
#include "expected_output.h"
#include "fake_registry.h"
#include "list_bytes.h"

namespace {

using fake_registry::Call;
using fake_registry::Calls;
using fake_registry::Op;

// Short enough to need no heap of its own, so that the allocations a run
// makes are the updater's alone.
const std::string kKeyPath = "Class\\Media";
const std::string kValueName = "UpperFilters";
const std::string kTwoFilters = WellFormedList({"filter1", "filter2"});

class UpdaterTest : public testing::Test {
 protected:
  void SetUp() override {
    fake_registry::Reset();
    fake_registry::AddKey(kKeyPath);
    fake_registry::AddKey(kThunkServicePath);
  }

  static std::string Run(std::string path = kKeyPath) {
    testing::internal::CaptureStdout();
    allocation_watch::Start();
    AddFilterEntry(std::move(path), kValueName, "ksthunk");
    allocation_watch::Stop();
    return testing::internal::GetCapturedStdout();
  }

  static std::string Stored(const std::string& path = kKeyPath) {
    const auto value = fake_registry::GetValue(path, kValueName);
    return value ? value->bytes : "<absent>";
  }
};

TEST_F(UpdaterTest, AppendsWithTheExactCallArguments) {
  fake_registry::PutValue(kKeyPath, kValueName, kRegMultiSz, kTwoFilters);
  EXPECT_EQ(Run(), "SUCCESS\n" + Listing({"filter1", "filter2"}) + "SUCCESS\n" +
                       kListingTail);
  EXPECT_EQ(Stored(), WellFormedList({"filter1", "filter2", "ksthunk"}));

  // The key in full access, then the driver's service key read-only, both
  // in the 32-bit view; the value read twice, the second time right before
  // the write; everything on the key's own handle.
  const std::vector<Call>& calls = Calls();
  ASSERT_EQ(calls.size(), 9u);
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
  EXPECT_EQ(allocation_watch::Allocations(), 3);
}

TEST_F(UpdaterTest, ASecondRunFindsWhatTheFirstAdded) {
  fake_registry::PutValue(kKeyPath, kValueName, kRegMultiSz, kTwoFilters);
  Run();
  EXPECT_EQ(Run(), "SUCCESS\n" + Listing({"filter1", "filter2", "ksthunk"}) +
                       "SUCCESS\n" + kPresent);
  EXPECT_EQ(Stored(), WellFormedList({"filter1", "filter2", "ksthunk"}));
}

TEST_F(UpdaterTest, AnEmptyPathUsesTheRootAndClosesIt) {
  fake_registry::PutValue("", kValueName, kRegMultiSz, WellFormedList({"x"}));
  EXPECT_EQ(Run(""), "SUCCESS\n" + Listing({"x"}) + "SUCCESS\n" + kListingTail);
  EXPECT_EQ(Stored(""), WellFormedList({"x", "ksthunk"}));
  ASSERT_EQ(Calls().size(), 8u);
  EXPECT_EQ(Calls()[2].op, Op::Open);  // the driver's service key
  EXPECT_EQ(Calls()[7].op, Op::Close);
  for (const std::size_t i : {0u, 1u, 4u, 5u, 6u, 7u}) {
    EXPECT_EQ(Calls()[i].key, RegistryLocalMachine()) << i;
  }
  EXPECT_EQ(fake_registry::OpenHandleCount(), 0);
  EXPECT_EQ(fake_registry::BadCloseCount(), 0);
}

}  // namespace
