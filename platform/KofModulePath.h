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

// A library loaded from PATH, its symbols resolved now; null with ERROR set
// when it cannot be loaded. Test programs load the plugin this way.
void* OpenLibrary(const std::string& path, std::string& error);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace kof
