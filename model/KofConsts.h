#pragma once
// Kinds of vault objects and the texts that go with them.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kof {

enum TKofObjectType : std::uint8_t {
  kofSafeBox,
  kofSafeBoxGroup,
  kofAccount,
  kofAccountSec,
  kofFile,
  kofCertificate,
  kofCreditCard,
  kofStation,
  kofConfiguration,
  kofExternalFile,
};
constexpr int kKofObjectTypeCount = 10;

// What the server writes in "template" or "type".
extern const std::array<std::string_view, kKofObjectTypeCount> KofObjectTypeStr;
extern const std::array<std::string_view, kKofObjectTypeCount> KofObjectTypeNames;
extern const std::array<std::string_view, kKofObjectTypeCount> KofObjectExtensions;
// Upper case; a local file with one of these becomes a certificate record.
extern const std::array<std::string_view, 14> KofCertificateExtensions;

// A set of kinds in a 16-bit word, bit n for the kind with ordinal n.
class TKofObjectSet {
 public:
  constexpr TKofObjectSet() = default;
  constexpr explicit TKofObjectSet(std::uint16_t AValue) : FValue(AValue) {}
  constexpr TKofObjectSet(std::initializer_list<TKofObjectType> AKinds) {
    for (TKofObjectType kind : AKinds) FValue = static_cast<std::uint16_t>(FValue | (1u << kind));
  }
  constexpr bool Contains(TKofObjectType AKind) const { return (FValue >> AKind) & 1u; }
  constexpr bool Intersects(TKofObjectSet AOther) const { return (FValue & AOther.FValue) != 0; }
  constexpr std::uint16_t Value() const { return FValue; }
  constexpr bool operator==(const TKofObjectSet&) const = default;

 private:
  std::uint16_t FValue = 0;
};

constexpr TKofObjectSet kofBoxKinds{kofSafeBox, kofSafeBoxGroup};
constexpr TKofObjectSet kofRecordKinds{kofAccount, kofAccountSec, kofFile, kofCertificate,
                                       kofCreditCard, kofStation, kofConfiguration, kofExternalFile};
constexpr TKofObjectSet kofFileKinds{kofFile, kofCertificate, kofExternalFile};
static_assert(kofBoxKinds.Value() == 3 && kofRecordKinds.Value() == 1020 && kofFileKinds.Value() == 560);

// Display name of a kind given by ordinal; empty above 9.
std::string GetKofObjectTypeName(int AOrdinal);

}  // namespace kof
