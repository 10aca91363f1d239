#pragma once
// Where the single-sign-on client registered its native host: the machine-wide
// key "Software\Varnok\Gatewarden SSO Client", string value "api" (a path; the
// host program lies in the same folder).
#include <string>

namespace kof {

inline constexpr char kGWardenKey[] = "Software\\Varnok\\Gatewarden SSO Client";
inline constexpr char kGWardenApiValue[] = "api";
#ifdef _WIN32
inline constexpr char kGWardenHostName[] = "gwarden_native_host.exe";
#else
inline constexpr char kGWardenHostName[] = "gwarden_native_host";
#endif

// 0 with the registered path, else the system error of the failed read (the
// key or value is missing, not a string, or longer than 259 characters) with
// the path left empty.
int GetGWardenApiPath(std::string& APath);

// The host program's path beside the registered one.
std::string GWardenHostPath(const std::string& AApiPath);

}  // namespace kof
