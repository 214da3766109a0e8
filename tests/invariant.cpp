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
constexpr std::uint64_t kAddressSpaceLimit = std::uint64_t{1} << 31;

// The scenario being run, for the capture body.
Scenario currentScenario;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// The value after another program's change.
std::optional<Value> Changed(const std::optional<Value>& value,
                             const Change& change) {
  if (change.bytes) {
    return Value{value ? value->type : kRegMultiSz, *change.bytes};
  }
  std::vector<std::string> entries =
      value ? ModelEntries(value->bytes) : std::vector<std::string>{};
  entries.push_back("writer");
  return Value{value ? value->type : kRegMultiSz, ModelList(entries)};
}

// The run as the failure table gives it, step by step, with the registry
// calls it makes and what the registry holds as it goes.
class Model {
 public:
  explicit Model(const Scenario& s)
      : s_(s), stored_(s.keyExists ? s.value : std::nullopt) {}

  void Run() {
    if (const auto status = Call(Op::Open)) {
      Print("ERROR 0x" + Hex(*status) + "\n");
      return;
    }
    if (!s_.keyExists) {
      Print("ERROR 0x2\n");
      return;
    }
    Print(kSuccess);
    const auto [status, reported] = SizeQuery();
    if (status == 2) {
      Create();
    } else if (status != 0) {
      Print(ValueFailure("Read", kPath));
    } else {
      Update(reported);
    }
    Call(Op::Close);
  }

  std::string output;
  std::vector<Op> calls;
  std::vector<std::uint32_t> writeSizes;  // the size of each write, in bytes
  bool contradictory = false;
  std::optional<Value> stored() const { return stored_; }

 private:
  // A registry call: another program's change when it is due, then the
  // failure injected for it, if any.
  std::optional<SystemStatus> Call(Op op) {
    if (s_.change && s_.change->beforeCall == calls.size() && s_.keyExists) {
      stored_ = Changed(stored_, *s_.change);
    }
    calls.push_back(op);
    if (s_.failCall && *s_.failCall == calls.size() - 1) {
      return s_.failCallStatus;
    }
    const auto found = s_.failures.find(op);
    return found == s_.failures.end()
               ? std::nullopt
               : std::optional<SystemStatus>(found->second);
  }

  std::pair<SystemStatus, std::uint64_t> SizeQuery() {
    if (const auto status = Call(Op::SizeQuery)) {
      contradictory = contradictory || (*status == 2 && stored_);
      return {*status, 0};
    }
    if (!stored_) {
      return {2, 0};
    }
    return {0, s_.reportedSize ? *s_.reportedSize
                               : stored_->bytes.size() + s_.extraSize};
  }

  // The data query into a buffer of `room` bytes: the bytes read, or
  // nothing when it fails. A value of no string type is never read.
  std::optional<std::string> DataQuery(std::uint64_t room) {
    if (Call(Op::DataQuery) || !stored_ || stored_->bytes.size() > room ||
        (stored_->type != 1 && stored_->type != 2 &&
         stored_->type != kRegMultiSz)) {
      return std::nullopt;
    }
    return stored_->bytes;
  }

  // The nth allocation of the run, of `size` bytes.
  bool Allocates(std::uint64_t size) {
    ++allocations_;
    return allocations_ != s_.failAllocationAt && size < kAddressSpaceLimit;
  }

  bool DriverInstalled() {
    if (Call(Op::Open) || !s_.driverInstalled) {
      Print(kDriverMissing);
      return false;
    }
    Call(Op::Close);
    return true;
  }

  void Write(const std::vector<std::string>& entries) {
    writeSizes.push_back(static_cast<std::uint32_t>(ModelList(entries).size()));
    if (Call(Op::Set)) {
      Print(ValueFailure("Set", kPath));
      return;
    }
    stored_ = Value{kRegMultiSz, ModelList(entries)};
  }

  void Create() {
    Print(kNotPresent);
    if (!DriverInstalled()) {
      return;
    }
    if (!Allocates(9)) {
      Print("ERROR 0x" + Hex(s_.lastError) + "\n");
      return;
    }
    if (SizeQuery().first != 2) {
      Print(ValueFailure("Set", kPath));
      return;
    }
    Write({"ksthunk"});
  }

  void Update(std::uint64_t reported) {
    if (!Allocates(std::max<std::uint64_t>(reported, 1))) {
      Print("ERROR memory allocation0x" + Hex(s_.lastError) + "\n");
      return;
    }
    const auto read = DataQuery(reported);
    if (!read) {
      Print(ValueFailure("Read", kPath));
      return;
    }
    std::vector<std::string> entries = ModelEntries(*read);
    Print(Listing(entries));
    if (!Allocates(read->size() + 9)) {
      Print("ERROR 0x" + Hex(s_.lastError) + "\n");
      return;
    }
    Print(kSuccess);
    if (std::find(entries.begin(), entries.end(), "ksthunk") != entries.end()) {
      Print(kPresent);
      return;
    }
    Print(kListingTail);
    if (!DriverInstalled()) {
      return;
    }
    const auto [status, again] = SizeQuery();
    if (status != 0 || !Allocates(std::max<std::uint64_t>(again, 1)) ||
        DataQuery(again) != read) {
      Print(ValueFailure("Set", kPath));
      return;
    }
    entries.push_back("ksthunk");
    Write(entries);
  }

  void Print(const std::string& text) { output += text; }

  const Scenario& s_;
  std::optional<Value> stored_;
  int allocations_ = 0;
};

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

// The entries of `value` with ksthunk appended, as the updater writes them.
std::optional<Value> Amended(const std::optional<Value>& value) {
  std::vector<std::string> entries =
      value ? ModelEntries(value->bytes) : std::vector<std::string>{};
  entries.push_back("ksthunk");
  return Value{kRegMultiSz, ModelList(entries)};
}

// The entries of `before` lead the entries of `after`, in order.
bool KeepsEntries(const std::optional<Value>& before,
                  const std::optional<Value>& after) {
  const std::vector<std::string> kept =
      before ? ModelEntries(before->bytes) : std::vector<std::string>{};
  const std::vector<std::string> now =
      after ? ModelEntries(after->bytes) : std::vector<std::string>{};
  return now.size() >= kept.size() &&
         std::equal(kept.begin(), kept.end(), now.begin());
}

}  // namespace

bool Contradictory(const Scenario& s) {
  Model model(s);
  model.Run();
  return model.contradictory;
}

Observed Run(const Scenario& s) {
  currentScenario = s;
  fake_registry::Reset();
  if (s.keyExists) {
    fake_registry::AddKey(kPath);
  }
  if (s.driverInstalled) {
    fake_registry::AddKey(kThunkServicePath);
  }
  if (s.keyExists && s.value) {
    fake_registry::PutValue(kPath, kName, s.value->type, s.value->bytes);
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
        const auto value = Changed(fake_registry::GetValue(kPath, kName),
                                   *currentScenario.change);
        fake_registry::PutValue(kPath, kName, value->type, value->bytes);
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
  Model model(s);
  model.Run();
  if (o.output != model.output) {
    problems.push_back("output:\n" + o.output + "\nexpected:\n" + model.output);
  }
  if (!Same(o.after, model.stored())) {
    problems.push_back("stored " + Describe(o.after) + ", expected " +
                       Describe(model.stored()));
  }
  const std::vector<Op> calls = fake_registry::CallOps();
  if (calls != model.calls) {
    problems.push_back("made " + std::to_string(calls.size()) +
                       " registry calls, expected " +
                       std::to_string(model.calls.size()));
  }
  std::vector<std::uint32_t> writeSizes;
  for (const fake_registry::Call& call : fake_registry::Calls()) {
    if (call.op == Op::Set) {
      writeSizes.push_back(call.sizeIn);
    }
  }
  if (writeSizes != model.writeSizes) {
    problems.push_back("write sizes differ from the model's");
  }

  // Independent of the model: the value is what the world left there, or
  // the entries that were read with ksthunk appended, well formed and of
  // type REG_MULTI_SZ. A change made before the last check (the call right
  // before the write) was read, so it is never written over; only one that
  // falls between the last check and the write can be.
  const std::optional<Value> original = s.keyExists ? s.value : std::nullopt;
  const auto set = std::find(calls.begin(), calls.end(), Op::Set);
  const auto setIndex = static_cast<std::size_t>(set - calls.begin());
  const bool changed =
      s.change && s.keyExists && s.change->beforeCall < calls.size();
  const std::optional<Value> world =
      changed ? Changed(original, *s.change) : original;
  std::vector<std::optional<Value>> allowed = {world, Amended(world)};
  if (!changed || s.change->beforeCall >= setIndex) {
    allowed.push_back(Amended(original));
  }
  if (changed && s.change->beforeCall > setIndex) {
    allowed.push_back(Changed(Amended(original), *s.change));
  }
  if (std::none_of(allowed.begin(), allowed.end(),
                   [&o](const auto& value) { return Same(o.after, value); })) {
    problems.push_back(
        "stored value is neither what the world left nor the entries read "
        "with ksthunk: " +
        Describe(o.after));
  }
  if (!(s.change && s.change->bytes) && !KeepsEntries(original, o.after)) {
    problems.push_back("an entry stored before the read went missing");
  }
  if (fake_registry::OpenHandleCount() != 0 ||
      fake_registry::BadCloseCount() != 0) {
    problems.push_back("keys left open or closed twice");
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
