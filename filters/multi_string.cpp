#include "multi_string.h"

#include <cstring>

namespace {

// Bytes of `list` taken by its entries: everything but the final NUL, when
// there is one. The walk ends on the final NUL exactly when the last byte is
// a NUL that starts an entry (the buffer's first byte, or one after a NUL).
std::size_t EntryBytes(std::span<const char> list) {
  const std::size_t size = list.size();
  if (size == 0) {
    return 0;
  }
  const bool endsWithFinalNul =
      list[size - 1] == '\0' && (size == 1 || list[size - 2] == '\0');
  return endsWithFinalNul ? size - 1 : size;
}

// Whether the last entry ends with its NUL (true for no entries at all).
bool LastEntryTerminated(std::span<const char> list, std::size_t entryBytes) {
  return entryBytes == 0 || list[entryBytes - 1] == '\0';
}

bool ContainsEntryByWalk(std::span<const char> list, std::string_view name) {
  std::size_t offset = 0;
  std::string_view entry;
  while (NextEntry(list, offset, entry)) {
    if (entry == name) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool NextEntry(std::span<const char> list, std::size_t& offset,
               std::string_view& entry) {
  const std::size_t size = list.size();
  if (offset >= size) {
    return false;
  }
  if (offset == size - 1 && list[offset] == '\0') {
    return false;  // the final NUL ends the list
  }
  const char* start = list.data() + offset;
  const std::size_t rest = size - offset;
  const void* nul = std::memchr(start, '\0', rest);
  const std::size_t length =
      nul != nullptr
          ? static_cast<std::size_t>(static_cast<const char*>(nul) - start)
          : rest;
  entry = std::string_view(start, length);
  offset += length + 1;  // one past the end when the last NUL is missing
  return true;
}

std::uint64_t RebuiltListSize(std::span<const char> list,
                              std::uint64_t entryLength) {
  const std::size_t entryBytes = EntryBytes(list);
  const std::uint64_t missingNul =
      LastEntryTerminated(list, entryBytes) ? 0 : 1;
  return std::uint64_t{entryBytes} + missingNul + entryLength + 2;
}

// Rather than comparing every entry, this searches the bytes for the name
// and accepts a hit only where it spans a whole entry. The search jumps from
// one occurrence of the name's first letter to the next (memchr), so a long
// list costs little more than copying it.
bool ContainsEntry(std::span<const char> list, std::string_view name) {
  if (name.empty()) {
    return ContainsEntryByWalk(list, name);
  }
  if (name.find('\0') != std::string_view::npos) {
    return false;  // an entry never holds a NUL
  }
  const std::string_view entries(list.data(), EntryBytes(list));
  for (std::size_t hit = entries.find(name); hit != std::string_view::npos;
       hit = entries.find(name, hit + 1)) {
    const std::size_t end = hit + name.size();
    const bool startsEntry = hit == 0 || entries[hit - 1] == '\0';
    const bool endsEntry = end == entries.size() || entries[end] == '\0';
    if (startsEntry && endsEntry) {
      return true;
    }
  }
  return false;
}

RebuildOutcome RebuildWithEntry(std::span<const char> list,
                                std::string_view lookFor,
                                std::string_view newEntry,
                                std::span<char> target,
                                std::size_t& builtSize) {
  builtSize = 0;
  if (RebuiltListSize(list, newEntry.size()) > target.size()) {
    return RebuildOutcome::NoRoom;
  }
  if (ContainsEntry(list, lookFor)) {
    return RebuildOutcome::Present;
  }
  const std::size_t entryBytes = EntryBytes(list);
  char* out = target.data();
  if (entryBytes > 0) {
    std::memcpy(out, list.data(), entryBytes);
    out += entryBytes;
  }
  if (!LastEntryTerminated(list, entryBytes)) {
    *out++ = '\0';
  }
  if (!newEntry.empty()) {
    std::memcpy(out, newEntry.data(), newEntry.size());
    out += newEntry.size();
  }
  *out++ = '\0';
  *out++ = '\0';
  builtSize = static_cast<std::size_t>(out - target.data());
  return RebuildOutcome::Appended;
}

std::uint64_t SingleEntryListSize(std::uint64_t entryLength) {
  return entryLength + 2;
}

std::size_t WriteSingleEntryList(std::string_view entry,
                                 std::span<char> target) {
  if (SingleEntryListSize(entry.size()) > target.size()) {
    return 0;
  }
  if (!entry.empty()) {
    std::memcpy(target.data(), entry.data(), entry.size());
  }
  target[entry.size()] = '\0';
  target[entry.size() + 1] = '\0';
  return entry.size() + 2;
}
