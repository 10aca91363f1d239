#pragma once
// Record names for edited files that are stored as a new version: a running
// number, or the day of the change with the user (and domain) and an
// optional running index:
//
//   report_ver_8.docx
//   report_ver_240307_operator_OFFICE.docx
//   report_ver_240307_operator~2.docx
//
// The engine keeps no state and asks the server nothing; uniqueness comes from
// the caller, which feeds a name the server refused as a duplicate back in, so
// that the next name counts on from it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/VarnokCommonTypes.h"

namespace kof {

// The record last opened for editing; Id is -1 while nothing is edited.
struct TEditedInfo {
  std::int64_t Id = -1;
};
using PEditedInfo = TEditedInfo*;

struct TVersionDate {
  int Year = 0, Month = 0, Day = 0;
  bool operator==(const TVersionDate&) const = default;
};

// Who stores the version: the connected client's user name and domain.
struct TVersionUser {
  std::string UserName;
  std::string Domain;
};

struct TParsedFilename {
  std::string PureFilename;
  TVersionDate VersionDate;
  std::string Username;
  std::string Domain;
  int Version = 0;
  int VerDomainIndex = 0;
  int VerUserIndex = 0;
};

class TVersionEngine {
 public:
  TVersionEngine() = delete;

  // The name under which the edited file AFILENAME (no folder) is stored in
  // mode AVERTYPE; unchanged for verNone and while AEDITEDINFO names no
  // record. ATODAY stands in for the local date. ADIFFERENT is answered false.
  static std::string CreateVersionedFilename(const TVersionUser& AUser, std::string_view AFilename,
                                             TVersionType AVerType, const TEditedInfo* AEditedInfo,
                                             bool* ADifferent = nullptr,
                                             std::optional<TVersionDate> AToday = std::nullopt);
  // The same for a client with UserName() and Domain().
  template <class TClient>
  static std::string CreateVersionedFilename(const TClient& AKofClient, std::string_view AFilename,
                                             TVersionType AVerType, const TEditedInfo* AEditedInfo,
                                             bool* ADifferent = nullptr) {
    return CreateVersionedFilename(UserOf(AKofClient), AFilename, AVerType, AEditedInfo, ADifferent);
  }

  // The kind of version mark the text carries, with its parts in AParts.
  static TVersionType ParseFilename(std::string_view AFilename, TParsedFilename& AParts);

  // False when AUSEVER is false or the name carries a dated mark of today by
  // this user (and domain); true otherwise.
  static bool HasFilenameOutdatedVersion(const TVersionUser& AUser, bool AUseVer, std::string_view AFilename,
                                         std::optional<TVersionDate> AToday = std::nullopt);
  template <class TClient>
  static bool HasFilenameOutdatedVersion(const TClient& AKofClient, bool AUseVer, std::string_view AFilename) {
    return HasFilenameOutdatedVersion(UserOf(AKofClient), AUseVer, AFilename);
  }

  // Whether the name, without folder and extension, carries a version mark.
  static bool HasFilenameAnyVersion(std::string_view AFilename);

  // Cuts each text of 256 characters or more to 254, keeping its version mark
  // and what follows it.
  static void AutoShortening(std::string& AName, std::string& AFilename);

  // The local calendar date.
  static TVersionDate Today();
  // A user or domain as written into a name: "_" and "~" become "-"; a text
  // of nothing but "-" becomes AFALLBACK ("usr", "dom").
  static std::string NamePart(std::string_view AText, std::string_view AFallback);

 private:
  template <class TClient>
  static TVersionUser UserOf(const TClient& AKofClient) {
    return {std::string(AKofClient.UserName()), std::string(AKofClient.Domain())};
  }
};

}  // namespace kof
