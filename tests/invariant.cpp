#include "invariant.h"

#include <algorithm>
#include <utility>

#include "allocation_watch.h"
#include "expected_output.h"
#include "filter_updater.h"
#include "list_model.h"

namespace invariant {
namespace {

using fake_registry::Value;

const std::string kName = "UpperFilters";
const std::string kRule = "**************************";

// The scenario being run, for the capture body.
Scenario currentScenario;

std::vector<std::string> Entries(const std::optional<Value>& value) {
  return value ? ModelEntries(value->bytes) : std::vector<std::string>{};
}

// The value after another program's change.
std::optional<Value> Changed(const std::optional<Value>& value,
                             const Change& change) {
  const std::uint32_t type = value ? value->type : kRegMultiSz;
  if (change.deletes) {
    return std::nullopt;
  }
  if (change.bytes) {
    return Value{type, *change.bytes};
  }
  std::vector<std::string> entries = Entries(value);
  entries.push_back("writer");
  return Value{type, ModelList(entries)};
}

std::string Describe(const std::optional<Value>& value) {
  if (!value) {
    return "<absent>";
  }
  return "type " + std::to_string(value->type) + ", " +
         std::to_string(value->bytes.size()) + " bytes";
}

bool IsString(const std::optional<Value>& value) {
  return value && fake_registry::IsStringType(value->type);
}

// `entries` with ksthunk appended, as a well-formed REG_MULTI_SZ.
Value Amended(std::vector<std::string> entries) {
  entries.push_back("ksthunk");
  return Value{kRegMultiSz, ModelList(entries)};
}

// The entries of `before` lead the entries of `after`, in order.
bool KeepsEntries(const std::optional<Value>& before,
                  const std::optional<Value>& after) {
  const std::vector<std::string> kept = Entries(before);
  const std::vector<std::string> now = Entries(after);
  return now.size() >= kept.size() &&
         std::equal(kept.begin(), kept.end(), now.begin());
}

// The last line of `output` that is not empty.
std::string LastLine(std::string output) {
  while (!output.empty() && output.back() == '\n') {
    output.pop_back();
  }
  return output.substr(output.rfind('\n') + 1);  // npos + 1 is 0
}

// The entries that the listing at the head of `output` shows, when they are
// those of a value of a string type that the registry held during the run.
std::optional<std::vector<std::string>> ListedEntries(
    const std::string& output,
    std::initializer_list<std::optional<Value>> held) {
  for (const std::optional<Value>& value : held) {
    if (IsString(value) &&
        output.starts_with(kSuccess + Listing(ModelEntries(value->bytes)))) {
      return ModelEntries(value->bytes);
    }
  }
  return std::nullopt;
}

}  // namespace

bool Contradictory(const Scenario& s) {
  const auto sizeFailure = s.failures.find(fake_registry::Op::SizeQuery);
  return sizeFailure != s.failures.end() &&
         sizeFailure->second == kStatusNotFound && s.keyExists &&
         (s.value || s.change);
}

Observed Run(const Scenario& s) {
  currentScenario = s;
  fake_registry::Reset();
  if (s.keyExists) {
    fake_registry::AddKey(kKeyPath);
  }
  if (s.driverInstalled) {
    fake_registry::AddKey(kThunkServicePath);
  }
  if (s.keyExists && s.value) {
    fake_registry::PutValue(kKeyPath, kName, s.value->type, s.value->bytes);
  }
  for (const auto& [op, status] : s.failures) {
    fake_registry::FailOperation(op, status);
  }
  if (s.failCall) {
    fake_registry::FailCall(*s.failCall, s.failCallStatus);
  }
  if (s.change) {
    fake_registry::ChangeBeforeCall(s.change->beforeCall, [] {
      if (currentScenario.keyExists) {
        fake_registry::SetValue(
            kKeyPath, kName,
            Changed(fake_registry::GetValue(kKeyPath, kName),
                    *currentScenario.change));
      }
    });
  }
  fake_registry::ReportExtraSize(s.extraSize);
  if (s.reportedSize) {
    fake_registry::ReportSize(*s.reportedSize);
  }
  fake_registry::SetLastSystemError(s.lastError);

  Observed observed;
  observed.output = CaptureOutput([] {
    std::string path = kKeyPath;
    std::string name = kName;
    std::string entry = "ksthunk";
    allocation_watch::Start(currentScenario.failAllocationAt);
    AddFilterEntry(std::move(path), std::move(name), std::move(entry));
    allocation_watch::Stop();
  });
  observed.after = fake_registry::GetValue(kKeyPath, kName);
  return observed;
}

std::vector<std::string> Violations(const Scenario& s, const Observed& o) {
  std::vector<std::string> problems;
  // The value as the world left it: as stored, then as another program
  // changed it, if it did while the run lasted.
  const std::optional<Value> original = s.keyExists ? s.value : std::nullopt;
  const std::size_t calls = fake_registry::Calls().size();
  const bool changed = s.change && s.keyExists && s.change->beforeCall < calls;
  const std::optional<Value> world =
      changed ? Changed(original, *s.change) : original;
  const std::optional<std::vector<std::string>> read =
      ListedEntries(o.output, {original, world});
  if (o.output.starts_with(kSuccess + std::string(kListingHead)) && !read) {
    problems.push_back("a listing of no value the registry held");
  }

  // What the last line says was written, if anything.
  const std::string last = LastLine(o.output);
  std::optional<Value> said;
  if (last == kRule && read) {
    said = Amended(*read);
  } else if (last == kRule) {
    problems.push_back("a closing rule with no listing before it");
  } else if (last == LastLine(kNotPresent)) {
    said = Amended({});
  } else if (last == LastLine(kPresent) &&
             !(read && std::find(read->begin(), read->end(), "ksthunk") !=
                           read->end())) {
    problems.push_back("ksthunk in place, but not among the entries read");
  }
  const std::vector<fake_registry::Write>& writes = fake_registry::Writes();
  std::optional<Value> expected = world;
  if (!said && !writes.empty()) {
    problems.push_back("wrote, although the last line is \"" + last + "\"");
  } else if (said) {
    if (writes.size() != 1 || writes[0].value != said) {
      problems.push_back("the last line says it wrote " + Describe(said));
    } else {
      // A change that the run could still see before its write is never
      // written over: what it read stood there until the write's own call.
      const std::size_t write = writes[0].call;
      const std::optional<Value> overwritten =
          changed && s.change->beforeCall < write ? world : original;
      const bool readWhatStood =
          last == kRule ? IsString(overwritten) &&
                              ModelEntries(overwritten->bytes) == *read
                        : !overwritten;
      if (!readWhatStood) {
        problems.push_back("wrote over " + Describe(overwritten));
      }
      expected = changed && s.change->beforeCall > write
                     ? Changed(writes[0].value, *s.change)
                     : writes[0].value;
    }
  }
  if (!writes.empty() && !s.driverInstalled) {
    problems.push_back("wrote a filter whose driver is not installed");
  }
  if (o.after != expected) {
    problems.push_back("stored " + Describe(o.after) + ", expected " +
                       Describe(expected));
  }
  if (!(s.change && (s.change->bytes || s.change->deletes)) &&
      !KeepsEntries(original, o.after)) {
    problems.push_back("an entry stored before the read went missing");
  }
  if (fake_registry::OpenHandleCount() != 0 ||
      fake_registry::BadCloseCount() != 0) {
    problems.push_back("keys left open or closed twice");
  }
  if (allocation_watch::Unreleased() != 0 ||
      allocation_watch::Releases() != allocation_watch::Allocations()) {
    problems.push_back("blocks not freed once");
  }
  return problems;
}

}  // namespace invariant
