#include "framework.h"
#include "startup.h"

// The framework's application object, constructed before main runs.
Application theApplication;

int main(int, char**, char**) { return RunProgram(); }
