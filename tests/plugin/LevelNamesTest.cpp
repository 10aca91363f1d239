// How a level's members become the names the host lists and looks up.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <memory>
#include <string>
#include <vector>

#include "model/KofObjects.h"
#include "plugin/PluginKofClasses5.h"
#include "support/KofText.h"

namespace kof {
namespace {

// A level read from a server answer of records or boxes.
std::unique_ptr<TLevelData> LevelOf(const std::string& member, const nlohmann::json& objects, TKofObjectSet kinds) {
  auto level = std::make_unique<TLevelData>();
  // A braced single object is not an array to the JSON library.
  const nlohmann::json list = objects.is_array() ? objects : nlohmann::json::array({objects});
  TKofObject::AddObjects(nullptr, level->FKOFList, nlohmann::json{{member, list}}.dump(), member, true, true);
  level->Populate(kinds);
  return level;
}

std::vector<std::string> Listed(const TLevelData& level) {
  std::vector<std::string> names;
  for (const auto& entry : level.FFSList.Entries()) names.push_back(entry.Name);
  return names;
}

nlohmann::json Account(int id, const std::string& name) {
  return {{"id", id}, {"template", "account"}, {"name", name}};
}

nlohmann::json File(int id, const std::string& name, const std::string& fileName) {
  return {{"id", id}, {"template", "file"}, {"name", name}, {"fileName", fileName},
          {"attributes", {{"file", fileName}}}};
}

TEST(LevelNames, FileRecordsTakeTheExtensionOfTheirStoredFile) {
  struct Case {
    const char* record;
    const char* file;
    const char* listed;
  } cases[] = {
      {"Contract", "contract.pdf", "Contract.pdf"},
      {"Report.pdf", "report.PDF", "Report.PDF"},  // extensions compare case-sensitively
      {"Report.pdf", "report.pdf", "Report.pdf"},
      {"Notes", "README", "Notes"},  // a file without extension changes nothing
  };
  for (const Case& c : cases) {
    const auto levelPtr = LevelOf("records", {File(5, c.record, c.file)}, kofRecordKinds);
    const TLevelData& level = *levelPtr;
    EXPECT_EQ(Listed(level), std::vector<std::string>{c.listed}) << c.record << " holding " << c.file;
    const TKofObject* found = level.Find(c.listed);
    ASSERT_NE(found, nullptr) << c.listed;
    EXPECT_EQ(found->Id(), 5);
  }
}

TEST(LevelNames, CollidingNamesAreEachListedOnceAndFoundByTheirListedName) {
  // Equal names, names that differ only by case (also beyond ASCII), and a
  // name that the file-system replacement turns into another one's twin.
  const auto levelPtr = LevelOf("records",
                                   {Account(1, "Mail"), Account(2, "mail"), Account(3, "Účty"), Account(4, "účty"),
                                    Account(5, "a/b"), Account(6, "a\xCC\xB8" "b")},
                                   kofRecordKinds);
  const TLevelData& level = *levelPtr;
  const std::vector<std::string> names = Listed(level);
  ASSERT_EQ(names.size(), 6u);
  std::vector<int> ids;
  for (const std::string& name : names) {
    for (const std::string& other : names) {
      if (&name == &other) continue;
      EXPECT_FALSE(SameText(name, other)) << name << " / " << other;
    }
    const TKofObject* found = level.Find(name);
    ASSERT_NE(found, nullptr) << name;
    ids.push_back(found->Id());
    EXPECT_TRUE(EndsText(".account", name)) << name;
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(LevelNames, LongNamesAreCutToTheHostLimitAndFoundByTheCutName) {
  const std::string longName(300, 'x');
  const auto levelPtr =
      LevelOf("records", {Account(7, longName), Account(8, longName + "y")}, kofRecordKinds);
  const TLevelData& level = *levelPtr;
  const std::vector<std::string> names = Listed(level);
  ASSERT_EQ(names.size(), 2u);
  for (const std::string& name : names) {
    EXPECT_LE(Utf16Units(name), kMaxListedUnits);
    ASSERT_NE(level.Find(name), nullptr) << name;
  }
  EXPECT_NE(level.Find(names[0])->Id(), level.Find(names[1])->Id());
  // The host may hand back the full name; it finds the first, uncut entry.
  ASSERT_NE(level.Find(longName + ".account"), nullptr);
}

TEST(LevelNames, BoxesKeepTheirNamesAndLookupsAcceptDisplayAndListedForms) {
  const auto levelPtr = LevelOf("safeboxes",
                                   {{{"id", 2}, {"type", "SAFEBOX"}, {"name", "Work: 2026"}},
                                    {{"id", 3}, {"type", "SAFEBOX_GROUP"}, {"name", "Company"}}},
                                   kofBoxKinds);
  const TLevelData& level = *levelPtr;
  const std::vector<std::string> names = Listed(level);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "Company");
  EXPECT_EQ(level.Find("company")->Id(), 3);
  EXPECT_EQ(level.Find("Work: 2026")->Id(), 2);
  std::string listed;
  EXPECT_EQ(level.Find(names[1], &listed)->Id(), 2);
  EXPECT_EQ(listed, names[1]);
  EXPECT_EQ(level.Find("Nothing"), nullptr);
}

TEST(LevelNames, MembersNamedLikeThePluginsEntriesAreTaggedAndFound) {
  const std::vector<std::string> own = {"!!__Bin_Deleted__!!", "!!_ accessories _!!",
                                        "__Press Enter here to go to Sessions folder__"};
  nlohmann::json boxes = nlohmann::json::array();
  for (std::size_t i = 0; i < own.size(); ++i) boxes.push_back({{"id", 20 + i}, {"type", "SAFEBOX"}, {"name", own[i]}});
  const auto levelPtr = LevelOf("safeboxes", boxes, kofBoxKinds);
  const std::vector<std::string> names = Listed(*levelPtr);
  ASSERT_EQ(names.size(), own.size());
  for (const std::string& name : names) {
    for (const std::string& entry : own) EXPECT_FALSE(SameText(name, entry)) << name;
    EXPECT_EQ(TKofHostPath("\\Work\\" + name).Kind(), TPathKind::Vault) << name;
    ASSERT_NE(levelPtr->Find(name), nullptr) << name;
  }
}

TEST(HostPath, PartsIgnoreOuterDelimiters) {
  struct Case {
    const char* path;
    std::vector<std::string> parts;
  } cases[] = {
      {"\\", {}},
      {"", {}},
      {"\\Demo", {"Demo"}},
      {"\\Demo\\Company\\Servers\\", {"Demo", "Company", "Servers"}},
  };
  for (const Case& c : cases) EXPECT_EQ(TKofHostPath(c.path).Parts(), c.parts) << c.path;
}

}  // namespace
}  // namespace kof
