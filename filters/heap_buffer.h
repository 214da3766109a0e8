// The one heap buffer type of the program: a block taken with malloc, freed
// when the buffer goes, and its size in bytes. Not a standard container: one
// would link the library's exception code into the executable.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

struct FreeBlock {
  void operator()(char* block) const { std::free(block); }
};

struct HeapBuffer {
  std::unique_ptr<char, FreeBlock> data;
  std::size_t size = 0;
};

// Takes `size` bytes for `buffer`, releasing what it held. An empty buffer
// still gets one byte, so that malloc(0) returning null is not taken for a
// failure. False when there is no memory.
inline bool AllocateBuffer(std::size_t size, HeapBuffer* buffer) {
  buffer->data.reset(static_cast<char*>(std::malloc(size == 0 ? 1 : size)));
  buffer->size = buffer->data ? size : 0;
  return buffer->data != nullptr;
}
