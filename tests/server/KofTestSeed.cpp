#include "tests/server/KofTestSeed.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/server/KofTestExtStore.h"
#include "tests/server/KofTestWire.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

std::runtime_error SeedError(const std::string& what) { return std::runtime_error("seed: " + what); }


TUser ReadUser(const json& in, std::size_t index) {
  if (!in.is_object() || !in.contains("login")) throw SeedError("user #" + std::to_string(index) + " has no login");
  TUser user;
  user.Login = in.at("login").get<std::string>();
  user.Domain = in.value("domain", user.Domain);
  user.Uid = in.value("uid", "uid-" + user.Login);
  user.Locale = in.value("locale", user.Locale);
  user.Lang = in.value("lang", user.Lang);
  user.Password.Assign(in.value("password", ""));
  user.AccessCode.Assign(in.value("accessCode", ""));
  user.TotpSecret.Assign(in.value("totpSecret", ""));
  user.SecondFactor = in.value("secondFactor", !user.TotpSecret.Empty());
  user.MustConfigureSecondFactor = in.value("mustConfigureSecondFactor", false);
  if (in.contains("roles")) user.Roles = in.at("roles").get<std::vector<std::string>>();
  user.AccessCodeTimeout = in.value("accessCodeTimeout", user.AccessCodeTimeout);
  user.Certificate = in.value("certificate", "");
  user.InvitationCode = in.value("invitationCode", "");
  user.LoginPasswordRequirements = in.value("loginPasswordRequirements", json::object());
  user.AccessCodeRequirements = in.value("accessCodeRequirements", json{{"minLength", 4}});
  return user;
}

void ReadTags(TVaultState& state, const json& in) {
  if (!in.is_array()) return;
  for (const auto& item : in) {
    TTag tag;
    tag.Name = item.at("name").get<std::string>();
    tag.Description = item.value("description", "");
    tag.Domain = item.value("domain", tag.Domain);
    tag.DomainId = item.value("domainId", tag.DomainId);
    tag.Id = item.contains("id") ? item.at("id").get<int>() : 0;
    state.Tags.push_back(tag);
  }
}

// Explicit ids first, so that automatic ones never collide with them.
void ReserveExplicitIds(TVaultState& state, const json& boxes) {
  if (!boxes.is_array()) return;
  for (const auto& box : boxes) {
    if (box.contains("id")) state.ReserveId(box.at("id").get<int>());
    for (const auto& record : box.value("records", json::array()))
      if (record.contains("id")) state.ReserveId(record.at("id").get<int>());
    ReserveExplicitIds(state, box.value("boxes", json::array()));
  }
}

int TakeId(TVaultState& state, const json& in, const char* what) {
  if (!in.contains("id")) return state.NewId();
  int id = in.at("id").get<int>();
  if (id <= 0) throw SeedError(std::string(what) + " with id " + std::to_string(id));
  if (state.Boxes.count(id) || state.Records.count(id)) throw SeedError("duplicate id " + std::to_string(id));
  return id;
}

void ReadBoxes(TVaultState& state, const json& boxes, int parentId, const std::string& domain, int depth) {
  if (!boxes.is_array()) return;
  if (depth > 32) throw SeedError("boxes nested too deeply");
  for (const auto& in : boxes) {
    if (!in.is_object() || !in.contains("name")) throw SeedError("a box without name");
    TBox box;
    const int id = TakeId(state, in, "box");
    box.Data = {{"id", id},
                {"name", in.at("name")},
                {"type", in.value("type", "SAFEBOX")},
                {"parentId", parentId},
                {"description", ""},
                {"passwordPattern", ""},
                {"privateBox", false},
                {"ownerName", ""},
                {"domainName", domain},
                {"boxACL", "CRMD"},
                {"watched", false},
                {"watchedAccesses", false},
                {"externalFilesPath", ""},
                {"order", 0},
                {"modified", NowMs()}};
    ApplyBoxFields(box.Data, in);
    for (const char* key : {"boxACL", "canCreateRecordTags", "order", "domainName", "ownerName"})
      if (in.contains(key)) box.Data[key] = in.at(key);
    box.Deleted = in.value("deleted", false);
    if (box.Deleted) box.DeletedAt = in.value("deletedDate", NowMs());
    if (box.Data["type"] != "SAFEBOX" && box.Data["type"] != "SAFEBOX_GROUP")
      throw SeedError("box " + box.Name() + " has an unknown type");
    state.Boxes[id] = box;
    for (const auto& recordIn : in.value("records", json::array())) {
      TRecord record = RecordFromJson(recordIn, id);
      const int recordId = TakeId(state, recordIn, "record");
      record.Data["id"] = recordId;
      record.Deleted = recordIn.value("deleted", false);
      if (record.Deleted) record.DeletedAt = recordIn.value("deletedDate", NowMs());
      record.WatchedChanges = recordIn.value("watched", false);
      state.Records[recordId] = record;
    }
    ReadBoxes(state, in.value("boxes", json::array()), id, box.Data.value("domainName", domain), depth + 1);
  }
}

void NormaliseTags(json& out) {
  if (!out.contains("tags")) {
    out["tags"] = json::array();
  } else if (out["tags"].is_string()) {
    out["tags"] = ParseCommaText(out["tags"].get<std::string>());
  } else if (!out["tags"].is_array()) {
    out["tags"] = json::array();
  }
}

void TakeContent(TRecord& record, json& data) {
  if (data.contains("contentText")) {
    record.Content = data["contentText"].get<std::string>();
    record.HasContent = true;
    data.erase("contentText");
  }
  if (data.contains("content")) {
    auto bytes = data["content"].is_string() ? Base64Decode(data["content"].get<std::string>()) : std::nullopt;
    if (!bytes) throw std::runtime_error("content is not Base64");
    record.Content = *bytes;
    record.HasContent = true;
    data.erase("content");
  }
  if (record.HasContent) data["fileSizeApprox"] = static_cast<std::int64_t>(record.Content.size());
}

// Clients send the secret note twice, at the top and in the attributes; only
// the attributes are withheld from listings, so that is where it is kept.
void MoveSecretNote(json& data) {
  if (!data.contains("sec-note")) return;
  if (!data.contains("attributes") || !data["attributes"].is_object()) data["attributes"] = json::object();
  if (!data["attributes"].contains("sec-note")) data["attributes"]["sec-note"] = data["sec-note"];
  data.erase("sec-note");
}

}  // namespace

TRecord RecordFromJson(const json& in, int boxId) {
  if (!in.is_object()) throw std::runtime_error("a record must be a JSON object");
  const std::string templ = CanonicalTemplate(in.value("template", in.value("type", "")));
  if (!IsRecordTemplate(templ) && templ != "station")
    throw std::runtime_error("unknown record template \"" + templ + "\"");
  TRecord record;
  record.BoxId = boxId;
  record.Data = in;
  for (const char* key : {"id", "deleted", "deletedDate", "watched", "parentId", "type"}) record.Data.erase(key);
  record.Data["template"] = templ;
  record.Data["name"] = in.value("name", "");
  NormaliseTags(record.Data);
  if (in.contains("password") && !in.contains("passwordRe")) record.Data["passwordRe"] = in["password"];
  if (!record.Data.contains("modified")) record.Data["modified"] = NowMs();
  TakeContent(record, record.Data);
  MoveSecretNote(record.Data);
  // The listing shows a file's name from the top level; clients send it inside the attributes.
  const json& attributes = record.Data.value("attributes", json::object());
  if (attributes.is_object() && attributes.contains("file") && attributes["file"].is_string() &&
      !attributes["file"].get<std::string>().empty())
    record.Data["fileName"] = attributes["file"];
  return record;
}

void ApplyBoxFields(json& box, const json& in) {
  for (const char* key : {"name", "description", "passwordPattern", "privateBox", "externalFilesPath"}) {
    if (!in.contains(key) || in.at(key).is_null()) continue;
    // Boxes read from a listing carry no external-files path, and clients send
    // them back with an empty one: that must not erase the stored path.
    if (std::string_view(key) == "externalFilesPath" && in.at(key) == "") continue;
    box[key] = in.at(key);
  }
  box["modified"] = NowMs();
}

TVaultState LoadSeed(const json& seed) {
  if (!seed.is_object()) throw SeedError("the fixture must be a JSON object");
  TVaultState state;
  try {
    ReadSettings(state.Settings, seed.value("server", json::object()));
    std::size_t index = 0;
    for (const auto& user : seed.value("users", json::array())) state.Users.push_back(ReadUser(user, index++));
    ReadTags(state, seed.value("tags", json::array()));
    for (const auto& tag : state.Tags) state.ReserveId(tag.Id);
    ReserveExplicitIds(state, seed.value("boxes", json::array()));
    for (auto& tag : state.Tags)
      if (tag.Id == 0) tag.Id = state.NewId();
    ReadBoxes(state, seed.value("boxes", json::array()), 0, "SYSTEM", 0);
    state.Agents = seed.value("agents", json::object());
    WriteSeedStoredFiles(state);
  } catch (const json::exception& e) {
    throw SeedError(std::string("wrong member type: ") + e.what());
  }
  return state;
}

json ReadSeedFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open seed file " + path);
  std::stringstream text;
  text << file.rdbuf();
  try {
    return json::parse(text.str());
  } catch (const json::exception& e) {
    throw std::runtime_error("seed file " + path + " is not JSON: " + e.what());
  }
}

json DefaultSeed() {
  return json::parse(R"({
    "users": [{"login": "demo", "password": "demo", "accessCode": "1234"}],
    "boxes": [{"name": "Demo", "records": [
      {"template": "account", "name": "Example", "loginName": "demo", "password": "secret"}]}]
  })");
}

// Also the run-time settings changes of the control endpoint.
void ReadSettings(TServerSettings& s, const json& in) {
  if (!in.is_object()) return;
  s.Product = in.value("product", s.Product);
  s.Version = in.value("version", s.Version);
  s.ApiVersion = in.value("apiVersion", s.ApiVersion);
  s.FileSizeLimit = in.value("fileSizeLimit", s.FileSizeLimit);
  s.ClientEncryption = in.value("clientEncryption", s.ClientEncryption);
  s.SessionTtlSeconds = in.value("sessionTtlSeconds", s.SessionTtlSeconds);
  s.AccessCodeMaxAttempts = in.value("accessCodeMaxAttempts", s.AccessCodeMaxAttempts);
  s.ExternalFilesRoot = in.value("externalFilesRoot", s.ExternalFilesRoot);
  s.StorageDir = in.value("storageDir", s.StorageDir);
  s.ListingFileSizes = in.value("listingFileSizes", s.ListingFileSizes);
}

}  // namespace kof::testserver
