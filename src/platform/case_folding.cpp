#include "platform/case_folding.h"

#include <locale.h>
#include <wctype.h>

namespace platform {
namespace {

// A UTF-8 character-type locale, made once: the process's own locale may be
// "C", whose tables only know A to Z.
locale_t unicodeLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

wchar_t upper(wchar_t c, locale_t locale) {
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - L'a' + L'A');
  if (c < 0x80 || !locale) return c;
  return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale));
}

}  // namespace

std::wstring upperCased(std::wstring_view text) {
  locale_t locale = unicodeLocale();
  std::wstring out(text);
  for (auto& c : out) c = upper(c, locale);
  return out;
}

bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  locale_t locale = unicodeLocale();
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && upper(a[i], locale) != upper(b[i], locale)) return false;
  }
  return true;
}

}  // namespace platform
