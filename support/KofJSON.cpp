#include "support/KofJSON.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/SecureString.h"

namespace kof {

namespace {

// Builds the document from the parser's events. The library's own builder
// looks every key up in the ordered object before inserting it, which makes an
// object of n keys cost n² comparisons; here large objects get a hash index.
class TDocumentBuilder {
 public:
  using number_integer_t = TJSONObject::number_integer_t;
  using number_unsigned_t = TJSONObject::number_unsigned_t;
  using number_float_t = TJSONObject::number_float_t;
  using string_t = TJSONObject::string_t;
  using binary_t = TJSONObject::binary_t;

  explicit TDocumentBuilder(int AMaxDepth) : FMaxDepth(AMaxDepth) {}
  ~TDocumentBuilder() {
    for (TFrame& frame : FStack) WipeJSONStrings(frame.Value);
  }

  bool null() { return Put(nullptr); }
  bool boolean(bool AValue) { return Put(AValue); }
  bool number_integer(number_integer_t AValue) { return Put(AValue); }
  bool number_unsigned(number_unsigned_t AValue) { return Put(AValue); }
  bool number_float(number_float_t AValue, const string_t&) { return Put(AValue); }
  bool string(string_t& AValue) { return Put(std::move(AValue)); }
  bool binary(binary_t&) { return false; }  // JSON text has none
  bool start_object(std::size_t) { return Open(TJSONObject::object()); }
  bool key(string_t& AKey) {
    FStack.back().Key = std::move(AKey);
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(TJSONObject::array()); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t APosition, const std::string&, const nlohmann::detail::exception&) {
    if (FFault == TJSONFault::jfNone) FFault = TJSONFault::jfSyntax;
    FByte = APosition;
    return false;
  }

  TJSONParsed Result() {
    TJSONParsed result;
    result.Fault = FFault;
    result.Byte = FByte;
    if (FFault == TJSONFault::jfNone)
      result.Value = std::move(FRoot);
    else
      WipeJSONStrings(FRoot);
    return result;
  }

 private:
  // Objects below this size are searched; larger ones keep an index of their keys.
  static constexpr std::size_t kIndexFrom = 16;

  struct TFrame {
    TJSONObject Value;
    std::string Key;
    std::unordered_map<std::string, std::size_t> Index;
  };

  bool Open(TJSONObject AContainer) {
    if (static_cast<int>(FStack.size()) >= FMaxDepth) {
      FFault = TJSONFault::jfTooDeep;
      return false;
    }
    FStack.push_back({std::move(AContainer), {}, {}});
    return true;
  }

  bool Close() {
    TJSONObject done = std::move(FStack.back().Value);
    FStack.pop_back();
    return Put(std::move(done));
  }

  bool Put(TJSONObject AValue) {
    if (FStack.empty()) {
      FRoot = std::move(AValue);
      return true;
    }
    TFrame& frame = FStack.back();
    if (frame.Value.is_array()) {
      frame.Value.get_ref<TJSONObject::array_t&>().push_back(std::move(AValue));
      return true;
    }
    Insert(frame, std::move(AValue));
    return true;
  }

  static void Insert(TFrame& AFrame, TJSONObject AValue) {
    auto& members = AFrame.Value.get_ref<TJSONObject::object_t&>();
    using TMembers = TJSONObject::object_t::Container;
    auto& items = static_cast<TMembers&>(members);
    if (items.size() < kIndexFrom) {
      for (auto& item : items)
        if (item.first == AFrame.Key) {
          WipeJSONStrings(item.second);
          item.second = std::move(AValue);
          return;
        }
    } else {
      if (AFrame.Index.empty())
        for (std::size_t i = 0; i < items.size(); ++i) AFrame.Index.emplace(items[i].first, i);
      const auto [found, added] = AFrame.Index.emplace(AFrame.Key, items.size());
      if (!added) {
        WipeJSONStrings(items[found->second].second);
        items[found->second].second = std::move(AValue);
        return;
      }
    }
    items.emplace_back(std::move(AFrame.Key), std::move(AValue));
  }

  int FMaxDepth;
  std::vector<TFrame> FStack;
  TJSONObject FRoot;
  TJSONFault FFault = TJSONFault::jfNone;
  std::size_t FByte = 0;
};

}  // namespace

TJSONParsed ParseJSON(std::string_view AText, int AMaxDepth) {
  TDocumentBuilder builder(AMaxDepth);
  TJSONObject::sax_parse(AText.data(), AText.data() + AText.size(), &builder);
  return builder.Result();
}

void WipeJSONStrings(TJSONObject& ADoc) {
  if (ADoc.is_string()) {
    WipeString(ADoc.get_ref<std::string&>());
  } else if (ADoc.is_structured()) {
    for (TJSONObject& member : ADoc) WipeJSONStrings(member);
  }
}

// ---------------------------------------------------------------- writing

TJSONWriter::TJSONWriter(int AIndent, TInvalidUTF8 AInvalid) : FIndent(AIndent), FInvalid(AInvalid) { Open(); }

void TJSONWriter::Open() {
  FText.PushBack('{');
  FHasMembers.push_back(false);
}

void TJSONWriter::Close() {
  const bool hadMembers = FHasMembers.back();
  FHasMembers.pop_back();
  if (hadMembers && FIndent >= 0) {
    FText.PushBack('\n');
    FText.Append(std::string(static_cast<std::size_t>(FIndent) * FHasMembers.size(), ' '));
  }
  FText.PushBack('}');
}

void TJSONWriter::Key(std::string_view AKey) {
  if (FHasMembers.back()) FText.PushBack(',');
  FHasMembers.back() = true;
  if (FIndent >= 0) {
    FText.PushBack('\n');
    FText.Append(std::string(static_cast<std::size_t>(FIndent) * FHasMembers.size(), ' '));
  }
  Escaped(AKey);
  FText.Append(FIndent >= 0 ? ": " : ":");
}

namespace {

// The library's serializer writes straight into the secure text: no plain copy of a value is left behind.
class TSecureOutput : public nlohmann::detail::output_adapter_protocol<char> {
 public:
  explicit TSecureOutput(SecureString& ATarget) : FTarget(ATarget) {}
  void write_character(char c) override { FTarget.PushBack(c); }
  void write_characters(const char* s, std::size_t length) override { FTarget.Append(std::string_view(s, length)); }

 private:
  SecureString& FTarget;
};

}  // namespace

void TJSONWriter::Escaped(std::string_view AValue) {
  TJSONObject value = std::string(AValue);
  const TJSONWiper wiper(value);
  const auto handler = FInvalid == TInvalidUTF8::Replace ? TJSONObject::error_handler_t::replace
                                                         : TJSONObject::error_handler_t::strict;
  nlohmann::detail::serializer<TJSONObject> serializer(std::make_shared<TSecureOutput>(FText), ' ', handler);
  serializer.dump(value, false, false, 0);
}

void TJSONWriter::String(std::string_view AKey, std::string_view AValue) {
  Key(AKey);
  Escaped(AValue);
}

void TJSONWriter::Number(std::string_view AKey, std::int64_t AValue) {
  Key(AKey);
  FText.Append(std::to_string(AValue));
}

void TJSONWriter::Boolean(std::string_view AKey, bool AValue) {
  Key(AKey);
  FText.Append(AValue ? "true" : "false");
}

void TJSONWriter::BeginObject(std::string_view AKey) {
  Key(AKey);
  Open();
}

void TJSONWriter::EndObject() {
  if (FHasMembers.size() > 1) Close();
}

SecureString TJSONWriter::Finish() {
  while (!FHasMembers.empty()) Close();
  SecureString result = std::move(FText);
  Open();
  return result;
}

}  // namespace kof
