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

enum class Op { Open, SizeQuery, DataQuery, Set, Close };

struct Call {
  Op op;
  RegistryKey key = nullptr;  // the handle used (Open: the root)
  std::string path;           // Open only
  std::uint32_t access = 0;   // Open only
  std::string name;           // queries and Set
  std::uint32_t sizeIn = 0;   // queries: the size going in
  std::uint32_t type = 0;     // Set only
  std::string data;           // Set only: the bytes written
};

struct Value {
  std::uint32_t type;
  std::string bytes;
};

void Reset();

// Keys are addressed by their path under HKEY_LOCAL_MACHINE; "" is the root.
void AddKey(const std::string& path);
void PutValue(const std::string& path, const std::string& name,
              std::uint32_t type, std::string bytes);
std::optional<Value> GetValue(const std::string& path, const std::string& name);

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
std::vector<Op> CallOps();
// Handles opened and not yet closed, and closes of handles that were not open.
int OpenHandleCount();
int BadCloseCount();

}  // namespace fake_registry
