#include "filter_updater.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

#include "multi_string.h"
#include "registry.h"

namespace {

// KEY_ALL_ACCESS (0xF003F) in the 32-bit registry view (KEY_WOW64_32KEY).
constexpr std::uint32_t kAllAccess32BitView = 0xF023F;
constexpr std::string_view kThunkFilter = "ksthunk";

struct KeyCloser {
  void operator()(void* key) const { RegistryCloseKey(key); }
};
using KeyHandle = std::unique_ptr<void, KeyCloser>;

struct BufferFreer {
  void operator()(char* buffer) const { std::free(buffer); }
};
using HeapBuffer = std::unique_ptr<char, BufferFreer>;

// A registry value never exceeds 32 bits of size; a larger request fails
// like an allocation would, instead of wrapping into a small one.
HeapBuffer Allocate(std::uint64_t size) {
  if (size > UINT32_MAX || size > SIZE_MAX) {
    return nullptr;
  }
  return HeapBuffer(
      static_cast<char*>(std::malloc(static_cast<std::size_t>(size))));
}

int DoubledLength(const std::string& entry) {
  return static_cast<int>(2 * entry.size());
}

void PrintSetFailure(const std::string& keyPath, const std::string& valueName,
                     const std::string& entry) {
  std::printf(
      "Could not Set the Value SubKey %s Value %s New Value %s size %d\n",
      keyPath.c_str(), valueName.c_str(), entry.c_str(), DoubledLength(entry));
}

void PrintReadFailure(const std::string& keyPath, const std::string& valueName,
                      const std::string& entry) {
  std::printf(
      "Could not Read the Value SubKey %s Value %s New Value %s size %d\n",
      keyPath.c_str(), valueName.c_str(), entry.c_str(), DoubledLength(entry));
}

// Prints an entry and its newline. printf's precision is an int, so an
// entry longer than INT_MAX goes out in pieces rather than unbounded.
void PrintEntry(std::string_view entry) {
  do {
    const std::size_t piece = std::min<std::size_t>(entry.size(), INT_MAX);
    std::printf("%.*s", static_cast<int>(piece), entry.data());
    entry.remove_prefix(piece);
  } while (!entry.empty());
  std::printf("\n");
}

void PrintListing(std::span<const char> list) {
  std::printf("\n**************************\n");
  std::printf("Current VALUES\n");
  std::printf("**************************\n\n");
  std::size_t offset = 0;
  std::string_view entry;
  while (NextEntry(list, offset, entry)) {
    PrintEntry(entry);
  }
  std::printf("\n**************************\n\n");
}

// Opens the key, or takes the root itself for an empty path. Prints the
// failure and returns null when the key cannot be opened.
KeyHandle OpenKey(const std::string& keyPath) {
  if (keyPath.empty()) {
    return KeyHandle(RegistryLocalMachine());
  }
  RegistryKey opened = nullptr;
  const SystemStatus status = RegistryOpenKey(
      RegistryLocalMachine(), keyPath.c_str(), kAllAccess32BitView, &opened);
  if (status != kStatusSuccess) {
    std::printf("ERROR 0x%x\n", status);
    return nullptr;
  }
  return KeyHandle(opened);
}

void CreateValue(RegistryKey key, const std::string& keyPath,
                 const std::string& valueName, const std::string& entry) {
  std::printf("The UpperFilters Key is not Present\n");
  const std::uint64_t room = SingleEntryListSize(entry.size());
  const HeapBuffer list = Allocate(room);
  if (!list) {
    std::printf("ERROR 0x%x\n", LastSystemError());
    return;
  }
  const std::size_t size =
      WriteSingleEntryList(entry, {list.get(), static_cast<std::size_t>(room)});
  if (RegistrySetValue(key, valueName.c_str(), kRegMultiSz, list.get(),
                       static_cast<std::uint32_t>(size)) != kStatusSuccess) {
    PrintSetFailure(keyPath, valueName, entry);
  }
}

}  // namespace

// The updater owns its three strings for the call, so they come by value.
// NOLINTBEGIN(performance-unnecessary-value-param)
void AddFilterEntry(std::string keyPath, std::string valueName,
                    std::string entry) {
  const KeyHandle key = OpenKey(keyPath);
  if (!key) {
    return;
  }
  std::printf("SUCCESS\n");

  // Only a value that is really absent is created: any other failure may
  // hide a stored list, and writing the entry alone would replace it.
  std::uint32_t size = 0;
  const SystemStatus sizeStatus =
      RegistryQueryValue(key.get(), valueName.c_str(), nullptr, &size);
  if (sizeStatus == kStatusNotFound) {
    CreateValue(key.get(), keyPath, valueName, entry);
    return;
  }
  if (sizeStatus != kStatusSuccess) {
    PrintReadFailure(keyPath, valueName, entry);
    return;
  }

  // An empty value still gets a byte, so that malloc(0) returning null is
  // not taken for a failure.
  const std::uint32_t room = size;
  const HeapBuffer oldList = Allocate(std::max<std::uint32_t>(room, 1));
  if (!oldList) {
    std::printf("ERROR memory allocation0x%x\n", LastSystemError());
    return;
  }
  // The value was there a moment ago, so a failed read must never lead to
  // a write: it would replace every stored filter with the new entry.
  if (RegistryQueryValue(key.get(), valueName.c_str(), oldList.get(), &size) !=
          kStatusSuccess ||
      size > room) {
    PrintReadFailure(keyPath, valueName, entry);
    return;
  }
  const std::span<const char> stored(oldList.get(), size);
  PrintListing(stored);

  const std::uint64_t newRoom = RebuiltListSize(stored, entry.size());
  const HeapBuffer newList = Allocate(newRoom);
  if (!newList) {
    std::printf("ERROR 0x%x\n", LastSystemError());
    return;
  }
  std::printf("SUCCESS\n");

  std::size_t built = 0;
  const RebuildOutcome outcome = RebuildWithEntry(
      stored, kThunkFilter, entry,
      {newList.get(), static_cast<std::size_t>(newRoom)}, built);
  if (outcome == RebuildOutcome::Present) {
    std::printf("\n***Ksthunk already Present***\n\n");
    return;
  }
  if (outcome != RebuildOutcome::Appended) {
    return;  // not reached: the target has exactly the room the rebuild needs
  }
  std::printf("\n**************************\n\n");
  if (RegistrySetValue(key.get(), valueName.c_str(), kRegMultiSz, newList.get(),
                       static_cast<std::uint32_t>(built)) != kStatusSuccess) {
    PrintSetFailure(keyPath, valueName, entry);
  }
}
// NOLINTEND(performance-unnecessary-value-param)
