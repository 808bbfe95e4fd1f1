#include "platform/code_pages.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/machine_profile.h"

namespace platform {
namespace {

const char* iconvName(unsigned codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 936: return "GBK";
    case 950: return "BIG5";
    case 932: return "CP932";
    case 949: return "CP949";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 437: return "CP437";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return nullptr;
  }
}

unsigned resolve(unsigned codePage) { return codePage == 0 ? ansiCodePage() : codePage; }

bool validScalar(char32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

// Writes the UTF-8 form of one code point into out (room for 4 bytes).
size_t utf8Bytes(char32_t c, char* out) {
  if (!validScalar(c)) c = 0xFFFD;
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// UTF-8 is decoded by hand: it is the common case and iconv offers no
// replacement character for broken input.
std::wstring decodeUtf8(std::string_view in) {
  static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  std::wstring out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    bool ok = extra > 0 && i + extra < in.size();
    char32_t c = ok ? (b & (0x3F >> extra)) : 0;
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(in[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!ok || c < minimum[extra] || !validScalar(c)) {
      out += L'\uFFFD';
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += extra + 1;
  }
  return out;
}

std::string encodeUtf8(std::wstring_view in) {
  std::string out;
  out.reserve(in.size());
  char bytes[4];
  for (wchar_t w : in) out.append(bytes, utf8Bytes(static_cast<char32_t>(w), bytes));
  return out;
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }
  void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

std::wstring decodeWithIconv(std::string_view in, const char* name) {
  Converter cv("WCHAR_T", name);
  std::wstring out;
  if (!cv.ok()) return out;
  const size_t chunk = 256;
  wchar_t buffer[chunk];
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  while (left > 0) {
    char* dst = reinterpret_cast<char*>(buffer);
    size_t room = sizeof buffer;
    size_t r = iconv(cv.get(), &src, &left, &dst, &room);
    out.append(buffer, (sizeof buffer - room) / sizeof(wchar_t));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or truncated sequence: one replacement character, skip a byte.
      out += L'\uFFFD';
      ++src;
      --left;
      cv.reset();
    }
  }
  return out;
}

std::string encodeWithIconv(std::wstring_view in, const char* name) {
  Converter cv(name, "WCHAR_T");
  std::string out;
  if (!cv.ok()) return out;
  char buffer[1024];
  char* src = reinterpret_cast<char*>(const_cast<wchar_t*>(in.data()));
  size_t left = in.size() * sizeof(wchar_t);
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t r = iconv(cv.get(), &src, &left, &dst, &room);
    out.append(buffer, sizeof buffer - room);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      out += '?';
      src += sizeof(wchar_t);
      left -= sizeof(wchar_t);
      cv.reset();
    }
  }
  return out;
}

}  // namespace

size_t wideToUtf8Into(std::wstring_view text, char* out, size_t capacity) {
  size_t used = 0;
  char bytes[4];
  for (wchar_t w : text) {
    size_t n = utf8Bytes(static_cast<char32_t>(w), bytes);
    if (used + n > capacity) break;
    for (size_t k = 0; k < n; ++k) out[used++] = bytes[k];
  }
  return used;
}

unsigned ansiCodePage() {
  const auto& p = machineProfile();
  return p.ansiCodePage ? *p.ansiCodePage : kCodePageGbk;
}

bool codePageSupported(unsigned codePage) { return iconvName(resolve(codePage)) != nullptr; }

std::wstring toWide(std::string_view bytes, unsigned codePage) {
  unsigned cp = resolve(codePage);
  if (cp == kCodePageUtf8) return decodeUtf8(bytes);
  const char* name = iconvName(cp);
  return name ? decodeWithIconv(bytes, name) : std::wstring();
}

std::string toNarrow(std::wstring_view text, unsigned codePage) {
  unsigned cp = resolve(codePage);
  if (cp == kCodePageUtf8) return encodeUtf8(text);
  const char* name = iconvName(cp);
  return name ? encodeWithIconv(text, name) : std::string();
}

}  // namespace platform
