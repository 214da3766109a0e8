// Every registry operation and every single call failing with each status,
// every allocation failing, and another program writing the value before
// each call, for each state the value can be in; each combination checked
// against the one invariant.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "invariant.h"
#include "list_model.h"

namespace {

using fake_registry::kMostCalls;
using fake_registry::Op;
using fake_registry::Value;
using invariant::Scenario;

const std::vector<SystemStatus> kStatuses = {1, 2,    5,     6,
                                             8, 0xEA, 0x3FA, 0xFFFFFFFF};

struct State {
  const char* name;
  std::optional<Value> value;
};

std::vector<State> ValueStates() {
  const std::string mib = [] {
    std::string list;
    for (int i = 0; list.size() < (1u << 20); ++i) {
      list += "filter" + std::to_string(i) + '\0';
    }
    return list + '\0';
  }();
  return {
      {"absent", std::nullopt},
      {"zero bytes", Value{7, ""}},
      {"empty list", Value{7, WellFormedList({})}},
      {"two filters", Value{7, WellFormedList({"filter1", "filter2"})}},
      {"ksthunk first", Value{7, WellFormedList({"ksthunk", "b"})}},
      {"ksthunk last", Value{7, WellFormedList({"a", "ksthunk"})}},
      {"other case",
       Value{7, WellFormedList({"KSTHUNK", "ksthunk2", " ksthunk"})}},
      {"empty entries", Value{7, Bytes("a\0\0\0b\0\0", 7)}},
      {"no final NUL", Value{7, Bytes("a\0b\0", 4)}},
      {"last entry without NUL", Value{7, Bytes("a\0\0b", 4)}},
      {"no NUL at all", Value{7, "abc"}},
      {"lone NUL run", Value{7, std::string(5, '\0')}},
      {"ANSI bytes", Value{7, WellFormedList({"caf\xE9", "\x80\x81\xFF"})}},
      {"REG_SZ", Value{1, Bytes("ksthunk\0", 8)}},
      {"REG_EXPAND_SZ", Value{2, Bytes("%SystemRoot%\0", 13)}},
      {"REG_BINARY", Value{3, Bytes("\x01\x00\xFF\x00\x00\x7F", 6)}},
      {"REG_DWORD", Value{4, Bytes("\x05\x00\x00\x00", 4)}},
      {"one MiB", Value{7, mib}},
  };
}

// The call-by-call tests leave out the one-MiB list: the calls a run makes
// do not depend on the list's size, and the size is the other tests'.
bool Large(const State& state) {
  return state.value && state.value->bytes.size() > 4096;
}

void Check(const Scenario& scenario, const std::string& label) {
  SCOPED_TRACE(label);
  const invariant::Observed observed = invariant::Run(scenario);
  for (const std::string& problem : invariant::Violations(scenario, observed)) {
    ADD_FAILURE() << problem;
  }
}

TEST(FaultMatrix, EachOperationFailingWithEachStatus) {
  for (const State& state : ValueStates()) {
    for (const Op op : {Op::Open, Op::SizeQuery, Op::DataQuery, Op::Set}) {
      for (const SystemStatus status : kStatuses) {
        Scenario scenario{.value = state.value};
        scenario.failures[op] = status;
        if (invariant::Contradictory(scenario)) {
          continue;
        }
        Check(scenario, std::string(state.name) + ", op " +
                            std::to_string(static_cast<int>(op)) +
                            " fails with " + std::to_string(status));
      }
    }
  }
}

TEST(FaultMatrix, FailuresInCombination) {
  for (const State& state : ValueStates()) {
    for (const SystemStatus status : kStatuses) {
      Check({.value = state.value,
             .failures = {{Op::DataQuery, status}, {Op::Set, status}}},
            std::string(state.name) + ", read and write fail");
      const Scenario sizeAndWrite{
          .value = state.value,
          .failures = {{Op::SizeQuery, status}, {Op::Set, status}}};
      if (!invariant::Contradictory(sizeAndWrite)) {
        Check(sizeAndWrite,
              std::string(state.name) + ", size query and write fail");
      }
    }
  }
}

// Every call of a run, the service key's open and the re-read included,
// failing on its own while the others go through.
TEST(FaultMatrix, EachCallFailingWithEachStatus) {
  for (const State& state : ValueStates()) {
    if (Large(state)) {
      continue;
    }
    for (std::size_t call = 0; call < kMostCalls; ++call) {
      for (const SystemStatus status : kStatuses) {
        const Scenario scenario{
            .value = state.value, .failCall = call, .failCallStatus = status};
        if (!invariant::Contradictory(scenario)) {
          Check(scenario, std::string(state.name) + ", call " +
                              std::to_string(call) + " fails with " +
                              std::to_string(status));
        }
      }
    }
  }
}

TEST(FaultMatrix, EachAllocationFailing) {
  for (const State& state : ValueStates()) {
    for (const int allocation : {1, 2, 3}) {
      for (const std::uint32_t lastError : {0u, 8u, 0xFFFFFFFFu}) {
        Check({.value = state.value,
               .failAllocationAt = allocation,
               .lastError = lastError},
              std::string(state.name) + ", allocation " +
                  std::to_string(allocation));
      }
    }
  }
}

// Another program writes the value right before each call of the run:
// appending an entry of its own, as an installer does, replacing the list
// whole, or deleting it.
TEST(FaultMatrix, AnotherProgramWritingBeforeEachCall) {
  const std::vector<invariant::Change> changes = {
      {},
      {.bytes = ""},
      {.bytes = WellFormedList({})},
      {.bytes = WellFormedList({"x"})},
      {.bytes = WellFormedList({"ksthunk"})},
      {.bytes = WellFormedList({"a", "b", "c", "d", "e", "f", "g"})},
      {.bytes = Bytes("grown\0without\0final", 19)},
      {.deletes = true}};
  for (const State& state : ValueStates()) {
    if (Large(state)) {
      continue;
    }
    for (std::size_t call = 0; call < kMostCalls; ++call) {
      for (std::size_t i = 0; i < changes.size(); ++i) {
        invariant::Change change = changes[i];
        change.beforeCall = call;
        Check({.value = state.value, .change = change},
              std::string(state.name) + ", change " + std::to_string(i) +
                  " before call " + std::to_string(call));
      }
    }
  }
}

TEST(FaultMatrix, SizeQueriesReportingMoreThanIsStored) {
  for (const State& state : ValueStates()) {
    for (const std::uint32_t extra : {1u, 2u, 7u, 1000u}) {
      Check({.value = state.value, .extraSize = extra},
            std::string(state.name) + ", " + std::to_string(extra) + " extra");
    }
    for (const std::uint32_t size : {0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
      Check({.value = state.value, .reportedSize = size},
            std::string(state.name) + ", size reported as " +
                std::to_string(size));
    }
  }
}

TEST(FaultMatrix, NothingFailing) {
  for (const State& state : ValueStates()) {
    Check({.value = state.value}, state.name);
    Check({.keyExists = false, .value = state.value},
          std::string(state.name) + ", no key");
    Check({.driverInstalled = false, .value = state.value},
          std::string(state.name) + ", no ksthunk driver");
  }
}

}  // namespace
