#include "fake_registry.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "allocation_watch.h"

namespace fake_registry {
namespace {

constexpr SystemStatus kFileNotFound = 2;
constexpr SystemStatus kInvalidHandle = 6;
constexpr SystemStatus kMoreData = 0xEA;

struct State {
  std::map<std::string, std::map<std::string, Value>> keys;
  std::map<Op, SystemStatus> failures;
  std::uint32_t extraSize = 0;
  std::optional<std::uint32_t> reportedSize;
  std::map<std::size_t, std::function<void()>> changes;
  std::map<std::size_t, SystemStatus> callFailures;
  std::uint32_t lastError = 0;
  std::vector<Call> calls;
  std::vector<Write> writes;
  std::map<RegistryKey, std::string> openKeys;
  std::size_t handlesIssued = 0;
  std::size_t runStart = 0;  // the index of the current run's first call
  int badCloses = 0;
};

State& TheState() {
  static State state;
  return state;
}

// Distinct addresses serve as handles.
std::array<char, 1024> handleSlots;
char rootSlot;

// Records the call, lets another program change the registry first when a
// test asks for that, and gives the failure injected for it, if any.
std::optional<SystemStatus> Begin(Call call) {
  State& state = TheState();
  const std::size_t index = state.calls.size();
  // A run begins with an open while no key is open.
  if (call.op == Op::Open && state.openKeys.empty()) {
    state.runStart = index;
  }
  if (index - state.runStart >= kMostCalls) {
    std::fprintf(stderr, "a run made more than %zu registry calls\n",
                 kMostCalls);
    std::abort();
  }
  const Op op = call.op;
  state.calls.push_back(std::move(call));
  if (const auto change = state.changes.find(index);
      change != state.changes.end()) {
    change->second();
  }
  if (const auto failure = state.callFailures.find(index);
      failure != state.callFailures.end()) {
    return failure->second;
  }
  const auto found = state.failures.find(op);
  if (found == state.failures.end()) {
    return std::nullopt;
  }
  return found->second;
}

// The path of an open handle, or nothing for a handle that is not open.
std::optional<std::string> KeyPath(RegistryKey key) {
  if (key == &rootSlot) {
    return std::string();
  }
  const auto found = TheState().openKeys.find(key);
  if (found == TheState().openKeys.end()) {
    return std::nullopt;
  }
  return found->second;
}

Value* FindValue(const std::string& path, const std::string& name) {
  auto& keys = TheState().keys;
  const auto key = keys.find(path);
  if (key == keys.end()) {
    return nullptr;
  }
  const auto value = key->second.find(name);
  return value == key->second.end() ? nullptr : &value->second;
}

}  // namespace

bool IsStringType(std::uint32_t type) {
  return type == 1 || type == 2 || type == kRegMultiSz;
}

void Reset() {
  TheState() = State{};
  AddKey("");
}

void AddKey(const std::string& path) { TheState().keys[path]; }

void PutValue(const std::string& path, const std::string& name,
              std::uint32_t type, std::string bytes) {
  TheState().keys[path][name] = Value{type, std::move(bytes)};
}

void SetValue(const std::string& path, const std::string& name,
              const std::optional<Value>& value) {
  if (value) {
    TheState().keys[path][name] = *value;
  } else {
    TheState().keys[path].erase(name);
  }
}

std::optional<Value> GetValue(const std::string& path,
                              const std::string& name) {
  const Value* value = FindValue(path, name);
  return value != nullptr ? std::optional<Value>(*value) : std::nullopt;
}

void FailOperation(Op op, SystemStatus status) {
  TheState().failures[op] = status;
}
void ReportExtraSize(std::uint32_t extra) { TheState().extraSize = extra; }
void ReportSize(std::uint32_t size) { TheState().reportedSize = size; }
void ChangeBeforeCall(std::size_t call, std::function<void()> change) {
  TheState().changes[call] = std::move(change);
}
void FailCall(std::size_t call, SystemStatus status) {
  TheState().callFailures[call] = status;
}
void SetLastSystemError(std::uint32_t code) { TheState().lastError = code; }

const std::vector<Call>& Calls() { return TheState().calls; }
const std::vector<Write>& Writes() { return TheState().writes; }

int OpenHandleCount() { return static_cast<int>(TheState().openKeys.size()); }
int BadCloseCount() { return TheState().badCloses; }

}  // namespace fake_registry

using namespace fake_registry;

RegistryKey RegistryLocalMachine() { return &rootSlot; }

SystemStatus RegistryOpenKey(RegistryKey root, const char* path,
                             std::uint32_t access, RegistryKey* key) {
  const allocation_watch::Pause bookkeeping;
  State& state = TheState();
  if (const auto failure =
          Begin(Call{Op::Open, root, path, access, {}, 0, 0})) {
    return *failure;
  }
  if (root != &rootSlot) {
    return kInvalidHandle;
  }
  if (state.keys.find(path) == state.keys.end()) {
    return kFileNotFound;
  }
  if (state.handlesIssued == handleSlots.size()) {
    return kInvalidHandle;
  }
  RegistryKey handle = &handleSlots[state.handlesIssued++];
  state.openKeys[handle] = path;
  *key = handle;
  return kStatusSuccess;
}

SystemStatus RegistryQueryValue(RegistryKey key, const char* name, char* data,
                                std::uint32_t* size) {
  const allocation_watch::Pause bookkeeping;
  State& state = TheState();
  const Op op = data == nullptr ? Op::SizeQuery : Op::DataQuery;
  if (const auto failure = Begin(Call{op, key, {}, 0, name, *size, 0})) {
    return *failure;
  }
  const auto path = KeyPath(key);
  if (!path) {
    return kInvalidHandle;
  }
  const Value* value = FindValue(*path, name);
  if (value == nullptr) {
    return kFileNotFound;
  }
  const auto stored = static_cast<std::uint32_t>(value->bytes.size());
  if (op == Op::SizeQuery) {
    *size = state.reportedSize ? *state.reportedSize : stored + state.extraSize;
    return kStatusSuccess;
  }
  if (*size < stored) {
    *size = stored;
    return kMoreData;
  }
  if (!IsStringType(value->type)) {
    return kStatusNoUnicodeTranslation;  // as the Windows layer refuses it
  }
  if (stored > 0) {
    std::memcpy(data, value->bytes.data(), stored);
  }
  *size = stored;
  return kStatusSuccess;
}

SystemStatus RegistrySetValue(RegistryKey key, const char* name,
                              std::uint32_t type, const char* data,
                              std::uint32_t size) {
  const allocation_watch::Pause bookkeeping;
  if (const auto failure = Begin(Call{Op::Set, key, {}, 0, name, size, type})) {
    return *failure;
  }
  const auto path = KeyPath(key);
  if (!path) {
    return kInvalidHandle;
  }
  PutValue(*path, name, type, std::string(data, size));
  TheState().writes.push_back(
      {TheState().calls.size() - 1, Value{type, std::string(data, size)}});
  return kStatusSuccess;
}

void RegistryCloseKey(RegistryKey key) {
  const allocation_watch::Pause bookkeeping;
  State& state = TheState();
  Begin(Call{Op::Close, key, {}, 0, {}, 0, 0});
  if (key == &rootSlot) {
    return;
  }
  if (state.openKeys.erase(key) == 0) {
    ++state.badCloses;
  }
}

std::uint32_t LastSystemError() { return TheState().lastError; }
