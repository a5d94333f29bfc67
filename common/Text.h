// Text conversion at the edges of the program. The core keeps std::wstring (UTF-16 on Windows,
// UTF-32 on Linux); files and the network speak UTF-8 or UTF-16LE.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vq {

// Appends one Unicode code point as this platform's wchar_t units (a surrogate pair where
// wchar_t is 16 bits). Values above 0x10FFFF and surrogates become U+FFFD.
void AppendCodePoint(std::wstring& out, uint32_t cp);

// Malformed UTF-8 sequences become U+FFFD each; never reads past the input.
std::wstring Utf8ToWide(std::string_view in);
// The same into a string that keeps its storage: the walk converts every name it lists.
void Utf8ToWideInto(std::string_view in, std::wstring* out);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view in);

// UTF-16 code units of the text (surrogate pairs where wchar_t is 32 bits wide).
std::u16string WideToUtf16(std::wstring_view in);
std::wstring Utf16ToWide(std::u16string_view in);
// Little-endian bytes of the UTF-16 form, as the log files store them.
std::string WideToUtf16LEBytes(std::wstring_view in);

// ASCII-only case folding; the program's file names and extensions are compared this way.
std::wstring AsciiLower(std::wstring_view in);
bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b);

}  // namespace vq
