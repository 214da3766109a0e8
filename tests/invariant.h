// The one rule every run of AddFilterEntry must keep, whatever failed and
// whatever another program wrote meanwhile: the stored value is either what
// the world left there, or exactly the entries that were read in stored
// order followed by ksthunk (ksthunk alone when there was no value), well
// formed; a change that another program made before the updater's last
// check is never written over, and no entry stored before the read goes
// missing; every key opened is closed once and every block taken is freed
// once; and the registry calls and standard output are those of the path
// the run took.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_registry.h"

namespace invariant {

// Another program writing the value: right before the registry call
// numbered `beforeCall`, it replaces the value by `bytes`, or, without
// bytes, appends the entry "writer" to the list (creating it if absent), as
// a driver installer does.
struct Change {
  std::size_t beforeCall = 0;
  std::optional<std::string> bytes = {};
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

// Whether the scenario has the registry answer "not found" (2) to a size
// query while a value is stored. The updater believes that answer and
// creates the value, so such a scenario is the absent state, not a fault
// to check.
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
