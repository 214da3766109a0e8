#include "fake_platform.h"

namespace fake_platform {
namespace {

struct State {
  Answers answers;
  std::vector<std::string> probes;
  std::optional<FrameworkCall> framework;
};

State& TheState() {
  static State state;
  return state;
}

char ownModule;
char kernel32;
char currentProcess;
void FakeIsWow64Process() {}

}  // namespace

void Reset(const Answers& answers) { TheState() = State{answers, {}, {}}; }
const std::vector<std::string>& Probes() { return TheState().probes; }
std::optional<FrameworkCall> Framework() { return TheState().framework; }
ModuleHandle OwnModule() { return &ownModule; }

}  // namespace fake_platform

using namespace fake_platform;

bool PlatformVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                            std::uint16_t servicePackMajor,
                            std::uint16_t servicePackMinor) {
  TheState().probes.push_back("version " + std::to_string(major) + "." +
                              std::to_string(minor) + "." +
                              std::to_string(servicePackMajor) + "." +
                              std::to_string(servicePackMinor));
  return TheState().answers.versionSupported;
}

ModuleHandle FindModule(const char* name) {
  if (name == nullptr) {
    TheState().probes.push_back("module <self>");
    return TheState().answers.hasOwnModule ? &ownModule : nullptr;
  }
  TheState().probes.push_back(std::string("module ") + name);
  return std::string(name) == "kernel32" ? &kernel32 : nullptr;
}

EntryPoint FindEntryPoint(ModuleHandle module, const char* name) {
  TheState().probes.push_back(std::string("entry ") + name);
  const bool found = module == &kernel32 &&
                     std::string(name) == "IsWow64Process" &&
                     TheState().answers.hasIsWow64Process;
  return found ? &FakeIsWow64Process : nullptr;
}

ProcessHandle CurrentProcess() {
  TheState().probes.push_back("process");
  return &currentProcess;
}

void CallIsWow64Process(EntryPoint isWow64Process, ProcessHandle process,
                        std::int32_t* wow64) {
  TheState().probes.push_back("wow64");
  if (isWow64Process == &FakeIsWow64Process && process == &currentProcess &&
      TheState().answers.underWow64) {
    *wow64 = 1;
  }
}

const char* CommandLine() {
  TheState().probes.push_back("command line");
  return TheState().answers.commandLine.c_str();
}

int InitialiseFramework(ModuleHandle instance, ModuleHandle previous,
                        const char* commandLine, int showState) {
  TheState().probes.push_back("framework");
  TheState().framework =
      FrameworkCall{instance, previous, commandLine, showState};
  return TheState().answers.frameworkResult;
}
