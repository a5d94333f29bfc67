#include "common/Text.h"

namespace vq {

void AppendCodePoint(std::wstring& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

std::wstring Utf8ToWide(std::string_view in) {
  std::wstring out;
  Utf8ToWideInto(in, &out);
  return out;
}

void Utf8ToWideInto(std::string_view in, std::wstring* into) {
  std::wstring& out = *into;
  out.clear();
  out.reserve(in.size());
  size_t i = 0;
  const size_t n = in.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out.push_back(static_cast<wchar_t>(c));
      ++i;
      continue;
    }
    int extra;
    uint32_t cp;
    uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
      min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
      min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
      min = 0x10000;
    } else {
      AppendCodePoint(out, 0xFFFD);
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= n || (static_cast<unsigned char>(in[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(in[j]) & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      AppendCodePoint(out, 0xFFFD);
      i = ok ? j : (j > i + 1 ? j : i + 1);
      continue;
    }
    AppendCodePoint(out, cp);
    i = j;
  }
}

namespace {
// Reads one code point from wide text; unpaired surrogates give U+FFFD.
uint32_t NextCodePoint(std::wstring_view in, size_t& i) {
  uint32_t c = static_cast<uint32_t>(in[i++]);
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i < in.size()) {
        uint32_t d = static_cast<uint32_t>(in[i]);
        if (d >= 0xDC00 && d <= 0xDFFF) {
          ++i;
          return 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        }
      }
      return 0xFFFD;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return 0xFFFD;
    return c;
  } else {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    return c;
  }
}
}  // namespace

std::string WideToUtf8(std::wstring_view in) {
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    uint32_t cp = NextCodePoint(in, i);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string WideToUtf16(std::wstring_view in) {
  std::u16string out;
  out.reserve(in.size());
  if constexpr (sizeof(wchar_t) == 2) {
    // Already UTF-16; keep the units as they are (a lone surrogate survives a round trip).
    for (wchar_t c : in) out.push_back(static_cast<char16_t>(c));
  } else {
    for (wchar_t wc : in) {
      uint32_t c = static_cast<uint32_t>(wc);
      if (c > 0x10FFFF) c = 0xFFFD;
      if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(c));
      }
    }
  }
  return out;
}

std::wstring Utf16ToWide(std::u16string_view in) {
  std::wstring out;
  out.reserve(in.size());
  if constexpr (sizeof(wchar_t) == 2) {
    for (char16_t c : in) out.push_back(static_cast<wchar_t>(c));
  } else {
    for (size_t i = 0; i < in.size(); ++i) {
      uint32_t c = in[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00)));
        ++i;
      } else {
        // A lone surrogate is kept as its unit value so the text round-trips.
        out.push_back(static_cast<wchar_t>(c));
      }
    }
  }
  return out;
}

std::string WideToUtf16LEBytes(std::wstring_view in) {
  std::u16string u = WideToUtf16(in);
  std::string out;
  out.resize(u.size() * 2);
  for (size_t i = 0; i < u.size(); ++i) {
    out[2 * i] = static_cast<char>(u[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(u[i] >> 8);
  }
  return out;
}

std::wstring AsciiLower(std::wstring_view in) {
  std::wstring out(in);
  for (wchar_t& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace vq
