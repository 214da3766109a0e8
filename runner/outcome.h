// The outcomes of a fleet run, each with the exit code that deployment tools
// read and the Application event that reports it, and the rules that tell
// the outcome of a run of ksthunk-filter.exe from what it returned and
// printed. Portable: no Windows header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// clang-format off
enum class Kind {
  InPlace, Changed, Created, KeyMissing, AccessDenied, OpenFailed, ReadFailed,
  NotWritten, NoDriver, OutOfMemory, Refused, Unrecognised, NoLog, NoExe,
  TimedOut, Busy
};
// clang-format on
enum class EventLevel { Information, Warning, Error };

struct Outcome {
  Kind kind;
  std::string_view name;
  std::uint32_t exitCode;
  std::uint16_t eventId;
  EventLevel level;
};

// Every outcome once, in the order of Kind, as docs/administrators.md lists
// them. A fleet console shows a failure code X as 0x8007XXXX with Windows'
// message for X: each failure exits with a Win32 error code whose message
// names what went wrong.
inline constexpr std::array<Outcome, 16> kOutcomes = {{
    {Kind::InPlace, "in-place", 0, 100, EventLevel::Information},
    {Kind::Changed, "changed", 3010, 101, EventLevel::Information},
    {Kind::Created, "created", 3010, 102, EventLevel::Information},
    {Kind::KeyMissing, "key-missing", 1010, 202, EventLevel::Error},
    {Kind::AccessDenied, "access-denied", 5, 205, EventLevel::Error},
    {Kind::OpenFailed, "open-failed", 1011, 210, EventLevel::Error},
    {Kind::ReadFailed, "read-failed", 1012, 220, EventLevel::Error},
    {Kind::NotWritten, "not-written", 1013, 230, EventLevel::Error},
    {Kind::NoDriver, "no-driver", 1060, 240, EventLevel::Error},
    {Kind::OutOfMemory, "out-of-memory", 8, 250, EventLevel::Error},
    {Kind::Refused, "refused", 1633, 260, EventLevel::Error},
    {Kind::Unrecognised, "unrecognised", 13, 270, EventLevel::Error},
    {Kind::NoLog, "no-log", 82, 280, EventLevel::Error},
    {Kind::NoExe, "no-exe", 2, 290, EventLevel::Error},
    {Kind::TimedOut, "timed-out", 1460, 310, EventLevel::Error},
    {Kind::Busy, "busy", 1618, 300, EventLevel::Warning},
}};

constexpr const Outcome& OutcomeOf(Kind kind) {
  return kOutcomes[static_cast<std::size_t>(kind)];
}

// Whether each row sits at its kind; 0 is in-place's code alone, 3010
// changed's and created's, 1618 busy's; and each failure has a code of its
// own, none that fleet tools take for a success or a restart (1707, 1641).
constexpr bool CodesKeepTheRules() {
  for (std::size_t row = 0; row < kOutcomes.size(); ++row) {
    const auto [kind, name, code, eventId, level] = kOutcomes[row];
    int same = 0;
    for (const Outcome& other : kOutcomes) {
      same += other.exitCode == code ? 1 : 0;
    }
    if (static_cast<std::size_t>(kind) != row ||
        (code == 0) != (kind == Kind::InPlace) ||
        (code == 3010) != (kind == Kind::Changed || kind == Kind::Created) ||
        (code == 1618) != (kind == Kind::Busy) ||
        (level == EventLevel::Error &&
         (same != 1 || code == 1707 || code == 1641))) {
      return false;
    }
  }
  return true;
}
static_assert(CodesKeepTheRules(), "an exit code that fleet tools misread");

// The outcome of a run from its exit status and its whole output, as raw
// bytes: exit status 1 is Refused only with a start-up refusal as the
// output; Changed, Created and InPlace need the whole shape the program
// prints for them; anything else it would never print is Unrecognised.
Kind ClassifyRun(std::uint32_t exitStatus, std::string_view output);

// Whether the output is one of the two French start-up refusals, which the
// program prints in Windows-1252 whatever the system's code page.
bool IsFrenchRefusal(std::string_view output);
