#pragma once
// Names of vault objects in the host's file panel: the character substitution
// that makes a vault name one safe path component and back, the extensions by
// kind, and the listing of a level's members.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/KofClasses.h"

namespace kof {

// Entry names of a listing: kept sorted, compared ignoring case, each with
// the member's id. Equal names are all kept (two records may share a name).
class TKofNameList {
 public:
  struct TEntry {
    std::string Name;
    std::int32_t Id = 0;
  };
  int Count() const { return static_cast<int>(FEntries.size()); }
  const TEntry& operator[](int AIndex) const { return FEntries[AIndex]; }
  const std::vector<TEntry>& Entries() const { return FEntries; }
  void Clear() { FEntries.clear(); }
  void Add(std::string_view AName, std::int32_t AId);
  // Replaces the entries; equal names keep their given order.
  void Assign(std::vector<TEntry> AEntries);
  // Index of the first entry with that name (ignoring case), or -1.
  int IndexOf(std::string_view AName) const;
  bool Contains(std::string_view AName) const { return IndexOf(AName) >= 0; }

 private:
  std::vector<TEntry> FEntries;
};

class TKofFileSysList : public TKofList {
 public:
  // One entry per listed member; with AEscape the entries carry the names'
  // file-system form. The members' own names are never changed.
  void Populate(TKofNameList& List, TKofObjectSet WhatObjects, bool AEscape, bool AllObjects);

  // "/" "\" ":" become U+0338, U+01C0, U+02F8. Further characters a path
  // component cannot hold on Linux or Windows are replaced too (control
  // characters, * ? " < > |, trailing dots and blanks, device names), and the
  // replacement characters themselves are marked, so that ReplaceFsNameBack
  // always gives the original name. Names without such characters stay as they are.
  static std::string ReplaceFsName(std::string_view S);
  static std::string ReplaceFsNameBack(std::string_view S);
};

// The kind whose extension equals AExt ignoring case; kofSafeBox when none does.
TKofObjectType GetKofObjectTypeByExt(std::string_view AExt);
// The lower-case extension appended to listed names of the kind, or empty.
std::string KofListedExtension(TKofObjectType AType);
// A local file with this extension (with its dot) becomes a certificate record.
bool IsCertificateExtension(std::string_view AExt);

}  // namespace kof
