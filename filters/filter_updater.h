// Makes sure a multi-string value under HKEY_LOCAL_MACHINE lists the kernel
// streaming thunk filter.
#pragma once

#include <string>

// Opens `keyPath` under HKEY_LOCAL_MACHINE (the root itself when the path is
// empty), prints the entries of the multi-string value `valueName`, and
// appends `entry` unless "ksthunk" is already listed; creates the value
// holding `entry` alone when it is absent. Writes only when the driver that
// `entry` names is installed (its service key exists) and the value, read
// again right before the write, still holds what was read (or is still
// absent). Reports every step and failure on standard output and releases
// everything it took before returning.
void AddFilterEntry(std::string keyPath, std::string valueName,
                    std::string entry);
