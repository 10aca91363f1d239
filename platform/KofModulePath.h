#pragma once
#include <string>

namespace kof {

// Full file name of the shared library (or program) that contains this code.
std::string OwnModuleFileName();
// The folder of that module with a trailing "/"; "./" when it has no folder part.
std::string OwnModuleFolder();
// Whether a shared library of this file name is loaded into the process
// (nothing is loaded by asking).
bool LibraryLoaded(const std::string& AFileName);

}  // namespace kof
