// The outcomes of a fleet run: each with the exit code that deployment
// tools read and the Application event that reports it, and the rules that
// tell the outcome of one run of ksthunk-filter.exe from what it returned
// and printed. Portable: no Windows header.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

enum class EventLevel { Information, Warning, Error };

struct Outcome {
  std::string_view kind;
  std::uint32_t exitCode;
  std::uint16_t eventId;
  EventLevel level;
};

// Every outcome, once; docs/administrators.md lists the same table.
inline constexpr std::array<Outcome, 16> kOutcomes = {{
    {"in-place", 0, 100, EventLevel::Information},
    {"changed", 3010, 101, EventLevel::Information},
    {"created", 3010, 102, EventLevel::Information},
    {"key-missing", 2002, 202, EventLevel::Error},
    {"access-denied", 2005, 205, EventLevel::Error},
    {"open-failed", 2010, 210, EventLevel::Error},
    {"read-failed", 2020, 220, EventLevel::Error},
    {"not-written", 2030, 230, EventLevel::Error},
    {"no-driver", 2040, 240, EventLevel::Error},
    {"out-of-memory", 2050, 250, EventLevel::Error},
    {"refused", 2060, 260, EventLevel::Error},
    {"unrecognised", 2070, 270, EventLevel::Error},
    {"no-log", 2080, 280, EventLevel::Error},
    {"no-exe", 2090, 290, EventLevel::Error},
    {"timed-out", 2100, 310, EventLevel::Error},
    {"busy", 1618, 300, EventLevel::Warning},
}};

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
