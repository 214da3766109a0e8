#include "framework.h"

namespace {

Application* current = nullptr;

}  // namespace

Application::Application() noexcept {
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
                          const char* /*commandLine*/, int /*showState*/) {
  return current != nullptr && instance != nullptr ? 1 : 0;
}
