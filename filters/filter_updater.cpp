#include "filter_updater.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

#include "heap_buffer.h"
#include "multi_string.h"
#include "registry.h"

namespace {

// KEY_ALL_ACCESS (0xF003F) in the 32-bit registry view (KEY_WOW64_32KEY).
constexpr std::uint32_t kAllAccess32BitView = 0xF023F;
// KEY_READ (0x20019) in the 32-bit registry view.
constexpr std::uint32_t kReadAccess32BitView = 0x20219;
constexpr std::string_view kThunkFilter = "ksthunk";
// A class filter names a driver by its service key under this path.
constexpr std::string_view kServicesPath =
    R"(SYSTEM\CurrentControlSet\Services\)";
// The longest name a registry key can have, in characters.
constexpr std::size_t kMaxKeyNameLength = 255;

struct KeyCloser {
  void operator()(void* key) const { RegistryCloseKey(key); }
};
using KeyHandle = std::unique_ptr<void, KeyCloser>;

// `verb` is "Read" or "Set". The size printed is twice the entry's length.
void PrintValueFailure(const char* verb, const std::string& keyPath,
                       const std::string& valueName, const std::string& entry) {
  std::printf(
      "Could not %s the Value SubKey %s Value %s New Value %s size %d\n", verb,
      keyPath.c_str(), valueName.c_str(), entry.c_str(),
      static_cast<int>(2 * entry.size()));
}

void PrintListing(std::span<const char> list) {
  std::printf("\n**************************\n");
  std::printf("Current VALUES\n");
  std::printf("**************************\n\n");
  std::size_t offset = 0;
  std::string_view entry;
  while (NextEntry(list, offset, entry)) {
    std::printf("%.*s\n", static_cast<int>(entry.size()), entry.data());
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

// Whether the driver that `entry` names is installed: Windows starts no
// device of a class whose filter list names a driver without a service key.
// Prints why not when it is not.
bool DriverInstalled(const std::string& entry) {
  // A name longer than any key's cannot be a service; the path is built on
  // the stack so that the check takes no memory that could run out.
  std::array<char, kServicesPath.size() + kMaxKeyNameLength + 1> path{};
  bool found = entry.size() <= kMaxKeyNameLength;
  if (found) {
    char* const end =
        std::copy(kServicesPath.begin(), kServicesPath.end(), path.data());
    std::copy(entry.begin(), entry.end(), end);
    RegistryKey service = nullptr;
    found = RegistryOpenKey(RegistryLocalMachine(), path.data(),
                            kReadAccess32BitView, &service) == kStatusSuccess;
    if (found) {
      RegistryCloseKey(service);
    }
  }
  if (!found) {
    std::printf("Could not Find the Driver %s\n", entry.c_str());
  }
  return found;
}

// Whether the value, read again the way it was first read, still holds the
// bytes of `read`: a list that another program changed meanwhile is not
// written over. Any failure of the re-read counts as a change.
bool StillHolds(RegistryKey key, const std::string& valueName,
                std::span<const char> read) {
  std::uint32_t size = 0;
  if (RegistryQueryValue(key, valueName.c_str(), nullptr, &size) !=
      kStatusSuccess) {
    return false;
  }
  const std::uint32_t room = size;
  HeapBuffer again;
  return AllocateBuffer(room, &again) &&
         RegistryQueryValue(key, valueName.c_str(), again.data.get(), &size) ==
             kStatusSuccess &&
         size <= room && size == read.size() &&
         std::equal(read.begin(), read.end(), again.data.get());
}

// Whether the value is still absent, asked right before it is created.
bool StillAbsent(RegistryKey key, const std::string& valueName) {
  std::uint32_t size = 0;
  return RegistryQueryValue(key, valueName.c_str(), nullptr, &size) ==
         kStatusNotFound;
}

// Writes the list that holds `entry` alone: the empty list rebuilt with it.
void CreateValue(RegistryKey key, const std::string& keyPath,
                 const std::string& valueName, const std::string& entry) {
  std::printf("The UpperFilters Key is not Present\n");
  if (!DriverInstalled(entry)) {
    return;
  }
  const auto room =
      static_cast<std::size_t>(RebuiltListSize(kEmptyList, entry.size()));
  HeapBuffer list;
  if (!AllocateBuffer(room, &list)) {
    std::printf("ERROR 0x%x\n", LastSystemError());
    return;
  }
  std::size_t built = 0;
  if (RebuildWithEntry(kEmptyList, {}, entry, {list.data.get(), room}, built) !=
          RebuildOutcome::Appended ||
      !StillAbsent(key, valueName) ||
      RegistrySetValue(key, valueName.c_str(), kRegMultiSz, list.data.get(),
                       static_cast<std::uint32_t>(built)) != kStatusSuccess) {
    PrintValueFailure("Set", keyPath, valueName, entry);
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
    PrintValueFailure("Read", keyPath, valueName, entry);
    return;
  }

  const std::uint32_t room = size;
  HeapBuffer oldList;
  if (!AllocateBuffer(room, &oldList)) {
    std::printf("ERROR memory allocation0x%x\n", LastSystemError());
    return;
  }
  // The value was there a moment ago, so a failed read must never lead to
  // a write: it would replace every stored filter with the new entry.
  if (RegistryQueryValue(key.get(), valueName.c_str(), oldList.data.get(),
                         &size) != kStatusSuccess ||
      size > room) {
    PrintValueFailure("Read", keyPath, valueName, entry);
    return;
  }
  const std::span<const char> stored(oldList.data.get(), size);
  PrintListing(stored);

  // The old list fits in memory, so this cannot pass SIZE_MAX; were it to
  // wrap, the rebuild would refuse the small target.
  const auto newRoom =
      static_cast<std::size_t>(RebuiltListSize(stored, entry.size()));
  HeapBuffer newList;
  if (!AllocateBuffer(newRoom, &newList)) {
    std::printf("ERROR 0x%x\n", LastSystemError());
    return;
  }
  std::printf("SUCCESS\n");

  std::size_t built = 0;
  const RebuildOutcome outcome = RebuildWithEntry(
      stored, kThunkFilter, entry, {newList.data.get(), newRoom}, built);
  if (outcome == RebuildOutcome::Present) {
    std::printf("\n***Ksthunk already Present***\n\n");
    return;
  }
  if (outcome != RebuildOutcome::Appended) {
    return;  // not reached: the target has exactly the room the rebuild needs
  }
  std::printf("\n**************************\n\n");
  if (!DriverInstalled(entry)) {
    return;
  }
  if (!StillHolds(key.get(), valueName, stored) ||
      RegistrySetValue(key.get(), valueName.c_str(), kRegMultiSz,
                       newList.data.get(),
                       static_cast<std::uint32_t>(built)) != kStatusSuccess) {
    PrintValueFailure("Set", keyPath, valueName, entry);
  }
}
// NOLINTEND(performance-unnecessary-value-param)
