// The cursor: FindNext, FindChild, Descend, Ascend, FindNode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/XmlDocument.h"

namespace vq {
namespace {

TEST(XmlNavigate, FindNextSearchesOnlyTheSiblingsThatFollow) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<ROOT><message>m</message><version>0.10</version><x/></ROOT>"));
  ASSERT_TRUE(d.FindNext(L"ROOT"));
  EXPECT_EQ(d.ParentPosition(), 0u);
  EXPECT_EQ(d.NodeKind(), kNodeElement);
  ASSERT_TRUE(d.Descend());
  ASSERT_TRUE(d.FindNext(L"version"));
  const uint32_t version = d.MainPosition();
  // "message" comes before "version": not seen any more, and the cursor stays.
  EXPECT_FALSE(d.FindNext(L"message"));
  EXPECT_EQ(d.MainPosition(), version);
  EXPECT_EQ(d.ElementText(), L"0.10");
  // With no name the next element of any name is taken.
  ASSERT_TRUE(d.FindNext());
  EXPECT_EQ(d.TagName(), L"x");
  EXPECT_FALSE(d.FindNext());
  EXPECT_FALSE(d.FindNext(L""));
}

TEST(XmlNavigate, NamesMatchWholeTagNames) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r><ab/><a x='1'/><a/><abc></abc></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.Descend());
  ASSERT_TRUE(d.FindNext(L"a"));
  EXPECT_EQ(d.Record(d.MainPosition()).start, 8u);
  ASSERT_TRUE(d.FindNext(L"abc"));
  d.ResetPos();
  d.FindNext(L"r");
  d.Descend();
  EXPECT_TRUE(d.FindNext(L"ab"));
  EXPECT_EQ(d.Record(d.MainPosition()).start, 3u);
  EXPECT_FALSE(d.FindNext(L"abcd"));
  // Names beginning with '/' never match; the cursor is left alone.
  const uint32_t at = d.MainPosition();
  EXPECT_FALSE(d.FindNext(L"/a"));
  EXPECT_EQ(d.MainPosition(), at);
  // No predicates: a bracket is part of the name.
  EXPECT_FALSE(d.FindNext(L"a[1]"));
  // Case matters unless the document is told otherwise.
  d.ResetPos();
  EXPECT_FALSE(d.FindNext(L"R"));
  d.SetFlags(kXmlIgnoreCase);
  EXPECT_TRUE(d.FindNext(L"R"));
  EXPECT_TRUE(d.FindChild(L"AB"));
}

TEST(XmlNavigate, IgnoreCaseFoldsOnlyUntilTheFirstNonAsciiCharacter) {
  XmlDocument d;
  d.SetFlags(kXmlIgnoreCase);
  ASSERT_FALSE(d.SetText(L"<ab\x00e9x/><AB\x00e9X/>"));
  EXPECT_TRUE(d.FindNext(L"AB\x00e9X"));
  EXPECT_EQ(d.Record(d.MainPosition()).start, 7u);
  d.ResetPos();
  EXPECT_TRUE(d.FindNext(L"Ab\x00e9x"));
  EXPECT_EQ(d.Record(d.MainPosition()).start, 0u);
  d.ResetPos();
  EXPECT_FALSE(d.FindNext(L"AB\x00c9x"));  // non-ASCII letters are not folded
}

TEST(XmlNavigate, DescendAfterFindNextEntersBeforeTheFirstChild) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r><a><a1/><a2/></a><b/></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.Descend());
  EXPECT_EQ(d.MainPosition(), 0u);
  EXPECT_EQ(d.NodeKind(), kNodeNone);
  EXPECT_FALSE(d.Descend());  // nothing to descend into
  ASSERT_TRUE(d.FindNext(L"a"));
  ASSERT_TRUE(d.Descend());
  ASSERT_TRUE(d.FindNext());
  EXPECT_EQ(d.TagName(), L"a1");
}

TEST(XmlNavigate, DescendAfterFindChildEntersAtTheFoundChild) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r><a/><b><b1/></b><c/></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  const uint32_t r = d.MainPosition();
  ASSERT_TRUE(d.FindChild(L"b"));
  EXPECT_EQ(d.MainPosition(), r);
  EXPECT_EQ(d.ChildTagName(), L"b");
  EXPECT_EQ(d.ParentPosition(), 0u);
  ASSERT_TRUE(d.Descend());
  EXPECT_EQ(d.TagName(), L"b");
  EXPECT_EQ(d.ParentPosition(), r);
  EXPECT_EQ(d.ChildPosition(), 0u);
  // The next FindNext continues after b.
  ASSERT_TRUE(d.FindNext());
  EXPECT_EQ(d.TagName(), L"c");
}

TEST(XmlNavigate, FindChildSearchesAfterTheChildPositionAndFailsWithoutMoving) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r><x>1</x><y/><x>2</x></r>"));
  // With no main element it first takes the next element.
  ASSERT_TRUE(d.FindChild(L"x"));
  EXPECT_EQ(d.TagName(), L"r");
  const uint32_t first = d.ChildPosition();
  ASSERT_TRUE(d.FindChild(L"x"));
  EXPECT_NE(d.ChildPosition(), first);
  const uint32_t second = d.ChildPosition();
  EXPECT_FALSE(d.FindChild(L"x"));
  EXPECT_EQ(d.ChildPosition(), second);
  EXPECT_TRUE(d.Descend());
  EXPECT_EQ(d.ElementText(), L"2");
  // A failed FindChild from the document level leaves the cursor there.
  XmlDocument e;
  ASSERT_TRUE(e.SetText(L"<r/>"));
  EXPECT_FALSE(e.FindChild());
  EXPECT_EQ(e.MainPosition(), 0u);
  EXPECT_EQ(e.NodeKind(), kNodeNone);
}

TEST(XmlNavigate, AscendReturnsToTheParentWithTheOldMainAsChild) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r><a><b/><c/></a><d/></r>"));
  EXPECT_FALSE(d.Ascend());
  d.FindNext(L"r");
  d.Descend();
  d.FindNext(L"a");
  d.Descend();
  d.FindNext(L"b");
  const uint32_t b = d.MainPosition();
  ASSERT_TRUE(d.Ascend());
  EXPECT_EQ(d.TagName(), L"a");
  EXPECT_EQ(d.ChildPosition(), b);
  EXPECT_EQ(d.NodeKind(), kNodeElement);
  ASSERT_TRUE(d.FindChild());
  EXPECT_EQ(d.ChildTagName(), L"c");
  ASSERT_TRUE(d.Ascend());
  EXPECT_EQ(d.TagName(), L"r");
  EXPECT_EQ(d.ParentPosition(), 0u);
  EXPECT_FALSE(d.Ascend());
  // Ascend from "before the first child" puts the parent back as main with no child.
  d.ResetPos();
  d.FindNext(L"r");
  d.Descend();
  ASSERT_TRUE(d.Ascend());
  EXPECT_EQ(d.TagName(), L"r");
  EXPECT_EQ(d.ChildPosition(), 0u);
}

TEST(XmlNavigate, TwoTopLevelElementsAreBothFound) {
  XmlDocument d;
  EXPECT_FALSE(d.SetText(L"<ROOT><version>1</version></ROOT><other/>"));
  ASSERT_TRUE(d.FindNext(L"ROOT"));
  ASSERT_TRUE(d.FindNext(L"other"));
  d.ResetPos();
  ASSERT_TRUE(d.FindNext(L"other"));
}

// The walk the update check makes over its configuration document.
TEST(XmlNavigate, UpdateDocumentWalk) {
  XmlDocument d;
  ASSERT_TRUE(
      d.SetText(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                L"<ROOT>\r\n"
                L"  <version>0.10</version>\r\n"
                L"  <message>\x65b0\x7248\x672c &amp; \x4fee\x590d</message>\r\n"
                L"  <softpage>http://example.test/dl?a=1&amp;b=2</softpage>\r\n"
                L"  <wopenflag>1</wopenflag>\r\n"
                L"  <wopen>\r\n"
                L"    <u>http://a.test/</u>\r\n"
                L"    <page><![CDATA[http://b.test/?x=<y>]]></page>\r\n"
                L"  </wopen>\r\n"
                L"</ROOT>\r\n"));
  ASSERT_TRUE(d.FindNext(L"ROOT"));
  ASSERT_TRUE(d.Descend());
  ASSERT_TRUE(d.FindNext(L"version"));
  EXPECT_EQ(d.ElementText(), L"0.10");
  ASSERT_TRUE(d.FindNext(L"message"));
  EXPECT_EQ(d.ElementText(), L"\x65b0\x7248\x672c & \x4fee\x590d");
  ASSERT_TRUE(d.FindNext(L"softpage"));
  EXPECT_EQ(d.ElementText(), L"http://example.test/dl?a=1&b=2");
  ASSERT_TRUE(d.FindNext(L"wopenflag"));
  EXPECT_EQ(d.ElementText(), L"1");
  ASSERT_TRUE(d.FindNext(L"wopen"));
  EXPECT_EQ(d.ElementText(), L"");  // has child elements
  ASSERT_TRUE(d.FindChild());
  ASSERT_TRUE(d.Descend());
  std::vector<std::wstring> urls;
  do {
    urls.push_back(d.ElementText());
  } while (d.FindNext());
  EXPECT_EQ(urls, (std::vector<std::wstring>{L"http://a.test/", L"http://b.test/?x=<y>"}));
  ASSERT_TRUE(d.Ascend());
  EXPECT_EQ(d.TagName(), L"wopen");
  ASSERT_TRUE(d.Ascend());
  EXPECT_EQ(d.TagName(), L"ROOT");
}

TEST(XmlNavigate, FindNodeVisitsEveryKindOfNode) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<!DOCTYPE r><r>a&lt;b <!--c--><?p i?><![CDATA[<d>]]> <e>x</e>tail</r>"));
  struct Seen {
    uint32_t kind;
    std::wstring text;
  };
  std::vector<Seen> top, inside;
  while (d.FindNode()) top.push_back({d.NodeKind(), d.NodeText()});
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].kind, kNodeDocumentType);
  EXPECT_EQ(top[0].text, L"<!DOCTYPE r>");
  EXPECT_EQ(top[1].kind, kNodeElement);
  ASSERT_TRUE(d.Descend());
  while (d.FindNode()) inside.push_back({d.NodeKind(), d.NodeText()});
  const std::vector<std::pair<uint32_t, std::wstring>> expected = {
      {kNodeText, L"a<b "}, {kNodeComment, L"c"},    {kNodeProcessingInstruction, L"p i"},
      {kNodeCData, L"<d>"}, {kNodeWhitespace, L" "}, {kNodeElement, L"x"},
      {kNodeText, L"tail"}};
  ASSERT_EQ(inside.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(inside[i].kind, expected[i].first) << i;
    EXPECT_EQ(inside[i].text, expected[i].second) << i;
  }
  // After the last node the main position is the element before it, so FindNext goes on from e.
  EXPECT_EQ(d.TagName(), L"e");
  EXPECT_FALSE(d.FindNext());
  // A kind mask skips the others.
  d.ResetPos();
  d.FindNext(L"r");
  d.Descend();
  ASSERT_TRUE(d.FindNode(kNodeComment | kNodeCData));
  EXPECT_EQ(d.NodeText(), L"c");
  ASSERT_TRUE(d.FindNode(kNodeComment | kNodeCData));
  EXPECT_EQ(d.NodeText(), L"<d>");
  EXPECT_FALSE(d.FindNode(kNodeComment | kNodeCData));
}

}  // namespace
}  // namespace vq
