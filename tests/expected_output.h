// What the updater prints, for the tests to compare its output with: the
// fixed texts once, and the lines built from the arguments.
#pragma once

#include <string>
#include <vector>

// Constants, not strings built at start-up: the order in which inline
// variables of several files are initialised is not one every toolchain
// keeps (clang's for MinGW does not).
inline constexpr char kSuccess[] = "SUCCESS\n";
inline constexpr char kListingHead[] =
    "\n**************************\nCurrent "
    "VALUES\n**************************\n\n";
inline constexpr char kListingTail[] = "\n**************************\n\n";
inline constexpr char kPresent[] = "\n***Ksthunk already Present***\n\n";
inline constexpr char kNotPresent[] = "The UpperFilters Key is not Present\n";
inline constexpr char kDriverMissing[] = "Could not Find the Driver ksthunk\n";

// The service key of the ksthunk driver, under HKEY_LOCAL_MACHINE.
inline constexpr char kThunkServicePath[] =
    "SYSTEM\\CurrentControlSet\\Services\\ksthunk";

// The listing of `entries`, one line each between the rules.
inline std::string Listing(const std::vector<std::string>& entries) {
  std::string text = kListingHead;
  for (const std::string& entry : entries) {
    text += entry + "\n";
  }
  return text + kListingTail;
}

// The failure of reading ("Read") or writing ("Set") the value UpperFilters
// under `path` when the entry is ksthunk.
inline std::string ValueFailure(const std::string& verb,
                                const std::string& path) {
  return "Could not " + verb + " the Value SubKey " + path +
         " Value UpperFilters New Value ksthunk size 14\n";
}
