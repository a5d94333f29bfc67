// Text conversion between the wide core and the byte forms at its edges.
#include <gtest/gtest.h>

#include "common/Text.h"

using namespace vq;

TEST(TextConversion, Utf16LeBytesAndBack) {
  std::wstring w = L"a中";
  w += static_cast<wchar_t>(0x20AC);
  std::string b = WideToUtf16LEBytes(w);
  EXPECT_EQ(b, std::string("a\0\x2dN\xac\x20", 6));
  EXPECT_EQ(Utf8ToWide(WideToUtf8(L"数据 ok")), L"数据 ok");
  EXPECT_EQ(Utf8ToWide("\xff\xfe"), L"\xFFFD\xFFFD");
  std::wstring astral;
  AppendCodePoint(astral, 0x1F600);
  EXPECT_EQ(WideToUtf8(astral), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf16(astral).size(), 2u);
}
