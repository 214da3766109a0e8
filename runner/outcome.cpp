#include "outcome.h"

#include <array>
#include <string>
#include <utility>

namespace {

// What ksthunk-filter.exe prints, as it prints it with "\n" line ends.
constexpr std::string_view kSuccess = "SUCCESS\n";
constexpr std::string_view kListingHead =
    "SUCCESS\n\n**************************\nCurrent VALUES\n"
    "**************************\n\n";
constexpr std::string_view kListingTail = "\n**************************\n\n";
constexpr std::string_view kPresent = "\n***Ksthunk already Present***\n\n";
constexpr std::string_view kCreated =
    "SUCCESS\nThe UpperFilters Key is not Present\n";
// The start-up refusals; the French two in Windows-1252 bytes.
constexpr std::array<std::string_view, 4> kRefusals = {
    "OS Not supported\n", "This is not a 64 bits Operating System\n",
    "Erreur irr\xE9"
    "cup\xE9"
    "rable : \xE9"
    "chec de GetModuleHandle\n",
    "Erreur irr\xE9"
    "cup\xE9"
    "rable\xA0: l'initialisation MFC a \xE9"
    "chou\xE9"
    "\n"};
// The failure lines, each the last line of an output that began with
// "SUCCESS", and the outcome each tells.
constexpr std::array<std::pair<std::string_view, Kind>, 5> kFailures = {{
    {"ERROR memory allocation0x", Kind::OutOfMemory},
    {"ERROR 0x", Kind::OutOfMemory},  // after other lines
    {"Could not Read the Value ", Kind::ReadFailed},
    {"Could not Set the Value ", Kind::NotWritten},
    {"Could not Find the Driver ksthunk", Kind::NoDriver},
}};

// The output as the program printed it: the console runtime turned each
// "\n" into "\r\n" on the way.
std::string WithNewlines(std::string_view output) {
  std::string text;
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (output.substr(i, 2) != "\r\n") text += output[i];
  }
  return text;
}

// Whether `text` is the listing of some entries followed by `end`.
bool ListingThen(std::string_view text, std::string_view end) {
  const std::string tail =
      std::string(kListingTail) + std::string(kSuccess) + std::string(end);
  return text.size() >= kListingHead.size() + tail.size() &&
         text.starts_with(kListingHead) && text.ends_with(tail);
}

// The last line that is not empty, without its "\n".
std::string_view LastLine(std::string_view text) {
  while (text.ends_with('\n')) text.remove_suffix(1);
  const std::size_t start = text.rfind('\n');
  return start == std::string_view::npos ? text : text.substr(start + 1);
}

}  // namespace

bool IsFrenchRefusal(std::string_view output) {
  const std::string text = WithNewlines(output);
  return text == kRefusals[2] || text == kRefusals[3];
}

Kind ClassifyRun(std::uint32_t exitStatus, std::string_view output) {
  const std::string text = WithNewlines(output);
  const std::string_view last = LastLine(text);
  if (exitStatus == 1) {
    for (const std::string_view refusal : kRefusals) {
      if (text == refusal) return Kind::Refused;
    }
  }
  if (exitStatus != 0) return Kind::Unrecognised;
  if (ListingThen(text, kPresent)) return Kind::InPlace;
  if (ListingThen(text, kListingTail)) return Kind::Changed;
  if (text == kCreated) return Kind::Created;
  // A key that could not be opened: "ERROR 0x" and the status, alone.
  if (text == std::string(last) + "\n" && last.starts_with("ERROR 0x")) {
    return last == "ERROR 0x2"   ? Kind::KeyMissing
           : last == "ERROR 0x5" ? Kind::AccessDenied
                                 : Kind::OpenFailed;
  }
  for (const auto& [line, kind] : kFailures) {
    if (text.starts_with(kSuccess) && last.starts_with(line)) return kind;
  }
  return Kind::Unrecognised;
}
