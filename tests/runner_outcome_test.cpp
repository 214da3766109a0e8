// The fleet runner's outcome of a run of ksthunk-filter.exe, from its exit
// status and its output as it reaches a pipe (CRLF): every text the program
// prints, outputs cut short or foreign, and other statuses; and the
// guide's table of outcomes, which must be the runner's; the entries of the
// class's filter lists and the warning that names those without a driver.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "expected_output.h"
#include "health.h"
#include "outcome.h"

#ifdef _WIN32
#include <windows.h>
#endif

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
    EXPECT_EQ(OutcomeOf(ClassifyRun(row.status, Crlf(row.output))).name,
              row.kind)
        << "status " << row.status << ", output " << row.output;
  }
}

// The guide's table is the runner's, with each code as a console shows it.
TEST(RunnerOutcome, TheGuideListsTheRunnersTable) {
  std::stringstream guide;
  guide << std::ifstream(KSF_SOURCE_DIR "/docs/administrators.md").rdbuf();
  const std::string text = guide.str();
  const std::regex row(
      R"(\n\| `([\w-]+)` \| (\d+) \| (\S+) \| (\d+) \| (\w+) \|)");
  std::string listed;
  for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end;
       ++it) {
    listed += (*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() +
              " " + (*it)[4].str() + " " + (*it)[5].str() + "\n";
  }
  std::string expected;
  const char* const levels[] = {"Information", "Warning", "Error"};
  for (const Outcome& outcome : kOutcomes) {
    std::array<char, 16> shown{"\xE2\x80\x94"};  // the HRESULT, or a dash
    if (outcome.exitCode != 0) {
      std::snprintf(shown.data(), shown.size(), "0x8007%04X",
                    unsigned{outcome.exitCode});
    }
    expected += std::string(outcome.name) + " " +
                std::to_string(outcome.exitCode) + " " + shown.data() + " " +
                std::to_string(outcome.eventId) + " " +
                levels[static_cast<int>(outcome.level)] + "\n";
#ifdef _WIN32  // each failure has a message (Wine's stands in for Windows')
    std::array<wchar_t, 512> message{};
    EXPECT_TRUE(outcome.level != EventLevel::Error ||
                FormatMessageW(
                    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                    nullptr, outcome.exitCode, 0, message.data(), 512,
                    nullptr) > 0)
        << outcome.name;
#endif
  }
  EXPECT_EQ(listed, expected);
}

TEST(RunnerHealth, EntriesNamesAndTheWarning) {
  using namespace std::string_literals;
  const struct {
    std::uint32_t type;
    std::wstring data;
    std::vector<std::wstring> entries;
  } rows[] = {
      {7, L"a\0\0b\0\0"s, {L"a", L"b"}},  // empty entries skipped
      {7, L"a\0b"s, {L"a", L"b"}},        // to the end of the data, no further
      {7, L""s, {}},
      {1, L"ksthunk\0junk"s, {L"ksthunk"}},  // a REG_SZ up to its NUL
      {2, L"%x%"s, {L"%x%"}},
      {3, L"a\0b\0\0"s, {}},  // REG_BINARY, REG_DWORD: no list
      {4, L"\x5\0"s, {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SplitEntries(row.type, row.data), row.entries) << row.type;
  }
  EXPECT_TRUE(CanBeKeyName(std::wstring(255, L'k')));
  EXPECT_FALSE(CanBeKeyName(std::wstring(256, L'k')));
  EXPECT_FALSE(CanBeKeyName(L"a\\b"));
  const FilterList upper{L"UpperFilters", true, 7, {}, {L"A", L"B"}};
  const FilterList lower{L"LowerFilters", true, 7, {}, {L"C", L"D", L"E"}};
  EXPECT_EQ(MissingDrivers({upper, lower}, 2000),
            L"filters without a driver: UpperFilters A, B; LowerFilters C, "
            L"D, E");
  EXPECT_EQ(MissingDrivers({upper, lower}, 84),
            L"filters without a driver: UpperFilters A, B; LowerFilters C "
            L"and 2 more");
  EXPECT_EQ(MissingDrivers({{L"UpperFilters", true, 7, {L"A"}, {}}}, 2000),
            L"");
  const FilterList many{
      L"LowerFilters", true, 7, {}, std::vector<std::wstring>(500, L"filter")};
  EXPECT_LE(MissingDrivers({many, upper}, 2000).size(), 2000U);
}

}  // namespace
