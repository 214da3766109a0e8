// Runs AddFilterEntry over the in-memory registry, capturing what it prints
// and watching what it allocates.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "allocation_watch.h"
#include "fake_registry.h"
#include "filter_updater.h"

// Short enough to need no heap of their own, so that the allocations a run
// makes are the updater's alone.
inline const std::string kKeyPath = "Class\\Media";
inline const std::string kValueName = "UpperFilters";

// Constants, not strings built at start-up: the order in which inline
// variables of several files are initialised is not one every toolchain
// keeps (clang's for MinGW does not).
inline constexpr char kListingHead[] =
    "\n**************************\nCurrent "
    "VALUES\n**************************\n\n";
inline constexpr char kListingTail[] = "\n**************************\n\n";
inline constexpr char kPresent[] = "\n***Ksthunk already Present***\n\n";
inline constexpr char kNotPresent[] = "The UpperFilters Key is not Present\n";

inline std::string Listing(std::initializer_list<std::string> lines) {
  std::string text = kListingHead;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text + kListingTail;
}

inline std::string SetFailure(const std::string& path = kKeyPath) {
  return "Could not Set the Value SubKey " + path +
         " Value UpperFilters New Value ksthunk size 14\n";
}

inline std::string ReadFailure(const std::string& path = kKeyPath) {
  return "Could not Read the Value SubKey " + path +
         " Value UpperFilters New Value ksthunk size 14\n";
}

class UpdaterTest : public testing::Test {
 protected:
  void SetUp() override {
    fake_registry::Reset();
    fake_registry::AddKey(kKeyPath);
  }

  // Every run must leave no key open and no block unreleased.
  void TearDown() override {
    EXPECT_EQ(fake_registry::OpenHandleCount(), 0);
    EXPECT_EQ(fake_registry::BadCloseCount(), 0);
    EXPECT_EQ(allocation_watch::Unreleased(), 0);
  }

  std::string Run(std::string path = kKeyPath, int failAllocationAt = 0) {
    std::string name = kValueName;
    std::string entry = "ksthunk";
    testing::internal::CaptureStdout();
    allocation_watch::Start(failAllocationAt);
    AddFilterEntry(std::move(path), std::move(name), std::move(entry));
    allocation_watch::Stop();
    return testing::internal::GetCapturedStdout();
  }

  static void Store(const std::string& bytes,
                    std::uint32_t type = kRegMultiSz) {
    fake_registry::PutValue(kKeyPath, kValueName, type, bytes);
  }

  static std::string Stored() {
    const auto value = fake_registry::GetValue(kKeyPath, kValueName);
    return value ? value->bytes : "<absent>";
  }
};
