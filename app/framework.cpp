#include "framework.h"

namespace {

Application* current = nullptr;

}  // namespace

Application::Application(const char* name) : name_(name) {
  if (current == nullptr) {
    current = this;
  }
}

Application::~Application() {
  if (current == this) {
    current = nullptr;
  }
}

Application* CurrentApplication() { return current; }

int InitialiseApplication(void* instance, void* /*previous*/,
                          const char* commandLine, int showState) {
  if (current == nullptr || instance == nullptr) {
    return 0;
  }
  current->instance_ = instance;
  current->commandLine_ = commandLine;
  current->showState_ = showState;
  return 1;
}
