// The least application framework the program needs: one application object
// that exists before main runs, and the initialisation call that takes the
// module handle, the previous instance, the command line and the show state.
#pragma once

class Application {
 public:
  Application() noexcept;
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
};

// The application object, or null when none exists.
Application* CurrentApplication();

// Starts the framework for the process. Non-zero on success; zero when there
// is no application object or no module handle.
int InitialiseApplication(void* instance, void* previous,
                          const char* commandLine, int showState);
