#include "allocation_watch.h"

#include <array>
#include <cstdint>

extern "C" void* __real_malloc(std::size_t size);
extern "C" void __real_free(void* block);

namespace allocation_watch {
namespace {

// The wrappers must not allocate themselves, so the watched blocks live in
// a fixed table.
constexpr std::size_t kMaxBlocks = 64;
constexpr std::size_t kAddressSpaceLimit = std::size_t{1} << 31;

struct Watch {
  bool on = false;
  int failAt = 0;
  int requests = 0;
  int allocations = 0;
  int releases = 0;
  std::array<void*, kMaxBlocks> live{};
};

Watch watch;

bool Forget(void* block) {
  for (void*& slot : watch.live) {
    if (slot == block) {
      slot = nullptr;
      return true;
    }
  }
  return false;
}

void Remember(void* block) {
  for (void*& slot : watch.live) {
    if (slot == nullptr) {
      slot = block;
      return;
    }
  }
}

}  // namespace

void Start(int failAt) {
  watch = Watch{};
  watch.on = true;
  watch.failAt = failAt;
}

void Stop() { watch.on = false; }

Pause::Pause() : wasOn_(watch.on) { watch.on = false; }
Pause::~Pause() { watch.on = wasOn_; }

int Allocations() { return watch.allocations; }
int Releases() { return watch.releases; }

int Unreleased() {
  int count = 0;
  for (void* slot : watch.live) {
    count += slot != nullptr ? 1 : 0;
  }
  return count;
}

}  // namespace allocation_watch

using allocation_watch::watch;

extern "C" void* __wrap_malloc(std::size_t size) {
  if (!watch.on) {
    return __real_malloc(size);
  }
  ++watch.requests;
  // A zero-byte request may return null, as the C standard allows.
  if (watch.requests == watch.failAt || size == 0 ||
      size >= allocation_watch::kAddressSpaceLimit) {
    return nullptr;
  }
  void* block = __real_malloc(size);
  if (block != nullptr) {
    ++watch.allocations;
    allocation_watch::Remember(block);
  }
  return block;
}

extern "C" void __wrap_free(void* block) {
  if (watch.on && block != nullptr) {
    if (allocation_watch::Forget(block)) {
      ++watch.releases;
    }
  }
  __real_free(block);
}
