// Building markup: escaping, CDATA wrapping, adding elements and attributes.
#include <gtest/gtest.h>

#include <string>

#include "xml/XmlDocument.h"

namespace vq {
namespace {

TEST(XmlBuild, Escaping) {
  EXPECT_EQ(XmlDocument::EscapeText(L"a<b>&\"c'"), L"a&lt;b&gt;&amp;\"c'");
  EXPECT_EQ(XmlDocument::EscapeAttribute(L"a<b>&\"c'"), L"a&lt;b&gt;&amp;&quot;c&apos;");
  EXPECT_EQ(XmlDocument::WrapCData(L"x]]>y]]>"), L"<![CDATA[x]]]]><![CDATA[>y]]]]><![CDATA[>]]>");
  EXPECT_EQ(XmlDocument::WrapCData(L""), L"<![CDATA[]]>");
}

TEST(XmlBuild, BuiltDocumentReadsBackWhatWasPutIn) {
  const std::wstring nasty = L"<a href=\"x\">&amp; ]]> 'q' \x4e2d\r\n";
  XmlDocument d;
  ASSERT_TRUE(d.AddElem(L"ROOT"));
  ASSERT_TRUE(d.SetAttrib(L"v", nasty.c_str()));
  ASSERT_TRUE(d.AddChildElem(L"plain", nasty.c_str()));
  ASSERT_TRUE(d.AddChildElem(L"cdata", nasty.c_str(), kMarkupCData));
  ASSERT_TRUE(d.SetChildAttrib(L"k", L"1"));
  ASSERT_TRUE(d.SetChildAttrib(L"k", L"2"));  // replaced, not added twice
  ASSERT_TRUE(d.SetChildAttrib(L"j", L"3"));
  ASSERT_TRUE(d.AddChildElem(L"empty"));
  EXPECT_TRUE(d.IsWellFormed()) << d.ResultLog();

  XmlDocument r;
  ASSERT_TRUE(r.SetText(d.Text()));
  ASSERT_TRUE(r.FindNext(L"ROOT"));
  std::wstring v;
  ASSERT_TRUE(r.GetAttrib(L"v", &v));
  EXPECT_EQ(v, nasty);
  ASSERT_TRUE(r.Descend());
  ASSERT_TRUE(r.FindNext(L"plain"));
  EXPECT_EQ(r.ElementText(), nasty);
  ASSERT_TRUE(r.FindNext(L"cdata"));
  EXPECT_EQ(r.ElementText(), nasty);
  ASSERT_TRUE(r.GetAttrib(L"k", &v));
  EXPECT_EQ(v, L"2");
  ASSERT_TRUE(r.GetAttrib(L"j", &v));
  EXPECT_EQ(v, L"3");
  ASSERT_TRUE(r.FindNext(L"empty"));
  EXPECT_FALSE(r.FindNext());
}

TEST(XmlBuild, PlacementFollowsTheCursor) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r><a/><c/></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.Descend());
  ASSERT_TRUE(d.FindNext(L"a"));
  ASSERT_TRUE(d.AddElem(L"b", L"t"));  // after a
  EXPECT_EQ(d.TagName(), L"b");
  EXPECT_EQ(d.Text(), L"<r><a/><b>t</b><c/></r>");
  // A child of an empty-element tag turns it into a start and an end tag.
  ASSERT_TRUE(d.FindNext(L"c"));
  ASSERT_TRUE(d.AddChildElem(L"c1"));
  ASSERT_TRUE(d.AddChildElem(L"c2"));  // after the child position
  EXPECT_EQ(d.ChildTagName(), L"c2");
  EXPECT_EQ(d.Text(), L"<r><a/><b>t</b><c><c1/><c2/></c></r>");
  // With no main element a new element goes last among the parent's children.
  d.ResetPos();
  d.FindNext(L"r");
  d.Descend();
  ASSERT_TRUE(d.AddElem(L"z"));
  EXPECT_EQ(d.Text(), L"<r><a/><b>t</b><c><c1/><c2/></c><z/></r>");
  ASSERT_TRUE(d.SetAttrib(L"q", L"1"));
  EXPECT_EQ(d.Text(), L"<r><a/><b>t</b><c><c1/><c2/></c><z q=\"1\"/></r>");
  EXPECT_TRUE(d.IsWellFormed());
}

TEST(XmlBuild, RefusesNamesThatWouldBreakTheMarkup) {
  XmlDocument d;
  for (const wchar_t* bad : {L"", L"a b", L"a>", L"a/", L"1a", L"a\"", L"a=b", L"<a", L"a&b"}) {
    EXPECT_FALSE(d.AddElem(bad)) << bad;
  }
  EXPECT_FALSE(d.AddElem(nullptr));
  EXPECT_EQ(d.Text(), L"");
  EXPECT_FALSE(d.SetAttrib(L"a", L"1"));  // no element yet
  EXPECT_FALSE(d.AddChildElem(L"a"));
  ASSERT_TRUE(d.AddElem(L"a"));
  EXPECT_FALSE(d.SetAttrib(L"x y", L"1"));
  EXPECT_FALSE(d.SetAttrib(L"x'", L"1"));
  EXPECT_EQ(d.Text(), L"<a/>");
}

}  // namespace
}  // namespace vq
