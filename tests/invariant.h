// The one rule every run of AddFilterEntry must keep, whatever failed:
// the stored value is either exactly what it was, or exactly the old
// entries in stored order followed by ksthunk (ksthunk alone when there was
// no value), well formed; every key opened is closed once and every block
// taken is freed once; and standard output is what the failure table gives
// for the path the run took.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_registry.h"

namespace invariant {

// What a run meets: the key and value as stored, and what goes wrong.
struct Scenario {
  bool keyExists = true;
  std::optional<fake_registry::Value> value = {};  // nothing: absent
  std::map<fake_registry::Op, SystemStatus> failures = {};
  int failAllocationAt = 0;                        // 1: the first allocation
  std::uint32_t extraSize = 0;                     // size query over-reports
  std::optional<std::uint32_t> reportedSize = {};  // size query reports this
  std::optional<std::string> replacement = {};     // changes between queries
  std::uint32_t lastError = 8;
};

struct Observed {
  std::string output;
  std::optional<fake_registry::Value> after;
};

// Whether the scenario has the registry answer "not found" (2) to the size
// query of a value it stores. The updater believes that answer and creates
// the value, so such a scenario is the absent state, not a fault to check.
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
