#include <cmath>
#include "model/KofObjects.h"

#include <gtest/gtest.h>

#include "model/KofClasses.h"
#include "tests/model/ModelTestSupport.h"

namespace kof {
namespace {

TEST(TextConversions, ConvertLineBreaksAndNull) {
  struct Case {
    std::string (*fn)(std::string_view);
    const char* name;
    std::string input, expected;
  } cases[] = {
      {TKofObject::JSToStr, "JSToStr null", "null", ""},
      {TKofObject::JSToStr, "JSToStr LF", "a\nb", "a\r\nb"},
      {TKofObject::JSToStr, "JSToStr NULL is text", "NULL", "NULL"},
      {TKofObject::TextToJS, "TextToJS", "a\r\nb\r\n", "a\nb\n"},
      {TKofObject::JSToMnemo, "JSToMnemo null", "null", ""},
      {TKofObject::JSToMnemo, "JSToMnemo LF", "a\nb", "a\\nb"},
      {TKofObject::TextToMnemo, "TextToMnemo", "a\r\nb", "a\\nb"},
      {TKofObject::MnemoToStr, "MnemoToStr", "a\\nb\\N", "a\r\nb\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.fn(c.input), c.expected) << c.name;
  EXPECT_EQ(TKofObject::TextToJS(TKofObject::JSToStr("x\ny")), "x\ny");
}

TEST(ServerTimes, MillisecondsRoundToWholeSecondsHalfToEven) {
  struct Case {
    std::int64_t ms, seconds;
  } cases[] = {{1500, 2}, {2500, 2}, {2501, 3}, {499, 0}, {-1500, -2}, {-500, 0}, {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(RoundMsToSeconds(c.ms), c.seconds) << c.ms;
  EXPECT_EQ(RoundMsToSeconds(INT64_MIN), INT64_MIN / 1000 - 1);
  EXPECT_EQ(RoundMsToSeconds(INT64_MAX), INT64_MAX / 1000 + 1);
}

TEST(ServerTimes, TimesBeyondTheHostsRangeAreClamped) {
  // 9.22e14 ms and above overflowed the later conversion to the host's time.
  struct Case {
    const char* json;
    std::int64_t seconds;
  } cases[] = {{R"({"template":"account","modified":922000000000000})", 253402300799},
               {R"({"template":"account","modified":9223372036854775807})", 253402300799},
               {R"({"template":"account","modified":-9223372036854775808})", -11644473600},
               {R"({"template":"account","modified":1500})", 2}};
  for (const auto& c : cases) {
    const auto object = TKofObject::CreateObject(ParseKofJSON(c.json), nullptr);
    EXPECT_EQ(DateTimeToUnix(object->ModifiedUTC()), c.seconds) << c.json;
  }
  EXPECT_EQ(DateTimeToUnix(TDeletedItem(ParseKofJSON(R"({"date":9223372036854775807})")).DateOf()), 253402300799);
  EXPECT_EQ(DateTimeToUnix(1e300), DateTimeToUnix(1e8));
  EXPECT_EQ(DateTimeToUnix(std::nan("")), 0);
}

TEST(ServerTimes, ModifiedIsUtcAndLocalOfTheRoundedInstant) {
  setenv("TZ", "XXX-1", 1);  // one hour east of UTC, no tz database needed
  tzset();
  const auto account = TKofObject::CreateObject(TJSONObject{{"template", "account"}, {"modified", 1500}}, nullptr);
  EXPECT_EQ(DateTimeToUnix(account->ModifiedUTC()), 2);
  EXPECT_EQ(DateTimeToUnix(account->Modified()), 2 + 3600);
  unsetenv("TZ");
  tzset();
}

TEST(JSONValues, NumbersAndBooleansReadFromAnyValueKind) {
  const TJSONObject j = TJSONObject::parse(R"({"s":"12","n":12,"neg":-3,"f":1.5,"big":1e300,
      "huge":123456789012345678901234567890,"t":true,"T":"TRUE","z":"0","one":1,"nul":null,"o":{},"a":[1]})");
  struct Case {
    const char* key;
    std::optional<std::int32_t> asInt;
    bool asBool;
  } cases[] = {
      {"s", 12, true},    {"n", 12, true},       {"neg", -3, true},           {"f", std::nullopt, true},
      {"big", std::nullopt, true}, {"huge", std::nullopt, true}, {"t", std::nullopt, true},
      {"T", std::nullopt, true},  {"z", 0, false},  {"one", 1, true}, {"nul", std::nullopt, false},
      {"o", std::nullopt, false}, {"a", std::nullopt, false},
  };
  for (const auto& c : cases) {
    const auto text = JSONValueText(j, c.key);
    ASSERT_TRUE(text.has_value()) << c.key;
    EXPECT_EQ(StrToInt32(*text), c.asInt) << c.key;
    EXPECT_EQ(StrToBoolean(*text), c.asBool) << c.key;
  }
  EXPECT_FALSE(JSONValueText(j, "missing").has_value());
  EXPECT_FALSE(JSONValueText(TJSONObject::array(), "s").has_value());
  EXPECT_EQ(StrToInt32("2147483648"), std::nullopt);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
}

// ---------------------------------------------------------------- factories

TEST(CreateObject, ResolvesTypeStringsIgnoringCase) {
  struct Case {
    const char* json;
    TKofObjectType kind;
  } cases[] = {
      {R"({"template":"ACCOUNT"})", kofAccount},
      {R"({"template":"ACCOUNT-SEC"})", kofAccountSec},
      {R"({"template":"","type":"SAFEBOX"})", kofSafeBox},
      {R"({"type":"safebox_group"})", kofSafeBoxGroup},
      {R"({"template":"external-file"})", kofExternalFile},
      {R"({"template":"ccard","type":"account"})", kofCreditCard},
      {R"({"template":null,"type":"cert"})", kofCertificate},
  };
  for (const auto& c : cases) {
    const auto object = TKofObject::CreateObject(ParseKofJSON(c.json), nullptr);
    EXPECT_EQ(object->ObjType(), c.kind) << c.json;
    EXPECT_FALSE(object->NeedsToBeDecrypted()) << c.json;
  }
}

TEST(CreateObject, RefusesJSONWithoutUsableType) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"name":"x"})", "Kof object template/type field not found"},
      {R"({"template":""})", "Kof object template/type field not found"},
      {R"({"template":"","type":""})", "Kof object type/template is empty"},
      {R"({"template":"null","type":null})", "Kof object type/template is empty"},
      {R"({"template":"folder"})", "Unknown Kof object type/template (\"folder\")"},
      {R"({"template":{"a":1},"type":[1]})", "Kof object type/template is empty"},
      {R"([1,2])", "Kof object template/type field not found"},
  };
  for (const auto& c : cases) {
    try {
      TKofObject::CreateObject(ParseKofJSON(c.json), nullptr);
      ADD_FAILURE() << "no error for " << c.json;
    } catch (const EKofObjectError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.json;
    }
  }
}

TEST(CreateObject, BadMemberValuesGiveDefaults) {
  const auto object = TKofObject::CreateObject(
      ParseKofJSON(R"({"template":"account","id":99999999999999999999,"name":null,"modified":"soon",
                      "description":{"x":1},"tags":[1,{"a":2},"t",null],"launcher":"SSH"})"),
      nullptr);
  const auto& account = static_cast<const TKofAccount&>(*object);
  EXPECT_EQ(account.Id(), 0);
  EXPECT_EQ(account.Name(), "");
  EXPECT_EQ(account.Description(), "");
  EXPECT_EQ(account.ModifiedUTC(), UnixToDateTime(0));
  EXPECT_EQ(account.Tags(), "1,null,t");
  EXPECT_EQ(account.Launcher(), kofSSH);
  const auto negative = TKofObject::CreateObject(ParseKofJSON(R"({"template":"file","id":-7})"), nullptr);
  EXPECT_EQ(negative->Id(), -7);
}

TEST(CreateObject, NonNumericFileSizeIsAConversionError) {
  EXPECT_THROW(TKofObject::CreateObject(ParseKofJSON(R"({"template":"file","fileSizeApprox":"big"})"), nullptr),
               EConvertError);
  EXPECT_THROW(TKofObject::CreateObject(ParseKofJSON(R"({"template":"station","registered":1.5})"), nullptr),
               EConvertError);
}

// ---------------------------------------------------------------- answers

class AnswerTest : public ::testing::Test {
 protected:
  TKofList FList;
};

TEST_F(AnswerTest, NamedKeyFirstThenTableOrder) {
  struct Case {
    const char* name;
    const char* body;
    const char* objectName;
    std::vector<std::string> names;
  } cases[] = {
      {"empty records", R"({"records":[]})", "records", {}},
      {"falls back to record", R"({"record":{"template":"account","name":"A"}})", "records", {"A"}},
      {"defaults when no record", R"({"defaults":{"template":"cert","name":"D"}})", "", {"D"}},
      {"record wins over defaults", R"({"defaults":{"template":"cert","name":"D"},"record":{"template":"file","name":"R"}})", "", {"R"}},
      {"named key ignoring case", R"({"Records":[{"template":"file","name":"x"}],"safeboxes":[{"type":"SAFEBOX","name":"b"}]})", "Records", {"x"}},
      {"table order", R"({"records":[{"template":"file","name":"r"}],"safeboxes":[{"type":"SAFEBOX","name":"b"}]})", "", {"b"}},
      {"wrong kind skipped", R"({"records":{"template":"file"},"safebox":{"type":"SAFEBOX","name":"s"}})", "records", {"s"}},
      {"non-objects skipped", R"({"records":[1,"x",null,[],{"template":"file","name":"f"}]})", "", {"f"}},
      {"stations", R"({"stations":[{"stationName":"pc1","registered":86400000}]})", "", {"pc1"}},
      {"configs", R"({"configs":[{"name":"c","seedBase":"s"}]})", "", {"c"}},
      {"byte-order mark", "\xEF\xBB\xBF{\"records\":[{\"template\":\"file\",\"name\":\"bom\"}]}", "", {"bom"}},
  };
  for (const auto& c : cases) {
    FList.Add(TKofAccount::PasswordOnly("old"));
    TKofObject::AddObjects(nullptr, FList, c.body, c.objectName, true, false);
    std::vector<std::string> names;
    for (const auto& o : FList) names.push_back(o->Name());
    EXPECT_EQ(names, c.names) << c.name;
    FList.Clear();
  }
}

TEST_F(AnswerTest, ClearListFalseAppends) {
  FList.Add(TKofAccount::PasswordOnly("old"));
  TKofObject::AddObjects(nullptr, FList, R"({"records":[{"template":"file"}]})", "records", false, false);
  EXPECT_EQ(FList.Count(), 2);
}

// One member that cannot be read must not hide the others: it is left out and counted.
TEST_F(AnswerTest, UnreadableMembersAreLeftOutAndCounted) {
  struct Case {
    const char* name;
    std::string member;
  } cases[] = {
      {"unknown kind", R"({"template":"bogus","name":"x"})"},
      {"kind of another JSON type", R"({"template":5,"name":"x"})"},
      {"no kind", R"({"name":"x"})"},
      {"size that is no number", R"({"template":"file","name":"x","fileSizeApprox":"big"})"},
      {"not an object", R"("x")"},
      {"name not UTF-8", "{\"template\":\"file\",\"name\":\"a\xff\xfe\"}"},
      {"member not UTF-8", "{\"template\":\"file\",\"name\":\"x\",\"note\":\"\xc3\"}"},
  };
  for (const auto& c : cases) {
    const std::string body = R"({"records":[{"template":"file","id":1,"name":"first"},)" + c.member +
                             R"(,{"template":"account","id":2,"name":"last"}]})";
    TKofObject::AddObjects(nullptr, FList, body, "records", true, false);
    ASSERT_EQ(FList.Count(), 2) << c.name;
    EXPECT_EQ(FList[0]->Name(), "first") << c.name;
    EXPECT_EQ(FList[1]->Name(), "last") << c.name;
    EXPECT_EQ(FList.Unreadable(), 1) << c.name;
  }
  FList.Clear();
  EXPECT_EQ(FList.Unreadable(), 0);
  // A single record that cannot be read is still an error.
  EXPECT_THROW(TKofObject::CreateObject(R"({"record":{"template":"bogus"}})", nullptr, "record", false),
               EKofObjectError);
}

TEST_F(AnswerTest, BadDocumentsAreRefused) {
  struct Case {
    const char* name;
    std::string body;
  } cases[] = {
      {"no known key", R"({"boxes":[]})"},
      {"not JSON", "records"},
      {"array", "[]"},
      {"empty", ""},
      {"invalid UTF-8 outside a text", "{\"records\":[{\"template\":\"file\",\"name\":\"a\"}\xff]}"},
      {"deep arrays", std::string(100000, '[') + std::string(100000, ']')},
      {"deep objects", [] {
         std::string s;
         for (int i = 0; i < 100000; ++i) s += "{\"a\":";
         return s + "1" + std::string(100000, '}');
       }()},
      {"deep, unterminated", std::string(1000000, '[')},
  };
  for (const auto& c : cases) {
    EXPECT_ANY_THROW(TKofObject::AddObjects(nullptr, FList, c.body, "records", true, false)) << c.name;
    EXPECT_EQ(FList.Count(), 0) << c.name;
  }
}

TEST_F(AnswerTest, DepthWithinTheLimitIsAccepted) {
  // Brackets inside strings do not count.
  const std::string name(1000, '[');
  const std::string body = R"({"records":[{"template":"file","name":")" + name + R"(","x":)" +
                           std::string(kMaxJSONDepth - 3, '[') + std::string(kMaxJSONDepth - 3, ']') + "}]}";
  TKofObject::AddObjects(nullptr, FList, body, "records", true, false);
  ASSERT_EQ(FList.Count(), 1);
  EXPECT_EQ(FList[0]->Name(), name);
}

TEST_F(AnswerTest, HugeNameIsKeptWhole) {
  const std::string name(1 << 20, 'n');
  TKofObject::AddObjects(nullptr, FList, R"({"records":[{"template":"account","name":")" + name + "\"}]}", "", true,
                         false);
  ASSERT_EQ(FList.Count(), 1);
  EXPECT_EQ(FList[0]->Name().size(), name.size());
}

TEST(PasswordAnswer, BuildsPasswordOnlyObjectOfTheAskedClass) {
  struct Case {
    const char* body;
    std::optional<TKofObjectType> cls;
    bool expectObject;
    std::string password;
  } cases[] = {
      {R"({"password":null})", kofAccount, true, ""},
      {R"({"password":"p\nq"})", kofAccountSec, true, "p\r\nq"},
      {R"({"password":"x"})", std::nullopt, false, ""},
      {R"({"password":"x"})", kofFile, false, ""},
  };
  for (const auto& c : cases) {
    const auto object = TKofObject::CreateObject(c.body, nullptr, "", false, c.cls);
    ASSERT_EQ(object != nullptr, c.expectObject) << c.body;
    if (!object) continue;
    const auto& account = static_cast<const TKofAccountCommon&>(*object);
    EXPECT_EQ(account.Password().View(), c.password);
    EXPECT_EQ(account.PasswordRe().View(), c.password);
    EXPECT_TRUE(account.SecureFieldsUsed());
    EXPECT_EQ(account.Name(), "");
  }
}

TEST(StreamCreateObject, ReturnsTheFirstObjectOnly) {
  const auto object = TKofObject::CreateObject(R"({"safeboxes":[7,{"type":"SAFEBOX","name":"a"},{"type":"bad"}]})",
                                               nullptr, "safeboxes", false);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->Name(), "a");
  EXPECT_EQ(TKofObject::CreateObject(R"({"records":[]})", nullptr, "", false), nullptr);
}

// ---------------------------------------------------------------- encrypted type strings

TEST(EncryptedTypeString, DecryptsWithTheRightKeyAndIsMarkedOtherwise) {
  TSaltyClientEncryption server, plugin, stranger;
  const TJSONObject json = {{"template", server.Encrypt(test::PublicKeyOf(plugin), "account")},
                            {"name", server.Encrypt(test::PublicKeyOf(plugin), "Mail")}};
  const test::TTestClient client(&plugin, test::PublicKeyOf(server));
  auto object = TKofObject::CreateObject(json, &client);
  EXPECT_EQ(object->ObjType(), kofAccount);
  EXPECT_TRUE(object->NeedsToBeDecrypted());
  EXPECT_TRUE(object->Decrypt(plugin, test::PublicKeyOf(server)));
  EXPECT_EQ(object->Name(), "Mail");

  const test::TTestClient wrong(&stranger, test::PublicKeyOf(server));
  object = TKofObject::CreateObject(json, &wrong);
  EXPECT_TRUE(object->NeedsToBeDecrypted());
  EXPECT_FALSE(object->Decrypt(stranger, test::PublicKeyOf(server)));
  EXPECT_TRUE(stranger.CryptError());

  // Without an engine an unknown type string stays unknown.
  EXPECT_THROW(TKofObject::CreateObject(json, nullptr), EKofObjectError);
  const test::TTestClient noKey(&plugin, TBytes{});
  EXPECT_THROW(TKofObject::CreateObject(json, &noKey), EKofObjectError);
}

// ---------------------------------------------------------------- TKofList

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TKofObject::AddObjects(nullptr, FList, R"({"safeboxes":[
        {"type":"SAFEBOX","id":1,"name":"Mail"},
        {"type":"SAFEBOX_GROUP","id":2,"name":"účty"},
        {"type":"SAFEBOX","id":3,"name":"alpha"}]})", "", true, false);
    TKofObject::AddObjects(nullptr, FList, R"({"records":[
        {"template":"account","id":3,"name":"Beta"},
        {"template":"external-file","id":4,"name":"ext"}]})", "", false, false);
  }
  TKofList FList;
};

TEST_F(ListTest, FindsBoxesByIdAndByNameWithin) {
  std::string name;
  EXPECT_TRUE(FList.FindSafeBox(2, name));
  EXPECT_EQ(name, "účty");
  EXPECT_FALSE(FList.FindSafeBox(4, name));
  EXPECT_EQ(name, "");
  std::int32_t id = 0;
  EXPECT_TRUE(FList.FindSafeBox("Mail (john, SYSTEM) - shared", id));
  EXPECT_EQ(id, 1);
  EXPECT_TRUE(FList.FindSafeBox("ÚČTY (x)", id));
  EXPECT_EQ(id, 2);
  EXPECT_FALSE(FList.FindSafeBox("Beta", id));
  EXPECT_EQ(FList.FindBy(3)->Name(), "alpha");
  EXPECT_EQ(FList.FindBy(99), nullptr);
}

TEST_F(ListTest, FindNeedsASortedList) {
  int index = -1;
  EXPECT_FALSE(FList.Find("Mail", index));
  FList.SortByName();
  ASSERT_TRUE(FList.Sorted());
  EXPECT_TRUE(FList.Find("MAIL", index));
  EXPECT_EQ(FList[index]->Name(), "Mail");
  EXPECT_FALSE(FList.Find("gamma", index));
  EXPECT_EQ(FList[index]->Name(), "Mail");  // insertion point
  FList.Clear();
  EXPECT_FALSE(FList.Sorted());
}

TEST_F(ListTest, CountsAndSizes) {
  FList[0]->SetMark(true);
  EXPECT_EQ(FList.NumberOfMarked(), 1);
  EXPECT_EQ(FList.StandardCount(), 4);
  std::int64_t sum = 0;
  for (const auto& o : FList) sum += o->Size();
  EXPECT_EQ(FList.Size(), sum);
  EXPECT_EQ(FList[0]->Size(), static_cast<std::int64_t>(FList[0]->SaveTo(true, false).Size()));
}

// ---------------------------------------------------------------- side results

TEST(DeletedItem, KindComesFromTypeThenTemplate) {
  struct Case {
    const char* json;
    TKofObjectType kind;
  } cases[] = {
      {R"({"type":"account","template":"cert"})", kofCertificate},
      {R"({"type":"account","template":"whatever"})", kofAccount},
      {R"({"type":"mystery"})", kofConfiguration},
      {R"({"type":"SAFEBOX","template":"cert"})", kofSafeBox},
  };
  for (const auto& c : cases) EXPECT_EQ(TDeletedItem(ParseKofJSON(c.json)).ObjType(), c.kind) << c.json;
}

TEST(DeletedItem, QualifiedNameAndLookups) {
  TDeletedItemList list;
  list.Add(std::make_unique<TDeletedItem>(ParseKofJSON(R"({"id":1234,"name":"Mail","parent":"Private","date":1500})")));
  list.Add(std::make_unique<TDeletedItem>(ParseKofJSON(R"({"id":7,"name":"Note"})")));
  EXPECT_EQ(list.GetResultItem(0)->QualifiedName(), "Mail \xCB\xB8 Private [1234]");
  EXPECT_EQ(list.GetResultItem(1)->QualifiedName(), "Note[7]");
  EXPECT_EQ(DateTimeToUnix(list.GetResultItem(0)->DateOf()), 2);
  EXPECT_EQ(list.GetResultItem(1)->DeletedParentId(), -1);
  int index = -1;
  EXPECT_TRUE(list.FindByQualified("note[7].account", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.FindByQualified("Note[8]", index));
  EXPECT_TRUE(list.FindBy("MAIL.account", index));
  EXPECT_EQ(index, 0);
}

TEST(SearchAndTags, DefaultsAndLookups) {
  const TSearchResult hit(ParseKofJSON(R"({"name":"a","type":"CERT"})"));
  EXPECT_EQ(hit.Id(), 1);
  EXPECT_EQ(hit.ParentId(), -1);
  EXPECT_EQ(hit.OwnerId(), -1);
  EXPECT_EQ(hit.ObjType(), kofCertificate);
  EXPECT_EQ(TSearchResult(ParseKofJSON(R"({"type":"x"})")).ObjType(), kofConfiguration);

  TDomainTagsList tags;
  tags.Add(std::make_unique<TDomainTag>(ParseKofJSON(R"({"name":"Work","domainId":"3"})")));
  EXPECT_EQ(tags.GetResultItem(0)->Id(), -1);
  EXPECT_EQ(tags.GetResultItem(0)->DomainId(), 3);
  int index = -1;
  EXPECT_TRUE(tags.FindBy("work", index));
  EXPECT_FALSE(tags.FindBy("wor", index));
}

TEST(AttachedObjects, OwnedOnesGoWithTheObject) {
  auto owned = std::make_shared<int>(5);
  std::weak_ptr<int> watch = owned;
  int borrowed = 7;
  {
    TKofAccount account("a", "", "", "", "", "", "", "", "");
    account.AttachObject(std::shared_ptr<void>(std::move(owned)));
    EXPECT_TRUE(account.OwnedObject());
    account.AttachObject(&borrowed);  // frees the owned one first
    EXPECT_TRUE(watch.expired());
    account.DetachObject();
    EXPECT_EQ(account.AttachedObject(), &borrowed);  // a borrowed reference stays
  }
}

}  // namespace
}  // namespace kof
