#include "common/WFormat.h"

#include <cstdio>
#include <cwchar>

#include "common/Text.h"

namespace vq {
namespace {

struct Spec {
  bool left = false, zero = false, plus = false, space = false, alt = false;
  int width = -1;
  int precision = -1;
  wchar_t conv = 0;
};

void Pad(std::wstring& out, size_t n, wchar_t c) { out.append(n, c); }

// Places body (with an optional sign/prefix kept in front of zero padding) into its field.
void EmitField(std::wstring& out, const Spec& sp, std::wstring_view prefix, std::wstring_view body,
               bool zeroPadAllowed) {
  size_t len = prefix.size() + body.size();
  size_t width = sp.width > 0 ? static_cast<size_t>(sp.width) : 0;
  size_t fill = width > len ? width - len : 0;
  if (sp.left) {
    out.append(prefix);
    out.append(body);
    Pad(out, fill, L' ');
  } else if (sp.zero && zeroPadAllowed) {
    out.append(prefix);
    Pad(out, fill, L'0');
    out.append(body);
  } else {
    Pad(out, fill, L' ');
    out.append(prefix);
    out.append(body);
  }
}

std::wstring Digits(uint64_t v, unsigned base, bool upper) {
  const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
  wchar_t buf[72];
  size_t n = 0;
  do {
    buf[n++] = set[v % base];
    v /= base;
  } while (v != 0);
  std::wstring s;
  s.reserve(n);
  while (n > 0) s.push_back(buf[--n]);
  return s;
}

void Marker(std::wstring& out, wchar_t conv, const wchar_t* what) {
  out.append(L"%!");
  out.push_back(conv);
  out.push_back(L'(');
  out.append(what);
  out.push_back(L')');
}

const wchar_t* KindName(FormatArg::Kind k) {
  switch (k) {
    case FormatArg::Int:
      return L"int";
    case FormatArg::Uint:
      return L"uint";
    case FormatArg::Double:
      return L"double";
    case FormatArg::WStr:
      return L"wstring";
    case FormatArg::NStr:
      return L"string";
    case FormatArg::Ptr:
      return L"pointer";
    case FormatArg::WChar:
      return L"char";
  }
  return L"?";
}

bool IsIntegral(const FormatArg& a) {
  return a.kind == FormatArg::Int || a.kind == FormatArg::Uint || a.kind == FormatArg::WChar;
}

uint64_t AsUnsigned(const FormatArg& a) {
  if (a.kind == FormatArg::Int) {
    uint64_t v = static_cast<uint64_t>(a.i);
    if (a.bytes > 0 && a.bytes < 8) v &= (uint64_t{1} << (a.bytes * 8)) - 1;
    return v;
  }
  return a.u;
}

void FormatInteger(std::wstring& out, const Spec& sp, const FormatArg& a) {
  bool negative = false;
  uint64_t mag = 0;
  unsigned base = 10;
  bool upper = false;
  switch (sp.conv) {
    case L'd':
    case L'i':
      if (a.kind == FormatArg::Int && a.i < 0) {
        negative = true;
        mag = static_cast<uint64_t>(0) - static_cast<uint64_t>(a.i);
      } else {
        mag = a.kind == FormatArg::Int ? static_cast<uint64_t>(a.i) : a.u;
      }
      break;
    case L'u':
      mag = AsUnsigned(a);
      break;
    case L'x':
      mag = AsUnsigned(a);
      base = 16;
      break;
    case L'X':
      mag = AsUnsigned(a);
      base = 16;
      upper = true;
      break;
    case L'o':
      mag = AsUnsigned(a);
      base = 8;
      break;
    default:
      break;
  }
  std::wstring body;
  if (!(sp.precision == 0 && mag == 0)) body = Digits(mag, base, upper);
  if (sp.precision > 0 && body.size() < static_cast<size_t>(sp.precision))
    body.insert(0, static_cast<size_t>(sp.precision) - body.size(), L'0');
  std::wstring prefix;
  if (negative)
    prefix = L"-";
  else if ((sp.conv == L'd' || sp.conv == L'i') && sp.plus)
    prefix = L"+";
  else if ((sp.conv == L'd' || sp.conv == L'i') && sp.space)
    prefix = L" ";
  if (sp.alt && mag != 0) {
    if (base == 16) prefix += upper ? L"0X" : L"0x";
    if (base == 8 && (body.empty() || body[0] != L'0')) body.insert(0, 1, L'0');
  }
  // With a precision the C library ignores the 0 flag for integers.
  EmitField(out, sp, prefix, body, sp.precision < 0);
}

void FormatDouble(std::wstring& out, const Spec& sp, double d) {
  char fmt[32];
  size_t n = 0;
  fmt[n++] = '%';
  if (sp.left) fmt[n++] = '-';
  if (sp.zero) fmt[n++] = '0';
  if (sp.plus) fmt[n++] = '+';
  if (sp.space) fmt[n++] = ' ';
  if (sp.alt) fmt[n++] = '#';
  fmt[n++] = '*';
  fmt[n++] = '.';
  fmt[n++] = '*';
  fmt[n++] = static_cast<char>(sp.conv);
  fmt[n] = 0;
  char buf[512];
  int w = sp.width > 0 ? (sp.width > 400 ? 400 : sp.width) : 0;
  int p = sp.precision >= 0 ? (sp.precision > 60 ? 60 : sp.precision) : 6;
  int len = std::snprintf(buf, sizeof buf, fmt, w, p, d);
  if (len < 0) return;
  if (static_cast<size_t>(len) >= sizeof buf) len = static_cast<int>(sizeof buf) - 1;
  for (int i = 0; i < len; ++i) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(buf[i])));
}

void FormatPointer(std::wstring& out, const Spec& sp, const FormatArg& a) {
  // The Windows C library prints pointers as zero-padded upper-case hex of pointer width.
  uint64_t v = a.kind == FormatArg::Ptr ? reinterpret_cast<uintptr_t>(a.p) : AsUnsigned(a);
  std::wstring body = Digits(v, 16, true);
  if (body.size() < sizeof(void*) * 2) body.insert(0, sizeof(void*) * 2 - body.size(), L'0');
  EmitField(out, sp, L"", body, false);
}

void FormatWide(std::wstring& out, const Spec& sp, const FormatArg& a) {
  const wchar_t* s = a.w.s;
  if (s == nullptr) {
    EmitField(out, sp, L"", L"(null)", false);
    return;
  }
  size_t n = a.w.n;
  size_t limit = sp.precision >= 0 ? static_cast<size_t>(sp.precision) : static_cast<size_t>(-1);
  if (n == static_cast<size_t>(-1)) {
    n = 0;
    while (n < limit && s[n] != 0) ++n;
  } else if (n > limit) {
    n = limit;
  }
  EmitField(out, sp, L"", std::wstring_view(s, n), false);
}

void FormatNarrow(std::wstring& out, const Spec& sp, const FormatArg& a) {
  const char* s = a.a.s;
  if (s == nullptr) {
    EmitField(out, sp, L"", L"(null)", false);
    return;
  }
  size_t n = a.a.n;
  if (n == static_cast<size_t>(-1)) n = std::char_traits<char>::length(s);
  // Narrow strings in this program are UTF-8 (or ASCII); precision counts wide characters.
  std::wstring w = Utf8ToWide(std::string_view(s, n));
  if (sp.precision >= 0 && w.size() > static_cast<size_t>(sp.precision)) w.resize(static_cast<size_t>(sp.precision));
  EmitField(out, sp, L"", w, false);
}

}  // namespace

void WFormatInto(std::wstring& out, std::wstring_view fmt, const FormatArg* args, size_t count) {
  out.clear();
  out.reserve(fmt.size() + 16 * count);
  size_t next = 0;
  size_t i = 0;
  const size_t n = fmt.size();
  auto takeInt = [&](int& dst) -> bool {
    if (next >= count || !IsIntegral(args[next])) return false;
    const FormatArg& a = args[next++];
    int64_t v = a.kind == FormatArg::Int ? a.i : static_cast<int64_t>(a.u);
    if (v > 100000) v = 100000;
    if (v < -100000) v = -100000;
    dst = static_cast<int>(v);
    return true;
  };
  while (i < n) {
    wchar_t c = fmt[i];
    if (c != L'%') {
      size_t j = fmt.find(L'%', i);
      if (j == std::wstring_view::npos) j = n;
      out.append(fmt.substr(i, j - i));
      i = j;
      continue;
    }
    size_t start = i++;
    if (i < n && fmt[i] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    Spec sp;
    for (; i < n; ++i) {
      wchar_t f = fmt[i];
      if (f == L'-')
        sp.left = true;
      else if (f == L'0')
        sp.zero = true;
      else if (f == L'+')
        sp.plus = true;
      else if (f == L' ')
        sp.space = true;
      else if (f == L'#')
        sp.alt = true;
      else
        break;
    }
    if (i < n && fmt[i] == L'*') {
      ++i;
      int w = 0;
      if (!takeInt(w)) {
        Marker(out, L'*', L"missing");
        continue;
      }
      if (w < 0) {
        sp.left = true;
        w = -w;
      }
      sp.width = w;
    } else {
      int w = -1;
      while (i < n && fmt[i] >= L'0' && fmt[i] <= L'9') {
        w = (w < 0 ? 0 : w) * 10 + (fmt[i] - L'0');
        if (w > 100000) w = 100000;
        ++i;
      }
      sp.width = w;
    }
    if (i < n && fmt[i] == L'.') {
      ++i;
      if (i < n && fmt[i] == L'*') {
        ++i;
        int p = 0;
        if (!takeInt(p)) {
          Marker(out, L'*', L"missing");
          continue;
        }
        sp.precision = p < 0 ? -1 : p;
      } else {
        int p = 0;
        while (i < n && fmt[i] >= L'0' && fmt[i] <= L'9') {
          p = p * 10 + (fmt[i] - L'0');
          if (p > 100000) p = 100000;
          ++i;
        }
        sp.precision = p;
      }
    }
    // Size prefixes: every argument carries its own size, so they only need to be skipped.
    while (i < n) {
      if (fmt[i] == L'h' || fmt[i] == L'l' || fmt[i] == L'L' || fmt[i] == L'z' || fmt[i] == L'j' || fmt[i] == L't' ||
          fmt[i] == L'w') {
        ++i;
      } else if (fmt[i] == L'I') {
        if (fmt.substr(i, 3) == L"I64" || fmt.substr(i, 3) == L"I32")
          i += 3;
        else
          ++i;
      } else {
        break;
      }
    }
    if (i >= n) {
      // A lone '%' (or an unfinished conversion) at the end is printed as written.
      out.append(fmt.substr(start));
      break;
    }
    sp.conv = fmt[i++];
    const bool known = wcschr(L"diuxXocCsSpfFeEgG", sp.conv) != nullptr;
    if (!known) {
      Marker(out, sp.conv, L"bad");
      continue;
    }
    if (next >= count) {
      Marker(out, sp.conv, L"missing");
      continue;
    }
    const FormatArg& a = args[next++];
    switch (sp.conv) {
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
      case L'o':
        if (!IsIntegral(a))
          Marker(out, sp.conv, KindName(a.kind));
        else
          FormatInteger(out, sp, a);
        break;
      case L'c':
      case L'C':
        if (!IsIntegral(a)) {
          Marker(out, sp.conv, KindName(a.kind));
        } else {
          std::wstring ch;
          AppendCodePoint(ch, static_cast<uint32_t>(AsUnsigned(a)));
          EmitField(out, sp, L"", ch, false);
        }
        break;
      case L's':
        if (a.kind == FormatArg::WStr)
          FormatWide(out, sp, a);
        else
          Marker(out, sp.conv, KindName(a.kind));
        break;
      case L'S':
        if (a.kind == FormatArg::NStr)
          FormatNarrow(out, sp, a);
        else
          Marker(out, sp.conv, KindName(a.kind));
        break;
      case L'p':
        if (a.kind == FormatArg::Ptr || IsIntegral(a))
          FormatPointer(out, sp, a);
        else
          Marker(out, sp.conv, KindName(a.kind));
        break;
      default:  // f F e E g G
        if (a.kind == FormatArg::Double)
          FormatDouble(out, sp, a.d);
        else if (IsIntegral(a))
          Marker(out, sp.conv, KindName(a.kind));
        else
          Marker(out, sp.conv, KindName(a.kind));
        break;
    }
  }
}

}  // namespace vq
