#include "platform/KofClipboard.h"

#include <cwchar>
#include <thread>

#include "platform/win/KofWin.h"

namespace kof {
namespace {

// The clipboard is opened by one process at a time; another one holds it only briefly.
class TOpenClipboard {
 public:
  TOpenClipboard() {
    for (int attempt = 0; attempt < 20 && !FOpen; ++attempt) {
      FOpen = ::OpenClipboard(nullptr) != 0;
      if (!FOpen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~TOpenClipboard() {
    if (FOpen) ::CloseClipboard();
  }
  TOpenClipboard(const TOpenClipboard&) = delete;
  TOpenClipboard& operator=(const TOpenClipboard&) = delete;
  bool Open() const { return FOpen; }

 private:
  bool FOpen = false;
};

// UTF-16 units of TEXT, in memory that is wiped when freed.
using TWideSecret = std::basic_string<wchar_t, std::char_traits<wchar_t>, WipingAllocator<wchar_t>>;

TWideSecret WideSecret(std::string_view text) {
  const int n = text.empty() ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  TWideSecret wide(static_cast<std::size_t>(n), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

bool PutText(std::string_view text) {
  const TWideSecret wide = WideSecret(text);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) return false;
  if (void* target = ::GlobalLock(memory)) {
    std::wmemcpy(static_cast<wchar_t*>(target), wide.c_str(), wide.size() + 1);
    ::GlobalUnlock(memory);
  }
  TOpenClipboard clipboard;
  if (!clipboard.Open() || !::EmptyClipboard() || ::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
    ::GlobalFree(memory);
    return false;
  }
  return true;  // the clipboard owns the memory now
}

enum class TReadResult { Ok, Failed, TooLarge };

TReadResult ReadText(std::size_t maxBytes, SecureString& text) {
  TOpenClipboard clipboard;
  if (!clipboard.Open()) return TReadResult::Failed;
  HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) {
    text.Clear();
    return TReadResult::Ok;
  }
  const auto* wide = static_cast<const wchar_t*>(::GlobalLock(data));
  if (wide == nullptr) return TReadResult::Failed;
  const std::size_t units = wcsnlen(wide, ::GlobalSize(data) / sizeof(wchar_t));
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  TReadResult result = TReadResult::Ok;
  if (static_cast<std::size_t>(n) > maxBytes) {
    result = TReadResult::TooLarge;
  } else {
    std::basic_string<char, std::char_traits<char>, WipingAllocator<char>> utf8(static_cast<std::size_t>(n), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), utf8.data(), n, nullptr, nullptr);
    text.Assign(std::string_view(utf8.data(), utf8.size()));
  }
  ::GlobalUnlock(data);
  return result;
}

}  // namespace

bool TKofClipboard::SetText(std::string_view text, std::string& error) {
  if (!PutText(text)) {
    error = "The clipboard could not be opened (error #" + std::to_string(::GetLastError()) + ").";
    return false;
  }
  FOwn.Assign(text);
  return true;
}

TClearResult TKofClipboard::ClearOwn() {
  if (FOwn.Empty()) return TClearResult::Gone;
  SecureString current;
  // Anything longer than our text is not ours: no need to read all of it.
  const TReadResult read = ReadText(FOwn.Size() + 1, current);
  if (read == TReadResult::Failed) return TClearResult::Failed;
  if (read == TReadResult::TooLarge || current.View() != FOwn.View()) {
    WipeString(FOwn);
    return TClearResult::Gone;
  }
  TOpenClipboard clipboard;
  if (!clipboard.Open() || !::EmptyClipboard()) return TClearResult::Failed;
  WipeString(FOwn);
  return TClearResult::Cleared;
}

std::optional<SecureString> TKofClipboard::GetText(std::size_t maxBytes) {
  SecureString text;
  if (ReadText(maxBytes, text) != TReadResult::Ok) return std::nullopt;
  return text;
}

}  // namespace kof
