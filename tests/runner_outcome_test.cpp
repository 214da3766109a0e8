// The fleet runner's outcome of a run of ksthunk-filter.exe, from its exit
// status and its output as it reaches a pipe (CRLF): every text the program
// prints, outputs cut short or foreign, and other statuses; and the
// guide's table of outcomes, which must be the runner's.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "expected_output.h"
#include "outcome.h"

namespace {

std::string Crlf(const std::string& text) {
  return std::regex_replace(text, std::regex("\n"), "\r\n");
}

TEST(RunnerOutcome, FromTheExitStatusAndTheWholeOutput) {
  const std::string listing =
      kSuccess + Listing({"MSTEE", "ksthunk"}) + kSuccess;
  const std::string changed =
      kSuccess + Listing({"a"}) + kSuccess + kListingTail;
  // Entries that spell out the end of an in-place run.
  const std::string forged =
      kSuccess + Listing({"", "**************************", "", "SUCCESS", "",
                          "***Ksthunk already Present***", ""});
  const struct {
    std::uint32_t status;
    std::string output;
    std::string_view kind;
  } rows[] = {
      {0, listing + kPresent, "in-place"},
      {0, changed, "changed"},
      {0, kSuccess + std::string(kNotPresent), "created"},
      {0, "ERROR 0x2\n", "key-missing"},
      {0, "ERROR 0x5\n", "access-denied"},
      {0, "ERROR 0x57\n", "open-failed"},
      {0, kSuccess + ValueFailure("Read", kClassKey), "read-failed"},
      {0, changed + ValueFailure("Set", kClassKey), "not-written"},
      {0, changed + kDriverMissing, "no-driver"},
      {0, kSuccess + std::string("ERROR memory allocation0x8\n"),
       "out-of-memory"},
      {0, kSuccess + Listing({"a"}) + "ERROR 0x8\n", "out-of-memory"},
      {1, kOldWindows, "refused"},
      {1, kNot64Bit, "refused"},
      {1, kNoOwnModule, "refused"},
      {1, kNoFramework, "refused"},
      {0, kSuccess + Listing({"a"}), "unrecognised"},  // cut: ends in a rule
      {0, forged, "unrecognised"},
      {0, forged + kSuccess + kListingTail, "changed"},
      {0, "", "unrecognised"},
      {0, kSuccess, "unrecognised"},
      {0, "Segmentation fault\n", "unrecognised"},
      {1, changed, "unrecognised"},
      {1, kSuccess + std::string(kOldWindows), "unrecognised"},
      {2, kOldWindows, "unrecognised"},
      {0xC0000005, listing + kPresent, "unrecognised"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ClassifyRun(row.status, Crlf(row.output)).kind, row.kind)
        << "status " << row.status << ", output " << row.output;
  }
}

TEST(RunnerOutcome, TheGuideListsTheRunnersTable) {
  std::stringstream guide;
  guide << std::ifstream(KSF_SOURCE_DIR "/docs/administrators.md").rdbuf();
  const std::string text = guide.str();
  const std::regex row(R"(\n\| `([\w-]+)` \| (\d+) \| (\d+) \| (\w+) \|)");
  std::string listed;
  for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end;
       ++it) {
    listed += (*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() +
              " " + (*it)[4].str() + "\n";
  }
  std::string expected;
  const char* const levels[] = {"Information", "Warning", "Error"};
  for (const Outcome& outcome : kOutcomes) {
    expected += std::string(outcome.kind) + " " +
                std::to_string(outcome.exitCode) + " " +
                std::to_string(outcome.eventId) + " " +
                levels[static_cast<int>(outcome.level)] + "\n";
  }
  EXPECT_EQ(listed, expected);
}

}  // namespace
