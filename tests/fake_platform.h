// In-memory start-up probes: each answers as the test sets it, and every
// probe made is recorded in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "startup.h"

namespace fake_platform {

struct Answers {
  bool versionSupported = true;
  bool hasIsWow64Process = true;
  bool underWow64 = true;
  bool hasOwnModule = true;
  int frameworkResult = 1;
  std::string commandLine = "\"C:\\tools\\ksthunk-filter.exe\"";
};

struct FrameworkCall {
  ModuleHandle instance;
  ModuleHandle previous;
  std::string commandLine;
  int showState;
};

void Reset(const Answers& answers = {});
// The probes made, in order, e.g. "version 6.0.0.0", "module kernel32".
const std::vector<std::string>& Probes();
std::optional<FrameworkCall> Framework();
ModuleHandle OwnModule();

}  // namespace fake_platform
