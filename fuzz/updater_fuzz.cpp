// AddFilterEntry over the in-memory registry with fuzzed stored bytes and
// type, injected failures, misreported sizes, another program writing
// before any call, and a missing ksthunk driver; every run checked by the
// invariant.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "invariant.h"

namespace {

using fake_registry::Op;

constexpr SystemStatus kStatuses[] = {1, 2, 5, 6, 8, 0xEA, 0x3FA, 0xFFFFFFFF};
constexpr Op kOps[] = {Op::Open, Op::SizeQuery, Op::DataQuery, Op::Set};

// Reads the scenario's choices off the front of the input.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}
  std::uint8_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
  std::string Rest() {
    const std::string rest(reinterpret_cast<const char*>(data_) + used_,
                           size_ - used_);
    used_ = size_;
    return rest;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t used_ = 0;
};

}  // namespace

std::string invariant::CaptureOutput(void (*body)()) {
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* memory = open_memstream(&buffer, &length);
  if (memory == nullptr) {
    std::abort();
  }
  std::FILE* console = stdout;
  stdout = memory;
  body();
  std::fflush(memory);
  stdout = console;
  std::fclose(memory);
  std::string output(buffer, length);
  std::free(buffer);
  return output;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  Input input(data, size);
  const std::uint8_t shape = input.Byte();
  invariant::Scenario scenario;
  scenario.keyExists = (shape & 0x01) == 0;
  const bool valuePresent = (shape & 0x02) == 0;
  if (shape & 0x04) {
    scenario.failures[kOps[input.Byte() % 4]] = kStatuses[input.Byte() % 8];
  }
  if (shape & 0x08) {
    scenario.failAllocationAt = 1 + input.Byte() % 3;
  }
  if (shape & 0x10) {
    scenario.extraSize = input.Byte() % 16;
  }
  if (shape & 0x20) {
    scenario.reportedSize = 0xFFFFFFFFu - input.Byte();
  }
  const std::uint32_t type = input.Byte() % 12;
  std::string bytes = input.Rest();
  if (shape & 0x40) {
    // Another program writes the value before one of the calls: the second
    // half of the bytes, or, when the input is odd-sized, one entry more or
    // (every other time) no value at all.
    const std::size_t call =
        bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % 10u;
    scenario.change = invariant::Change{call, {}, bytes.size() % 4 == 3};
    if (bytes.size() % 2 == 0) {
      scenario.change->bytes = bytes.substr(bytes.size() / 2);
    }
  }
  scenario.driverInstalled = (shape & 0x80) == 0;
  if (valuePresent) {
    scenario.value = fake_registry::Value{type, bytes};
  }
  if (invariant::Contradictory(scenario)) {
    scenario.failures.erase(Op::SizeQuery);
  }
  const invariant::Observed observed = invariant::Run(scenario);
  const auto problems = invariant::Violations(scenario, observed);
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "%s\n", problem.c_str());
  }
  if (!problems.empty()) {
    std::abort();
  }
  return 0;
}
