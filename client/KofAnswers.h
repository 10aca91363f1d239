#pragma once
// Reading the JSON objects the server answers with, and writing the small
// JSON bodies that carry secrets; shared by the client's units.
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "client/KofErrors.h"
#include "crypto/KofNaCL.h"
#include "model/KofObjects.h"
#include "support/SecureString.h"

namespace kof {

// An answer may hold secrets: it is wiped whatever way the operation ends.
struct TAnswer {
  std::string Text;
  TAnswer() = default;
  TAnswer(const TAnswer&) = delete;
  TAnswer& operator=(const TAnswer&) = delete;
  ~TAnswer() { WipeString(Text); }
};

// {"AFirst":value,"ASecond":value} in wiping storage. With an engine each
// member holds its own encryption of the value for the server's key, so the
// two never look alike.
SecureString TwinSecretBody(std::string_view AFirst, std::string_view ASecond, std::string_view AValue,
                            TSaltyClientEncryption* AEngine, TByteSpan AServerKey);

// An answer the client must read: anything but a JSON object is a server fault.
inline TJSONObject ParseAnswerObject(std::string_view AAnswer) {
  TJSONObject doc;
  try {
    doc = ParseKofJSON(AAnswer);
  } catch (const EKofJSONError&) {
    doc = nullptr;  // its text is no object either, and the parser's words stay out of messages
  }
  if (!doc.is_object()) throw EKofResponseError("The server's answer is not a JSON object");
  return doc;
}

// The number member AName when it fits the field; the field is left as it is otherwise.
template <class TNumber>
void TakeNumber(const TJSONObject& AObject, const char* AName, TNumber& AField) {
  const auto it = AObject.find(AName);
  if (it == AObject.end() || !it->is_number()) return;
  if constexpr (std::is_floating_point_v<TNumber>) {
    AField = it->get<TNumber>();
  } else {
    const double value = it->get<double>();
    if (value >= double(std::numeric_limits<TNumber>::min()) && value <= double(std::numeric_limits<TNumber>::max()))
      AField = it->is_number_integer() ? it->get<TNumber>() : static_cast<TNumber>(value);
  }
}

}  // namespace kof
