#include "invariant.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "allocation_watch.h"
#include "expected_output.h"
#include "filter_updater.h"
#include "list_model.h"

namespace invariant {
namespace {

using fake_registry::Op;
using fake_registry::Value;

const std::string kPath = "Class\\Media";
const std::string kName = "UpperFilters";

// The scenario being run, for the capture body.
Scenario currentScenario;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::optional<SystemStatus> Failure(const Scenario& scenario, Op op) {
  const auto found = scenario.failures.find(op);
  return found == scenario.failures.end()
             ? std::nullopt
             : std::optional<SystemStatus>(found->second);
}

// What the run must print, and what it must leave stored, read off the
// failure table step by step.
struct Expected {
  std::string output;
  std::optional<Value> after;
};

Expected Model(const Scenario& s) {
  const std::string setFailure = ValueFailure("Set", kPath);
  const std::string readFailure = ValueFailure("Read", kPath);
  Expected e{"", s.keyExists ? s.value : std::nullopt};
  if (const auto status = Failure(s, Op::Open)) {
    e.output = "ERROR 0x" + Hex(*status) + "\n";
    return e;
  }
  if (!s.keyExists) {
    e.output = "ERROR 0x2\n";
    return e;
  }
  e.output = kSuccess;
  const auto sizeFailure = Failure(s, Op::SizeQuery);
  if (sizeFailure && *sizeFailure != 2) {
    e.output += readFailure;
    return e;
  }
  if (!s.value || sizeFailure) {
    e.output += kNotPresent;
    if (s.failAllocationAt == 1) {
      e.output += "ERROR 0x" + Hex(s.lastError) + "\n";
    } else if (Failure(s, Op::Set)) {
      e.output += setFailure;
    } else {
      e.after = Value{7, ModelList({"ksthunk"})};
    }
    return e;
  }
  const std::uint64_t reported =
      s.reportedSize ? *s.reportedSize : s.value->bytes.size() + s.extraSize;
  if (s.failAllocationAt == 1 || reported >= (std::uint64_t{1} << 31)) {
    e.output += "ERROR memory allocation0x" + Hex(s.lastError) + "\n";
    return e;
  }
  const std::string current = s.replacement ? *s.replacement : s.value->bytes;
  if (s.replacement) {
    e.after = Value{s.value->type, current};
  }
  if (Failure(s, Op::DataQuery) || current.size() > reported) {
    e.output += readFailure;
    return e;
  }
  const std::vector<std::string> entries = ModelEntries(current);
  e.output += Listing(entries);
  const bool present =
      std::find(entries.begin(), entries.end(), "ksthunk") != entries.end();
  if (s.failAllocationAt == 2) {
    e.output += "ERROR 0x" + Hex(s.lastError) + "\n";
    return e;
  }
  e.output += kSuccess;
  if (present) {
    e.output += kPresent;
    return e;
  }
  e.output += kListingTail;
  if (Failure(s, Op::Set)) {
    e.output += setFailure;
    return e;
  }
  std::vector<std::string> amended = entries;
  amended.push_back("ksthunk");
  e.after = Value{7, ModelList(amended)};
  return e;
}

std::string Describe(const std::optional<Value>& value) {
  if (!value) {
    return "<absent>";
  }
  std::string text = "type " + std::to_string(value->type) + ", " +
                     std::to_string(value->bytes.size()) + " bytes";
  if (value->bytes.size() <= 64) {
    text += ":";
    for (const char byte : value->bytes) {
      text += " " + Hex(static_cast<unsigned char>(byte));
    }
  }
  return text;
}

bool Same(const std::optional<Value>& a, const std::optional<Value>& b) {
  if (!a || !b) {
    return !a && !b;
  }
  return a->type == b->type && a->bytes == b->bytes;
}

}  // namespace

bool Contradictory(const Scenario& s) {
  const auto sizeFailure = Failure(s, Op::SizeQuery);
  return sizeFailure && *sizeFailure == 2 && s.keyExists && s.value;
}

Observed Run(const Scenario& s) {
  currentScenario = s;
  fake_registry::Reset();
  if (s.keyExists) {
    fake_registry::AddKey(kPath);
  }
  if (s.keyExists && s.value) {
    fake_registry::PutValue(kPath, kName, s.value->type, s.value->bytes);
  }
  for (const auto& [op, status] : s.failures) {
    fake_registry::FailOperation(op, status);
  }
  fake_registry::ReportExtraSize(s.extraSize);
  if (s.reportedSize) {
    fake_registry::ReportSize(*s.reportedSize);
  }
  if (s.replacement) {
    fake_registry::ReplaceBeforeDataQuery(*s.replacement);
  }
  fake_registry::SetLastSystemError(s.lastError);

  Observed observed;
  observed.output = CaptureOutput([] {
    std::string path = kPath;
    std::string name = kName;
    std::string entry = "ksthunk";
    allocation_watch::Start(currentScenario.failAllocationAt);
    AddFilterEntry(std::move(path), std::move(name), std::move(entry));
    allocation_watch::Stop();
  });
  observed.after = fake_registry::GetValue(kPath, kName);
  return observed;
}

std::vector<std::string> Violations(const Scenario& s, const Observed& o) {
  std::vector<std::string> problems;
  const Expected expected = Model(s);
  if (o.output != expected.output) {
    problems.push_back("output:\n" + o.output + "\nexpected:\n" +
                       expected.output);
  }
  if (!Same(o.after, expected.after)) {
    problems.push_back("stored " + Describe(o.after) + ", expected " +
                       Describe(expected.after));
  }
  // Independent of the model: the value is untouched (as it was stored, or
  // as it was changed to before the read), or the entries that were read
  // with ksthunk appended, well formed and of type REG_MULTI_SZ.
  const std::optional<Value> original = s.keyExists ? s.value : std::nullopt;
  std::optional<Value> read = original;
  if (read && s.replacement) {
    read->bytes = *s.replacement;
  }
  if (!Same(o.after, original) && !Same(o.after, read)) {
    std::vector<std::string> entries =
        read ? ModelEntries(read->bytes) : std::vector<std::string>{};
    entries.push_back("ksthunk");
    if (!o.after || o.after->type != 7 ||
        o.after->bytes != ModelList(entries)) {
      problems.push_back(
          "stored value is neither the old one nor the old entries "
          "with ksthunk: " +
          Describe(o.after));
    }
  }
  if (fake_registry::OpenHandleCount() != 0 ||
      fake_registry::BadCloseCount() != 0) {
    problems.push_back("keys left open or closed twice");
  }
  int opens = 0;
  int closes = 0;
  for (const fake_registry::Call& call : fake_registry::Calls()) {
    opens += call.op == Op::Open ? 1 : 0;
    closes += call.op == Op::Close ? 1 : 0;
  }
  const bool opened = !Failure(s, Op::Open) && s.keyExists;
  if (opens != 1 || closes != (opened ? 1 : 0)) {
    problems.push_back("open/close calls: " + std::to_string(opens) + "/" +
                       std::to_string(closes));
  }
  if (allocation_watch::Unreleased() != 0 ||
      allocation_watch::Releases() != allocation_watch::Allocations()) {
    problems.push_back("blocks not freed once: " +
                       std::to_string(allocation_watch::Allocations()) +
                       " taken, " +
                       std::to_string(allocation_watch::Releases()) + " freed");
  }
  return problems;
}

}  // namespace invariant
