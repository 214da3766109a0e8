// The outcomes of a fleet run: each with the exit code that deployment
// tools read and the Application event that reports it, and the rules that
// tell the outcome of one run of ksthunk-filter.exe from what it returned
// and printed. Portable: no Windows header.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

enum class EventLevel { Information, Warning, Error };

struct Outcome {
  std::string_view kind;
  std::uint32_t exitCode;
  std::uint16_t eventId;
  EventLevel level;
};

// Every outcome, once; docs/administrators.md lists the same table. A fleet
// console shows a failure code X as 0x8007XXXX with Windows' message for X,
// so each failure has a Win32 error code whose message names what went
// wrong (the guide gives each code's name and message).
inline constexpr std::array<Outcome, 16> kOutcomes = {{
    {"in-place", 0, 100, EventLevel::Information},
    {"changed", 3010, 101, EventLevel::Information},
    {"created", 3010, 102, EventLevel::Information},
    {"key-missing", 1010, 202, EventLevel::Error},
    {"access-denied", 5, 205, EventLevel::Error},
    {"open-failed", 1011, 210, EventLevel::Error},
    {"read-failed", 1012, 220, EventLevel::Error},
    {"not-written", 1013, 230, EventLevel::Error},
    {"no-driver", 1060, 240, EventLevel::Error},
    {"out-of-memory", 8, 250, EventLevel::Error},
    {"refused", 1633, 260, EventLevel::Error},
    {"unrecognised", 13, 270, EventLevel::Error},
    {"no-log", 82, 280, EventLevel::Error},
    {"no-exe", 2, 290, EventLevel::Error},
    {"timed-out", 1460, 310, EventLevel::Error},
    {"busy", 1618, 300, EventLevel::Warning},
}};

// Whether `code` belongs to `kinds` alone: no other outcome has it.
constexpr bool OnlyFor(std::uint32_t code,
                       std::initializer_list<std::string_view> kinds) {
  for (const Outcome& outcome : kOutcomes) {
    bool listed = false;
    for (const std::string_view kind : kinds) {
      listed = listed || kind == outcome.kind;
    }
    if ((outcome.exitCode == code) != listed) {
      return false;
    }
  }
  return true;
}

// Whether no two failures share a code and none is a code that Intune or
// Configuration Manager take for a success or a restart (1707, 1641).
constexpr bool FailureCodesAreDistinct() {
  for (const Outcome& failure : kOutcomes) {
    int same = 0;
    for (const Outcome& other : kOutcomes) {
      same += other.exitCode == failure.exitCode ? 1 : 0;
    }
    if (failure.level == EventLevel::Error &&
        (same != 1 || failure.exitCode == 1707 || failure.exitCode == 1641)) {
      return false;
    }
  }
  return true;
}

static_assert(OnlyFor(0, {"in-place"}), "0 means success");
static_assert(OnlyFor(3010, {"changed", "created"}), "3010 means a restart");
static_assert(OnlyFor(1618, {"busy"}), "1618 means try again later");
static_assert(FailureCodesAreDistinct(), "a failure code of its own each");

// The row of `kind`; "unrecognised" for a kind that is not in the table.
const Outcome& FindOutcome(std::string_view kind);

// The outcome of one run of ksthunk-filter.exe from its exit status and its
// whole output, as raw bytes: exit status 1 is "refused" only with a
// start-up refusal as the output, "changed", "created" and "in-place" need
// the whole shape the program prints for them, and anything else the
// program would never print is "unrecognised".
const Outcome& ClassifyRun(std::uint32_t exitStatus, std::string_view output);

// Whether the output is one of the two French start-up refusals, which the
// program prints in Windows-1252 whatever the system's code page.
bool IsFrenchRefusal(std::string_view output);
