#include "support/VarnokIntList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace kof {
namespace {

using Values = std::vector<int32_t>;

Values ValuesOf(const TIntegerList& list) {
  Values out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

TIntegerList MakeList(bool sorted, TDuplicates dup, const Values& values) {
  TIntegerList list;
  list.SetSorted(sorted);
  list.SetDuplicates(dup);
  for (int32_t v : values) list.Add(v);
  return list;
}

template <class F>
std::string ListErrorOf(F&& f) {
  try {
    f();
  } catch (const EListError& e) {
    return e.what();
  }
  return "<no error>";
}

constexpr int32_t kNaN = -2147483647;

TEST(TIntegerList, NewListIsSortedAndIgnoresDuplicates) {
  TIntegerList list;
  EXPECT_TRUE(list.Sorted());
  EXPECT_EQ(list.Duplicates(), TDuplicates::dupIgnore);
  EXPECT_EQ(list.Add(5), 0);
  EXPECT_EQ(list.Add(3), 0);
  EXPECT_EQ(list.Add(5), 1);
  EXPECT_EQ(ValuesOf(list), (Values{3, 5}));
}

TEST(TIntegerList, AddPlacesValueAndReturnsItsIndex) {
  struct Case {
    const char* name;
    bool sorted;
    TDuplicates dup;
    Values adds;
    Values returned;
    Values values;
  };
  const Case cases[] = {
      {"sorted ignore", true, TDuplicates::dupIgnore, {5, 3, 5, 4}, {0, 0, 1, 1}, {3, 4, 5}},
      {"sorted accept", true, TDuplicates::dupAccept, {5, 3, 5, 4, 3}, {0, 0, 1, 1, 0}, {3, 3, 4, 5, 5}},
      {"unsorted appends", false, TDuplicates::dupIgnore, {5, 3, 5}, {0, 1, 2}, {5, 3, 5}},
      {"unsorted error still appends", false, TDuplicates::dupError, {5, 5}, {0, 1}, {5, 5}},
      {"extremes in order", true, TDuplicates::dupIgnore,
       {INT_MAX, INT_MIN, 0, kNaN, 2, -2},
       {0, 0, 1, 1, 3, 2},
       {INT_MIN, kNaN, -2, 0, 2, INT_MAX}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TIntegerList list;
    list.SetSorted(c.sorted);
    list.SetDuplicates(c.dup);
    Values returned;
    for (int32_t v : c.adds) returned.push_back(list.Add(v));
    EXPECT_EQ(returned, c.returned);
    EXPECT_EQ(ValuesOf(list), c.values);
  }
}

TEST(TIntegerList, DupErrorRaisesAndKeepsTheList) {
  TIntegerList list = MakeList(true, TDuplicates::dupError, {1, 5});
  EXPECT_EQ(ListErrorOf([&] { list.Add(5); }), "List does not allow duplicates");
  EXPECT_EQ(ListErrorOf([&] { list.AddDWord(1, 7); }), "List does not allow duplicates");
  EXPECT_EQ(ValuesOf(list), (Values{1, 5}));
  EXPECT_EQ(list.GetDWord(0), 0u);
}

TEST(TIntegerList, InvalidOperationsRaiseTheListErrorAndChangeNothing) {
  struct Case {
    const char* name;
    bool sorted;
    std::function<void(TIntegerList&)> op;
    std::string error;
  };
  const std::string sortedError = "Operation not allowed on sorted list";
  const Case cases[] = {
      {"insert on sorted", true, [](TIntegerList& l) { l.Insert(0, 9); }, sortedError},
      {"insert object on sorted", true, [](TIntegerList& l) { l.InsertObject(0, 9, nullptr); }, sortedError},
      {"exchange on sorted", true, [](TIntegerList& l) { l.Exchange(0, 1); }, sortedError},
      {"put on sorted", true, [](TIntegerList& l) { l.Put(0, 9); }, sortedError},
      {"get past end", true, [](TIntegerList& l) { l.Get(3); }, "List index out of bounds (3)"},
      {"get negative", true, [](TIntegerList& l) { l.Get(-1); }, "List index out of bounds (-1)"},
      {"delete past end", true, [](TIntegerList& l) { l.Delete(3); }, "List index out of bounds (3)"},
      {"extract past end", true, [](TIntegerList& l) { l.Extract(3); }, "List index out of bounds (3)"},
      {"dword past end", true, [](TIntegerList& l) { l.GetDWord(5); }, "List index out of bounds (5)"},
      {"put dword negative", true, [](TIntegerList& l) { l.PutDWord(-1, 1); }, "List index out of bounds (-1)"},
      {"object past end", true, [](TIntegerList& l) { l.GetObject(3); }, "List index out of bounds (3)"},
      {"put object past end", true, [](TIntegerList& l) { l.PutObject(3, nullptr); }, "List index out of bounds (3)"},
      {"insert past count", false, [](TIntegerList& l) { l.Insert(4, 9); }, "List index out of bounds (4)"},
      {"insert negative", false, [](TIntegerList& l) { l.Insert(-1, 9); }, "List index out of bounds (-1)"},
      {"exchange past end", false, [](TIntegerList& l) { l.Exchange(0, 3); }, "List index out of bounds (3)"},
      {"put past end", false, [](TIntegerList& l) { l.Put(3, 9); }, "List index out of bounds (3)"},
      {"count negative", false, [](TIntegerList& l) { l.SetCount(-1); }, "List count out of bounds (-1)"},
      {"count too large", false, [](TIntegerList& l) { l.SetCount(134217728); },
       "List count out of bounds (134217728)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TIntegerList list = MakeList(false, TDuplicates::dupIgnore, {1, 2, 3});
    list.SetSorted(c.sorted);
    EXPECT_EQ(ListErrorOf([&] { c.op(list); }), c.error);
    EXPECT_EQ(ValuesOf(list), (Values{1, 2, 3}));
  }
}

TEST(TIntegerList, InsertWorksOnceTheListIsUnsorted) {
  TIntegerList list = MakeList(true, TDuplicates::dupIgnore, {1, 2});
  EXPECT_EQ(ListErrorOf([&] { list.Insert(0, 9); }), "Operation not allowed on sorted list");
  list.SetSorted(false);
  list.Insert(0, 9);
  list.Insert(3, 7);  // Count itself is a valid position: append
  EXPECT_EQ(ValuesOf(list), (Values{9, 1, 2, 7}));
}

TEST(TIntegerList, FindAndIndexOf) {
  constexpr int kAny = -100;
  struct Case {
    const char* name;
    bool sorted;
    TDuplicates dup;
    Values values;
    int32_t probe;
    bool found;
    int index;  // the hit, or the insertion position on a sorted miss; kAny: not checked
    int indexOf;
  };
  const Case cases[] = {
      {"sorted hit", true, TDuplicates::dupIgnore, {1, 3, 5}, 3, true, 1, 1},
      {"sorted miss inside", true, TDuplicates::dupIgnore, {1, 3, 5}, 4, false, 2, -1},
      {"sorted miss before", true, TDuplicates::dupIgnore, {1, 3, 5}, 0, false, 0, -1},
      {"sorted miss after", true, TDuplicates::dupIgnore, {1, 3, 5}, 9, false, 3, -1},
      {"empty", true, TDuplicates::dupIgnore, {}, 1, false, 0, -1},
      {"accept finds first equal", true, TDuplicates::dupAccept, {1, 2, 2, 2, 2, 5}, 2, true, 1, 1},
      {"accept all equal", true, TDuplicates::dupAccept, {7, 7, 7, 7}, 7, true, 0, 0},
      {"unsorted first equal", false, TDuplicates::dupIgnore, {5, 1, 5}, 5, true, 0, 0},
      {"unsorted later", false, TDuplicates::dupIgnore, {5, 1, 5}, 1, true, 1, 1},
      {"unsorted miss", false, TDuplicates::dupIgnore, {5, 1, 5}, 7, false, kAny, -1},
      {"extreme high", true, TDuplicates::dupIgnore, {INT_MIN, kNaN, 0, INT_MAX}, INT_MAX, true, 3, 3},
      {"extreme low", true, TDuplicates::dupIgnore, {INT_MIN, kNaN, 0, INT_MAX}, INT_MIN, true, 0, 0},
      {"extreme miss", true, TDuplicates::dupIgnore, {INT_MIN, 0, INT_MAX}, 5, false, 2, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TIntegerList list = MakeList(c.sorted, c.dup, c.values);
    int index = -99;
    EXPECT_EQ(list.Find(c.probe, index), c.found);
    if (c.index != kAny) {
      EXPECT_EQ(index, c.index);
    }
    EXPECT_EQ(list.IndexOf(c.probe), c.indexOf);
  }
}

TEST(TIntegerList, SetTextReadsSpaceSeparatedNumbers) {
  struct Case {
    const char* name;
    bool sorted;
    TDuplicates dup;
    std::string text;
    Values values;
  };
  const Case cases[] = {
      {"non-number and runs of spaces", true, TDuplicates::dupIgnore, "1   2  x 3", {kNaN, 1, 2, 3}},
      {"empty", true, TDuplicates::dupIgnore, "", {}},
      {"only spaces", true, TDuplicates::dupIgnore, "    ", {}},
      {"surrounding spaces", true, TDuplicates::dupIgnore, "  7  ", {7}},
      {"duplicates ignored", true, TDuplicates::dupIgnore, "3 1 3", {1, 3}},
      {"duplicates kept", true, TDuplicates::dupAccept, "3 1 3", {1, 3, 3}},
      {"unsorted keeps order", false, TDuplicates::dupIgnore, "3 1 3", {3, 1, 3}},
      {"quoted, signed, overflow", true, TDuplicates::dupAccept, "\"4\" +5 -6 2147483648", {kNaN, -6, 4, 5}},
      {"extremes", true, TDuplicates::dupIgnore, "2147483647 -2147483648 0", {INT_MIN, 0, INT_MAX}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TIntegerList list = MakeList(c.sorted, c.dup, {42, 43});
    list.SetText(c.text);
    EXPECT_EQ(ValuesOf(list), c.values);
  }
}

TEST(TIntegerList, FmtTextGroupsEqualNeighboursOnlyInSortedAcceptingLists) {
  struct Case {
    const char* name;
    bool sorted;
    TDuplicates dup;
    Values values;
    std::string fmt;
    std::string text;
  };
  const Case cases[] = {
      {"grouped", true, TDuplicates::dupAccept, {1, 1, 2}, "%d", " 1{2} 2"},
      {"empty format means %d", true, TDuplicates::dupAccept, {2, 1, 1}, "", " 1{2} 2"},
      {"format applies to value, not size", true, TDuplicates::dupAccept, {3, 3, 3}, "%03d", " 003{3}"},
      {"single item", true, TDuplicates::dupAccept, {7}, "%d", " 7"},
      {"several groups", true, TDuplicates::dupAccept, {-1, 4, -1, 4, 9}, "", " -1{2} 4{2} 9"},
      {"empty list", true, TDuplicates::dupAccept, {}, "", ""},
      {"sorted without duplicates", true, TDuplicates::dupIgnore, {2, 1}, "", "1 2"},
      {"unsorted not grouped", false, TDuplicates::dupAccept, {2, 2, 1}, "", "2 2 1"},
      {"hex format", false, TDuplicates::dupIgnore, {255, 16}, "%x", "ff 10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TIntegerList list = MakeList(c.sorted, c.dup, c.values);
    EXPECT_EQ(list.GetFmtText(c.fmt), c.text);
    if (c.fmt.empty()) {
      EXPECT_EQ(list.GetText(), c.text);
    }
  }
}

TEST(TIntegerList, TextRoundTripsWhenNothingIsGrouped) {
  TIntegerList source = MakeList(true, TDuplicates::dupIgnore, {INT_MIN, -5, 0, 17, INT_MAX});
  TIntegerList copy;
  copy.SetText(source.GetText());
  EXPECT_EQ(ValuesOf(copy), ValuesOf(source));
}

TEST(TIntegerList, DTextShowsValueAndDWord) {
  TIntegerList list;
  list.AddDWord(2, 4294967295u);
  list.AddDWord(1, 10);
  EXPECT_EQ(list.GetDText(), "[1: 10] [2: 4294967295]");
}

// The DWord must travel with its value through every reordering.
using Pairs = std::vector<std::pair<int32_t, uint32_t>>;

Pairs PairsOf(const TIntegerList& list) {
  Pairs out;
  for (int i = 0; i < list.Count(); ++i) out.emplace_back(list.Get(i), list.GetDWord(i));
  return out;
}

TEST(TIntegerList, CustomSortOrdersAnUnsortedList) {
  struct Case {
    const char* name;
    TIntegerList::TCompare compare;
    Pairs expected;
  };
  const Case cases[] = {
      {"descending by value",
       [](const TIntegerList& l, int a, int b) { return l.Get(b) < l.Get(a) ? -1 : (l.Get(a) < l.Get(b) ? 1 : 0); },
       {{9, 1}, {4, 3}, {2, 2}, {-3, 4}}},
      {"ascending by dword",
       [](const TIntegerList& l, int a, int b) {
         return static_cast<int>(l.GetDWord(a)) - static_cast<int>(l.GetDWord(b));
       },
       {{9, 1}, {2, 2}, {4, 3}, {-3, 4}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TIntegerList list;
    list.SetSorted(false);
    list.AddDWord(4, 3);
    list.AddDWord(9, 1);
    list.AddDWord(-3, 4);
    list.AddDWord(2, 2);
    list.CustomSort(c.compare);
    EXPECT_EQ(PairsOf(list), c.expected);
    EXPECT_FALSE(list.Sorted());
  }
}

TEST(TIntegerList, CustomSortLeavesASortedListAlone) {
  TIntegerList list = MakeList(true, TDuplicates::dupIgnore, {3, 1, 2});
  list.CustomSort([](const TIntegerList& l, int a, int b) { return l.Get(b) - l.Get(a); });
  EXPECT_EQ(ValuesOf(list), (Values{1, 2, 3}));
}

TEST(TIntegerList, SwitchingSortedOnSortsLikeStdSort) {
  std::mt19937 rng(20261210);
  struct Range {
    const char* name;
    int32_t lo, hi;
  };
  const Range ranges[] = {{"many duplicates", 0, 3}, {"small", -100, 100}, {"full range", INT_MIN, INT_MAX}};
  for (const auto& r : ranges) {
    std::uniform_int_distribution<int32_t> value(r.lo, r.hi);
    for (int size : {0, 1, 2, 3, 17, 64, 200}) {
      SCOPED_TRACE(std::string(r.name) + " size " + std::to_string(size));
      TIntegerList list;
      list.SetSorted(false);
      Pairs expected;
      for (int i = 0; i < size; ++i) {
        const int32_t v = value(rng);
        list.AddDWord(v, static_cast<uint32_t>(i));
        expected.emplace_back(v, static_cast<uint32_t>(i));
      }
      list.SetSorted(true);
      Pairs actual = PairsOf(list);
      // Quicksort is not stable: compare values in order, and the pairs as sets.
      Values actualValues;
      for (const auto& p : actual) actualValues.push_back(p.first);
      Values expectedValues;
      for (const auto& p : expected) expectedValues.push_back(p.first);
      std::sort(expectedValues.begin(), expectedValues.end());
      EXPECT_EQ(actualValues, expectedValues);
      std::sort(actual.begin(), actual.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(actual, expected);
    }
  }
}

TEST(TIntegerList, AssignAndMerge) {
  struct Case {
    const char* name;
    std::function<void(TIntegerList& target, const TIntegerList& source)> op;
    Pairs expected;
  };
  const Case cases[] = {
      {"assign replaces, sorts and drops duplicates",
       [](TIntegerList& t, const TIntegerList& s) { t.Assign(s); }, {{1, 0}, {3, 0}}},
      {"assign with dwords", [](TIntegerList& t, const TIntegerList& s) { t.Assign(s, true); },
       {{1, 20}, {3, 10}}},
      {"merge keeps existing", [](TIntegerList& t, const TIntegerList& s) { t.Merge(s, true); },
       {{1, 20}, {2, 99}, {3, 10}}},
      {"assign from itself keeps the items", [](TIntegerList& t, const TIntegerList&) { t.Assign(t, true); },
       {{2, 99}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TIntegerList source;
    source.SetSorted(false);
    source.AddDWord(3, 10);
    source.AddDWord(1, 20);
    source.AddDWord(3, 30);
    TIntegerList target;
    target.AddDWord(2, 99);
    c.op(target, source);
    EXPECT_EQ(PairsOf(target), c.expected);
  }
}

TEST(TIntegerList, MergeWithItselfDoublesAnUnsortedList) {
  TIntegerList list = MakeList(false, TDuplicates::dupIgnore, {1, 2, 3, 4, 5});
  list.Merge(list);
  EXPECT_EQ(ValuesOf(list), (Values{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
}

class TIntegerListObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; ++i) {
      auto object = std::make_shared<int>(i);
      FWatch.push_back(object);
      FList.AddObject(i * 10, std::move(object));
    }
  }
  std::vector<bool> Alive() const {
    std::vector<bool> out;
    for (const auto& w : FWatch) out.push_back(!w.expired());
    return out;
  }
  TIntegerList FList;
  std::vector<std::weak_ptr<int>> FWatch;
};

TEST_F(TIntegerListObjects, RemovingItemsReleasesTheirObjects) {
  FList.Delete(1);
  EXPECT_EQ(Alive(), (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(ValuesOf(FList), (Values{0, 20, 30}));
  EXPECT_EQ(*std::static_pointer_cast<int>(FList.GetObject(1)), 2);

  FList.SetCapacity(2);  // below the count: cuts it
  EXPECT_EQ(Alive(), (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(ValuesOf(FList), (Values{0, 20}));

  FList.Clear(true);
  EXPECT_EQ(Alive(), (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(FList.Count(), 0);
}

TEST_F(TIntegerListObjects, ExtractHandsTheObjectOver) {
  std::shared_ptr<void> object = FList.Extract(2);
  EXPECT_EQ(ValuesOf(FList), (Values{0, 10, 30}));
  ASSERT_TRUE(object);
  EXPECT_EQ(*std::static_pointer_cast<int>(object), 2);
  object.reset();
  EXPECT_EQ(Alive(), (std::vector<bool>{true, true, false, true}));
}

TEST_F(TIntegerListObjects, ObjectsFollowTheirValuesWhenSorting) {
  FList.SetSorted(false);
  FList.Reverse();
  FList.Exchange(0, 1);
  EXPECT_EQ(ValuesOf(FList), (Values{20, 30, 10, 0}));
  FList.SetSorted(true);
  for (int i = 0; i < FList.Count(); ++i)
    EXPECT_EQ(*std::static_pointer_cast<int>(FList.GetObject(i)) * 10, FList.Get(i));
}

}  // namespace
}  // namespace kof
