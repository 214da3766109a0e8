// Runs AddFilterEntry over the in-memory registry, capturing what it prints
// and watching what it allocates.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "allocation_watch.h"
#include "expected_output.h"
#include "fake_registry.h"
#include "filter_updater.h"

// Short enough to need no heap of their own, so that the allocations a run
// makes are the updater's alone.
inline const std::string kKeyPath = "Class\\Media";
inline const std::string kValueName = "UpperFilters";

inline std::string SetFailure(const std::string& path = kKeyPath) {
  return ValueFailure("Set", path);
}

inline std::string ReadFailure(const std::string& path = kKeyPath) {
  return ValueFailure("Read", path);
}

class UpdaterTest : public testing::Test {
 protected:
  void SetUp() override {
    fake_registry::Reset();
    fake_registry::AddKey(kKeyPath);
    fake_registry::AddKey(kThunkServicePath);
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
