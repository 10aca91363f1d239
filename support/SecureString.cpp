#include "support/SecureString.h"

#include <algorithm>

#include <sodium.h>

#include <functional>

namespace kof {

void SecureZero(void* data, std::size_t size) {
  if (data && size) sodium_memzero(data, size);
}

SecureString& SecureString::operator=(const SecureString& other) {
  if (this != &other) Assign(other.View());
  return *this;
}

SecureString& SecureString::operator=(SecureString&& other) noexcept {
  if (this != &other) {
    FData = std::move(other.FData);  // our old buffer is released through the wiping allocator
    other.Reset();
  }
  return *this;
}

void SecureString::Reset() noexcept {
  try {
    FData.clear();
    FData.push_back('\0');
  } catch (...) {
  }
}

// True when text points into our own buffer, which Clear or a reallocation would destroy.
bool SecureString::Aliases(std::string_view text) const {
  const std::less<const char*> before;
  return !text.empty() && !before(text.data(), FData.data()) && before(text.data(), FData.data() + FData.size());
}

void SecureString::Assign(std::string_view text) {
  if (Aliases(text)) {
    SecureString copy(text);
    *this = std::move(copy);
    return;
  }
  Clear();
  Append(text);
}

void SecureString::Append(std::string_view text) {
  if (Aliases(text)) {
    const SecureString copy(text);
    Append(copy.View());
    return;
  }
  if (FData.empty()) FData.push_back('\0');
  FData.pop_back();
  // Doubling keeps a run of appends linear; the allocator wipes every buffer it gives back.
  if (const std::size_t needed = FData.size() + text.size() + 1; needed > FData.capacity())
    FData.reserve(std::max(needed, 2 * FData.capacity()));
  FData.insert(FData.end(), text.begin(), text.end());
  FData.push_back('\0');
}

void SecureString::PushBack(char c) { Append(std::string_view(&c, 1)); }

void SecureString::Clear() {
  SecureZero(FData.data(), FData.capacity());
  FData.clear();
  FData.push_back('\0');
}

void WipeString(std::string& s) {
  // capacity() covers the small-string buffer as well as a heap buffer.
  SecureZero(s.data(), s.capacity());
  s.clear();
}

void WipeString(std::u16string& s) {
  SecureZero(s.data(), s.capacity() * sizeof(char16_t));
  s.clear();
}

void WipeString(SecureString& s) { s.Clear(); }

}  // namespace kof
