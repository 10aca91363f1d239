#include "tests/server/KofTestRecordWire.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

// Members that stay plain in an encrypted record: numbers the client reads as
// numbers, and the launcher code, which the client does not decrypt.
bool StaysPlain(const std::string& key) {
  return key == "id" || key == "modified" || key == "fileSizeApprox" || key == "launcher";
}

std::string ValueText(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return "";
  return value.dump();
}

json EncryptMembers(TServerContext& ctx, const TCaller& caller, const json& plain, bool topLevel) {
  json out = json::object();
  for (const auto& [key, value] : plain.items()) {
    if (topLevel && StaysPlain(key)) {
      out[key] = value;
    } else if (key == "tags" && value.is_array()) {
      out[key] = json::array();
      for (const auto& tag : value) out[key].push_back(ForCaller(ctx, caller, ValueText(tag)));
    } else if (value.is_object()) {
      out[key] = EncryptMembers(ctx, caller, value, false);
    } else {
      out[key] = ForCaller(ctx, caller, ValueText(value));
    }
  }
  return out;
}

bool Encrypting(const TServerContext& ctx, const TCaller& caller) {
  return caller.ClientKey.has_value() && ctx.State.Settings.ClientEncryption;
}

std::optional<std::string> Open(TServerContext& ctx, const TCaller& caller, const json& value) {
  if (!value.is_string()) return std::nullopt;
  auto plain = ctx.Crypto.Decrypt(*caller.ClientKey, PercentDecode(value.get<std::string>()));
  if (!plain) return std::nullopt;
  return plain->Unprotected();
}

std::optional<json> DecryptMembers(TServerContext& ctx, const TCaller& caller, const json& body) {
  json out = json::object();
  for (const auto& [key, value] : body.items()) {
    if (value.is_object()) {
      auto inner = DecryptMembers(ctx, caller, value);
      if (!inner) return std::nullopt;
      out[key] = *inner;
      continue;
    }
    if (!value.is_string()) {
      out[key] = value;
      continue;
    }
    auto plain = Open(ctx, caller, value);
    if (!plain) return std::nullopt;
    out[key] = *plain;
  }
  return out;
}

void RestoreNumbers(json& body) {
  auto toNumber = [](json& holder, const char* key) {
    if (!holder.contains(key) || !holder[key].is_string()) return;
    try {
      holder[key] = std::stoll(holder[key].get<std::string>());
    } catch (const std::exception&) {
      holder.erase(key);
    }
  };
  toNumber(body, "id");
  if (body.contains("attributes") && body["attributes"].is_object()) toNumber(body["attributes"], "fileSize");
}

}  // namespace

json BoxToWire(const TVaultState& state, const TBox& box, bool withRecordsCount, bool withExternalPath) {
  json out = box.Data;
  if (!withExternalPath) out.erase("externalFilesPath");
  if (withRecordsCount) out["recordsCount"] = state.LiveRecordCount(box.Id());
  return out;
}

json RecordToWire(TServerContext& ctx, const TCaller& caller, const TRecord& record, TRecordDetail detail) {
  json plain = record.Data;
  plain.erase("password");
  plain.erase("passwordRe");
  if (detail != TRecordDetail::WithSecrets) {
    // The pattern is no secret: listings show it at the top, where clients
    // look when the attributes are absent, so that an update keeps it.
    const json attributes = plain.value("attributes", json::object());
    if (IsPasswordKind(record.Template()) && attributes.is_object() && attributes.contains("passwordPattern") &&
        !plain.contains("passwordPattern"))
      plain["passwordPattern"] = attributes["passwordPattern"];
    plain.erase("attributes");
    if (detail == TRecordDetail::ListingWithFileSizes && record.Template() == "external-file" &&
        attributes.is_object() && attributes.contains("fileSize"))
      plain["attributes"] = {{"fileSize", attributes["fileSize"]}};
  }
  if (record.HasContent) plain["fileSizeApprox"] = static_cast<std::int64_t>(record.Content.size());
  if (!Encrypting(ctx, caller) || !IsRecordTemplate(record.Template())) return plain;
  return EncryptMembers(ctx, caller, plain, true);
}

std::optional<json> PlainRecordBody(TServerContext& ctx, const TCaller& caller, const json& body) {
  const std::string templ = body.value("template", "");
  if (!Encrypting(ctx, caller) || IsRecordTemplate(templ) || templ == "station" || templ.empty()) return body;
  auto plain = DecryptMembers(ctx, caller, body);
  if (!plain) return std::nullopt;
  RestoreNumbers(*plain);
  return plain;
}

}  // namespace kof::testserver
