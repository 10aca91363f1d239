#include "platform/KofKeyboardLayout.h"

#include <cctype>
#include <cstdio>

#include "platform/win/KofWin.h"

namespace kof {
namespace {

const TKeyboardLayout kUnknown{"??", "Unknown Keyboard Layout"};

// The two-letter language code of the layout, upper case.
std::string Abbreviation(LANGID language) {
  wchar_t code[16] = {};
  if (::GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SISO639LANGNAME, code, 16) < 2) return "??";
  std::string text = win::Utf8(std::wstring_view(code, 2));
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "Layout Text" of the active layout's key under Keyboard Layouts.
std::string LayoutName() {
  wchar_t id[KL_NAMELENGTH] = {};
  if (!::GetKeyboardLayoutNameW(id)) return {};
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\") + id;
  wchar_t name[256] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Layout Text", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS)
    return {};
  return win::Utf8(name);
}

}  // namespace

TKeyboardLayout ActiveKeyboardLayout() {
  const HKL layout = ::GetKeyboardLayout(0);
  if (layout == nullptr) return kUnknown;
  const LANGID language = LOWORD(reinterpret_cast<UINT_PTR>(layout));
  TKeyboardLayout result{Abbreviation(language), LayoutName()};
  if (result.Name.empty()) result.Name = kUnknown.Name;
  return result;
}

}  // namespace kof
