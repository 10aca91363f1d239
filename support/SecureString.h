#pragma once
// Storage for secrets (passwords, access codes, secret fields, keys): every byte
// it ever held is zeroed before the memory goes back to the allocator, also when
// the buffer grows. Never put its contents into a log or an exception message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kof {

void SecureZero(void* data, std::size_t size);

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    SecureZero(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

// Secret bytes (keys, IVs, additional data).
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// A UTF-8 secret. Kept in a vector (no small-string buffer inside the object,
// which a move would leave behind unwiped); always zero-terminated.
class SecureString {
 public:
  SecureString() { FData.push_back('\0'); }
  SecureString(std::string_view text) { Assign(text); }
  SecureString(const char* text) : SecureString(std::string_view(text ? text : "")) {}
  SecureString(const SecureString& other) : SecureString(other.View()) {}
  SecureString(SecureString&& other) noexcept : FData(std::move(other.FData)) { other.Reset(); }
  SecureString& operator=(const SecureString& other);
  SecureString& operator=(SecureString&& other) noexcept;
  ~SecureString() = default;

  void Assign(std::string_view text);
  void Append(std::string_view text);
  void PushBack(char c);
  void Clear();  // wipes

  std::string_view View() const { return {FData.data(), Size()}; }
  const char* CStr() const { return FData.data(); }
  char* Data() { return FData.data(); }
  std::size_t Size() const { return FData.size() - 1; }
  bool Empty() const { return Size() == 0; }
  // A plain copy for APIs that need std::string; the caller must wipe it.
  std::string Unprotected() const { return std::string(View()); }

  friend bool operator==(const SecureString& a, const SecureString& b) { return a.View() == b.View(); }

 private:
  bool Aliases(std::string_view text) const;
  void Reset() noexcept;
  std::vector<char, WipingAllocator<char>> FData;
};

// Overwrites the characters of S with zeros in place, then empties it.
void WipeString(std::string& s);
void WipeString(std::u16string& s);
void WipeString(SecureString& s);

}  // namespace kof
