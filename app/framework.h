// The least application framework the program needs: one application object
// that exists before main runs, and the initialisation call that takes the
// module handle, the previous instance, the command line and the show state.
#pragma once

class Application {
 public:
  explicit Application(const char* name = nullptr);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  [[nodiscard]] const char* Name() const { return name_; }
  [[nodiscard]] void* Instance() const { return instance_; }
  [[nodiscard]] const char* CommandLine() const { return commandLine_; }
  [[nodiscard]] int ShowState() const { return showState_; }

 private:
  friend int InitialiseApplication(void* instance, void* previous,
                                   const char* commandLine, int showState);

  const char* name_;
  void* instance_ = nullptr;
  const char* commandLine_ = nullptr;
  int showState_ = 0;
};

// The application object, or null when none exists.
Application* CurrentApplication();

// Hands the process's start-up values to the application object. Non-zero on
// success; zero when there is no application object or no module handle.
int InitialiseApplication(void* instance, void* previous,
                          const char* commandLine, int showState);
