#include "multi_string.h"

#include <emmintrin.h>  // SSE2, which every processor of 64-bit Windows has

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

namespace {

// Whether `text` holds `name` between two NULs. Sixteen starting positions
// are tested at once: comparing a 16-byte load at offset j with byte j of
// NUL, name, NUL gives one bit per position, and the AND over every offset
// leaves the positions where the whole pattern starts. Three offsets (the
// leading NUL, the name's first byte and the closing NUL) rule out most
// blocks, and only a block that passes them is tested on the rest, so no
// arrangement of bytes costs more than every offset on every block. Two
// blocks share one branch, which halves the loop's overhead.
bool ContainsDelimitedName(std::string_view text, std::string_view name) {
  const std::size_t patternSize = name.size() + 2;
  const auto matchAt = [&](std::size_t offset, __m128i byte) {
    return _mm_cmpeq_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + offset)),
        byte);
  };
  const __m128i nul = _mm_setzero_si128();
  const __m128i first = _mm_set1_epi8(name[0]);
  const auto candidates = [&](std::size_t start) {
    return _mm_and_si128(
        _mm_and_si128(matchAt(start, nul), matchAt(start + 1, first)),
        matchAt(start + patternSize - 1, nul));
  };
  const auto wholeMatch = [&](std::size_t start, __m128i found) {
    for (std::size_t offset = 2; offset + 1 < patternSize; ++offset) {
      found = _mm_and_si128(
          found, matchAt(start + offset, _mm_set1_epi8(name[offset - 1])));
    }
    return _mm_movemask_epi8(found) != 0;
  };
  std::size_t start = 0;
  // Two blocks read up to 31 bytes past their last starting position's
  // pattern, so they stop where that would leave the text.
  for (; start + patternSize + 31 <= text.size(); start += 32) {
    const __m128i low = candidates(start);
    const __m128i high = candidates(start + 16);
    if (_mm_movemask_epi8(_mm_or_si128(low, high)) != 0 &&
        (wholeMatch(start, low) || wholeMatch(start + 16, high))) {
      return true;
    }
  }
  // Fewer than 32 starting positions are left.
  for (; start + patternSize <= text.size(); ++start) {
    if (text[start] == '\0' &&
        std::string_view(text.data() + start + 1, name.size()) == name &&
        text[start + patternSize - 1] == '\0') {
      return true;
    }
  }
  return false;
}

}  // namespace

// An entry equal to the name is the first one (no NUL before it), the last
// one of a list whose NUL after it is missing, or the name between two NULs.
bool ContainsEntry(std::span<const char> list, std::string_view name) {
  if (name.empty()) {
    return ContainsEntryByWalk(list, name);
  }
  if (name.find('\0') != std::string_view::npos) {
    return false;  // an entry never holds a NUL
  }
  const std::string_view entries(list.data(), EntryBytes(list));
  const std::size_t size = name.size();
  if (entries.size() < size) {
    return false;
  }
  const bool first = entries.starts_with(name) &&
                     (entries.size() == size || entries[size] == '\0');
  const bool last =
      entries.ends_with(name) &&
      (entries.size() == size || entries[entries.size() - size - 1] == '\0');
  return first || last || ContainsDelimitedName(entries, name);
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
