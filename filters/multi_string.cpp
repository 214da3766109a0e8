#include "multi_string.h"

#include <algorithm>

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
  const auto start = list.begin() + static_cast<std::ptrdiff_t>(offset);
  const auto nul = std::find(start, list.end(), '\0');
  entry = std::string_view(&*start, static_cast<std::size_t>(nul - start));
  offset += entry.size() + 1;  // one past the end when the last NUL is missing
  return true;
}

bool ContainsEntry(std::span<const char> list, std::string_view name) {
  std::size_t offset = 0;
  std::string_view entry;
  while (NextEntry(list, offset, entry)) {
    if (entry == name) {
      return true;
    }
  }
  return false;
}

std::uint64_t RebuiltListSize(std::span<const char> list,
                              std::uint64_t entryLength) {
  const std::size_t entryBytes = EntryBytes(list);
  const std::uint64_t missingNul =
      LastEntryTerminated(list, entryBytes) ? 0 : 1;
  return std::uint64_t{entryBytes} + missingNul + entryLength + 2;
}

// The old entries are copied as they stand, in one piece: they are the
// list's bytes up to its final NUL.
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
  auto out = std::copy_n(list.begin(), entryBytes, target.begin());
  if (!LastEntryTerminated(list, entryBytes)) {
    *out++ = '\0';
  }
  out = std::copy(newEntry.begin(), newEntry.end(), out);
  *out++ = '\0';
  *out++ = '\0';
  builtSize = static_cast<std::size_t>(out - target.begin());
  return RebuildOutcome::Appended;
}
