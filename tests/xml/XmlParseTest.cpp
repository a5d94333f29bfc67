// Well-formedness verdicts, the element index and the result log with its offsets.
#include <gtest/gtest.h>

#include <string>

#include "xml/XmlDocument.h"

namespace vq {
namespace {

struct Verdict {
  const wchar_t* text;
  bool wellFormed;
  const wchar_t* log;
};

TEST(XmlParse, EmptyTextIsNotWellFormedAndLogsNothing) {
  XmlDocument d;
  EXPECT_FALSE(d.SetText(L""));
  EXPECT_EQ(d.ResultLog(), L"");
  EXPECT_EQ(d.ElementCount(), 1u);
  EXPECT_FALSE(d.SetText(static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(d.ResultLog(), L"");
  // A fresh document is the empty text.
  XmlDocument fresh;
  EXPECT_FALSE(fresh.IsWellFormed());
  EXPECT_FALSE(fresh.FindNext());
}

TEST(XmlParse, VerdictsAndResultLog) {
  const Verdict cases[] = {
      {L"<r/>", true, L""},
      {L"<r>x</r>", true, L""},
      // Prologue material before the root is accepted and ignored.
      {L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- note -->\r\n"
       L"<!DOCTYPE r SYSTEM \"a>b.dtd\" [<!ENTITY e \"x>y\"><!-- ] > --><!ATTLIST r a CDATA #IMPLIED>"
       L"<!NOTATION n SYSTEM 'n'>]>\r\n<r/>\r\n<!-- after -->",
       true, L""},
      {L"<r a=\"x>y\" b='>'>t</r>", true, L""},
      // Tags whose names start with ':', '_', or a character above 'z'.
      {L"<_r><:a/><\x4e2d/><~x/></_r>", true, L""},
      {L"<a/><b/>", false, L"<root_has_sibling/>"},
      {L"just text", false, L"<no_root_element/>"},
      {L" \r\n\t", false, L"<no_root_element/>"},
      {L"<!-- only a comment -->", false, L"<no_root_element/>"},
      {L"<a><b></a>", false, L"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
      {L"<r></x></r>", false, L"<lone_end_tag tagname=\"x\" offset=\"3\"/>"},
      {L"</x><r/>", false, L"<lone_end_tag tagname=\"x\" offset=\"0\"/>"},
      {L"<r>< 1></r>", false, L"<first_tag_syntax offset=\"3\"/>"},
      {L"<r><1></r>", false, L"<first_tag_syntax offset=\"3\"/>"},
      {L"<r><!x></r>", false, L"<exclamation_tag_syntax offset=\"3\"/>"},
      {L"<r><!-x></r>", false, L"<comment_tag_syntax offset=\"3\"/>"},
      {L"<r><![x]></r>", false, L"<cdata_section_syntax offset=\"3\"/>"},
      {L"<!DOCTYPE r [<?pi?>]><r/>", false, L"<doctype_tag_syntax offset=\"13\"/>"},
      {L"<!DOCTYPE r [<!X>]><r/>", false, L"<doctype_tag_syntax offset=\"13\"/>"},
      // A '/' that belongs to an unquoted attribute value does not make the tag empty.
      {L"<r><a b=c/></r>", false, L"<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"12\"/>"},
      {L"<r><a b=c /></r>", true, L""},
      {L"<r><a b=\"c/\"/></r>", true, L""},
      // End tags match whole names only.
      {L"<ab></a></ab>", false, L"<lone_end_tag tagname=\"a\" offset=\"4\"/>"},
      {L"<a></ab></a>", false, L"<lone_end_tag tagname=\"ab\" offset=\"3\"/>"},
      {L"<r></r >", true, L""},
      // Attribute values are escaped in the log.
      {L"<r></a&b\"></r>", false, L"<lone_end_tag tagname=\"a&amp;b&quot;\" offset=\"3\"/>"},
  };
  for (const Verdict& c : cases) {
    XmlDocument d;
    EXPECT_EQ(d.SetText(c.text), c.wellFormed) << c.text;
    EXPECT_EQ(d.IsWellFormed(), c.wellFormed) << c.text;
    EXPECT_EQ(d.ResultLog(), c.log) << c.text;
  }
}

TEST(XmlParse, UnterminatedMarkupAtTheEnd) {
  // Each kind of markup cut off by the end of the text; the enclosing <r> is then unended at
  // the text length.
  const struct {
    const wchar_t* tail;
    const wchar_t* type;
  } cases[] = {
      {L"<", L"tag"},
      {L"<!", L"tag"},
      {L"<x a='>", L"start_tag"},
      {L"<x", L"start_tag"},
      {L"</r", L"end_tag"},
      {L"<?pi ?", L"processing_instruction"},
      {L"<?", L"processing_instruction"},
      {L"<!-", L"comment"},
      {L"<!--", L"comment"},
      {L"<!-->", L"comment"},
      {L"<!-- x --", L"comment"},
      {L"<![", L"cdata_section"},
      {L"<![CDATA[", L"cdata_section"},
      {L"<![CDATA[]]", L"cdata_section"},
      {L"<!D", L"document_type"},
      {L"<!DOCTYPE r [", L"document_type"},
      {L"<!DOCTYPE r [<!ENTITY x 'y'>", L"document_type"},
      {L"<!DOCTYPE r [<!-- c", L"document_type"},
      {L"<!DOCTYPE r [<!", L"document_type"},
      {L"<!DOCTYPE r []", L"document_type"},
      {L"<!DOCTYPE r \"]>", L"document_type"},
  };
  for (const auto& c : cases) {
    const std::wstring text = std::wstring(L"<r>") + c.tail;
    XmlDocument d;
    EXPECT_FALSE(d.SetText(text)) << text;
    const std::wstring expected = std::wstring(L"<unterminated_tag_syntax type=\"") + c.type +
                                  L"\" offset=\"3\"/><unended_start_tag tagname=\"r\" offset=\"0\" offset2=\"" +
                                  std::to_wstring(text.size()) + L"\"/>";
    EXPECT_EQ(d.ResultLog(), expected) << text;
  }
}

TEST(XmlParse, UnendedElementsAreReportedOutermostFirstAndTheirChildrenMoveUp) {
  XmlDocument d;
  // a and b are never closed; </r> closes r; c and d were children of b.
  const std::wstring text = L"<r><a><b><c/><d>t</d></r>";
  EXPECT_FALSE(d.SetText(text));
  EXPECT_EQ(d.ResultLog(),
            L"<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"22\"/>"
            L"<unended_start_tag tagname=\"b\" offset=\"6\" offset2=\"22\"/>");
  // r closes normally and now has a, b, c, d as children in document order.
  ASSERT_TRUE(d.FindNext(L"r"));
  const ElementRecord& r = d.Record(d.MainPosition());
  EXPECT_EQ(r.length, text.size());
  EXPECT_EQ(r.flags & kElemUnended, 0u);
  const wchar_t* names[] = {L"a", L"b", L"c", L"d"};
  ASSERT_TRUE(d.Descend());
  for (const wchar_t* n : names) {
    ASSERT_TRUE(d.FindNext()) << n;
    EXPECT_EQ(d.TagName(), n);
    const ElementRecord& e = d.Record(d.MainPosition());
    EXPECT_EQ(e.flags & kElemLevelMask, 1u) << n;
    EXPECT_EQ(e.parent, d.ParentPosition());
  }
  EXPECT_FALSE(d.FindNext());
  // The unended ones keep only their start tag; d keeps its text.
  d.ResetPos();
  d.FindNext(L"r");
  d.FindChild(L"b");
  EXPECT_EQ(d.Record(d.ChildPosition()).length, 3u);
  EXPECT_NE(d.Record(d.ChildPosition()).flags & kElemUnended, 0u);
  EXPECT_EQ(d.Record(d.ChildPosition()).tagLengths >> 22, 0u);
  d.FindChild(L"d");
  d.Descend();
  EXPECT_EQ(d.ElementText(), L"t");
}

TEST(XmlParse, UnendedAtTheEndOfText) {
  XmlDocument d;
  EXPECT_FALSE(d.SetText(L"<a><b>x"));
  EXPECT_EQ(d.ResultLog(),
            L"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"7\"/>"
            L"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"
            L"<root_has_sibling/>");
}

TEST(XmlParse, ElementRecordsDescribeTheTree) {
  XmlDocument d;
  const std::wstring text = L"<r><a x='1'>t</a ><b/><c></c></r>";
  ASSERT_TRUE(d.SetText(text));
  ASSERT_EQ(d.ElementCount(), 5u);
  const ElementRecord& doc = d.Record(0);
  EXPECT_EQ(doc.length, text.size());
  EXPECT_EQ(doc.firstChild, 1u);
  const ElementRecord& r = d.Record(1);
  EXPECT_EQ(r.start, 0u);
  EXPECT_EQ(r.length, text.size());
  EXPECT_EQ(r.tagLengths, 3u | (4u << 22));
  EXPECT_EQ(r.flags, kElemFirst | 0u);
  EXPECT_EQ(r.firstChild, 2u);
  const ElementRecord& a = d.Record(2);
  EXPECT_EQ(a.start, 3u);
  EXPECT_EQ(a.tagLengths, 9u | (5u << 22));
  EXPECT_EQ(a.length, 15u);
  EXPECT_EQ(a.flags, kElemFirst | 1u);
  EXPECT_EQ(a.parent, 1u);
  EXPECT_EQ(a.nextSibling, 3u);
  EXPECT_EQ(a.prevSibling, 4u);  // the first child points at the last one
  const ElementRecord& b = d.Record(3);
  EXPECT_EQ(b.length, 4u);
  EXPECT_EQ(b.tagLengths, 4u);
  EXPECT_EQ(b.flags, 1u);
  EXPECT_EQ(b.prevSibling, 2u);
  EXPECT_EQ(b.nextSibling, 4u);
  const ElementRecord& c = d.Record(4);
  EXPECT_EQ(c.nextSibling, 0u);
  EXPECT_EQ(c.prevSibling, 3u);
}

TEST(XmlParse, ErrorsMarkTheEnclosingElement) {
  XmlDocument d;
  EXPECT_FALSE(d.SetText(L"<r><a/><b><!x></b><c/></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  EXPECT_EQ(d.Record(d.MainPosition()).flags & kElemHasError, 0u);
  ASSERT_TRUE(d.FindChild(L"a"));
  EXPECT_EQ(d.Record(d.ChildPosition()).flags & kElemHasError, 0u);
  ASSERT_TRUE(d.FindChild(L"b"));
  EXPECT_NE(d.Record(d.ChildPosition()).flags & kElemHasError, 0u);
  EXPECT_NE(d.Record(0).flags & kElemNotWellFormed, 0u);
  // An unended element hands its error mark to its parent.
  EXPECT_FALSE(d.SetText(L"<r><u><!x></r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  EXPECT_NE(d.Record(d.MainPosition()).flags & kElemHasError, 0u);
}

TEST(XmlParse, ResultLogStopsGrowingAtAThousandCharacters) {
  std::wstring text = L"<r>";
  for (int i = 0; i < 500; ++i) text += L"</x>";
  text += L"</r>";
  XmlDocument d;
  EXPECT_FALSE(d.SetText(text));
  const std::wstring& log = d.ResultLog();
  const size_t entry = std::wstring(L"<lone_end_tag tagname=\"x\" offset=\"1999\"/>").size();
  EXPECT_GE(log.size(), 1000u);
  EXPECT_LT(log.size(), 1000u + entry);
  // The log is whole entries, first one first.
  EXPECT_EQ(log.rfind(L"<lone_end_tag tagname=\"x\" offset=\"3\"/>", 0), 0u);
  EXPECT_EQ(log.substr(log.size() - 2), L"/>");
  // And it is itself markup this reader can walk.
  XmlDocument logDoc;
  logDoc.SetText(log);
  int entries = 0;
  std::wstring offset;
  while (logDoc.FindNext(L"lone_end_tag")) {
    ++entries;
    EXPECT_TRUE(logDoc.GetAttrib(L"offset", &offset));
  }
  EXPECT_GT(entries, 20);
  EXPECT_EQ(offset, std::to_wstring(3 + 4 * (entries - 1)));
}

TEST(XmlParse, EachParseStartsAfresh) {
  XmlDocument d;
  EXPECT_FALSE(d.SetText(L"<a>"));
  EXPECT_NE(d.ResultLog(), L"");
  EXPECT_TRUE(d.SetText(L"<b/>"));
  EXPECT_EQ(d.ResultLog(), L"");
  EXPECT_EQ(d.ElementCount(), 2u);
  EXPECT_TRUE(d.FindNext(L"b"));
  EXPECT_FALSE(d.SetText(L""));
  EXPECT_FALSE(d.FindNext());
}

TEST(XmlParse, IndexGrowsByHalfAndSpansPages) {
  // 70,000 elements: more than one page of records and far more than the initial sizing
  // (text length / 64 + 8) provides.
  const uint32_t count = 70000;
  std::wstring text = L"<r>";
  for (uint32_t i = 0; i < count; ++i) text += (i % 2) ? L"<e/>" : L"<f>x</f>";
  text += L"</r>";
  XmlDocument d;
  ASSERT_TRUE(d.SetText(text));
  EXPECT_EQ(d.ElementCount(), count + 2);
  uint32_t capacity = static_cast<uint32_t>(text.size() / 64 + 8);
  while (capacity < count + 2) capacity += capacity / 2;
  EXPECT_EQ(d.IndexCapacity(), capacity);
  // Walk all children; records in the second page are linked like the others.
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.Descend());
  uint32_t seen = 0, lastStart = 0;
  while (d.FindNext()) {
    const ElementRecord& e = d.Record(d.MainPosition());
    EXPECT_GT(e.start, lastStart);
    lastStart = e.start;
    ++seen;
  }
  EXPECT_EQ(seen, count);
  EXPECT_EQ(d.TagName(), L"e");
  EXPECT_GT(d.MainPosition(), XmlDocument::kPageSize);
}

}  // namespace
}  // namespace vq
