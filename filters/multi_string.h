// The REG_MULTI_SZ layout: entries of non-zero bytes, each followed by a NUL,
// and one more NUL after the last entry. These functions work on plain
// memory and never read or write outside the spans they are given, whatever
// the bytes hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Moves to the next entry of `list`, starting at `offset`. Returns false when
// the list has no more entries. An empty entry inside the list is an entry;
// the final NUL of a well-formed list is not. A last entry that lacks its NUL
// ends at the end of the buffer.
bool NextEntry(std::span<const char> list, std::size_t& offset,
               std::string_view& entry);

// Bytes needed for `list` rebuilt with one entry of `entryLength` characters
// appended: S + L + 1 for a well-formed list of S bytes, more when the list
// lacks its final NUL or its last entry's NUL. Never wraps.
std::uint64_t RebuiltListSize(std::span<const char> list,
                              std::uint64_t entryLength);

enum class RebuildOutcome {
  Appended,  // target holds the old entries and the new one
  Present,   // an entry equal to the name looked for is in the list
  NoRoom,    // target is smaller than RebuiltListSize(); nothing written
};

// Fills `target` with the entries of `list` in stored order followed by
// `newEntry`, as a well-formed list, unless ContainsEntry finds `lookFor`.
// On Appended, `builtSize` is the number of bytes written.
RebuildOutcome RebuildWithEntry(std::span<const char> list,
                                std::string_view lookFor,
                                std::string_view newEntry,
                                std::span<char> target, std::size_t& builtSize);

// Whether an entry of `list` equals `name`: the entries of NextEntry's walk.
bool ContainsEntry(std::span<const char> list, std::string_view name);

// The list that holds one entry alone is the empty list rebuilt with it.
inline constexpr std::array<char, 1> kEmptyList = {'\0'};
