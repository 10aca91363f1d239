#include "platform/KofCaseMap.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace kof {
namespace {

// The process locale belongs to the host; case mapping uses a private one,
// freed when the library is unloaded (a host may load and unload it many times).
class TUtf8Locale {
 public:
  TUtf8Locale() {
    FLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!FLocale) FLocale = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
  }
  ~TUtf8Locale() {
    if (FLocale) freelocale(FLocale);
  }
  TUtf8Locale(const TUtf8Locale&) = delete;
  TUtf8Locale& operator=(const TUtf8Locale&) = delete;
  locale_t Get() const { return FLocale; }

 private:
  locale_t FLocale = static_cast<locale_t>(nullptr);
};

locale_t Utf8Locale() {
  static const TUtf8Locale loc;
  return loc.Get();
}

}  // namespace

char32_t LowerCodePoint(char32_t c) {
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), Utf8Locale()));
}

char32_t UpperCodePoint(char32_t c) {
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), Utf8Locale()));
}

}  // namespace kof
