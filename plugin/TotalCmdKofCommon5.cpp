#include "plugin/TotalCmdKofCommon5.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "model/KofObjects.h"
#include "platform/KofClock.h"
#include "resources/KofResources.h"
#include "support/KofText.h"
#include "support/SecureString.h"

namespace kof {

void ClearFindData(wfx::WIN32_FIND_DATAW& fd) { std::memset(&fd, 0, sizeof fd); }

void SetNoTime(wfx::WIN32_FIND_DATAW& fd) {
  for (auto* t : {&fd.ftCreationTime, &fd.ftLastAccessTime, &fd.ftLastWriteTime}) {
    t->dwHighDateTime = 0xFFFFFFFFu;
    t->dwLowDateTime = 0xFFFFFFFEu;
  }
}

void SetSize(wfx::WIN32_FIND_DATAW& fd, uint64_t size) {
  fd.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  fd.nFileSizeLow = static_cast<uint32_t>(size);
}

void SetNoSize(wfx::WIN32_FIND_DATAW& fd) {
  fd.nFileSizeHigh = 0xFFFFFFFFu;
  fd.nFileSizeLow = 0xFFFFFFFEu;
}

void CopyToHostBuffer(std::string_view text, wfx::WCHAR* buffer, std::size_t maxUnits) {
  if (!buffer || maxUnits == 0) return;
  // The text may be a secret prefilled into a prompt: one temporary copy, wiped.
  std::u16string wide = Utf8ToUtf16(text);
  std::size_t n = std::min(wide.size(), maxUnits - 1);
  if (n > 0 && n < wide.size() && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) --n;  // keep pairs whole
  std::copy(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(n), buffer);
  buffer[n] = 0;
  WipeString(wide);
}

void SetFindName(wfx::WIN32_FIND_DATAW& fd, std::string_view name) {
  CopyToHostBuffer(name, fd.cFileName, wfx::kMaxPath);
}

std::string GetFindName(const wfx::WIN32_FIND_DATAW& fd) {
  return Utf16ToUtf8(std::u16string_view(fd.cFileName, Utf16Length(fd.cFileName, wfx::kMaxPath)));
}

namespace {

#ifdef _WIN32
constexpr bool kHostReadsUnixModes = false;
#else
constexpr bool kHostReadsUnixModes = true;
#endif

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970-01-01 in 100 ns units since 1601
constexpr uint64_t kTicksPerSecond = 10000000ULL;

}  // namespace

uint64_t DateTimeToFileTime(double dateTime) { return UnixTimeToFileTime(DateTimeToUnix(dateTime)); }

uint64_t UnixTimeToFileTime(std::int64_t seconds) {
  const auto earliest = -static_cast<std::int64_t>(kUnixEpochTicks / kTicksPerSecond);
  // A time from a hostile answer must not overflow the multiplication: the latest FILETIME is kept.
  const auto latest = static_cast<std::int64_t>((UINT64_MAX - kUnixEpochTicks) / kTicksPerSecond);
  if (seconds <= earliest) return 0;
  if (seconds >= latest) return kUnixEpochTicks + static_cast<uint64_t>(latest) * kTicksPerSecond;
  if (seconds < 0) return kUnixEpochTicks - static_cast<uint64_t>(-seconds) * kTicksPerSecond;
  return kUnixEpochTicks + static_cast<uint64_t>(seconds) * kTicksPerSecond;
}

uint64_t BuildFileTime() { return UnixTimeToFileTime(BuildUnixTime()); }

uint64_t NowFileTime() {
  const auto since = Clock().Now().time_since_epoch();
  return kUnixEpochTicks + static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) * 10;
}

void SetTime(wfx::WIN32_FIND_DATAW& fd, uint64_t fileTime) {
  for (auto* t : {&fd.ftCreationTime, &fd.ftLastAccessTime, &fd.ftLastWriteTime}) {
    t->dwHighDateTime = static_cast<uint32_t>(fileTime >> 32);
    t->dwLowDateTime = static_cast<uint32_t>(fileTime);
  }
}

void SetUnknownTime(wfx::WIN32_FIND_DATAW& fd, uint64_t fileTime) {
  if (kHostReadsUnixModes)
    SetTime(fd, fileTime);
  else
    SetNoTime(fd);
}

void SetUnknownSize(wfx::WIN32_FIND_DATAW& fd) {
  if (kHostReadsUnixModes)
    SetSize(fd, 0);
  else
    SetNoSize(fd);
}

void SetSpecialAttributes(wfx::WIN32_FIND_DATAW& fd) {
  fd.dwFileAttributes = kAttrSpecial;
  if (kHostReadsUnixModes) fd.dwReserved0 = kSpecialUnixMode;
}

void FillSpecialEntry(wfx::WIN32_FIND_DATAW& fd, std::string_view name, uint64_t size) {
  ClearFindData(fd);
  SetSpecialAttributes(fd);
  SetTime(fd, NowFileTime());
  SetSize(fd, size);
  SetFindName(fd, name);
}

void FillSpecialFolder(wfx::WIN32_FIND_DATAW& fd, std::string_view name) {
  FillSpecialEntry(fd, name, 0);
  fd.dwFileAttributes = kAttrFolder;
  fd.dwReserved0 = 0;
}

void FillHelpEntry(wfx::WIN32_FIND_DATAW& fd, uint64_t helpSize) {
  ClearFindData(fd);
  fd.dwFileAttributes = kAttrHelp;
  SetUnknownTime(fd, BuildFileTime());
  SetSize(fd, helpSize);
  SetFindName(fd, kHelpEntry);
}

void FillGotoSessionsEntry(wfx::WIN32_FIND_DATAW& fd) {
  // Only attributes, times, size and name are set; the rest is left as the host gave it.
  SetSpecialAttributes(fd);
  SetUnknownTime(fd, NowFileTime());
  SetUnknownSize(fd);
  SetFindName(fd, kGotoSessionsEntry);
}

}  // namespace kof
