// Boxes, records, files, the bin, tags, search, watch flags and limits.
#include <sodium.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/server/KofTestSeed.h"
#include "tests/server/KofTestWire.h"
#include "tests/serverflow/ServerFixture.h"

namespace kof::testserver::flow {
namespace {

using nlohmann::json;

class VaultTest : public ServerTest {};

std::vector<std::string> Names(const json& list) {
  std::vector<std::string> names;
  for (const auto& item : list) names.push_back(item.value("name", ""));
  return names;
}

json StateRecord(TApi& api, int id) {
  const json state = Control(api, "GET", "/__control/state");
  for (const auto& record : state["records"])
    if (record["id"] == id) return record;
  return nullptr;
}

// The byte layout of the multipart upload our client sends.
std::string MultipartBody(const std::string& boundary, const std::string& fileName, const std::string& data) {
  return "--" + boundary + "\r\n" + "content-disposition: form-data; name=\"file\"; filename=\"" + fileName + "\"\r\n" +
         "Content-Type: Application/octet-string\r\n\r\n" + data + "\r\n--" + boundary + "--\r\n";
}

httplib::Result Upload(TApi& api, int id, const std::string& fileName, const std::string& data) {
  const std::string boundary = "1A2B3C4D_Synapse_boundary";
  return api.Post("/safe/records/" + std::to_string(id) + "/upload/file", MultipartBody(boundary, fileName, data),
                  "multipart/form-data; boundary=" + boundary);
}

TEST_F(VaultTest, BoxTreeIsListedLevelByLevel) {
  TApi api = LoggedIn();
  EXPECT_EQ(Names(JsonOf(api.Get("/safe/boxes"))["safeboxes"]), (std::vector<std::string>{"Work", "Private"}));
  const json children = JsonOf(api.Get("/safe/boxes/1/boxes?getRecordsCount=true"))["safeboxes"];
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0]["name"], "Mail");
  EXPECT_EQ(children[0]["parentId"], 1);
  EXPECT_EQ(children[0]["recordsCount"], 2);
  EXPECT_FALSE(JsonOf(api.Get("/safe/boxes"))["safeboxes"][0].contains("recordsCount"));
  const json box = JsonOf(api.Get("/safe/boxes/3?getExternalFilesPath=true"))["safebox"];
  EXPECT_EQ(box["privateBox"], true);
  EXPECT_TRUE(box.contains("externalFilesPath"));
  auto missing = api.Get("/safe/boxes/99");
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(ErrorKeyOf(missing), "err.box.notFound");
}

TEST_F(VaultTest, BoxesAreAddedChangedMovedAndDeletedWithinTheTreeRules) {
  TApi api = LoggedIn();
  const int group = JsonOf(api.PostJson("/safe/boxes/1", {{"name", "Sub"}, {"type", "SAFEBOX_GROUP"}}))["id"];
  const int box =
      JsonOf(api.PostJson("/safe/boxes/" + std::to_string(group), {{"name", "Deep"}, {"type", "SAFEBOX"}}))["id"];
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes/" + std::to_string(group) + "/boxes"))["safeboxes"][0]["name"], "Deep");

  struct Case {
    const char* Name;
    std::string Path;
    json Body;
    int Status;
    const char* Key;
  } cases[] = {
      {"box into a plain box", "/safe/boxes/3", {{"name", "X"}, {"type", "SAFEBOX"}}, 400, "err.box.notGroup"},
      {"box without name", "/safe/boxes/0", {{"name", ""}, {"type", "SAFEBOX"}}, 400, "err.request.invalid"},
      {"unknown type", "/safe/boxes/0", {{"name", "X"}, {"type", "FOLDER"}}, 400, "err.request.invalid"},
      {"into a missing group", "/safe/boxes/77", {{"name", "X"}, {"type", "SAFEBOX"}}, 404, "err.box.notFound"},
  };
  for (const auto& c : cases) {
    auto result = api.PostJson(c.Path, c.Body);
    EXPECT_EQ(result->status, c.Status) << c.Name;
    EXPECT_EQ(ErrorKeyOf(result), c.Key) << c.Name;
  }

  EXPECT_EQ(api.PutJson("/safe/boxes/" + std::to_string(group), {{"id", group}, {"name", "Sub2"}, {"parentId", group}})
                ->status,
            400)
      << "a group moved into itself";
  EXPECT_EQ(
      api.PutJson("/safe/boxes/" + std::to_string(box), {{"id", box}, {"name", "Deeper"}, {"parentId", 0}})->status,
      200);
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes/" + std::to_string(box)))["safebox"]["parentId"], 0);
  EXPECT_EQ(api.Delete("/safe/boxes/1")->status, 409) << "a group with boxes";
  EXPECT_EQ(api.Delete("/safe/boxes/" + std::to_string(box))->status, 200);
  EXPECT_EQ(api.Get("/safe/boxes/" + std::to_string(box))->status, 404);
}

TEST_F(VaultTest, ListingsNeverCarrySecretsAndRecordReadsOnlyWithAccessCode) {
  TApi api = LoggedIn();
  const json listing = JsonOf(api.Get("/safe/boxes/2/records"));
  for (const auto& record : listing["records"]) {
    EXPECT_FALSE(record.contains("password")) << record;
    EXPECT_FALSE(record.contains("attributes")) << record;
  }
  const json file = JsonOf(api.Get("/safe/boxes/2/records"))["records"][1];
  EXPECT_EQ(file["fileName"], "keys.txt");
  EXPECT_EQ(file["fileSizeApprox"], 5);

  EXPECT_FALSE(JsonOf(api.Get("/safe/records/12"))["record"].contains("attributes"));
  api.SetAccessCode("1234");
  const json withSecrets = JsonOf(api.Get("/safe/records/12"))["record"];
  EXPECT_EQ(withSecrets["attributes"]["sec-note"], "top secret");
  EXPECT_FALSE(withSecrets.contains("password"));
  EXPECT_EQ(JsonOf(api.Get("/safe/records/13/passwords"))["msg"][0]["message"], "m:err.record.kind[13]");
}

TEST_F(VaultTest, FileInfoListingsGiveExternalFilesTheirSizeOnly) {
  TApi api = LoggedIn();
  const json added = JsonOf(api.PostJson(
      "/safe/boxes/2/records",
      {{"template", "external-file"},
       {"name", "Video"},
       {"attributes", {{"efFileName", "v.mp4"}, {"efKey", "00FF"}, {"efIV", "11"}, {"fileSize", 42}}}}));
  ASSERT_TRUE(added.contains("id")) << added;
  for (const bool fileInfo : {false, true}) {
    SCOPED_TRACE(fileInfo ? "with fileInfo" : "without fileInfo");
    const json listing =
        JsonOf(api.Get(fileInfo ? "/safe/boxes/2/records?fileInfo=true" : "/safe/boxes/2/records"))["records"];
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_FALSE(listing[0].contains("attributes")) << listing[0];
    EXPECT_FALSE(listing[1].contains("attributes")) << listing[1];
    if (fileInfo)
      EXPECT_EQ(listing[2]["attributes"], json({{"fileSize", 42}}));
    else
      EXPECT_FALSE(listing[2].contains("attributes")) << listing[2];
  }
}

TEST_F(VaultTest, EveryRecordKindIsStoredAndReadBack) {
  TApi api = LoggedIn();
  api.SetAccessCode("1234");
  const json kinds[] = {
      {{"template", "account"},
       {"name", "A"},
       {"password", "p1"},
       {"passwordRe", "p1"},
       {"loginName", "u"},
       {"launcher", "SSH"},
       {"attributes", {{"passwordPattern", "Aa9"}}}},
      {{"template", "account-sec"},
       {"name", "S"},
       {"password", "p2"},
       {"passwordRe", "p2"},
       {"attributes", {{"sec-loginName", "root"}, {"sec-serverAddress", "10.0.0.1"}}}},
      {{"template", "file"}, {"name", "F"}, {"content", Base64Encode("abc")}, {"attributes", {{"file", "f.bin"}}}},
      {{"template", "cert"},
       {"name", "C"},
       {"attributes", {{"alias", "me"}, {"file", "me.pfx"}, {"filePassword", "x"}}}},
      {{"template", "ccard"}, {"name", "V"}, {"attributes", {{"number", "4111"}, {"pin", "0000"}}}},
      {{"template", "external-file"},
       {"name", "E"},
       {"attributes", {{"efFileName", "big.iso"}, {"efFilePath", "ext/2/x.kofx"}, {"fileSize", 5000000000LL}}}},
  };
  for (const auto& body : kinds) {
    auto added = api.PostJson("/safe/boxes/3/records", body);
    ASSERT_EQ(added->status, 200) << body;
    const int id = JsonOf(added)["id"];
    const json record = JsonOf(api.Get("/safe/records/" + std::to_string(id)))["record"];
    EXPECT_EQ(record["template"], body["template"]);
    EXPECT_EQ(record["name"], body["name"]);
    for (const auto& [key, value] : body["attributes"].items()) EXPECT_EQ(record["attributes"][key], value) << key;
    if (body.contains("password")) {
      EXPECT_EQ(JsonOf(api.Get("/safe/records/" + std::to_string(id) + "/passwords"))["password"], body["password"]);
    }
  }
  auto bad = api.PostJson("/safe/boxes/3/records", {{"template", "pony"}, {"name", "P"}});
  EXPECT_EQ(bad->status, 400);
  EXPECT_EQ(ErrorKeyOf(bad), "err.request.invalid");
}

TEST_F(VaultTest, UpdateMergesAttributesAndPasswordsChangeSeparately) {
  TApi api = LoggedIn();
  api.SetAccessCode("1234");
  EXPECT_EQ(
      api.PutJson(
             "/safe/records/11",
             {{"id", 11}, {"template", "account"}, {"name", "Inbox 2"}, {"attributes", {{"passwordPattern", "9"}}}})
          ->status,
      200);
  const json record = JsonOf(api.Get("/safe/records/11"))["record"];
  EXPECT_EQ(record["name"], "Inbox 2");
  EXPECT_EQ(record["loginName"], "john") << "members the update did not name stay";
  EXPECT_EQ(JsonOf(api.Get("/safe/records/11/passwords"))["password"], "pop3pw");

  auto mismatch = api.PostJson("/safe/records/11/passwords", {{"password", "a"}, {"passwordRe", "b"}});
  EXPECT_EQ(ErrorKeyOf(mismatch), "err.password.mismatch");
  EXPECT_EQ(api.PostJson("/safe/records/11/passwords", {{"password", "new"}, {"passwordRe", "new"}})->status, 200);
  EXPECT_EQ(JsonOf(api.Get("/safe/records/11/passwords"))["password"], "new");
}

// A client updates objects it read from a listing, so it sends empty values
// for what a listing leaves out; those must not wipe stored data, and the
// secret note it repeats at the top level must not leak into listings.
TEST_F(VaultTest, UpdatesFromListedObjectsLoseNothingAndLeakNothing) {
  TApi api = LoggedIn();
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes/2/records"))["records"][0]["passwordPattern"], "Aa9");
  api.PutJson("/safe/boxes/3", {{"id", 3}, {"name", "Private"}, {"externalFilesPath", "\\\\nas\\ext"}});
  api.PutJson("/safe/boxes/3", {{"id", 3}, {"name", "Private 2"}, {"externalFilesPath", ""}, {"parentId", 0}});
  const json box = JsonOf(api.Get("/safe/boxes/3?getExternalFilesPath=true"))["safebox"];
  EXPECT_EQ(box["name"], "Private 2");
  EXPECT_EQ(box["externalFilesPath"], "\\\\nas\\ext");

  ASSERT_EQ(api.PutJson("/safe/records/13", {{"id", 13},
                                             {"template", "ccard"},
                                             {"name", "Visa"},
                                             {"sec-note", "pin hint"},
                                             {"attributes", {{"number", "4111"}, {"sec-note", "pin hint"}}}})
                ->status,
            200);
  const json listing = JsonOf(api.Get("/safe/boxes/3/records"));
  EXPECT_EQ(listing.dump().find("pin hint"), std::string::npos) << listing;
  api.SetAccessCode("1234");
  EXPECT_EQ(JsonOf(api.Get("/safe/records/13"))["record"]["attributes"]["sec-note"], "pin hint");
}

TEST_F(VaultTest, FileUploadAndDownloadKeepTheBytes) {
  TApi api = LoggedIn();
  const std::string data("bin\0ary\r\n--1A2B3C4D", 19);
  ASSERT_EQ(Upload(api, 12, "new.bin", data)->status, 200);
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes/2/records"))["records"][1]["fileName"], "new.bin");

  struct Case {
    const char* Name;
    std::string Body;
    int Status;
  } cases[] = {{"clear code", "KOF-Access-Code=1234", 200},
               {"wrong code", "KOF-Access-Code=1", 403},
               {"empty code", "KOF-Access-Code=", 403},
               {"no field", "", 400}};
  for (const auto& c : cases) {
    auto result = api.Post("/safe/records/12/download/file", c.Body);
    EXPECT_EQ(result->status, c.Status) << c.Name;
    if (c.Status == 200) {
      EXPECT_EQ(result->body, data);
    } else if (c.Status == 400) {
      EXPECT_EQ(result->body, "err,missing query parameter (KOF-Access-Code)");
    }
  }
  auto noFile = api.Post("/safe/records/11/download/file", "KOF-Access-Code=1234");
  EXPECT_EQ(ErrorKeyOf(noFile), "err.file.noFile");
}

TEST_F(VaultTest, FilesAboveTheLimitAreRefusedAndTheOldContentStays) {
  TApi api = LoggedIn();
  EXPECT_EQ(JsonOf(api.Get("/safe/fileSizeLimit"))["fileSizeLimit"], 1000);
  auto upload = Upload(api, 12, "big.bin", std::string(1001, 'x'));
  EXPECT_EQ(upload->status, 413);
  EXPECT_EQ(ErrorKeyOf(upload), "err.file.tooLarge");
  EXPECT_EQ(api.Post("/safe/records/12/download/file", "KOF-Access-Code=1234")->body, "hello");
  auto add = api.PostJson("/safe/boxes/3/records",
                          {{"template", "file"}, {"name", "Big"}, {"content", Base64Encode(std::string(1001, 'y'))}});
  EXPECT_EQ(add->status, 413);
}

TEST_F(VaultTest, BinRestoresAndPurgesAllOrNothing) {
  TApi api = LoggedIn();
  ASSERT_EQ(api.Delete("/safe/records/11")->status, 200);
  ASSERT_EQ(api.Delete("/safe/boxes/3")->status, 200);
  const json items = JsonOf(api.Get("/safe/deleted"))["items"];
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["type"], "SAFEBOX");
  EXPECT_EQ(items[1]["type"], "account");
  EXPECT_EQ(items[1]["template"], "account");
  EXPECT_EQ(items[1]["parent"], "Mail");
  EXPECT_GT(items[1]["date"].get<std::int64_t>(), 0);
  EXPECT_EQ(api.Get("/safe/records/11")->status, 404);
  EXPECT_EQ(api.Get("/safe/records/13")->status, 404) << "a record inside a deleted box";

  auto unknown = api.Raw().Put("/safe/deleted", {{"Cookie", ""}}, R"({"boxes":[11,99]})", "application/json");
  EXPECT_EQ(unknown->status, 401) << "the bin needs a session";
  auto partly = api.Delete("/safe/deleted", R"({"boxes":[11,99]})");
  EXPECT_EQ(partly->status, 404);
  EXPECT_EQ(JsonOf(api.Get("/safe/deleted"))["items"].size(), 2u) << "nothing purged when one id is unknown";

  EXPECT_EQ(api.PutJson("/safe/deleted", {{"boxes", {11}}})->status, 200);
  EXPECT_EQ(api.Get("/safe/records/11")->status, 200);
  EXPECT_EQ(api.Delete("/safe/deleted", R"({"boxes":[3]})")->status, 200);
  EXPECT_TRUE(StateRecord(api, 13).is_null()) << "purging a box purges its records";
  EXPECT_EQ(JsonOf(api.Get("/safe/deleted"))["items"].size(), 0u);
}

TEST_F(VaultTest, RecordOfADeletedBoxComesBackOnlyWithItsBox) {
  TApi api = LoggedIn();
  api.Delete("/safe/records/13");
  api.Delete("/safe/boxes/3");
  const json items = JsonOf(api.Get("/safe/deleted"))["items"];
  EXPECT_EQ(items[1]["deletedParent"], true);
  EXPECT_EQ(items[1]["deletedParentId"], 3);
  auto alone = api.PutJson("/safe/deleted", {{"boxes", {13}}});
  EXPECT_EQ(alone->status, 409);
  EXPECT_EQ(ErrorKeyOf(alone), "err.parent.deleted");
  EXPECT_EQ(api.PutJson("/safe/deleted", {{"boxes", {13, 3}}})->status, 200);
  EXPECT_EQ(api.Get("/safe/records/13")->status, 200);
}

TEST_F(VaultTest, TagsComeByBoxOrDomainAndAreCreatedOnlyWhenAsked) {
  TApi api = LoggedIn();
  EXPECT_EQ(Names(JsonOf(api.Get("/safe/tags?boxId=2"))["tags"]), std::vector<std::string>{"mail"});
  EXPECT_EQ(Names(JsonOf(api.Get("/safe/tags?domain=SYSTEM"))["tags"]), std::vector<std::string>{"mail"});
  api.PostJson("/safe/boxes/3/records", {{"template", "account"}, {"name", "T1"}, {"tags", "bank,\"two words\""}});
  EXPECT_EQ(JsonOf(api.Get("/safe/tags?boxId=3"))["tags"].size(), 1u);
  api.PostJson("/safe/boxes/3/records?forceCreateTags=true",
               {{"template", "account"}, {"name", "T2"}, {"tags", "bank"}});
  EXPECT_EQ(Names(JsonOf(api.Get("/safe/tags?boxId=3"))["tags"]), (std::vector<std::string>{"mail", "bank"}));
  const json records = JsonOf(api.Get("/safe/boxes/3/records"))["records"];
  EXPECT_EQ(records[1]["tags"], json({"bank", "two words"})) << "tags stay on the record either way";
}

TEST_F(VaultTest, SearchTakesTheExpressionFromThePathAsSent) {
  TApi api = LoggedIn();
  api.PostJson("/safe/boxes/3/records", {{"template", "account"}, {"name", "what? & why"}});
  struct Case {
    const char* Path;
    std::vector<std::string> Names;
  } cases[] = {
      {"/safe/search/inbox", {"Inbox"}},
      {"/safe/search/INBOX?queryType=DEFAULT", {"Inbox"}},
      {"/safe/search/mail?queryType=STANDARD", {"Mail", "Inbox"}},
      {"/safe/search/what?%20&%20why", {"what? & why"}},
      {"/safe/search/%20", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Names(JsonOf(api.Get(c.Path))["result"]), c.Names) << c.Path;
  const json hit = JsonOf(api.Get("/safe/search/keys"))["result"][0];
  EXPECT_EQ(hit["type"], "file");
  EXPECT_EQ(hit["parentId"], 2);
  EXPECT_EQ(hit["parent"], "Mail");
  EXPECT_EQ(JsonOf(api.Get("/safe/searchIdsByNote/VPN"))["recordIds"], json::parse(R"([{"id":12,"parentId":2}])"));
}

TEST_F(VaultTest, WatchPathsSetTheBoxFlags) {
  TApi api = LoggedIn();
  EXPECT_EQ(api.Post("/safe/watch/2/enableChangesAll", "")->status, 200);
  EXPECT_EQ(api.Post("/safe/watch/2/enableAccesses", "")->status, 200);
  json box = JsonOf(api.Get("/safe/boxes/2"))["safebox"];
  EXPECT_EQ(box["watched"], true);
  EXPECT_EQ(box["watchedAccesses"], true);
  api.Post("/safe/watch/2/disableChanges", "");
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes/2"))["safebox"]["watched"], false);
  EXPECT_EQ(api.Post("/safe/watch/2/enableEverything", "")->status, 404);
  EXPECT_EQ(api.Post("/safe/watch/99/enableChanges", "")->status, 404);
}

TEST_F(VaultTest, ExternalFileParametersNeedTheAccessCode) {
  TApi api = LoggedIn();
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/boxes/2/generateExternalFileParams")), "AccessCodeValidator.missing");
  api.SetAccessCode("1234");
  const json params = JsonOf(api.Get("/safe/boxes/2/generateExternalFileParams"));
  EXPECT_EQ(params["key"].get<std::string>().size(), 64u);
  EXPECT_EQ(params["iv"].get<std::string>().size(), 24u);
  EXPECT_EQ(params["aad"].get<std::string>().size(), 32u);
  // Below the box's storage root on the server's share.
  EXPECT_EQ(params["filePath"].get<std::string>().rfind("\\\\storage\\vault\\box2\\", 0), 0u);
  EXPECT_NE(params["key"], JsonOf(api.Get("/safe/boxes/2/generateExternalFileParams"))["key"]);
}

// The client's half of client encryption, enough to write and read records.
class TClientBox {
 public:
  explicit TClientBox(const std::string& serverKeyBase64) : FServer(*DecodeBoxKey(serverKeyBase64)) {
    crypto_box_keypair(FPublic.data(), FSecret.data());
  }
  std::string Encrypt(const std::string& plain) const {
    unsigned char nonce[crypto_box_NONCEBYTES];
    randombytes_buf(nonce, sizeof nonce);
    std::string box(plain.size() + crypto_box_MACBYTES, '\0');
    if (crypto_box_easy(reinterpret_cast<unsigned char*>(box.data()),
                        reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), nonce, FServer.data(),
                        FSecret.data()) != 0)
      return {};
    return Base64Encode(std::string(reinterpret_cast<char*>(nonce), sizeof nonce)) + ":" + Base64Encode(box);
  }
  std::string Decrypt(const std::string& text) const {
    const auto colon = text.find(':');
    auto nonce = Base64Decode(text.substr(0, colon));
    auto box = Base64Decode(text.substr(colon == std::string::npos ? text.size() : colon + 1));
    if (colon == std::string::npos || !nonce || !box || box->size() < crypto_box_MACBYTES) return "<undecryptable>";
    std::string plain(box->size() - crypto_box_MACBYTES, '\0');
    if (crypto_box_open_easy(
            reinterpret_cast<unsigned char*>(plain.data()), reinterpret_cast<const unsigned char*>(box->data()),
            box->size(), reinterpret_cast<const unsigned char*>(nonce->data()), FServer.data(), FSecret.data()) != 0)
      return "<undecryptable>";
    return plain;
  }
  httplib::Headers Headers(const std::string& accessCode) const {
    httplib::Headers headers = {
        {"KOF-Encryption", "record"},
        {"KOF-PublicKey", PercentEncode(Base64Encode(std::string(reinterpret_cast<const char*>(FPublic.data()), 32)))}};
    if (!accessCode.empty()) headers.emplace("KOF-Access-Code", PercentEncode(Encrypt(accessCode)));
    return headers;
  }

 private:
  TBoxKey FServer{}, FPublic{}, FSecret{};
};

TEST_F(VaultTest, EncryptedRecordsAreStoredPlainAndServedEncrypted) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/settings", {{"clientEncryption", true}});
  TClientBox client(JsonOf(api.Get("/public/api/status"))["cePublicKey"]);
  const json body = {{"id", client.Encrypt("0")},
                     {"template", client.Encrypt("account-sec")},
                     {"name", client.Encrypt("Root")},
                     {"tags", client.Encrypt("mail")},
                     {"password", client.Encrypt("r00t")},
                     {"passwordRe", client.Encrypt("r00t")},
                     {"attributes", {{"sec-loginName", client.Encrypt("admin")}}}};
  auto added = api.PostJson("/safe/boxes/3/records", body, client.Headers("1234"));
  ASSERT_EQ(added->status, 200) << added->body;
  const int id = JsonOf(added)["id"];
  const json stored = StateRecord(api, id);
  EXPECT_EQ(stored["template"], "account-sec");
  EXPECT_EQ(stored["password"], "r00t");
  EXPECT_EQ(stored["attributes"]["sec-loginName"], "admin");
  EXPECT_EQ(stored["tags"], json({"mail"}));

  const json record = JsonOf(api.Get("/safe/records/" + std::to_string(id), client.Headers("1234")))["record"];
  EXPECT_EQ(record["id"], id) << "ids stay numbers";
  EXPECT_EQ(client.Decrypt(record["template"]), "account-sec");
  EXPECT_EQ(client.Decrypt(record["name"]), "Root");
  EXPECT_EQ(client.Decrypt(record["tags"][0]), "mail");
  EXPECT_EQ(client.Decrypt(record["attributes"]["sec-loginName"]), "admin");

  // Boxes stay plain, and an "Open" request without the key headers gets plain records.
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes"))["safeboxes"][0]["name"], "Work");
  EXPECT_EQ(JsonOf(api.Get("/safe/boxes/3/records"))["records"][1]["template"], "account-sec");

  json broken = body;
  broken["name"] = "not encrypted";
  auto refused = api.PostJson("/safe/boxes/3/records", broken, client.Headers("1234"));
  EXPECT_EQ(refused->status, 400);
  EXPECT_EQ(ErrorKeyOf(refused), "err.decrypt");
}

}  // namespace
}  // namespace kof::testserver::flow

namespace kof::testserver::flow {
namespace {

std::string DemoVaultPath() {
  const char* dir = std::getenv("KOF_SOURCE_DIR");
  return std::string(dir ? dir : ".") + "/tests/server/demo-vault.json";
}

// Walks the tree as a client with every group expanded.
void CollectRecords(TApi& api, int boxId, std::set<std::string>& kinds) {
  const json boxes = JsonOf(api.Get(boxId == 0 ? "/safe/boxes" : "/safe/boxes/" + std::to_string(boxId) + "/boxes"));
  for (const auto& box : boxes["safeboxes"]) {
    const std::string id = std::to_string(box["id"].get<int>());
    if (box["type"] == "SAFEBOX_GROUP") {
      CollectRecords(api, box["id"], kinds);
      continue;
    }
    const json records = JsonOf(api.Get("/safe/boxes/" + id + "/records"));
    for (const auto& record : records["records"]) kinds.insert(record["template"].get<std::string>());
  }
}

TEST(DemoVault, HoldsEveryRecordKindTwoGroupsAndTheBin) {
  TServerProcess server(ReadSeedFile(DemoVaultPath()));
  TApi api(server);
  ASSERT_EQ(api.Login("demo", "demo")->status, 200);
  EXPECT_EQ(Names(JsonOf(api.Get("/safe/boxes"))["safeboxes"]), (std::vector<std::string>{"Company", "Projects", "Personal"}));
  std::set<std::string> kinds;
  CollectRecords(api, 0, kinds);
  EXPECT_EQ(kinds, (std::set<std::string>{"account", "account-sec", "file", "cert", "ccard", "external-file"}));
  std::set<std::string> bin;
  const json deleted = JsonOf(api.Get("/safe/deleted"));
  for (const auto& item : deleted["items"]) bin.insert(item["name"].get<std::string>());
  EXPECT_EQ(bin, (std::set<std::string>{"Archive", "Old router"}));
  auto readOnly = api.PostJson("/safe/boxes/3/records", {{"template", "account"}, {"name", "x"}});
  EXPECT_EQ(ErrorKeyOf(readOnly), "err.access.denied") << "Finance is read-only in the demo";
}

// With a storage folder the demo's external file lies on the share, and
// its box keeps it until the client removed it.
TEST(DemoVault, ItsExternalFileIsStoredAtStart) {
  const std::string storage = ::testing::TempDir() + "kof-demo-storage-" + std::to_string(::getpid());
  std::filesystem::remove_all(storage);
  TServerProcess server(ReadSeedFile(DemoVaultPath()), {"--storage-dir", storage});
  TApi api(server);
  ASSERT_EQ(api.Login("demo", "demo")->status, 200);
  const json record = StateRecord(api, 123);
  const std::string path = record["attributes"]["efFilePath"];
  ASSERT_EQ(path.rfind("\\\\storage\\vault\\box5\\", 0), 0u) << path;
  std::string local = path.substr(std::string("\\\\storage\\vault").size());
  std::replace(local.begin(), local.end(), '\\', '/');
  std::ifstream in(storage + local, std::ios::binary);
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(stored.size(), record["attributes"]["fileSize"].get<std::size_t>() + 20);
  EXPECT_EQ(stored.substr(0, 4), std::string("\xFA\xBD\xEC\x13"));
  EXPECT_FALSE(record.contains("contentBase64"));
  EXPECT_TRUE(std::filesystem::is_directory(storage + "/box2"));
  EXPECT_EQ(ErrorKeyOf(api.Delete("/safe/boxes/5")), "safebox.delete.hasexternalfiles");
  std::filesystem::remove_all(storage);
}

}  // namespace
}  // namespace kof::testserver::flow
