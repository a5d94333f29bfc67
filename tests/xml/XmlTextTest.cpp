// Element text: references, CDATA sections, comments, and the whitespace flags.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/Text.h"
#include "xml/XmlDocument.h"

namespace vq {
namespace {

std::wstring TextOf(const std::wstring& content) {
  XmlDocument d;
  EXPECT_TRUE(d.SetText(L"<e>" + content + L"</e>")) << content;
  EXPECT_TRUE(d.FindNext(L"e"));
  return d.ElementText();
}

std::wstring Cp(uint32_t cp) {
  std::wstring s;
  AppendCodePoint(s, cp);
  return s;
}

TEST(XmlText, ContentKinds) {
  EXPECT_EQ(TextOf(L"a &amp; b"), L"a & b");
  EXPECT_EQ(TextOf(L"<![CDATA[<b>x & y</b>]]>"), L"<b>x & y</b>");
  EXPECT_EQ(TextOf(L"<![CDATA[&amp;]]>"), L"&amp;");  // no decoding inside CDATA
  EXPECT_EQ(TextOf(L"a<!-- c -->b"), L"ab");
  EXPECT_EQ(TextOf(L"a<?pi x?>b"), L"ab");
  EXPECT_EQ(TextOf(L" x <![CDATA[y]]> z "), L" x y z ");
  // Whitespace-only runs between markup are dropped; text keeps its spaces.
  EXPECT_EQ(TextOf(L"\r\n  <![CDATA[y]]>\r\n  "), L"y");
  EXPECT_EQ(TextOf(L"<![CDATA[a]]]]><![CDATA[>b]]>"), L"a]]>b");
  EXPECT_EQ(TextOf(L"<![CDATA[]]>"), L"");
  EXPECT_EQ(TextOf(L"  "), L"  ");
  EXPECT_EQ(TextOf(L""), L"");
}

TEST(XmlText, EmptyWhenThereIsNoTextToGive) {
  XmlDocument d;
  EXPECT_EQ(d.ElementText(), L"");
  ASSERT_TRUE(d.SetText(L"<r>x<c/>y</r>"));
  EXPECT_EQ(d.ElementText(), L"");  // no main element
  ASSERT_TRUE(d.FindNext(L"r"));
  EXPECT_EQ(d.ElementText(), L"");  // has a child element
  ASSERT_TRUE(d.SetText(L"<r a='x'/>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  EXPECT_EQ(d.ElementText(), L"");
  // An unended element owns only its start tag.
  ASSERT_FALSE(d.SetText(L"<r><u>text</r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  ASSERT_TRUE(d.FindChild(L"u"));
  ASSERT_TRUE(d.Descend());
  EXPECT_EQ(d.ElementText(), L"");
}

TEST(XmlText, NumericReferences) {
  EXPECT_EQ(TextOf(L"&#65;&#x41;&#X41;&#x0041;&#0065;"), L"AAAAA");
  EXPECT_EQ(TextOf(L"&#x4e2d;&#20013;"), L"\x4e2d\x4e2d");
  // Beyond the BMP: a surrogate pair where wchar_t is 16 bits, one unit where it is 32.
  const std::wstring emoji = TextOf(L"&#x1F600;");
  if (sizeof(wchar_t) == 2) {
    ASSERT_EQ(emoji.size(), 2u);
    EXPECT_EQ(static_cast<uint32_t>(emoji[0]), 0xD83Du);
    EXPECT_EQ(static_cast<uint32_t>(emoji[1]), 0xDE00u);
  } else {
    ASSERT_EQ(emoji.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(emoji[0]), 0x1F600u);
  }
  EXPECT_EQ(TextOf(L"&#x10FFFF;"), Cp(0x10FFFF));
  // Nothing that is not a character: the reference stays as written.
  for (const wchar_t* bad :
       {L"&#0;", L"&#x0;", L"&#x110000;", L"&#1114112;", L"&#xD800;", L"&#xDFFF;", L"&#55296;", L"&#xFFFFFFF;",
        L"&#99999999;", L"&#;", L"&#x;", L"&#12a;", L"&#x12g;", L"&#-1;", L"&# 65;"}) {
    EXPECT_EQ(TextOf(bad), bad) << bad;
  }
}

TEST(XmlText, NamedReferences) {
  EXPECT_EQ(TextOf(L"&lt;&gt;&amp;&quot;&apos;"), L"<>&\"'");
  EXPECT_EQ(TextOf(L"&AMP;&Amp;&LT;"), L"&&<");
  EXPECT_EQ(TextOf(L"&nbsp;&copy;&euro;&hellip;&thetasym;"), L"\x00a0\x00a9\x20ac\x2026\x03d1");
  // Unknown names, no ';' within reach, a non-ASCII name: copied as they stand.
  for (const wchar_t* bad :
       {L"&foo;", L"&amp", L"&amp x;", L"&;", L"& amp;", L"&thetasymx;", L"&am\x4e2d;", L"&&amp", L"a & b"}) {
    EXPECT_EQ(TextOf(bad), bad) << bad;
  }
  EXPECT_EQ(TextOf(L"&&amp;"), L"&&");
  EXPECT_EQ(TextOf(L"&amp;amp;"), L"&amp;");  // decoded once
}

TEST(XmlText, NamesWithTwoCasesPreferTheSpellingGiven) {
  EXPECT_EQ(TextOf(L"&Agrave;&agrave;"), L"\x00c0\x00e0");
  EXPECT_EQ(TextOf(L"&lArr;&larr;&Prime;&prime;"), L"\x21d0\x2190\x2033\x2032");
  EXPECT_EQ(TextOf(L"&AElig;&aelig;&ETH;&eth;&THORN;&thorn;"), L"\x00c6\x00e6\x00d0\x00f0\x00de\x00fe");
  EXPECT_EQ(TextOf(L"&Yuml;&yuml;&Sigma;&sigma;&sigmaf;"), L"\x0178\x00ff\x03a3\x03c3\x03c2");
  // Neither spelling: the small-letter one.
  EXPECT_EQ(TextOf(L"&AGRAVE;&LARR;&PRIME;&aGrave;"), L"\x00e0\x2190\x2032\x00e0");
}

// Every name of the HTML 4 table, listed from an outside source, decodes to its code point.
TEST(XmlText, AllHtml4NamesDecode) {
  const wchar_t* table =
      L"AElig=198 Aacute=193 Acirc=194 Agrave=192 Alpha=913 Aring=197 Atilde=195 Auml=196 Beta=914 "
      L"Ccedil=199 Chi=935 Dagger=8225 Delta=916 ETH=208 Eacute=201 Ecirc=202 Egrave=200 "
      L"Epsilon=917 Eta=919 Euml=203 Gamma=915 Iacute=205 Icirc=206 Igrave=204 Iota=921 Iuml=207 "
      L"Kappa=922 Lambda=923 Mu=924 Ntilde=209 Nu=925 OElig=338 Oacute=211 Ocirc=212 Ograve=210 "
      L"Omega=937 Omicron=927 Oslash=216 Otilde=213 Ouml=214 Phi=934 Pi=928 Prime=8243 Psi=936 "
      L"Rho=929 Scaron=352 Sigma=931 THORN=222 Tau=932 Theta=920 Uacute=218 Ucirc=219 Ugrave=217 "
      L"Upsilon=933 Uuml=220 Xi=926 Yacute=221 Yuml=376 Zeta=918 aacute=225 acirc=226 acute=180 "
      L"aelig=230 agrave=224 alefsym=8501 alpha=945 amp=38 and=8743 ang=8736 aring=229 asymp=8776 "
      L"atilde=227 auml=228 bdquo=8222 beta=946 brvbar=166 bull=8226 cap=8745 ccedil=231 cedil=184 "
      L"cent=162 chi=967 circ=710 clubs=9827 cong=8773 copy=169 crarr=8629 cup=8746 curren=164 "
      L"dArr=8659 dagger=8224 darr=8595 deg=176 delta=948 diams=9830 divide=247 eacute=233 "
      L"ecirc=234 egrave=232 empty=8709 emsp=8195 ensp=8194 epsilon=949 equiv=8801 eta=951 eth=240 "
      L"euml=235 euro=8364 exist=8707 fnof=402 forall=8704 frac12=189 frac14=188 frac34=190 "
      L"frasl=8260 gamma=947 ge=8805 gt=62 hArr=8660 harr=8596 hearts=9829 hellip=8230 iacute=237 "
      L"icirc=238 iexcl=161 igrave=236 image=8465 infin=8734 int=8747 iota=953 iquest=191 "
      L"isin=8712 iuml=239 kappa=954 lArr=8656 lambda=955 lang=9001 laquo=171 larr=8592 lceil=8968 "
      L"ldquo=8220 le=8804 lfloor=8970 lowast=8727 loz=9674 lrm=8206 lsaquo=8249 lsquo=8216 lt=60 "
      L"macr=175 mdash=8212 micro=181 middot=183 minus=8722 mu=956 nabla=8711 nbsp=160 ndash=8211 "
      L"ne=8800 ni=8715 not=172 notin=8713 nsub=8836 ntilde=241 nu=957 oacute=243 ocirc=244 "
      L"oelig=339 ograve=242 oline=8254 omega=969 omicron=959 oplus=8853 or=8744 ordf=170 ordm=186 "
      L"oslash=248 otilde=245 otimes=8855 ouml=246 para=182 part=8706 permil=8240 perp=8869 "
      L"phi=966 pi=960 piv=982 plusmn=177 pound=163 prime=8242 prod=8719 prop=8733 psi=968 quot=34 "
      L"rArr=8658 radic=8730 rang=9002 raquo=187 rarr=8594 rceil=8969 rdquo=8221 real=8476 reg=174 "
      L"rfloor=8971 rho=961 rlm=8207 rsaquo=8250 rsquo=8217 sbquo=8218 scaron=353 sdot=8901 "
      L"sect=167 shy=173 sigma=963 sigmaf=962 sim=8764 spades=9824 sub=8834 sube=8838 sum=8721 "
      L"sup=8835 sup1=185 sup2=178 sup3=179 supe=8839 szlig=223 tau=964 there4=8756 theta=952 "
      L"thetasym=977 thinsp=8201 thorn=254 tilde=732 times=215 trade=8482 uArr=8657 uacute=250 "
      L"uarr=8593 ucirc=251 ugrave=249 uml=168 upsih=978 upsilon=965 uuml=252 weierp=8472 xi=958 "
      L"yacute=253 yen=165 yuml=255 zeta=950 zwj=8205 zwnj=8204 ";
  std::wistringstream in(table);
  std::wstring item;
  int count = 0;
  while (in >> item) {
    const size_t eq = item.find(L'=');
    ASSERT_NE(eq, std::wstring::npos);
    const std::wstring name = item.substr(0, eq);
    const uint32_t cp = static_cast<uint32_t>(std::stoul(item.substr(eq + 1)));
    EXPECT_EQ(TextOf(L"&" + name + L";"), Cp(cp)) << name;
    ++count;
  }
  EXPECT_EQ(count, 252);
  EXPECT_EQ(TextOf(L"&apos;"), L"'");
}

TEST(XmlText, ReferencesInAttributeValues) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r a=\"1 &lt; 2\" b='&#x4e2d;' c=u d e = \"sp\"/>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  std::wstring v;
  EXPECT_TRUE(d.GetAttrib(L"a", &v));
  EXPECT_EQ(v, L"1 < 2");
  EXPECT_TRUE(d.GetAttrib(L"b", &v));
  EXPECT_EQ(v, L"\x4e2d");
  EXPECT_TRUE(d.GetAttrib(L"c", &v));
  EXPECT_EQ(v, L"u");
  EXPECT_TRUE(d.GetAttrib(L"d", &v));
  EXPECT_EQ(v, L"");
  EXPECT_TRUE(d.GetAttrib(L"e", &v));
  EXPECT_EQ(v, L"sp");
  EXPECT_FALSE(d.GetAttrib(L"f", &v));
  EXPECT_FALSE(d.GetAttrib(L"r", &v));  // the tag name is not an attribute
}

TEST(XmlText, WhitespaceFlags) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<r>\r\n  two \t words\r\n</r>"));
  ASSERT_TRUE(d.FindNext(L"r"));
  EXPECT_EQ(d.ElementText(), L"\r\n  two \t words\r\n");
  d.SetFlags(kXmlTrimWhitespace);
  EXPECT_EQ(d.ElementText(), L"two \t words");
  d.SetFlags(kXmlCollapseWhitespace);
  EXPECT_EQ(d.ElementText(), L"two words");
  d.SetFlags(kXmlTrimWhitespace | kXmlCollapseWhitespace);
  EXPECT_EQ(d.ElementText(), L"two words");
  // Text nodes follow the same flags.
  d.SetFlags(kXmlCollapseWhitespace);
  d.ResetPos();
  d.FindNext(L"r");
  d.Descend();
  ASSERT_TRUE(d.FindNode(kNodeText));
  EXPECT_EQ(d.NodeText(), L"two words");
  // The streaming bits are not the caller's to set.
  d.SetFlags(kXmlStreamWrite | kXmlStreamRead);
  EXPECT_EQ(d.Flags(), 0u);
  EXPECT_TRUE(d.SetText(L"<r/>"));
}

}  // namespace
}  // namespace vq
