#include "framework.h"
#include "startup.h"

// The framework's application object, constructed before main runs.
Application theApplication;

// The arguments and the environment are not read: nothing is configurable.
int main(int /*argc*/, char** /*argv*/, char** /*envp*/) {
  return RunProgram();
}
