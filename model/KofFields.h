#pragma once
// One description of each record kind's fields: what the text form lists, what
// decryption, merging and wiping touch, and what a record dialog shows.
#include <cstdint>
#include <string_view>
#include <vector>

#include "crypto/KofNaCL.h"
#include "model/KofConsts.h"
#include "support/SecureString.h"

namespace kof {

class TKofObject;

enum class TKofFieldType : std::uint8_t {
  ftText,      // a text (MultiLine: with line breaks)
  ftTags,      // comma text of the tag list
  ftLauncher,  // a launcher code; empty for none
  ftNumber,    // a decimal number
};

// What the model does with a field (bits of TKofFieldInfo::Uses).
enum TKofFieldUse : unsigned {
  fuDecrypt = 1u << 0,       // Decrypt replaces it by its decryption, in table order
  fuMerge = 1u << 1,         // GetSecureFieldsFrom copies it when not empty
  fuAssign = 1u << 2,        // AssignNonEmptyFieldsFrom copies it when not empty
  fuWipe = 1u << 3,          // WipeStrings empties it
  fuList = 1u << 4,          // a line of the text form, labelled "Member = "
  fuListSecure = 1u << 5,    // ... only while the record holds its secret fields
  fuListNotEmpty = 1u << 6,  // ... only when not empty
};

struct TKofFieldInfo {
  std::string_view Name;    // the property ("Description", "Password", ...); one field, one name
  std::string_view Member;  // its JSON member, also the label of its text-form line
  bool InAttributes;        // the member sits inside "attributes"
  bool Secret;              // read only with the record's secrets
  bool MultiLine;
  TKofFieldType Type;
  unsigned Uses;
  // The field of a record of the kind the table belongs to, as text.
  SecureString (*Get)(const TKofObject&);
  void (*Set)(TKofObject&, std::string_view);
  // Decryption when it is more than Get, decrypt, Set; null otherwise.
  bool (*Decrypt)(TKofObject&, TSaltyClientEncryption&, TByteSpan) = nullptr;
};

// The fields of a record kind in the order of its text form; empty for boxes and agents.
const std::vector<TKofFieldInfo>& FieldsOf(TKofObjectType AKind);
// The field of that name, or null.
const TKofFieldInfo* FindField(TKofObjectType AKind, std::string_view AName);

}  // namespace kof
