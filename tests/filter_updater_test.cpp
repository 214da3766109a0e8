// What the fault matrix leaves to others: every message the updater prints,
// byte for byte; the registry calls of an append and of a create; two runs
// in a row; and the root key for an empty path.
#include "filter_updater.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "allocation_watch.h"
#include "expected_output.h"
#include "fake_registry.h"
#include "invariant.h"
#include "list_model.h"

namespace {

using fake_registry::Call;
using fake_registry::Calls;
using fake_registry::Op;
using fake_registry::Value;
using invariant::kKeyPath;

const std::string kValueName = "UpperFilters";
const std::string kTwoFilters = WellFormedList({"filter1", "filter2"});
const std::string kAppended =
    kSuccess + Listing({"filter1", "filter2"}) + kSuccess + kListingTail;

TEST(UpdaterOutput, EachMessageByteForByte) {
  const Value two{kRegMultiSz, kTwoFilters};
  const std::string created = kSuccess + std::string(kNotPresent);
  const std::string unread = kSuccess + ValueFailure("Read", kKeyPath);
  const std::string unset = ValueFailure("Set", kKeyPath);
  const struct {
    invariant::Scenario scenario;
    std::string output;
  } rows[] = {
      {{.value = two}, kAppended},
      {{.value = Value{kRegMultiSz, WellFormedList({"ksthunk"})}},
       kSuccess + Listing({"ksthunk"}) + kSuccess + kPresent},
      {{}, created},
      {{.keyExists = false}, "ERROR 0x2\n"},
      {{.value = two, .failures = {{Op::Open, 0xEA}}}, "ERROR 0xea\n"},
      {{.value = two, .failures = {{Op::SizeQuery, 5}}}, unread},
      {{.value = two, .failures = {{Op::DataQuery, 5}}}, unread},
      {{.value = two, .failures = {{Op::Set, 5}}}, kAppended + unset},
      {{.failures = {{Op::Set, 5}}}, created + unset},
      {{.driverInstalled = false, .value = two}, kAppended + kDriverMissing},
      {{.value = two, .failAllocationAt = 1, .lastError = 0x5AF},
       kSuccess + std::string("ERROR memory allocation0x5af\n")},
      {{.value = two, .failAllocationAt = 2, .lastError = 8},
       kSuccess + Listing({"filter1", "filter2"}) + "ERROR 0x8\n"},
      {{.failAllocationAt = 1, .lastError = 8}, created + "ERROR 0x8\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(invariant::Run(row.scenario).output, row.output);
  }
}

// The registry calls of an append and of a create: the key opened in full
// access in the 32-bit view, the value's size queried (and, for an append,
// its data with the room reported), the list written as REG_MULTI_SZ of its
// size, and the key closed, last. What comes between is the updater's own.
TEST(UpdaterCalls, OfAnAppendAndOfACreate) {
  const std::optional<Value> two = Value{kRegMultiSz, kTwoFilters};
  for (const auto& [value, written] : {std::pair{two, 25u}, {{}, 9u}}) {
    invariant::Run({.value = value});
    const std::vector<Call>& calls = Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].op, Op::Open);
    EXPECT_EQ(calls[0].path, kKeyPath);
    EXPECT_EQ(calls[0].access, 0xF023Fu);
    EXPECT_EQ(calls[1].op, Op::SizeQuery);
    EXPECT_TRUE(!value ||
                (calls[2].op == Op::DataQuery && calls[2].sizeIn == 17));
    const Call& write = calls[calls.size() - 2];
    EXPECT_EQ(write.op, Op::Set);
    EXPECT_EQ(write.type, 7u);
    EXPECT_EQ(write.sizeIn, written);
    EXPECT_EQ(calls.back().op, Op::Close);
  }
}

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

TEST_F(UpdaterTest, ASecondRunFindsWhatTheFirstAdded) {
  fake_registry::PutValue(kKeyPath, kValueName, kRegMultiSz, kTwoFilters);
  Run();
  EXPECT_EQ(Run(), kSuccess + Listing({"filter1", "filter2", "ksthunk"}) +
                       kSuccess + kPresent);
  EXPECT_EQ(Stored(), WellFormedList({"filter1", "filter2", "ksthunk"}));
}

TEST_F(UpdaterTest, AnEmptyPathUsesTheRoot) {
  fake_registry::PutValue("", kValueName, kRegMultiSz, WellFormedList({"x"}));
  EXPECT_EQ(Run(""), kSuccess + Listing({"x"}) + kSuccess + kListingTail);
  EXPECT_EQ(Stored(""), WellFormedList({"x", "ksthunk"}));
  for (const Call& call : Calls()) {  // no key opened but the driver's
    EXPECT_TRUE(call.op != Op::Open || call.path == kThunkServicePath);
  }
  EXPECT_EQ(fake_registry::OpenHandleCount(), 0);
  EXPECT_EQ(fake_registry::BadCloseCount(), 0);
}

}  // namespace
