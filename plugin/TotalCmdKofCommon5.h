#pragma once
// Names of the special entries and the filling of the host's find-data records.
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/WfxAbi.h"

namespace kof {

inline constexpr std::string_view kHelpEntry = "__ use F3 to view HELP __";
inline constexpr std::string_view kGotoSessionsEntry = "__Press Enter here to go to Sessions folder__";
inline constexpr std::string_view kAccessoriesEntry = "!!_ Accessories _!!";
inline constexpr std::string_view kBinEntry = "!!__Bin_Deleted__!!";
inline constexpr std::string_view kLogoutEntry = "__Logout Session__";
inline constexpr std::string_view kPanelExt = ".<KOF>";
inline constexpr std::string_view kServerInfoEntry = "__ Koffra __.info";
inline constexpr std::string_view kConfigurationEntry = "__ Configuration __.dlg";
inline constexpr std::string_view kEncryptionOnEntry = "__  Enhanced Client Encryption is ENABLED  __";
inline constexpr std::string_view kEncryptionOffEntry = "__  Enhanced Client Encryption is DISABLED  __";
inline constexpr std::string_view kMappingOnEntry = "__ Mapping paths to external files is ENABLED __";
inline constexpr std::string_view kMappingOffEntry = "__ Mapping paths to external files is DISABLED __";

inline constexpr uint32_t kAttrFolder = 16;
inline constexpr uint32_t kAttrRecord = 32;
inline constexpr uint32_t kAttrHelp = 33;
inline constexpr uint32_t kAttrSpecial = 0x80000000u;
// S_IFREG | 0600, what a host that reads Unix modes sees on special entries.
inline constexpr uint32_t kSpecialUnixMode = 0100600;

// Every byte zero.
void ClearFindData(wfx::WIN32_FIND_DATAW& fd);
// All three times "unknown" (high 0xFFFFFFFF, low 0xFFFFFFFE).
void SetNoTime(wfx::WIN32_FIND_DATAW& fd);
void SetSize(wfx::WIN32_FIND_DATAW& fd, uint64_t size);
// The "unknown" size of sessions and the go-to-sessions entry.
void SetNoSize(wfx::WIN32_FIND_DATAW& fd);
// UTF-8 name, cut to 259 UTF-16 units and zero-terminated.
void SetFindName(wfx::WIN32_FIND_DATAW& fd, std::string_view name);
std::string GetFindName(const wfx::WIN32_FIND_DATAW& fd);

// A point in time (days since 1899-12-30, as the vault objects hold it) as a FILETIME value.
uint64_t DateTimeToFileTime(double dateTime);
uint64_t UnixTimeToFileTime(std::int64_t seconds);
uint64_t NowFileTime();
// When the library was built: the time of what it carries (the help documents).
uint64_t BuildFileTime();
void SetTime(wfx::WIN32_FIND_DATAW& fd, uint64_t fileTime);

// An entry without a time or size of its own. Double Commander cannot copy or
// view an entry whose time is "unknown" (its time conversion overflows) and
// shows the "unknown" size as -2, so there such an entry gets the given time
// and size 0; Windows hosts get the "unknown" values.
void SetUnknownTime(wfx::WIN32_FIND_DATAW& fd, uint64_t fileTime);
void SetUnknownSize(wfx::WIN32_FIND_DATAW& fd);
// Attribute 0x80000000, which Double Commander takes for "dwReserved0 holds a
// Unix mode": there the mode says regular file, so Enter reaches the plugin.
void SetSpecialAttributes(wfx::WIN32_FIND_DATAW& fd);

// An entry the plugin adds to a listing: attributes 0x80000000, the current
// time, the given size, everything else zero.
void FillSpecialEntry(wfx::WIN32_FIND_DATAW& fd, std::string_view name, uint64_t size);
// A folder the plugin adds (accessories, bin).
void FillSpecialFolder(wfx::WIN32_FIND_DATAW& fd, std::string_view name);
void FillHelpEntry(wfx::WIN32_FIND_DATAW& fd, uint64_t helpSize);
void FillGotoSessionsEntry(wfx::WIN32_FIND_DATAW& fd);

// Copies UTF-8 text into a host buffer of maxUnits UTF-16 units, cut and zero-terminated.
void CopyToHostBuffer(std::string_view text, wfx::WCHAR* buffer, std::size_t maxUnits);

}  // namespace kof
