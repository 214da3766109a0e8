// The rules every run of AddFilterEntry keeps, whatever fails and whatever
// another program writes meanwhile, told from what the run printed and
// what the registry holds: the listing shows the entries of a value the
// registry held, and the last line means what the stored value shows; no
// change that the run could see is written over, no stored entry goes
// missing, no filter is written without its driver, and every key and
// block taken is released once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_registry.h"

namespace invariant {

// The key the runs work on, under HKEY_LOCAL_MACHINE.
inline constexpr char kKeyPath[] = "Class\\Media";

// Another program writing the value: right before the registry call
// numbered `beforeCall`, it replaces the value by `bytes`, or, without
// bytes, appends the entry "writer" to the list (creating it if absent), as
// a driver installer does; or it deletes the value.
struct Change {
  std::size_t beforeCall = 0;
  std::optional<std::string> bytes = {};
  bool deletes = false;
};

// What a run meets: the key and value as stored, and what goes wrong.
struct Scenario {
  bool keyExists = true;
  bool driverInstalled = true;                     // ksthunk's service key
  std::optional<fake_registry::Value> value = {};  // nothing: absent
  std::map<fake_registry::Op, SystemStatus> failures = {};
  std::optional<std::size_t> failCall = {};        // this call fails ...
  SystemStatus failCallStatus = 5;                 // ... with this status
  int failAllocationAt = 0;                        // 1: the first allocation
  std::uint32_t extraSize = 0;                     // size query over-reports
  std::optional<std::uint32_t> reportedSize = {};  // size query reports this
  std::optional<Change> change = {};
  std::uint32_t lastError = 8;
};

struct Observed {
  std::string output;
  std::optional<fake_registry::Value> after;
};

// Whether the scenario has the registry answer "not found" (2) to every
// size query while a value is (or comes to be) stored. The updater believes
// that answer and creates the value, so such a scenario is the absent
// state, not a fault to check.
bool Contradictory(const Scenario& scenario);

// Sets up the in-memory registry for `scenario`, runs the updater on it and
// returns what it printed and left stored.
Observed Run(const Scenario& scenario);

// Runs `body` and returns what it printed on standard output. Linked from
// capture_gtest.cpp in the unit tests and from the fuzz target.
std::string CaptureOutput(void (*body)());

// Empty when the run kept the rule; otherwise what it broke.
std::vector<std::string> Violations(const Scenario& scenario,
                                    const Observed& observed);

}  // namespace invariant
