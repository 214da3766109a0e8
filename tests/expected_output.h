// What the program prints, for the tests to compare its output with: the
// fixed texts once, and the lines built from the arguments. The end-to-end
// tests read the "inline constexpr char" lines of this file too
// (tests/e2e/expected.py): keep each such constant plain string literals.
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
inline constexpr char kOldWindows[] = "OS Not supported\n";
inline constexpr char kNot64Bit[] = "This is not a 64 bits Operating System\n";
// The French refusals, in Windows-1252 bytes.
inline constexpr char kNoOwnModule[] =
    "Erreur irr\xE9"
    "cup\xE9"
    "rable : \xE9"
    "chec de GetModuleHandle\n";
inline constexpr char kNoFramework[] =
    "Erreur irr\xE9"
    "cup\xE9"
    "rable\xA0: l'initialisation MFC a \xE9"
    "chou\xE9"
    "\n";
// The failure to read ("Read") or write ("Set") the value UpperFilters under
// a key path, when the entry is ksthunk.
inline constexpr char kValueFailureFormat[] =
    "Could not %s the Value SubKey %s Value UpperFilters New Value ksthunk "
    "size 14\n";

// The class key the program must work on, under HKEY_LOCAL_MACHINE: written
// out here, never taken from the program's own sources.
inline constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\"
    "{4D36E96C-E325-11CE-BFC1-08002BE10318}";

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

inline std::string ValueFailure(const std::string& verb,
                                const std::string& path) {
  std::string text = kValueFailureFormat;
  text.replace(text.find("%s"), 2, verb);
  return text.replace(text.find("%s"), 2, path);
}
