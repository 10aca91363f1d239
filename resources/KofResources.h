#pragma once
// Documents compiled into the library (the help texts, later the icons).
#include <cstdint>
#include <string>
#include <string_view>

namespace kof {

// The raw bytes of a named resource ("Help1", "Help2"); empty when unknown.
// Names compare without regard to case.
std::string_view FindResource(std::string_view name);

// major.minor.release of the library, and when it was built.
std::string AppVersionText();
std::string BuildTimeText();
// The same moment in seconds since 1970-01-01 UTC.
std::int64_t BuildUnixTime();

}  // namespace kof
