// Watches malloc and free in a test binary linked with
// -Wl,--wrap=malloc,--wrap=free: counts the blocks taken and released while
// a watch is on, and can make a chosen allocation fail.
#pragma once

#include <cstddef>

namespace allocation_watch {

// Starts a watch; the `failAt`-th allocation from now returns null
// (0: none fails). Allocations of 2 GiB or more always fail, as they do in
// the 32-bit program's address space, and so do those of zero bytes, as a
// C runtime may make them.
void Start(int failAt = 0);
void Stop();

// Leaves the blocks that the test's own bookkeeping takes out of the
// watch for as long as it lives.
class Pause {
 public:
  Pause();
  ~Pause();
  Pause(const Pause&) = delete;
  Pause& operator=(const Pause&) = delete;

 private:
  bool wasOn_;
};

int Allocations();  // blocks handed out while watching
int Releases();     // watched blocks freed
int Unreleased();   // watched blocks not freed yet

}  // namespace allocation_watch
