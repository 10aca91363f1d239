#pragma once
#include <string>

namespace kof {

// Full file name of the shared library (or program) that contains this code.
std::string OwnModuleFileName();

}  // namespace kof
