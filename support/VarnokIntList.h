#pragma once
// A list of 32-bit integers, each with an attached 32-bit number ("DWord") or
// object; sorted by default, used for record id lists and lookup tables.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kof {

class EListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

struct TIntegerItem {
  int32_t FInteger = 0;
  uint32_t FDWord = 0;
  std::shared_ptr<void> FObject;
};

class TIntegerList {
 public:
  using TCompare = std::function<int(const TIntegerList&, int, int)>;

  TIntegerList() = default;
  virtual ~TIntegerList() = default;

  int Add(int32_t i);
  int AddDWord(int32_t i, uint32_t value);
  int AddObject(int32_t i, std::shared_ptr<void> object);
  void Insert(int index, int32_t i);
  void InsertObject(int index, int32_t i, std::shared_ptr<void> object);
  void Delete(int index);
  std::shared_ptr<void> Extract(int index);
  void Clear(bool affectCapacity = false);
  void Exchange(int index1, int index2);
  bool Find(int32_t n, int& index) const;
  int IndexOf(int32_t value) const;

  int32_t Get(int index) const;
  void Put(int index, int32_t value);
  std::shared_ptr<void> GetObject(int index) const;
  void PutObject(int index, std::shared_ptr<void> object);
  uint32_t GetDWord(int index) const;
  void PutDWord(int index, uint32_t value);

  void Assign(const TIntegerList& source, bool dwords = false);
  void Merge(const TIntegerList& source, bool dwords = false);
  void Sort();
  void CustomSort(const TCompare& compare);
  void Reverse();

  std::string SimpleText(const std::string& fmt) const;
  std::string GetFmtText(const std::string& fmt) const;
  std::string GetText() const { return GetFmtText(""); }
  void SetText(const std::string& value);
  std::string GetDText() const;

  int Count() const { return static_cast<int>(FList.size()); }
  void SetCount(int value);
  int Capacity() const { return static_cast<int>(FList.capacity()); }
  void SetCapacity(int value);
  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }

 protected:
  // <0, 0, >0 as Value1 is below, equal to or above Value2.
  virtual int CompareValues(int32_t value1, int32_t value2, int index1, int index2) const;

 private:
  int AddItem(TIntegerItem item);
  void InsertItem(int index, TIntegerItem item);
  void CheckIndex(int index) const;
  void CheckUnsorted() const;
  void QuickSort(int lo, int hi, const TCompare& compare);
  void Grow();

  std::vector<TIntegerItem> FList;
  bool FSorted = true;
  TDuplicates FDuplicates = TDuplicates::dupIgnore;
};

}  // namespace kof
