#include "support/VarnokIntList.h"

#include <algorithm>
#include <cstdio>

#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

constexpr int kMaxListSize = 134217727;

std::string Format(const std::string& fmt, int32_t value) {
  const std::string& f = fmt.empty() ? std::string("%d") : fmt;
  char buf[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(buf, sizeof buf, f.c_str(), value);
#pragma GCC diagnostic pop
  return n < 0 ? std::string() : std::string(buf, std::min<std::size_t>(n, sizeof buf - 1));
}

std::string IndexError(int index) { return "List index out of bounds (" + std::to_string(index) + ")"; }

}  // namespace

int TIntegerList::CompareValues(int32_t value1, int32_t value2, int, int) const {
  // A plain difference wraps for values far apart (ids, the not-a-number mark) and misorders them.
  return (value1 > value2) - (value1 < value2);
}

void TIntegerList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError(IndexError(index));
}

void TIntegerList::CheckUnsorted() const {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
}

void TIntegerList::Grow() {
  const int cap = Capacity();
  if (Count() < cap) return;
  const int delta = cap > 64 ? cap / 4 : (cap > 8 ? 16 : 4);
  FList.reserve(cap + delta);
}

bool TIntegerList::Find(int32_t n, int& index) const {
  if (!FSorted) {
    for (int i = 0; i < Count(); ++i)
      if (FList[i].FInteger == n) {
        index = i;
        return true;
      }
    index = Count();
    return false;
  }
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = CompareValues(FList[mid].FInteger, n, mid, -1);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (FDuplicates != TDuplicates::dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int TIntegerList::IndexOf(int32_t value) const {
  if (FSorted) {
    int index;
    return Find(value, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (CompareValues(FList[i].FInteger, value, i, -1) == 0) return i;
  return -1;
}

int TIntegerList::AddItem(TIntegerItem item) {
  int index = Count();
  if (FSorted && Find(item.FInteger, index)) {
    if (FDuplicates == TDuplicates::dupIgnore) return index;
    if (FDuplicates == TDuplicates::dupError) throw EListError("List does not allow duplicates");
  }
  InsertItem(index, std::move(item));
  return index;
}

void TIntegerList::InsertItem(int index, TIntegerItem item) {
  if (Count() >= kMaxListSize) throw EListError("List count out of bounds (" + std::to_string(Count() + 1) + ")");
  Grow();
  FList.insert(FList.begin() + index, std::move(item));
}

int TIntegerList::Add(int32_t i) { return AddItem({i, 0, nullptr}); }
int TIntegerList::AddDWord(int32_t i, uint32_t value) { return AddItem({i, value, nullptr}); }
int TIntegerList::AddObject(int32_t i, std::shared_ptr<void> object) { return AddItem({i, 0, std::move(object)}); }

void TIntegerList::Insert(int index, int32_t i) { InsertObject(index, i, nullptr); }

void TIntegerList::InsertObject(int index, int32_t i, std::shared_ptr<void> object) {
  CheckUnsorted();
  if (index < 0 || index > Count()) throw EListError(IndexError(index));
  InsertItem(index, {i, 0, std::move(object)});
}

void TIntegerList::Delete(int index) {
  CheckIndex(index);
  FList.erase(FList.begin() + index);
}

std::shared_ptr<void> TIntegerList::Extract(int index) {
  CheckIndex(index);
  auto object = std::move(FList[index].FObject);
  FList.erase(FList.begin() + index);
  return object;
}

void TIntegerList::Clear(bool affectCapacity) {
  while (!FList.empty()) FList.pop_back();
  if (affectCapacity) FList.shrink_to_fit();
}

void TIntegerList::Exchange(int index1, int index2) {
  CheckUnsorted();
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FList[index1], FList[index2]);
}

int32_t TIntegerList::Get(int index) const {
  CheckIndex(index);
  return FList[index].FInteger;
}

void TIntegerList::Put(int index, int32_t value) {
  CheckUnsorted();
  CheckIndex(index);
  FList[index].FInteger = value;
}

std::shared_ptr<void> TIntegerList::GetObject(int index) const {
  CheckIndex(index);
  return FList[index].FObject;
}

void TIntegerList::PutObject(int index, std::shared_ptr<void> object) {
  CheckIndex(index);
  FList[index].FObject = std::move(object);
}

uint32_t TIntegerList::GetDWord(int index) const {
  CheckIndex(index);
  return FList[index].FDWord;
}

void TIntegerList::PutDWord(int index, uint32_t value) {
  CheckIndex(index);
  FList[index].FDWord = value;
}

void TIntegerList::Assign(const TIntegerList& source, bool dwords) {
  if (&source == this) {  // clearing first would empty the source too
    const TIntegerList copy(source);
    Assign(copy, dwords);
    return;
  }
  Clear(true);
  Merge(source, dwords);
}

void TIntegerList::Merge(const TIntegerList& source, bool dwords) {
  if (&source == this) {  // adding would move the items being read
    const TIntegerList copy(source);
    Merge(copy, dwords);
    return;
  }
  for (const auto& item : source.FList) {
    if (dwords)
      AddDWord(item.FInteger, item.FDWord);
    else
      Add(item.FInteger);
  }
}

void TIntegerList::QuickSort(int lo, int hi, const TCompare& compare) {
  // Classic index-based quicksort: the comparison sees item positions, so the
  // pivot's position is tracked through the swaps.
  do {
    int i = lo, j = hi, p = lo + (hi - lo) / 2;
    do {
      while (compare(*this, i, p) < 0) ++i;
      while (compare(*this, j, p) > 0) --j;
      if (i <= j) {
        if (i != j) std::swap(FList[i], FList[j]);
        if (p == i)
          p = j;
        else if (p == j)
          p = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (lo < j) QuickSort(lo, j, compare);
    lo = i;
  } while (lo < hi);
}

void TIntegerList::Sort() {
  CustomSort([](const TIntegerList& l, int a, int b) {
    return l.CompareValues(l.FList[a].FInteger, l.FList[b].FInteger, a, b);
  });
}

void TIntegerList::CustomSort(const TCompare& compare) {
  if (FSorted || Count() <= 1) return;
  QuickSort(0, Count() - 1, compare);
}

void TIntegerList::Reverse() { std::reverse(FList.begin(), FList.end()); }

void TIntegerList::SetSorted(bool value) {
  if (value == FSorted) return;
  if (value) Sort();
  FSorted = value;
}

void TIntegerList::SetCount(int value) {
  if (value < 0 || value > kMaxListSize) throw EListError("List count out of bounds (" + std::to_string(value) + ")");
  FList.resize(value);
}

void TIntegerList::SetCapacity(int value) {
  if (value < Count()) FList.resize(std::max(value, 0));
  if (value > Capacity()) FList.reserve(value);
}

std::string TIntegerList::SimpleText(const std::string& fmt) const {
  std::string out;
  for (const auto& item : FList) {
    if (!out.empty()) out += ' ';
    out += Format(fmt, item.FInteger);
  }
  return out;
}

std::string TIntegerList::GetFmtText(const std::string& fmt) const {
  if (!(FSorted && FDuplicates == TDuplicates::dupAccept && !FList.empty())) return SimpleText(fmt);
  std::string out;
  for (int i = 0; i < Count();) {
    int j = i;
    while (j < Count() && FList[j].FInteger == FList[i].FInteger) ++j;
    out += ' ' + Format(fmt, FList[i].FInteger);
    if (j - i >= 2) out += Format("{%d}", j - i);
    i = j;
  }
  return out;
}

void TIntegerList::SetText(const std::string& value) {
  Clear(true);
  TStringTokenizer tokens(" ");
  tokens.SetStr(value);
  const int n = tokens.Count();
  for (int i = 0; i < n; ++i) Add(tokens.Numbers(i));
}

std::string TIntegerList::GetDText() const {
  std::string out;
  for (const auto& item : FList) {
    if (!out.empty()) out += ' ';
    out.append("[").append(std::to_string(item.FInteger)).append(": ").append(std::to_string(item.FDWord)).append("]");
  }
  return out;
}

}  // namespace kof
