// The one printf-style formatter of the system. It follows the conventions of the Windows wide
// printf family that every log format of the program is written in:
//   %s   wide string (const wchar_t*, std::wstring)      %S   narrow string (const char*, std::string)
//   %d %i signed integer   %u unsigned   %x %X hex   %o octal   %c wide character   %p pointer
//   %f %e %g floating point   %%  a percent sign
// with the flags '-', '0', '+', ' ', '#', a width, a precision (also '*'), and the size prefixes
// h, l, ll, I64, I32, z, which are accepted and ignored because each argument carries its own type.
//
// Arguments are captured with their real types, so a conversion that does not fit its argument
// never reads the wrong thing: it prints a visible marker such as "%!d(string)" instead, and a
// missing argument prints "%!d(missing)". A conversion the formatter does not know prints
// "%!q(bad)". vswprintf is not used: its %s means a narrow string on Linux and in mingw's C99
// mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace vq {

struct FormatArg {
  enum Kind { Int, Uint, Double, WStr, NStr, Ptr, WChar };
  Kind kind;
  union {
    int64_t i;
    uint64_t u;
    double d;
    const void* p;
    struct {
      const wchar_t* s;
      size_t n;
    } w;
    struct {
      const char* s;
      size_t n;
    } a;
  };
  // Width of the integer argument in bytes; %u and %x of a negative int show its own width's
  // two's complement, as the C library does.
  unsigned bytes = 0;
};

namespace detail {

template <typename T>
FormatArg MakeArg(const T& v) {
  FormatArg a{};
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, wchar_t>) {
    a.kind = FormatArg::WChar;
    a.u = static_cast<uint64_t>(static_cast<uint32_t>(v));
    a.bytes = sizeof(wchar_t);
  } else if constexpr (std::is_same_v<D, char>) {
    a.kind = FormatArg::WChar;
    a.u = static_cast<unsigned char>(v);
    a.bytes = 1;
  } else if constexpr (std::is_same_v<D, bool>) {
    a.kind = FormatArg::Int;
    a.i = v ? 1 : 0;
    a.bytes = sizeof(int);
  } else if constexpr (std::is_enum_v<D>) {
    a.kind = FormatArg::Int;
    a.i = static_cast<int64_t>(v);
    a.bytes = sizeof(D);
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    a.kind = FormatArg::Int;
    a.i = static_cast<int64_t>(v);
    a.bytes = sizeof(D);
  } else if constexpr (std::is_integral_v<D>) {
    a.kind = FormatArg::Uint;
    a.u = static_cast<uint64_t>(v);
    a.bytes = sizeof(D);
  } else if constexpr (std::is_floating_point_v<D>) {
    a.kind = FormatArg::Double;
    a.d = static_cast<double>(v);
  } else if constexpr (std::is_same_v<D, std::wstring> || std::is_same_v<D, std::wstring_view>) {
    a.kind = FormatArg::WStr;
    a.w.s = v.data();
    a.w.n = v.size();
  } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
    a.kind = FormatArg::NStr;
    a.a.s = v.data();
    a.a.n = v.size();
  } else if constexpr (std::is_same_v<D, const wchar_t*> || std::is_same_v<D, wchar_t*>) {
    a.kind = FormatArg::WStr;
    a.w.s = v;
    a.w.n = static_cast<size_t>(-1);  // NUL-terminated (or null)
  } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
    a.kind = FormatArg::NStr;
    a.a.s = v;
    a.a.n = static_cast<size_t>(-1);
  } else if constexpr (std::is_pointer_v<D> || std::is_null_pointer_v<D>) {
    a.kind = FormatArg::Ptr;
    a.p = reinterpret_cast<const void*>(v);
  } else {
    static_assert(sizeof(T) == 0, "WFormat: this argument type has no conversion");
  }
  return a;
}

}  // namespace detail

// Formats into out (replacing its content). Never throws on a bad format or argument.
void WFormatInto(std::wstring& out, std::wstring_view fmt, const FormatArg* args, size_t count);

template <typename... Args>
std::wstring WFormat(std::wstring_view fmt, const Args&... args) {
  std::wstring out;
  if constexpr (sizeof...(Args) == 0) {
    WFormatInto(out, fmt, nullptr, 0);
  } else {
    const FormatArg list[] = {detail::MakeArg(args)...};
    WFormatInto(out, fmt, list, sizeof...(Args));
  }
  return out;
}

}  // namespace vq
