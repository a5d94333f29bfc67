// File operations: encoding detection, conversion, streaming reads and writes, and their
// result-log entries. Real files in a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "xml/XmlDocument.h"

namespace vq {
namespace {

namespace fs = std::filesystem;

class XmlFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vq_xml_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::wstring Write(const char* name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p.wstring();
  }
  std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static bool Has(const std::wstring& log, const std::wstring& entry) { return log.find(entry) != std::wstring::npos; }

  fs::path dir_;
};

std::string Utf16Bytes(const std::wstring& text, bool bigEndian) {
  std::string le = WideToUtf16LEBytes(text);
  if (bigEndian)
    for (size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
  return le;
}

const std::wstring kDoc = L"<r a=\"\x4e2d\">\x6587\x5b57 &amp; \x00e9 <![CDATA[\x4e2d]]></r>";
const std::wstring kText = L"\x6587\x5b57 & \x00e9 \x4e2d";

TEST_F(XmlFile, ByteOrderMarksDecideTheEncoding) {
  const struct {
    const char* name;
    std::string bytes;
    const wchar_t* encoding;
  } cases[] = {
      {"u8.xml", "\xEF\xBB\xBF" + WideToUtf8(kDoc), L"UTF-8"},
      {"le.xml", "\xFF\xFE" + Utf16Bytes(kDoc, false), L"UTF-16LE"},
      {"be.xml", "\xFE\xFF" + Utf16Bytes(kDoc, true), L"UTF-16BE"},
  };
  for (const auto& c : cases) {
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write(c.name, c.bytes))) << c.name << " " << WideToUtf8(d.ResultLog());
    EXPECT_EQ(d.Text(), kDoc) << c.name;
    ASSERT_TRUE(d.FindNext(L"r"));
    EXPECT_EQ(d.ElementText(), kText);
    const std::wstring& log = d.ResultLog();
    EXPECT_EQ(log.rfind(std::wstring(L"<bom encoding=\"") + c.encoding + L"\"/>", 0), 0u) << WideToUtf8(log);
    // One read of the whole small file, mark included.
    const std::wstring read =
        std::wstring(L"<read encoding=\"") + c.encoding + L"\" length=\"" + std::to_wstring(c.bytes.size()) + L"\"/>";
    EXPECT_TRUE(Has(log, read)) << WideToUtf8(log) << " lacks " << WideToUtf8(read);
    EXPECT_EQ(Has(log, L"<endian_swap/>"), c.encoding == std::wstring(L"UTF-16BE"));
  }
}

TEST_F(XmlFile, DeclarationsAndDetectionWithoutAMark) {
  {
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("decl.xml", "<?xml version='1.0' encoding = \"utf-8\" ?>" + WideToUtf8(kDoc))));
    EXPECT_EQ(d.ResultLog().find(L"<bom"), std::wstring::npos);
    ASSERT_TRUE(d.FindNext(L"r"));
    EXPECT_EQ(d.ElementText(), kText);
  }
  {
    // Declared code-page text is read through the platform's code page.
    const std::wstring doc = L"<?xml version=\"1.0\" encoding=\"GBK\"?><r>\x4e2d\x6587</r>";
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("gbk.xml", platform::WideToAnsi(doc))));
    EXPECT_EQ(d.Text(), doc);
    EXPECT_TRUE(Has(d.ResultLog(), L"<converted_from encoding=\"GBK\"/>")) << WideToUtf8(d.ResultLog());
  }
  {
    const std::string html =
        "<html><head><title>t</title><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=gb2312\"></head><body/></html>";
    XmlDocument d;
    d.Load(Write("page.html", html));
    EXPECT_TRUE(Has(d.ResultLog(), L"<converted_from encoding=\"gb2312\"/>")) << WideToUtf8(d.ResultLog());
  }
  {
    // Starts with '<' and declares nothing: UTF-8 without testing.
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("plain.xml", WideToUtf8(kDoc))));
    EXPECT_EQ(d.Text(), kDoc);
    EXPECT_EQ(d.ResultLog().find(L"utf8_detection"), std::wstring::npos);
  }
  {
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("lead.xml", "\r\n" + WideToUtf8(kDoc))));
    EXPECT_TRUE(Has(d.ResultLog(), L"<utf8_detection encoding=\"UTF-8\"/>"));
    EXPECT_EQ(d.Text(), L"\r\n" + kDoc);
  }
  {
    // Bytes that are not UTF-8 fall back to the code page.
    XmlDocument d;
    d.Load(Write("latin.xml", " <r>\xB0\xA1\xFF</r>"));
    EXPECT_TRUE(Has(d.ResultLog(), L"<utf8_detection encoding=\"ANSI\"/>")) << WideToUtf8(d.ResultLog());
  }
}

TEST_F(XmlFile, NulsAndCutOffEndings) {
  {
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("nul16.xml", "\xFF\xFE" + Utf16Bytes(std::wstring(L"<r>a\0b\0</r>", 11), false))));
    EXPECT_EQ(d.Text(), L"<r>ab</r>");
    EXPECT_TRUE(Has(d.ResultLog(), L"<nulls_removed count=\"2\"/>")) << WideToUtf8(d.ResultLog());
  }
  {
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("cut8.xml", "<r>x</r>\xE4\xB8")));
    EXPECT_EQ(d.Text(), L"<r>x</r>\xFFFD");
    EXPECT_TRUE(Has(d.ResultLog(), L"<truncation_error length=\"2\"/>")) << WideToUtf8(d.ResultLog());
  }
  {
    XmlDocument d;
    EXPECT_TRUE(d.Load(Write("cut16.xml", "\xFF\xFE" + Utf16Bytes(L"<r/>", false) + "A")));
    EXPECT_EQ(d.Text(), L"<r/>");
    EXPECT_TRUE(Has(d.ResultLog(), L"<truncation_error length=\"1\"/>"));
  }
  {
    XmlDocument d;
    d.Load(Write("bad8.xml", "<r>\xC3(</r>"));
    EXPECT_TRUE(Has(d.ResultLog(), L"<conversion_loss encoding=\"UTF-8\"/>"));
  }
}

TEST_F(XmlFile, StreamingReadInSmallPiecesKeepsCharactersWhole) {
  // Characters of two, three and four bytes, and surrogate pairs in UTF-16, cut at every point.
  std::wstring doc = L"<r>";
  for (int i = 0; i < 300; ++i) {
    doc += L"\x00e9\x4e2d";
    AppendCodePoint(doc, 0x1F600);
  }
  doc += L"</r>";
  for (const auto& file :
       {std::make_pair("s8.xml", WideToUtf8(doc)), std::make_pair("s16.xml", "\xFF\xFE" + Utf16Bytes(doc, false)),
        std::make_pair("s16be.xml", "\xFE\xFF" + Utf16Bytes(doc, true))}) {
    const std::wstring path = Write(file.first, file.second);
    for (size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
      XmlDocument d;
      ASSERT_TRUE(d.Open(path, kXmlFileRead));
      EXPECT_FALSE(d.SetText(L"<x/>"));  // refused while a file is open
      std::wstring all;
      while (d.ReadText(&all, piece)) {
      }
      EXPECT_EQ(all, doc) << file.first << " piece " << piece;
      EXPECT_EQ(d.ResultLog().find(L"truncation_error"), std::wstring::npos);
      d.Close();
      EXPECT_TRUE(d.SetText(L"<x/>"));
    }
  }
}

TEST_F(XmlFile, WriteAppendAndSave) {
  const std::wstring path = (dir_ / "out.xml").wstring();
  XmlDocument d;
  ASSERT_TRUE(d.SetText(kDoc));
  ASSERT_TRUE(d.Save(path));
  EXPECT_EQ(ReadBytes(path), WideToUtf8(kDoc));

  ASSERT_TRUE(d.Open(path, kXmlFileAppend));
  EXPECT_FALSE(d.FindNext(L"r"));  // navigation is off while writing
  EXPECT_FALSE(d.Open(path, kXmlFileRead));
  ASSERT_TRUE(d.WriteText(L"<!-- \x4e2d -->"));
  EXPECT_TRUE(Has(d.ResultLog(), L"<write encoding=\"UTF-8\" length=\"12\"/>")) << WideToUtf8(d.ResultLog());
  d.Close();
  EXPECT_TRUE(d.FindNext(L"r"));
  EXPECT_EQ(ReadBytes(path), WideToUtf8(kDoc + L"<!-- \x4e2d -->"));

  // Appending to a UTF-16 file continues in UTF-16.
  const std::wstring wide = Write("wide.xml", "\xFF\xFE" + Utf16Bytes(L"<r>", false));
  ASSERT_TRUE(d.Open(wide, kXmlFileAppend));
  ASSERT_TRUE(d.WriteText(L"\x4e2d</r>"));
  d.Close();
  XmlDocument back;
  EXPECT_TRUE(back.Load(wide));
  EXPECT_EQ(back.Text(), L"<r>\x4e2d</r>");

  // Write replaces the content.
  ASSERT_TRUE(d.Open(path, kXmlFileWrite));
  ASSERT_TRUE(d.WriteText(L"<n/>"));
  d.Close();
  EXPECT_EQ(ReadBytes(path), "<n/>");
  EXPECT_FALSE(d.ReadText(nullptr));
  EXPECT_FALSE(d.WriteText(L"x"));  // nothing open
}

TEST_F(XmlFile, FailuresAreLoggedNotHidden) {
  XmlDocument d;
  ASSERT_TRUE(d.SetText(L"<keep/>"));
  EXPECT_FALSE(d.Load((dir_ / "missing.xml").wstring()));
  EXPECT_TRUE(Has(d.ResultLog(), L"<file_error msg=\"")) << WideToUtf8(d.ResultLog());
  EXPECT_EQ(d.Text(), L"<keep/>");
  EXPECT_FALSE(d.Save((dir_ / "no" / "such" / "dir.xml").wstring()));
  EXPECT_TRUE(Has(d.ResultLog(), L"<file_error msg=\""));
  EXPECT_FALSE(d.Open((dir_ / "x.xml").wstring(), kXmlFileRead | kXmlFileWrite));
}

}  // namespace
}  // namespace vq
