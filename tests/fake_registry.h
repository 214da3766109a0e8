// An in-memory registry linked in place of the Windows one. It keeps keys
// and values with their exact bytes and type, refuses the data of a value
// of no string type as the Windows layer does, records every call with its
// arguments, and can be told to fail an operation or to misreport sizes the
// way the real registry may.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "registry.h"

namespace fake_registry {

// More calls than the longest run makes, so that the tests can fail any call
// of any run, or change the value before it; a run that makes more stops.
inline constexpr std::size_t kMostCalls = 9;

enum class Op { Open, SizeQuery, DataQuery, Set, Close };

struct Call {
  Op op;
  RegistryKey key = nullptr;  // the handle used (Open: the root)
  std::string path;           // Open only
  std::uint32_t access = 0;   // Open only
  std::string name;           // queries and Set
  std::uint32_t sizeIn = 0;   // queries: the size going in
  std::uint32_t type = 0;     // Set only
};

struct Value {
  std::uint32_t type;
  std::string bytes;
  bool operator==(const Value&) const = default;
};

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ.
bool IsStringType(std::uint32_t type);

// A write that reached the registry: its call's number, the value stored.
struct Write {
  std::size_t call;
  Value value;
};

void Reset();

// Keys are addressed by their path under HKEY_LOCAL_MACHINE; "" is the root.
void AddKey(const std::string& path);
void PutValue(const std::string& path, const std::string& name,
              std::uint32_t type, std::string bytes);
std::optional<Value> GetValue(const std::string& path, const std::string& name);
// Puts the value, or deletes it when there is none.
void SetValue(const std::string& path, const std::string& name,
              const std::optional<Value>& value);

// Every later call of `op` fails with `status`.
void FailOperation(Op op, SystemStatus status);
// The size query reports this many bytes more than the data query stores,
// as the narrow-character conversion may.
void ReportExtraSize(std::uint32_t extra);
// The size query reports exactly `size`, whatever is stored.
void ReportSize(std::uint32_t size);
// Another program at work: `change` runs right before the call numbered
// `call` (0: the first call of the run), whatever that call is.
void ChangeBeforeCall(std::size_t call, std::function<void()> change);
// The call numbered `call` fails with `status`, whatever it is.
void FailCall(std::size_t call, SystemStatus status);
// The code that LastSystemError() returns.
void SetLastSystemError(std::uint32_t code);

const std::vector<Call>& Calls();
const std::vector<Write>& Writes();
// Handles opened and not yet closed, and closes of handles that were not open.
int OpenHandleCount();
int BadCloseCount();

}  // namespace fake_registry
