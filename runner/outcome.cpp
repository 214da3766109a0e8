#include "outcome.h"

#include <array>
#include <string>
#include <utility>

namespace {

constexpr std::size_t kUnrecognised = 11;
static_assert(kOutcomes[kUnrecognised].kind == "unrecognised");

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

// The output as the program printed it: the console runtime turned each
// "\n" into "\r\n" on the way.
std::string WithNewlines(std::string_view output) {
  std::string text;
  text.reserve(output.size());
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (output[i] != '\r' || i + 1 == output.size() || output[i + 1] != '\n') {
      text += output[i];
    }
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
  while (text.ends_with('\n')) {
    text.remove_suffix(1);
  }
  const std::size_t start = text.rfind('\n');
  return start == std::string_view::npos ? text : text.substr(start + 1);
}

// The program's failure lines, each the last line of its output after
// "SUCCESS", and the outcome each tells.
constexpr std::array<std::pair<std::string_view, std::string_view>, 5>
    kFailures = {{{"ERROR memory allocation0x", "out-of-memory"},
                  {"ERROR 0x", "out-of-memory"},  // after other lines
                  {"Could not Read the Value ", "read-failed"},
                  {"Could not Set the Value ", "not-written"},
                  {"Could not Find the Driver ksthunk", "no-driver"}}};

std::string_view FailureKind(std::string_view text) {
  const std::string_view last = LastLine(text);
  if (text == std::string(last) + "\n" && last.starts_with("ERROR 0x")) {
    return last == "ERROR 0x2"   ? "key-missing"
           : last == "ERROR 0x5" ? "access-denied"
                                 : "open-failed";
  }
  for (const auto& [line, kind] : kFailures) {
    if (text.starts_with(kSuccess) && last.starts_with(line)) {
      return kind;
    }
  }
  return "unrecognised";
}

}  // namespace

const Outcome& FindOutcome(std::string_view kind) {
  for (const Outcome& outcome : kOutcomes) {
    if (outcome.kind == kind) {
      return outcome;
    }
  }
  return kOutcomes[kUnrecognised];
}

bool IsFrenchRefusal(std::string_view output) {
  const std::string text = WithNewlines(output);
  return text == kRefusals[2] || text == kRefusals[3];
}

const Outcome& ClassifyRun(std::uint32_t exitStatus, std::string_view output) {
  const std::string text = WithNewlines(output);
  if (exitStatus == 1) {
    for (const std::string_view refusal : kRefusals) {
      if (text == refusal) {
        return FindOutcome("refused");
      }
    }
  }
  if (exitStatus != 0) {
    return FindOutcome("unrecognised");
  }
  if (ListingThen(text, kPresent)) {
    return FindOutcome("in-place");
  }
  if (ListingThen(text, kListingTail)) {
    return FindOutcome("changed");
  }
  if (text == kCreated) {
    return FindOutcome("created");
  }
  return FindOutcome(FailureKind(text));
}
