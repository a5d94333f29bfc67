// Hostile and oversized input: deep nesting, long tags, NULs and surrogates, patterns that would
// make a naive reader quadratic. Each test finishes in well under a second when the reader is
// linear; a quadratic one would run for minutes and hit the test time-out.
#include <gtest/gtest.h>

#include <string>

#include "xml/XmlDocument.h"

namespace vq {
namespace {

// Visits every element through the cursor alone, without recursion.
size_t WalkAll(XmlDocument& d, std::wstring* lastText = nullptr) {
  d.ResetPos();
  size_t seen = 0;
  for (;;) {
    if (d.FindNext()) {
      ++seen;
      if (lastText) *lastText = d.ElementText();
      d.Descend();
      continue;
    }
    if (!d.Ascend()) break;
  }
  return seen;
}

std::wstring Repeat(const std::wstring& s, size_t n) {
  std::wstring out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST(XmlRobust, DeepNestingClosed) {
  const size_t depth = 100000;
  XmlDocument d;
  ASSERT_TRUE(d.SetText(Repeat(L"<a>", depth) + L"core" + Repeat(L"</a>", depth)));
  EXPECT_EQ(d.ElementCount(), depth + 1);
  std::wstring innermost;
  EXPECT_EQ(WalkAll(d, &innermost), depth);
  EXPECT_EQ(innermost, L"core");
  // Levels past the 16-bit field saturate instead of wrapping round.
  EXPECT_EQ(d.Record(70000).flags & kElemLevelMask, 0xFFFFu);
  EXPECT_EQ(d.Record(1000).flags & kElemLevelMask, 999u);
}

TEST(XmlRobust, DeepNestingNeverClosed) {
  const size_t depth = 100000;
  XmlDocument d;
  EXPECT_FALSE(d.SetText(Repeat(L"<a>", depth)));
  EXPECT_LT(d.ResultLog().size(), 1100u);
  // Every element ends up at the top level, in document order.
  EXPECT_EQ(WalkAll(d), depth);
  EXPECT_EQ(d.Record(depth).flags & kElemLevelMask, 0u);
  EXPECT_EQ(d.Record(depth).parent, 0u);
}

TEST(XmlRobust, EndTagsThatMatchNothingUnderADeepStack) {
  const size_t n = 100000;
  XmlDocument d;
  EXPECT_FALSE(d.SetText(Repeat(L"<a>", n) + Repeat(L"</b>", n) + Repeat(L"</a>", n)));
  EXPECT_EQ(WalkAll(d), n);
  // Unclosed elements over a matching one far below.
  EXPECT_FALSE(d.SetText(L"<r>" + Repeat(L"<a><b/>", n) + L"</r>"));
  d.FindNext(L"r");
  d.Descend();
  size_t children = 0;
  while (d.FindNext()) ++children;
  EXPECT_EQ(children, 2 * n);
}

TEST(XmlRobust, LongTagsBeyondTheirLengthFields) {
  // A start tag longer than 22 bits can hold and an end tag longer than 10 bits.
  const std::wstring start = L"<a x=\"" + std::wstring(0x400000, L'y') + L"\">";
  const std::wstring end = L"</a" + std::wstring(2000, L' ') + L">";
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r>" + start + L"in &amp; <![CDATA[side]]>" + end + L"<b>after</b></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.FindChild(L"a"));
  const ElementRecord& a = d.Record(d.ChildPosition());
  EXPECT_EQ(a.tagLengths & 0x3FFFFF, 0x3FFFFFu);
  EXPECT_EQ(a.tagLengths >> 22, 0x3FFu);
  ASSERT_TRUE(d.Descend());
  EXPECT_EQ(d.ElementText(), L"in & side");
  std::wstring x;
  ASSERT_TRUE(d.GetAttrib(L"x", &x));
  EXPECT_EQ(x.size(), 0x400000u);
  ASSERT_TRUE(d.FindNext(L"b"));
  EXPECT_EQ(d.ElementText(), L"after");
  // Adding a child to an element whose end tag is longer than its field puts it before that
  // end tag.
  ASSERT_TRUE(d.SetText(L"<r><a>zz" + end + L"</r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.FindChild(L"a"));
  ASSERT_TRUE(d.Descend());
  EXPECT_EQ(d.ElementText(), L"zz");
  ASSERT_TRUE(d.AddChildElem(L"k"));
  EXPECT_EQ(d.Text(), L"<r><a>zz<k/>" + end + L"</r>");
  // Walking the nodes of a parent with such an end tag does not rescan its content each step.
  const size_t n = 100000;
  ASSERT_TRUE(d.SetText(L"<a>" + Repeat(L"<b/>t", n) + end));
  ASSERT_TRUE(d.FindNext(L"a"));
  ASSERT_TRUE(d.Descend());
  size_t nodes = 0;
  while (d.FindNode()) ++nodes;
  EXPECT_EQ(nodes, 2 * n);
  EXPECT_EQ(d.NodeText(), L"t");
  // Nor the start tag.
  ASSERT_TRUE(d.SetText(start + Repeat(L"<b/>t", n) + L"</a>"));
  ASSERT_TRUE(d.FindNext(L"a"));
  ASSERT_TRUE(d.Descend());
  nodes = 0;
  while (d.FindNode()) ++nodes;
  EXPECT_EQ(nodes, 2 * n);
}

TEST(XmlRobust, NulEndsTheText) {
  XmlDocument d;
  std::wstring text = L"<r>ab</r>";
  text += L'\0';
  text += L"<x>";
  EXPECT_TRUE(d.SetText(text));
  EXPECT_EQ(d.Text(), L"<r>ab</r>");
  text = L"<r>a";
  text += L'\0';
  text += L"b</r>";
  EXPECT_FALSE(d.SetText(text));
  EXPECT_EQ(d.Record(0).length, 4u);
}

TEST(XmlRobust, LoneSurrogatesPassThrough) {
  XmlDocument d;
  std::wstring text = L"<r\xD800>";
  text += static_cast<wchar_t>(0xDC00);
  text += L"&#x41;";
  text += static_cast<wchar_t>(0xD800);
  text += L"</r\xD800>";
  ASSERT_TRUE(d.SetText(text));
  std::wstring name = L"r";
  name += static_cast<wchar_t>(0xD800);
  ASSERT_TRUE(d.FindNext(name));
  std::wstring expected;
  expected += static_cast<wchar_t>(0xDC00);
  expected += L'A';
  expected += static_cast<wchar_t>(0xD800);
  EXPECT_EQ(d.ElementText(), expected);
}

TEST(XmlRobust, LargeMixedDocument) {
  // About 8 million units; the 50 MB case runs in the benchmark and the fuzzer's corpus.
  const std::wstring item =
      L"<item id=\"12\" name='a&gt;b'><t>text &amp; more &#x4e2d;</t><!-- c --><![CDATA[<x>]]></item>\r\n";
  const size_t count = 8000000 / item.size();
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<list>\r\n" + Repeat(item, count) + L"</list>"));
  d.FindNext(L"list");
  d.Descend();
  size_t items = 0;
  while (d.FindNext(L"item")) {
    if (items == count / 2) {
      ASSERT_TRUE(d.FindChild(L"t"));
      ASSERT_TRUE(d.Descend());
      EXPECT_EQ(d.ElementText(), L"text & more \x4e2d");
      ASSERT_TRUE(d.Ascend());
    }
    ++items;
  }
  EXPECT_EQ(items, count);
  EXPECT_EQ(WalkAll(d), 2 * count + 1);
}

TEST(XmlRobust, UnterminatedRunsAreLinear) {
  // Long sections whose closing sequence never comes, with many near misses.
  const size_t n = 2000000;
  XmlDocument d;
  for (const std::wstring& text : {L"<r><!--" + Repeat(L"->", n), L"<r><![CDATA[" + Repeat(L"]>", n),
                                   L"<r><?" + Repeat(L"? >", n), L"<r><a b=\"" + Repeat(L">", n), Repeat(L"<!x", n),
                                   Repeat(L"<", n), Repeat(L"&amp", n), L"<r>" + Repeat(L"&#x1;&", n) + L"</r>"}) {
    d.SetText(text);
    WalkAll(d);
    EXPECT_LT(d.ResultLog().size(), 1100u);
  }
}

}  // namespace
}  // namespace vq
