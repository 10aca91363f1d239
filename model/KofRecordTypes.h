#pragma once
// Record tags and launchers: the record-side types shared by the model and
// the dialogs.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kof {

enum TKofLauncher : std::uint8_t {
  kofLauncherNone,
  kofRemoteDesktop,
  kofSSH,
  kofSSHFile,
  kofSecureProt,
  kofTelnet,
  kofFTP,
  kofRasdial,
  kofMikrotikWinbox,
};
constexpr int kKofLauncherCount = 9;

extern const std::array<std::string_view, kKofLauncherCount> KofLauncherCodes;
extern const std::array<std::string_view, kKofLauncherCount> KofLauncherNames;

// Case-insensitive; an unknown code gives kofLauncherNone.
TKofLauncher KofLauncherFromCode(std::string_view ACode);
// True when the code names a launcher (also "NONE").
bool IsKofLauncherCode(std::string_view ACode);

// Tags of a record: kept sorted, case-sensitive, duplicates ignored.
class TTagList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& operator[](int AIndex) const { return FItems[AIndex]; }
  const std::vector<std::string>& Items() const { return FItems; }
  bool Empty() const { return FItems.empty(); }

  void Add(std::string_view ATag);
  void Clear() { FItems.clear(); }
  bool Contains(std::string_view ATag) const;

  // Tags joined by commas; a tag with a blank, comma, double quote or control
  // character is quoted, inner quotes doubled.
  std::string CommaText() const;
  // Replaces the list; splits at commas and at blanks outside quotes.
  void SetCommaText(std::string_view AText);

  // For replacing items in place (decryption); Sort() restores the order.
  std::vector<std::string>& UnsortedItems() { return FItems; }
  void Sort();

  bool operator==(const TTagList&) const = default;

 private:
  std::vector<std::string> FItems;
};

}  // namespace kof
