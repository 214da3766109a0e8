#include "startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expected_output.h"
#include "fake_platform.h"
#include "fake_registry.h"
#include "framework.h"
#include "list_model.h"

namespace {

using Probes = std::vector<std::string>;

const Probes kAllChecks = {
    "version 6.0.0.0", "module kernel32", "entry IsWow64Process", "process",
    "wow64",           "module <self>",   "command line",         "framework"};

struct Outcome {
  int status;
  std::string output;
};

Outcome RunWith(const fake_platform::Answers& answers) {
  fake_platform::Reset(answers);
  testing::internal::CaptureStdout();
  const int status = RunProgram();
  return {status, testing::internal::GetCapturedStdout()};
}

class StartupTest : public testing::Test {
 protected:
  void SetUp() override {
    fake_registry::Reset();
    fake_registry::AddKey(kThunkServicePath);
  }
  void TearDown() override { EXPECT_EQ(fake_registry::OpenHandleCount(), 0); }

  static void ExpectRegistryUntouched() {
    EXPECT_TRUE(fake_registry::Calls().empty());
  }
};

TEST_F(StartupTest, AnOldWindowsIsRefusedBeforeTheWow64Test) {
  const Outcome outcome =
      RunWith({.versionSupported = false, .underWow64 = false});
  EXPECT_EQ(outcome.output, kOldWindows);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(fake_platform::Probes(), Probes{"version 6.0.0.0"});
  ExpectRegistryUntouched();
}

TEST_F(StartupTest, WithoutWow64TheProgramRefusesToGoOn) {
  for (const auto& answers :
       {fake_platform::Answers{.underWow64 = false},
        fake_platform::Answers{.hasIsWow64Process = false}}) {
    SetUp();
    const Outcome outcome = RunWith(answers);
    EXPECT_EQ(outcome.output, kNot64Bit);
    EXPECT_EQ(outcome.status, 1);
    ExpectRegistryUntouched();
  }
  // A missing entry point is never called.
  EXPECT_EQ(
      fake_platform::Probes(),
      (Probes{"version 6.0.0.0", "module kernel32", "entry IsWow64Process"}));
}

TEST_F(StartupTest, AMissingOwnModuleIsRefusedInWindows1252) {
  const Outcome outcome = RunWith({.hasOwnModule = false});
  EXPECT_EQ(outcome.output, kNoOwnModule);
  EXPECT_EQ(outcome.output.size(), 48u);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_FALSE(fake_platform::Framework());
  ExpectRegistryUntouched();
}

TEST_F(StartupTest, AFailedFrameworkInitialisationIsRefusedInWindows1252) {
  const Outcome outcome = RunWith({.frameworkResult = 0});
  EXPECT_EQ(outcome.output, kNoFramework);
  EXPECT_EQ(outcome.output.size(), 53u);
  EXPECT_EQ(outcome.output[20], '\xA0');
  EXPECT_EQ(outcome.status, 1);
  ExpectRegistryUntouched();
}

TEST_F(StartupTest, TheFrameworkGetsTheModuleAndTheCommandLineUnchanged) {
  const std::string commandLine =
      "\"C:\\ksthunk-filter.exe\" /q --add other \"a b\"";
  RunWith({.commandLine = commandLine});
  EXPECT_EQ(fake_platform::Probes(), kAllChecks);
  const auto framework = fake_platform::Framework();
  ASSERT_TRUE(framework);
  EXPECT_EQ(framework->instance, fake_platform::OwnModule());
  EXPECT_EQ(framework->previous, nullptr);
  EXPECT_EQ(framework->commandLine, commandLine);
  EXPECT_EQ(framework->showState, 0);
}

TEST_F(StartupTest, ThePassingChecksHandTheFixedTargetToTheUpdaterOnce) {
  fake_registry::AddKey(kClassKey);
  fake_registry::PutValue(kClassKey, "UpperFilters", kRegMultiSz,
                          WellFormedList({"other"}));
  const Outcome outcome = RunWith({});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output,
            kSuccess + Listing({"other"}) + kSuccess + kListingTail);
  EXPECT_EQ(fake_registry::GetValue(kClassKey, "UpperFilters")->bytes,
            WellFormedList({"other", "ksthunk"}));
}

TEST_F(StartupTest, TheStatusIsZeroWhateverTheUpdaterMet) {
  const Outcome missingKey = RunWith({});
  EXPECT_EQ(missingKey.output, "ERROR 0x2\n");
  EXPECT_EQ(missingKey.status, 0);

  SetUp();
  fake_registry::AddKey(kClassKey);
  fake_registry::FailOperation(fake_registry::Op::Set, 5);
  const Outcome failedWrite = RunWith({});
  EXPECT_EQ(failedWrite.output, kSuccess + std::string(kNotPresent) +
                                    ValueFailure("Set", kClassKey));
  EXPECT_EQ(failedWrite.status, 0);
}

TEST(Framework, InitialisesOnlyAnExistingApplicationObject) {
  char module;
  EXPECT_EQ(InitialiseApplication(&module, nullptr, "cmd", 0), 0);
  Application application;
  EXPECT_EQ(CurrentApplication(), &application);
  EXPECT_EQ(InitialiseApplication(nullptr, nullptr, "cmd", 0), 0);
  EXPECT_NE(InitialiseApplication(&module, nullptr, "cmd /x", 0), 0);
}

}  // namespace
