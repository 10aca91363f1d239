#include "model/KofClasses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/model/ModelTestSupport.h"

namespace kof {
namespace {

const TBytes kContent = {0, 1, 2, 250, 'x', '\n'};

// One record of every kind, with line breaks, non-ASCII text and every field filled.
std::vector<std::pair<const char*, std::function<std::unique_ptr<TKofObject>()>>> AllRecordKinds() {
  return {
      {"account",
       [] {
         auto a = std::make_unique<TKofAccount>("Mail", "d\xC3\xA9sc", "b,a,\"x y\"", "n1\r\nn2", "pat", "pw\"1",
                                                "joe", "mail.example", "https://site");
         a->SetLauncher(kofSSH);
         a->SetSite("https://site");  // an answer has one "site": the record's and the login's are the same
         return a;
       }},
      {"secret account",
       [] {
         auto a = std::make_unique<TKofSecAccount>("Sec", "", "t", "note", "p", "pw", "slogin", "saddr", "site",
                                                   "secret\r\nnote");
         a->SetLauncher(kofRasdial);
         a->SetSite("site");
         return a;
       }},
      {"file", [] { return std::make_unique<TKofFile>("report.pdf", "d", "", "", "sn\r\n", "report.pdf", kContent); }},
      {"certificate",
       [] {
         return std::make_unique<TKofCertificate>("c.pem", "", "a", "", "sn", "c.pem", "alias", "fpw", kContent);
       }},
      {"external file",
       [] {
         return std::make_unique<TKofExternalFile>("big.iso", "", "", "", "big.iso", "dir/sub/c.bin", "k", "iv",
                                                   "aad", 5000000000LL);
       }},
      {"credit card",
       [] {
         return std::make_unique<TKofCreditCard>("Visa", "", "", "", "card\r\nnote", "4111", "2027-03-15T00:00:00.000Z",
                                                 "123", "0000");
       }},
  };
}

std::string Dump(const TKofObject& o) { return std::string(o.SaveTo(false, true).View()); }
TJSONObject Parsed(const SecureString& AText) { return ParseKofJSON(AText.View()); }

TEST(RecordRoundTrip, PlainJSONGivesTheSameRecordBack) {
  for (const auto& [name, make] : AllRecordKinds()) {
    const auto original = make();
    const auto back = TKofObject::CreateObject(Parsed(original->SaveTo(false, true)), nullptr);
    EXPECT_EQ(back->ObjType(), original->ObjType()) << name;
    EXPECT_TRUE(back->SecureFieldsUsed()) << name;
    EXPECT_EQ(Dump(*back), Dump(*original)) << name;
    // And again: nothing drifts (line breaks, quoting).
    const auto twice = TKofObject::CreateObject(Parsed(back->SaveTo(false, true)), nullptr);
    EXPECT_EQ(Dump(*twice), Dump(*original)) << name;
  }
}

class EncryptedRoundTrip : public ::testing::Test {
 protected:
  TSaltyClientEncryption FServer, FPlugin, FStranger;
  // What the server sends the plugin: encrypted for the plugin's key.
  TJSONObject FromServer(const TKofObject& o) {
    return Parsed(o.SaveEncryptedTo(FServer, test::PublicKeyOf(FPlugin), false, true));
  }
};

TEST_F(EncryptedRoundTrip, RightKeyGivesPlainValuesBack) {
  const test::TTestClient client(&FPlugin, test::PublicKeyOf(FServer));
  for (const auto& [name, make] : AllRecordKinds()) {
    const auto original = make();
    const TJSONObject json = FromServer(*original);
    EXPECT_EQ(json.dump().find("Mail\""), std::string::npos) << name;
    auto back = TKofObject::CreateObject(json, &client);
    EXPECT_TRUE(back->NeedsToBeDecrypted()) << name;
    ASSERT_TRUE(back->Decrypt(FPlugin, test::PublicKeyOf(FServer))) << name;
    EXPECT_EQ(back->ObjType(), original->ObjType()) << name;
    EXPECT_EQ(Dump(*back), Dump(*original)) << name;
  }
}

TEST_F(EncryptedRoundTrip, AnotherKeyGivesTheErrorState) {
  const test::TTestClient wrong(&FStranger, test::PublicKeyOf(FServer));
  for (const auto& [name, make] : AllRecordKinds()) {
    auto back = TKofObject::CreateObject(FromServer(*make()), &wrong);
    EXPECT_TRUE(back->NeedsToBeDecrypted()) << name;
    EXPECT_FALSE(back->Decrypt(FStranger, test::PublicKeyOf(FServer))) << name;
    EXPECT_TRUE(FStranger.CryptError()) << name;
  }
}

TEST_F(EncryptedRoundTrip, FailureStopsTheChainAndLaterFieldsKeepCiphertext) {
  const TKofAccount account("Mail", "desc", "", "note", "", "pw", "login", "addr", "");
  TJSONObject json = FromServer(account);
  json["note"] = "AAAA:BBBB";
  const test::TTestClient client(&FPlugin, test::PublicKeyOf(FServer));
  auto back = TKofObject::CreateObject(json, &client);
  auto& a = static_cast<TKofAccount&>(*back);
  EXPECT_FALSE(a.Decrypt(FPlugin, test::PublicKeyOf(FServer)));
  EXPECT_EQ(a.Name(), "Mail");
  EXPECT_EQ(a.Description(), "desc");
  EXPECT_EQ(a.Note(), "AAAA:BBBB");
  EXPECT_EQ(a.LoginName(), json["loginName"].get<std::string>());
}

TEST_F(EncryptedRoundTrip, EveryValueIsAnEncryptedStringAndBoxesStayPlain) {
  TKofAccount account("Mail", "", "", "", "", "pw", "", "", "");
  account.SetId(5);
  const TJSONObject json = Parsed(account.SaveEncryptedTo(FServer, test::PublicKeyOf(FPlugin), true, false));
  for (const auto& [key, value] : json.items()) {
    if (value.is_object()) continue;
    ASSERT_TRUE(value.is_string()) << key;
    EXPECT_EQ(value.get<std::string>()[32], ':') << key;
  }
  EXPECT_EQ(FPlugin.Decrypt(test::PublicKeyOf(FServer), json["id"].get<std::string>()).View(), "5");
  EXPECT_FALSE(json.contains("password"));  // an update never carries the password

  const TKofSafeBox box("Box", "", true, 0);
  EXPECT_EQ(box.SaveEncryptedTo(FServer, test::PublicKeyOf(FPlugin), false, false).View(), box.SaveTo(false, false).View());
}

TEST_F(EncryptedRoundTrip, EncryptionFailureIsRaisedNotSentEmpty) {
  const TKofAccount account("Mail", "", "", "", "", "pw", "", "", "");
  EXPECT_THROW(account.SaveEncryptedTo(FServer, TBytes(5, 1), false, false), EKofCryptError);
  EXPECT_THROW(account.SaveAndEncryptPasswords(FServer, TBytes{}), EKofCryptError);
}

TEST_F(EncryptedRoundTrip, PasswordsJSONPlainAndEncrypted) {
  const TKofAccount account("Mail", "", "", "", "", "s3cret", "", "", "");
  EXPECT_EQ(account.SavePasswords().dump(), R"({"password":"s3cret","passwordRe":"s3cret"})");
  const TJSONObject enc = account.SaveAndEncryptPasswords(FPlugin, test::PublicKeyOf(FServer));
  EXPECT_NE(enc["password"], enc["passwordRe"]);  // two nonces
  EXPECT_EQ(FServer.Decrypt(test::PublicKeyOf(FPlugin), enc["passwordRe"].get<std::string>()).View(), "s3cret");
}

// ---------------------------------------------------------------- JSON forms

// Every member in its place, the pairs written twice included ("site" of an
// account: the record's, then the login's; "sec-note" at the top and inside
// "attributes"), byte for byte.
TEST(RecordJSON, ExactTextOfEveryKind) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<TKofObject>()> make;
    bool update;
    bool content;
    const char* expected;
  } cases[] = {
      {"box update", [] { return std::make_unique<TKofSafeBox>("B", "p", true, 3); }, true, false,
       R"({"id":0,"name":"B","description":"","passwordPattern":"p","privateBox":true,"parentId":3,"type":"SAFEBOX","externalFilesPath":""})"},
      {"group with owner",
       [] {
         auto g = std::make_unique<TKofSafeBoxGroup>("G", "", false, 0);
         g->SetOwnerName("john");
         return g;
       },
       false, false,
       R"({"name":"G","description":"","passwordPattern":"","privateBox":false,"parentId":0,"type":"SAFEBOX_GROUP","ownerName":"john","externalFilesPath":""})"},
      {"account add",
       [] {
         auto a = std::make_unique<TKofAccount>("A\"\\\x01\xC3\xA9", "", "", "l1\r\nl2", "pp", "pw", "u", "s", "login");
         a->SetSite("rec");
         a->SetLauncher(kofSSH);
         return a;
       },
       false, false,
       R"({"template":"account","name":"A\"\\\u0001é","description":"","tags":"","note":"l1\nl2","site":"rec","launcher":"SSH","site":"login","password":"pw","passwordRe":"pw","loginName":"u","serverAddress":"s","attributes":{"passwordPattern":"pp"}})"},
      {"account update", [] { return std::make_unique<TKofAccount>("A", "", "", "", "", "pw", "", "", ""); }, true, false,
       R"({"id":0,"template":"account","name":"A","description":"","tags":"","note":"","site":"","site":"","loginName":"","serverAddress":"","attributes":{"passwordPattern":""}})"},
      {"secret account",
       [] { return std::make_unique<TKofSecAccount>("S", "", "t", "", "p", "pw", "sl", "sa", "login", "n1\r\nn2"); },
       false, false,
       R"({"template":"account-sec","name":"S","description":"","tags":"t","note":"","site":"","sec-note":"n1\nn2","site":"login","password":"pw","passwordRe":"pw","attributes":{"passwordPattern":"p","sec-serverAddress":"sa","sec-loginName":"sl","sec-note":"n1\nn2"}})"},
      {"file with content",
       [] { return std::make_unique<TKofFile>("r.txt", "d", "", "", "sn", "r.txt", TBytes{'h', 'i'}); }, false, true,
       R"({"template":"file","name":"r.txt","description":"d","tags":"","note":"","site":"","sec-note":"sn","attributes":{"file":"r.txt","sec-note":"sn"},"content":"aGk="})"},
      {"certificate",
       [] { return std::make_unique<TKofCertificate>("c.pem", "", "", "", "sn", "c.pem", "al", "fp", TBytes{}); },
       false, false,
       R"({"template":"cert","name":"c.pem","description":"","tags":"","note":"","site":"","sec-note":"sn","attributes":{"alias":"al","file":"c.pem","filePassword":"fp","sec-note":"sn"}})"},
      {"external file", [] { return std::make_unique<TKofExternalFile>("e", "", "", "", "o", "a/b", "k", "i", "d", 5); },
       false, false,
       R"({"template":"external-file","name":"e","description":"","tags":"","note":"","site":"","attributes":{"efFileName":"o","efFilePath":"a\\b","efKey":"k","efIV":"i","efAAD":"d","fileSize":5}})"},
      {"credit card",
       [] {
         return std::make_unique<TKofCreditCard>("V", "", "", "", "sn", "4111", "2027-03-15T00:00:00.000Z", "123",
                                                 "0000");
       },
       false, false,
       R"({"template":"ccard","name":"V","description":"","tags":"","note":"","site":"","sec-note":"sn","attributes":{"number":"4111","expiration":"2027-03-15T00:00:00.000Z","cvv":"123","pin":"0000","sec-note":"sn"}})"},
      {"listed account", [] { return TKofObject::CreateObject(ParseKofJSON(R"({"template":"account","id":7,"name":"L","site":"x","passwordPattern":"pp"})"), nullptr); },
       true, false,
       R"({"id":7,"template":"account","name":"L","description":"","tags":"","note":"","site":"x","site":"x","loginName":"","serverAddress":"","attributes":{"passwordPattern":"pp"}})"},
      {"station", [] { return std::make_unique<TKofStation>(ParseKofJSON(R"({"id":5,"stationName":"ws"})")); }, true,
       false, R"({"id":5,"template":"station","name":"ws"})"},
      {"configuration", [] { return std::make_unique<TKofConfiguration>(ParseKofJSON(R"({"name":"cfg"})")); }, false,
       false, R"({"template":"","name":"cfg"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.make()->SaveTo(c.update, c.content).View(), c.expected) << c.name;
}

// Member names as the text has them, nested ones as "outer.inner", those written twice twice.
std::vector<std::string> MemberSequence(std::string_view AText) {
  struct TKeys {
    std::vector<std::string> Names, Path;
    std::string Pending;
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(std::int64_t) { return true; }
    bool number_unsigned(std::uint64_t) { return true; }
    bool number_float(double, const std::string&) { return true; }
    bool string(std::string&) { return true; }
    bool binary(TJSONObject::binary_t&) { return true; }
    bool start_object(std::size_t) {
      Path.push_back(Pending);
      return true;
    }
    bool end_object() {
      Path.pop_back();
      return true;
    }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    bool key(std::string& AKey) {
      Pending = AKey;
      std::string name;
      for (std::size_t i = 1; i < Path.size(); ++i) name += Path[i] + ".";
      Names.push_back(name + AKey);
      return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }
  } keys;
  EXPECT_TRUE(TJSONObject::sax_parse(AText.begin(), AText.end(), &keys));
  return keys.Names;
}

TEST_F(EncryptedRoundTrip, EncryptedTextHasThePlainTextsMembersInTheirPlaces) {
  for (const auto& [name, make] : AllRecordKinds()) {
    const auto record = make();
    const std::vector<std::string> plain = MemberSequence(record->SaveTo(false, false).View());
    EXPECT_EQ(MemberSequence(record->SaveEncryptedTo(FServer, test::PublicKeyOf(FPlugin), false, false).View()),
              plain)
        << name;
    if (record->ObjType() == kofAccount) {
      EXPECT_EQ(std::count(plain.begin(), plain.end(), "site"), 2) << name;
    }
    if (record->ObjType() == kofCreditCard) {
      EXPECT_EQ(std::count(plain.begin(), plain.end(), "sec-note"), 1) << name;
      EXPECT_EQ(std::count(plain.begin(), plain.end(), "attributes.sec-note"), 1) << name;
    }
  }
}

TEST(RecordJSON, AccountReadsPatternFromAttributesElseTopLevel) {
  struct Case {
    const char* json;
    const char* pattern;
    bool secure;
  } cases[] = {
      {R"({"template":"account","passwordPattern":"top","attributes":{}})", "top", false},
      {R"({"template":"account","passwordPattern":"top","attributes":{"passwordPattern":"  "}})", "top", true},
      {R"({"template":"account","passwordPattern":"top","attributes":{"passwordPattern":"in"}})", "in", true},
      {R"({"template":"account","passwordPattern":"top","attributes":"in"})", "top", false},
      {R"({"template":"account","password":"x"})", "", true},
  };
  for (const auto& c : cases) {
    const auto o = TKofObject::CreateObject(ParseKofJSON(c.json), nullptr);
    const auto& a = static_cast<const TKofAccount&>(*o);
    EXPECT_EQ(a.PasswordPattern().View(), c.pattern) << c.json;
    EXPECT_EQ(a.SecureFieldsUsed(), c.secure) << c.json;
  }
}

TEST(RecordJSON, TagsFromArrayOrCommaText) {
  for (const char* json : {R"({"template":"file","tags":["b","a","a"]})", R"({"template":"file","tags":"a,b"})",
                           R"({"template":"file","tags":"b a"})"}) {
    const auto o = TKofObject::CreateObject(ParseKofJSON(json), nullptr);
    EXPECT_EQ(static_cast<const TKofRecord&>(*o).TagList().Items(), (std::vector<std::string>{"a", "b"})) << json;
  }
}

TEST(RecordJSON, FileNameFromAttributesWinsAndContentDecodes) {
  const auto o = TKofObject::CreateObject(
      ParseKofJSON(R"({"template":"file","fileName":"top.txt","attributes":{"file":"inner.txt"},"content":"AAH/"})"),
      nullptr);
  const auto& f = static_cast<const TKofFile&>(*o);
  EXPECT_EQ(f.Filename(), "inner.txt");
  EXPECT_EQ(*f.Stream(), (TBytes{0, 1, 255}));
  EXPECT_EQ(f.FileSizeApprox(), 3);
  const auto bad = TKofObject::CreateObject(ParseKofJSON(R"({"template":"file","content":"%%%"})"), nullptr);
  EXPECT_TRUE(static_cast<const TKofFile&>(*bad).Stream()->empty());
}

TEST(RecordJSON, ExternalFileKeepsLargeSizeAndPathAsItCame) {
  const auto o = TKofObject::CreateObject(
      ParseKofJSON(R"({"template":"external-file","attributes":{"fileSize":"5000000000","efFilePath":"a/b"}})"),
      nullptr);
  const auto& e = static_cast<const TKofExternalFile&>(*o);
  EXPECT_EQ(e.FileSize(), 5000000000LL);
  EXPECT_EQ(e.efFilePath(), "a/b");
  TKofExternalFile made("n", "", "", "", "o", "a/b/c.bin", "", "", "", 1);
  EXPECT_EQ(made.efFilePath(), "a\\b\\c.bin");
}

TEST(SafeBoxJSON, WatchFlagsOrderAndNames) {
  const auto o = TKofObject::CreateObject(
      ParseKofJSON(R"({"type":"SAFEBOX","name":"Mail","watched":true,"watchedAccesses":false,"order":"5",
                      "recordsCount":12,"ownerName":"john","boxACL":"RC","canCreateRecordTags":"TRUE"})"),
      nullptr);
  auto& box = static_cast<TKofSafeBox&>(*const_cast<TKofObject*>(o.get()));
  EXPECT_TRUE(box.WatchedChanges());
  EXPECT_FALSE(box.WatchedAccesses());
  EXPECT_FALSE(box.WatchedModified());
  EXPECT_EQ(box.Order(), 0);
  EXPECT_FALSE(box.Pinned());
  EXPECT_EQ(box.RecordsCount(), 12);
  EXPECT_TRUE(box.HasPermissionToCreate());
  EXPECT_FALSE(box.HasPermissionToDelete());
  EXPECT_TRUE(box.CanCreateRecordTags() && box.CanCreateRecordTagsPresent());
  EXPECT_EQ(box.UniqueName(), "Mail (john)");
  box.SetDomainName("SYSTEM");
  EXPECT_EQ(box.UniqueName(), "Mail (john, SYSTEM)");
  box.SetWatchedAccesses(true);
  EXPECT_TRUE(box.WatchedAccessesModified());
  box.ClearWatched({wtAccesses});
  EXPECT_FALSE(box.WatchedModified());
  const auto pinned = TKofObject::CreateObject(ParseKofJSON(R"({"type":"SAFEBOX","order":5})"), nullptr);
  EXPECT_TRUE(static_cast<const TKofSafeBox&>(*pinned).Pinned());
}

TEST(Launcher, CodesAndEncryptedLauncherSurvives) {
  EXPECT_EQ(KofLauncherFromCode("winbox"), kofMikrotikWinbox);
  EXPECT_EQ(KofLauncherFromCode("teleport"), kofLauncherNone);
  TSaltyClientEncryption server, plugin;
  TKofAccount account("A", "", "", "", "", "", "", "", "");
  account.SetLauncher(kofTelnet);
  const test::TTestClient client(&plugin, test::PublicKeyOf(server));
  auto back =
      TKofObject::CreateObject(Parsed(account.SaveEncryptedTo(server, test::PublicKeyOf(plugin), false, false)), &client);
  ASSERT_TRUE(back->Decrypt(plugin, test::PublicKeyOf(server)));
  EXPECT_EQ(static_cast<const TKofAccount&>(*back).Launcher(), kofTelnet);
}

// ---------------------------------------------------------------- merging and wiping

TEST(SecureFields, PasswordOnlyAnswerMergesIntoTheListedRecord) {
  auto listed = TKofObject::CreateObject(
      ParseKofJSON(R"({"template":"account","id":9,"name":"Mail","loginName":"joe","passwordPattern":"p"})"), nullptr);
  auto& account = static_cast<TKofAccount&>(*listed);
  EXPECT_FALSE(account.SecureFieldsUsed());
  const auto secret = TKofObject::CreateObject(R"({"password":"pw"})", nullptr, "", false, kofAccount);
  account.GetSecureFieldsFrom(*secret);
  EXPECT_TRUE(account.SecureFieldsUsed());
  EXPECT_EQ(account.Id(), 9);
  EXPECT_EQ(account.Name(), "Mail");
  EXPECT_EQ(account.LoginName(), "joe");
  EXPECT_EQ(account.Password().View(), "pw");
  EXPECT_EQ(account.PasswordPattern().View(), "p");
}

TEST(SecureFields, AssignNonEmptyOnlyBetweenTheSameKind) {
  TKofAccount target("T", "old", "", "", "", "pw", "", "", "");
  const TKofAccount source("S", "", "x", "", "", "", "login", "", "");
  const TKofSecAccount other("O", "other", "", "", "", "", "", "", "", "");
  EXPECT_FALSE(target.AssignNonEmptyFieldsFrom(other));
  EXPECT_EQ(target.Description(), "old");
  EXPECT_TRUE(target.AssignNonEmptyFieldsFrom(source));
  EXPECT_EQ(target.Description(), "old");
  EXPECT_EQ(target.Tags(), "x");
  EXPECT_EQ(target.LoginName(), "login");
  EXPECT_EQ(target.Password().View(), "pw");
  EXPECT_EQ(target.Name(), "T");
}

TEST(SecureFields, WipeStringsEmptiesSecretsAndTheJSONCarriesNone) {
  for (const auto& [name, make] : AllRecordKinds()) {
    auto record = make();
    record->WipeStrings();
    EXPECT_FALSE(record->SecureFieldsUsed()) << name;
    const std::string json(record->SaveTo(false, false).View());
    for (const char* secret : {"pw", "secret", "4111", "fpw", "slogin", "\"k\""})
      EXPECT_EQ(json.find(secret), std::string::npos) << name << " " << secret;
  }
}

// ---------------------------------------------------------------- text form

TEST(TextForm, LinesPerKind) {
  TSecureLines lines;
  TKofSafeBox box("Box", "", true, 0);
  box.SaveToList(lines);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].View(), "id= 0");
  EXPECT_EQ(lines[4].View(), "privateBox = True");

  TKofCertificate cert("c", "", "", "", "sn", "c.pem", "al", "fp", TBytes{});
  cert.SaveToList(lines);
  std::vector<std::string> texts;
  for (const auto& l : lines) texts.emplace_back(l.View());
  EXPECT_EQ(texts, (std::vector<std::string>{"id= 0", "name = c", "description = ", "tags = ", "note = ", "site = ",
                                             "alias = al", "file = c.pem", "filePassword = fp"}));

  const auto station = TKofObject::CreateObject(R"({"stations":[{"stationName":"pc"}]})", nullptr, "", false);
  try {
    station->SaveToList(lines);
    ADD_FAILURE() << "station text form must raise";
  } catch (const EKofError& e) {
    EXPECT_STREQ(e.what(), "N/A");
    EXPECT_EQ(lines.size(), 2u);
  }
}

// ---------------------------------------------------------------- dates

TEST(CreditCard, ExpirationAsIso8601) {
  setenv("TZ", "XXX-1", 1);  // one hour east of UTC
  tzset();
  TKofCreditCard card("c", "", "", "", "", "", "", "", "");
  const TDateTime march15 = ExpirationMonthToDate(3, 2027);
  card.SetExpirationDate(true, march15);
  EXPECT_EQ(card.Expiration().View(), "2027-03-15T00:00:00.000+01:00");
  EXPECT_DOUBLE_EQ(card.GetExpirationDate(true), march15);
  card.SetExpirationDate(false, march15);
  EXPECT_EQ(card.Expiration().View(), "2027-03-15T00:00:00.000Z");
  int month = 0, year = 0;
  ExpirationDateToMonth(card.GetExpirationDate(false), month, year);
  EXPECT_EQ(month, 3);
  EXPECT_EQ(year, 2027);
  for (const char* bad : {"", "garbage", "2027-13-01", "2027-03-15T25:00"}) {
    card.SetExpiration(bad);
    EXPECT_EQ(card.GetExpirationDate(true), 0) << bad;
  }
  card.SetExpirationDate(true, 1e300);
  EXPECT_TRUE(card.Expiration().Empty());
  unsetenv("TZ");
  tzset();
}

TEST(Station, TimesAreDayCountsWithoutZone) {
  const auto o = TKofObject::CreateObject(R"({"stations":[{"stationName":"pc","registered":86400000,"userName":"u"}]})",
                                          nullptr, "", false);
  const auto& s = static_cast<const TKofStation&>(*o);
  EXPECT_DOUBLE_EQ(s.Registered(), 25570.0);
  EXPECT_EQ(s.DefUser(), "u");
  EXPECT_EQ(s.StationName(), "pc");
}

// ---------------------------------------------------------------- files on disk

TEST(FileRecord, SavesAndLoadsItsContent) {
  const auto dir = std::filesystem::temp_directory_path() / ("kofmodel-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  TKofFile file("r", "", "", "", "", "r.bin", kContent);
  EXPECT_EQ(file.BuildPath(dir.string(), ""), (dir / "r.bin").string());
  EXPECT_EQ(file.BuildPath(dir.string(), "/x/y"), "/x/y");
  file.SaveToFile(dir.string(), "", true);
  EXPECT_EQ(std::filesystem::status(dir / "r.bin").permissions() & std::filesystem::perms::group_read,
            std::filesystem::perms::none);
  TKofFile loaded((dir / "r.bin").string(), "r", "", "", "", "", "");
  EXPECT_EQ(*loaded.Stream(), kContent);
  EXPECT_EQ(loaded.Filename(), "r.bin");
  EXPECT_THROW(file.SaveToFile((dir / "missing").string(), "", false), EFCreateError);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_THROW(file.SaveToFile("", "/dev/full", false), EWriteError);
  }
  EXPECT_THROW(TKofFile((dir / "missing.bin").string(), "", "", "", "", "", ""), EFOpenError);
  std::filesystem::remove_all(dir);
}

// A private copy never goes through a link planted at its name, nor over a file already there.
TEST(FileRecord, PrivateCopyIsMadeNewAndFollowsNoLink) {
  namespace fs = std::filesystem;
  const auto dir = fs::temp_directory_path() / ("kofprivate-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  { std::ofstream(dir / "victim") << "keep"; }
  fs::create_symlink(dir / "victim", dir / "link.bin");
  { std::ofstream(dir / "there.bin") << "old"; }
  TKofFile file("r", "", "", "", "", "r.bin", kContent);
  EXPECT_THROW(file.SaveToFile("", (dir / "link.bin").string(), true), EFCreateError);
  EXPECT_THROW(file.SaveToFile("", (dir / "there.bin").string(), true), EFCreateError);
  std::ifstream victim(dir / "victim");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "keep");
  file.SaveToFile(dir.string(), "", true);
  EXPECT_EQ(fs::status(dir / "r.bin").permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
  fs::remove_all(dir);
}

TEST(FileStreamEx, KeepTimesRestoresTheWriteTimeAndEncryptedIsPrivate) {
  const auto path = std::filesystem::temp_directory_path() / ("kofstream-" + std::to_string(::getpid()));
  {
    TFileStreamEx created(path.string(), fmCreate | fmEncrypted);
    created.WriteBuffer("abc", 3);
  }
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
  const auto old = std::filesystem::last_write_time(path) - std::chrono::hours(24);
  std::filesystem::last_write_time(path, old);
  {
    TFileStreamEx opened(path.string(), fmOpenReadWrite | fmKeepFileTimes);
    opened.Seek(0, SEEK_END);
    opened.WriteBuffer("def", 3);
    EXPECT_EQ(opened.Size(), 6);
  }
  EXPECT_EQ(std::filesystem::last_write_time(path), old);
  {
    TFileStreamEx unbuffered(path.string(), fmOpenRead | fmUnbuffered);
    EXPECT_TRUE(unbuffered.Remote());
    EXPECT_EQ(unbuffered.BytesPerSector(), 512);
    char buffer[8] = {};
    EXPECT_EQ(unbuffered.Read(buffer, sizeof buffer), 6u);
  }
  std::filesystem::remove(path);
  try {
    TFileStreamEx missing(path.string(), fmOpenRead);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + path.string());
  }
}

// Who holds the content is always clear, and referring to the record's own
// stream (as a caller holding only Stream() may) never frees what is referred to.
TEST(FileRecord, StreamOwnershipIsExplicitAndReferringIsSafe) {
  const std::uint8_t content[] = {1, 2, 3};
  TKofFile file("r", "", "", "", "", "r.bin", TByteSpan(content));
  ASSERT_TRUE(file.OwnStream());
  file.SetStream(file.Stream(), false);
  EXPECT_TRUE(file.OwnStream());
  ASSERT_NE(file.Stream(), nullptr);
  EXPECT_EQ(*file.Stream(), (TBytes{1, 2, 3}));
  file.SetStream(file.Stream(), true);
  EXPECT_EQ(*file.Stream(), (TBytes{1, 2, 3}));

  TBytes outside = {9};
  file.SetStream(&outside, false);
  EXPECT_FALSE(file.OwnStream());
  EXPECT_EQ(file.Stream(), &outside);
  file.SetStream(file.Stream(), true);
  EXPECT_TRUE(file.OwnStream());
  outside.clear();
  EXPECT_EQ(*file.Stream(), TBytes{9});
  file.SetStream(nullptr, false);
  EXPECT_FALSE(file.OwnStream());
  EXPECT_EQ(file.FileSizeApprox(), 0);
}

TEST(FileRecord, ReferencedStreamIsNotCopied) {
  TBytes data = {1, 2};
  TKofFile file("r", "", "", "", "", "r.bin", &data, false);
  EXPECT_EQ(file.Stream(), &data);
  file.SetStream(&data, true);
  EXPECT_NE(file.Stream(), &data);
  EXPECT_EQ(*file.Stream(), data);
}

}  // namespace
}  // namespace kof
