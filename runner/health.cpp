#include "health.h"

namespace {

constexpr std::uint32_t kSz = 1;
constexpr std::uint32_t kExpandSz = 2;
constexpr std::uint32_t kMultiSz = 7;
constexpr std::size_t kMostKeyName = 255;

std::wstring Join(const std::vector<std::wstring>& names) {
  std::wstring text;
  for (const std::wstring& name : names) {
    text += (text.empty() ? L"" : L", ") + name;
  }
  return text;
}

}  // namespace

bool IsList(std::uint32_t type) {
  return type == kSz || type == kExpandSz || type == kMultiSz;
}

std::vector<std::wstring> SplitEntries(std::uint32_t type,
                                       std::wstring_view data) {
  std::vector<std::wstring> entries;
  while (IsList(type) && !data.empty()) {
    const std::size_t end = data.find(L'\0');
    if (end != 0) entries.emplace_back(data.substr(0, end));
    if (end == std::wstring_view::npos || type != kMultiSz) break;
    data.remove_prefix(end + 1);
  }
  return entries;
}

bool CanBeKeyName(std::wstring_view name) {
  return !name.empty() && name.size() <= kMostKeyName &&
         name.find(L'\\') == std::wstring_view::npos;
}

std::wstring MissingDrivers(const std::vector<FilterList>& lists,
                            std::size_t most) {
  const std::wstring head = L"filters without a driver:";
  constexpr std::size_t kRoom = 24;  // for "; " and " and N more"
  std::wstring text;
  std::size_t dropped = 0;
  for (const FilterList& list : lists) {
    std::wstring part;
    for (const std::wstring& name : list.missing) {
      const std::wstring next =
          (part.empty() ? L" " + list.value + L" " : L", ") + name;
      if (dropped > 0 ||
          head.size() + text.size() + part.size() + next.size() + kRoom >
              most) {
        ++dropped;
      } else {
        part += next;
      }
    }
    text += (text.empty() || part.empty() ? L"" : L";") + part;
  }
  if (text.empty() && dropped == 0) return {};
  return head + text +
         (dropped == 0 ? L"" : L" and " + std::to_wstring(dropped) + L" more");
}

std::wstring Describe(const FilterList& list) {
  if (!list.present) return list.value + L": none";
  if (!IsList(list.type)) {
    return list.value + L": not a list (type " + std::to_wstring(list.type) +
           L")";
  }
  return list.value + L": " + Join(list.entries) + L"; without a driver: " +
         (list.missing.empty() ? L"none" : Join(list.missing));
}
