// The archive reader: what the writer writes comes back byte for byte with its time, and every
// kind of bad input gets its own answer without more output than the entry states.
#include <gtest/gtest.h>

#include <string>

#include "platform/File.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TestSupport.h"
#include "tests/zip/ZipBytes.h"
#include "zip/Deflate.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

using namespace vq::zip;
using vqtest::BuildZip;
using vqtest::MemoryStream;
using vqtest::ZipSpec;

namespace {

std::string Mixed(size_t n) {
  std::string s;
  uint32_t x = 7;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    // Words from a small vocabulary with some noise: compressible, but not trivially.
    static const char* kWords[] = {"备份 ", "archive ", "the ", "zip ", "\r\n", "data ", "版本 "};
    s += kWords[(x >> 16) % 7];
    if ((x >> 8) % 5 == 0) s.push_back(char(x >> 24));
  }
  s.resize(n);
  return s;
}

ReadStatus ReadMemory(const std::string& zip, const char* password, std::string* out, ZipEntryInfo* info = nullptr) {
  MemoryStream in(zip);
  out->clear();
  return ZipExtract(
      in, password,
      [&](const uint8_t* p, size_t n) {
        out->append(reinterpret_cast<const char*>(p), n);
        return true;
      },
      info);
}

ZipSpec Deflated(const std::string& plain, int level = 8) {
  ZipSpec z;
  z.plain = plain;
  EXPECT_TRUE(DeflateBuffer(level, plain.data(), plain.size(), &z.compressed));
  return z;
}

class ZipReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = vqtest::MakeScratchDir(L"reader");
    // A wrong password passes the format's one-byte check for one header in 256; fixed header
    // bytes keep the wrong passwords below wrong on every run.
    ZipFixSeedForTest(4242);
  }
  void TearDown() override { ZipFixSeedForTest(-1); }
  // An archive written by the writer, as the backup pass writes it; returns its path.
  std::wstring Written(const std::wstring& entry, const std::string& data, const char* password) {
    const std::wstring src = dir_ + L"src.bin";
    EXPECT_TRUE(vq::platform::WriteFileAtomically(src, data));
    const std::wstring zip = dir_ + L"out.zip";
    ZipHandle h = ZipCreate(zip, password ? password : "");
    EXPECT_EQ(ZipAdd(h, entry, src), kZipSuccess);
    EXPECT_EQ(ZipClose(h), kZipSuccess);
    return zip;
  }
  std::wstring dir_;
};

TEST_F(ZipReaderTest, WhatTheWriterWritesReadsBackWithItsTime) {
  const char* passwords[] = {nullptr, "739", "\xe5\xaf\x86\xe7\xa0\x81"};  // none, ASCII, UTF-8 bytes
  const std::string contents[] = {"", "x", Mixed(300000)};
  for (const char* pw : passwords) {
    for (const std::string& data : contents) {
      for (const std::wstring entry : {L"a.txt", L"old.zip"}) {  // deflated and stored
        SCOPED_TRACE(testing::Message() << (pw ? pw : "(none)") << " " << data.size() << " " << vq::WideToUtf8(entry));
        const std::wstring zip = Written(entry, data, pw);
        std::string back;
        ZipEntryInfo info;
        ReadStatus s = ZipExtractFile(
            vq::platform::RealFileSystem(), zip, pw,
            [&](const uint8_t* p, size_t n) {
              back.append(reinterpret_cast<const char*>(p), n);
              return true;
            },
            &info);
        ASSERT_EQ(s, ReadStatus::Sound) << ReadStatusText(s);
        EXPECT_EQ(back, data);
        EXPECT_EQ(info.encrypted, pw != nullptr);
        EXPECT_EQ(info.method, entry == L"old.zip" ? 0 : 8);
        vq::platform::DirEntry st;
        ASSERT_TRUE(vq::platform::RealFileSystem().Stat(dir_ + L"src.bin", &st));
        EXPECT_TRUE(info.hasModified);
        EXPECT_EQ(info.modified, st.modified);
      }
    }
  }
}

TEST(ZipReader, EveryCompressionLevelInflates) {
  const std::string plain = Mixed(200000);
  for (int level = 1; level <= 8; ++level) {
    std::string back;
    ASSERT_EQ(ReadMemory(BuildZip(Deflated(plain, level)), nullptr, &back), ReadStatus::Sound) << level;
    EXPECT_EQ(back, plain) << level;
  }
}

TEST_F(ZipReaderTest, APasswordThatDoesNotFitIsToldApartFromDamage) {
  const std::wstring zip = Written(L"a.txt", Mixed(5000), "739");
  int sink_calls = 0;
  auto count = [&](const uint8_t*, size_t) { return ++sink_calls > 0; };
  EXPECT_EQ(ZipExtractFile(vq::platform::RealFileSystem(), zip, "738", count, nullptr), ReadStatus::WrongPassword);
  EXPECT_EQ(ZipExtractFile(vq::platform::RealFileSystem(), zip, nullptr, count, nullptr), ReadStatus::WrongPassword);
  EXPECT_EQ(ZipExtractFile(vq::platform::RealFileSystem(), zip, "", count, nullptr), ReadStatus::WrongPassword);
  EXPECT_EQ(sink_calls, 0) << "nothing is handed out under a wrong password";
  // A plain archive read with a password is simply read.
  const std::wstring plain = Written(L"a.txt", "abc", nullptr);
  EXPECT_EQ(ZipExtractFile(vq::platform::RealFileSystem(), plain, "739", {}, nullptr), ReadStatus::Sound);
}

TEST(ZipReader, TruncatedArchivesAreDamagedNeverSound) {
  ZipSpec z = Deflated(Mixed(20000));
  z.password = "739";
  const std::string zip = BuildZip(z);
  std::string back;
  ASSERT_EQ(ReadMemory(zip, "739", &back), ReadStatus::Sound);
  for (size_t cut = 0; cut < zip.size(); cut += (cut < 200 || zip.size() - cut < 200) ? 1 : 97) {
    ReadStatus s = ReadMemory(zip.substr(0, cut), "739", &back);
    ASSERT_NE(s, ReadStatus::Sound) << cut;
    // A file that begins like an archive is a damaged one; only an empty one is "not a ZIP".
    EXPECT_EQ(s, cut < 4 ? ReadStatus::NotZip : ReadStatus::Damaged) << cut;
  }
}

TEST(ZipReader, AlteredBytesAreCaught) {
  const std::string plain = Mixed(20000);
  for (const char* pw : {static_cast<const char*>(nullptr), "739"}) {
    ZipSpec z = Deflated(plain);
    z.password = pw;
    const std::string good = BuildZip(z);
    const size_t dataStart = 30 + z.name.size() + 9 + (pw ? 12 : 0);
    std::string back;
    // Anywhere in the data: the inflater or the CRC objects.
    for (size_t at = dataStart; at < dataStart + z.compressed.size(); at += 331) {
      std::string bad = good;
      bad[at] = char(bad[at] ^ 0x10);
      ReadStatus s = ReadMemory(bad, pw, &back);
      EXPECT_TRUE(s == ReadStatus::BadData || s == ReadStatus::CrcMismatch || s == ReadStatus::TooLong ||
                  s == ReadStatus::SizeMismatch)
          << at << " " << ReadStatusText(s);
      EXPECT_LE(back.size(), plain.size());
    }
    // The directory's CRC, size and name no longer agree with the local header or descriptor.
    const size_t cd = good.size() - 22 - (46 + z.name.size() + 9);
    for (size_t field : {16u, 20u, 24u, 46u}) {
      std::string bad = good;
      bad[cd + field] = char(bad[cd + field] ^ 1);
      EXPECT_EQ(ReadMemory(bad, pw, &back), ReadStatus::Damaged) << field;
    }
  }
}

TEST(ZipReader, ForeignAndUnsupportedArchivesAreNamed) {
  std::string back;
  EXPECT_EQ(ReadMemory("", nullptr, &back), ReadStatus::NotZip);
  EXPECT_EQ(ReadMemory(std::string(5000, 'x'), nullptr, &back), ReadStatus::NotZip);
  ZipSpec z = Deflated("hello hello hello");
  z.entries = 2;
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::EntryCount);
  z.entries = 0;
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::EntryCount);
  z.entries = 0xFFFF;  // a ZIP64 archive says so here
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::Unsupported);
  z.entries = 1;
  z.method = 12;  // bzip2
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::Unsupported);
  z.method = 99;  // AES without its field says nothing of how to read it
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::Damaged);
  // A directory of two headers under an end record that counts one.
  z.method = 8;
  const std::string one = BuildZip(z);
  const size_t header = 46 + z.name.size() + 9;
  std::string two =
      one.substr(0, one.size() - 22) + one.substr(one.size() - 22 - header, header) + one.substr(one.size() - 22);
  two[two.size() - 22 + 12] = char(2 * header);
  EXPECT_EQ(ReadMemory(two, nullptr, &back), ReadStatus::Damaged);
}

TEST(ZipReader, ADecompressionBombStopsAtItsStatedSize) {
  const std::string huge(8 << 20, 'A');  // 8 MiB of one letter deflate to a few KiB
  for (const char* pw : {static_cast<const char*>(nullptr), "739"}) {
    ZipSpec z = Deflated(huge);
    z.password = pw;
    z.statedSize = 1000;
    z.plain = huge.substr(0, 1000);  // the CRC of what the entry claims to be
    size_t handedOut = 0;
    MemoryStream in(BuildZip(z));
    ReadStatus s = ZipExtract(
        in, pw, [&](const uint8_t*, size_t n) { return (handedOut += n) > 0; }, nullptr);
    EXPECT_EQ(s, ReadStatus::TooLong);
    EXPECT_EQ(handedOut, 1000u);
  }
  // Stored data longer than stated is cut at the same place.
  ZipSpec z;
  z.method = 0;
  z.plain = std::string(5000, 'b');
  z.compressed = z.plain;
  z.statedSize = 10;
  std::string back;
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::TooLong);
  EXPECT_EQ(back.size(), 10u);
}

TEST(ZipReader, ShortDataAndAWrongCrc) {
  ZipSpec z = Deflated(Mixed(3000));
  z.statedSize = 3001;
  std::string back;
  EXPECT_EQ(ReadMemory(BuildZip(z), nullptr, &back), ReadStatus::SizeMismatch);
  ZipSpec other = Deflated(Mixed(3000));
  other.plain[5] ^= 1;  // the CRC of different bytes of the same size
  EXPECT_EQ(ReadMemory(BuildZip(other), nullptr, &back), ReadStatus::CrcMismatch);
  // A stream that stops before its end block.
  ZipSpec cut = Deflated(Mixed(3000));
  cut.compressed.resize(cut.compressed.size() / 2);
  EXPECT_EQ(ReadMemory(BuildZip(cut), nullptr, &back), ReadStatus::BadData);
}

TEST_F(ZipReaderTest, SinkAndReadFailuresAreNotDamage) {
  const std::wstring zip = Written(L"a.txt", Mixed(100000), "739");
  EXPECT_EQ(ZipExtractFile(
                vq::platform::RealFileSystem(), zip, "739", [](const uint8_t*, size_t) { return false; }, nullptr),
            ReadStatus::OutputFailed);
  vqtest::FaultyFileSystem faulty;
  faulty.failReadsOf = L"out.zip";
  faulty.readOkBytes = 100;
  EXPECT_EQ(ZipExtractFile(faulty, zip, "739", {}, nullptr), ReadStatus::OpenFailed);
  EXPECT_EQ(ZipExtractFile(faulty, dir_ + L"missing.zip", "739", {}, nullptr), ReadStatus::OpenFailed);
}

// ---- AES entries

ZipSpec AesDeflated(const std::string& plain) {
  ZipSpec z = Deflated(plain);
  z.password = "739";
  z.aes.on = true;
  return z;
}

TEST(ZipReaderAes, AesEntriesOfBothKindsAndMethodsReadBack) {
  for (const std::string& plain : {std::string(), std::string("x"), Mixed(200000)}) {
    for (uint16_t vendor : {uint16_t(1), uint16_t(2)}) {
      for (uint16_t method : {uint16_t(0), uint16_t(8)}) {
        SCOPED_TRACE(testing::Message() << plain.size() << " AE-" << vendor << " method " << method);
        ZipSpec z = AesDeflated(plain);
        z.aes.vendor = vendor;
        if (method == 0) {
          z.method = 0;
          z.compressed = plain;
        }
        std::string back;
        ZipEntryInfo info;
        ASSERT_EQ(ReadMemory(BuildZip(z), "739", &back, &info), ReadStatus::Sound);
        EXPECT_EQ(back, plain);
        EXPECT_TRUE(info.aes);
        EXPECT_EQ(info.method, 99);
        EXPECT_EQ(info.dataMethod, method);
        EXPECT_EQ(info.aesVendor, vendor);
      }
    }
  }
  // AE-1 keeps the CRC, and it is checked: an authentic entry whose CRC disagrees is not sound.
  ZipSpec z = AesDeflated(Mixed(3000));
  z.aes.vendor = 1;
  z.plain[7] ^= 1;
  std::string back;
  EXPECT_EQ(ReadMemory(BuildZip(z), "739", &back), ReadStatus::CrcMismatch);
}

TEST(ZipReaderAes, AWrongPasswordIsToldFromDamageByVerifierAndCode) {
  const ZipSpec z = AesDeflated(Mixed(20000));
  const std::string zip = BuildZip(z);
  std::string back;
  int sinkCalls = 0;
  MemoryStream in(zip);
  EXPECT_EQ(ZipExtract(
                in, "738", [&](const uint8_t*, size_t) { return ++sinkCalls > 0; }, nullptr),
            ReadStatus::WrongPassword);
  EXPECT_EQ(sinkCalls, 0) << "nothing is handed out under a wrong password";
  EXPECT_EQ(ReadMemory(zip, nullptr, &back), ReadStatus::WrongPassword);
  MemoryStream opens(zip);
  ZipEntryInfo info;
  EXPECT_EQ(ZipCheckOpens(opens, "739", &info), ReadStatus::Sound);
  MemoryStream wrong(zip);
  EXPECT_EQ(ZipCheckOpens(wrong, "738", &info), ReadStatus::WrongPassword);
  EXPECT_TRUE(info.aes);

  // A forged verifier turns the right password away without reading the data.
  ZipSpec forged = z;
  forged.aes.verifierXor = 0x40;
  EXPECT_EQ(ReadMemory(BuildZip(forged), "739", &back), ReadStatus::WrongPassword);

  // Any changed byte of the ciphered data or of the code: never sound, and told as such even
  // where the garbage happens to inflate.
  const size_t dataStart = 30 + z.name.size() + 9 + kAesExtraLen + 18;
  for (size_t at = dataStart; at < zip.size() - 22 - (46 + z.name.size() + 9 + kAesExtraLen); at += 97) {
    std::string bad = zip;
    bad[at] = char(bad[at] ^ 0x01);
    EXPECT_EQ(ReadMemory(bad, "739", &back), ReadStatus::AuthFailed) << at;
  }
  ZipSpec badMac = z;
  badMac.aes.macXor = 0x80;
  EXPECT_EQ(ReadMemory(BuildZip(badMac), "739", &back), ReadStatus::AuthFailed);
  // A salt changed after the fact gives other keys: the verifier no longer fits (or, one time in
  // 65,536, the code does not).
  std::string saltChanged = zip;
  saltChanged[dataStart - 18] ^= 1;
  ReadStatus s = ReadMemory(saltChanged, "739", &back);
  EXPECT_TRUE(s == ReadStatus::WrongPassword || s == ReadStatus::AuthFailed) << ReadStatusText(s);
}

TEST(ZipReaderAes, HostileFieldsAndACutCodeAreNeverSound) {
  std::string back;
  // The code cut short: the sizes counting fewer bytes, or the file itself cut.
  for (size_t kept : {0u, 1u, 9u}) {
    ZipSpec z = AesDeflated(Mixed(5000));
    z.aes.macKept = kept;
    EXPECT_EQ(ReadMemory(BuildZip(z), "739", &back), ReadStatus::AuthFailed) << kept;
  }
  ZipSpec tiny = AesDeflated("");
  tiny.compressed.clear();  // salt, verifier and a partial code: less than the format's minimum
  tiny.aes.macKept = 9;
  EXPECT_EQ(ReadMemory(BuildZip(tiny), "739", &back), ReadStatus::Damaged);
  const std::string whole = BuildZip(AesDeflated(Mixed(5000)));
  for (size_t cut = 4; cut < whole.size(); cut += 61)
    EXPECT_EQ(ReadMemory(whole.substr(0, cut), "739", &back), ReadStatus::Damaged) << cut;

  struct Case {
    const char* what;
    void (*change)(ZipSpec*);
    ReadStatus expected;
  };
  const Case cases[] = {
      {"AES-128 (an 8-byte salt)", [](ZipSpec* z) { z->aes.strength = z->aes.localStrength = 1; },
       ReadStatus::Unsupported},
      {"AES-192 (a 12-byte salt)", [](ZipSpec* z) { z->aes.strength = z->aes.localStrength = 2; },
       ReadStatus::Unsupported},
      {"no strength", [](ZipSpec* z) { z->aes.strength = z->aes.localStrength = 0; }, ReadStatus::Damaged},
      {"strength 4", [](ZipSpec* z) { z->aes.strength = z->aes.localStrength = 4; }, ReadStatus::Damaged},
      {"strength 0xFF", [](ZipSpec* z) { z->aes.strength = z->aes.localStrength = 0xFF; }, ReadStatus::Damaged},
      {"local strength differs", [](ZipSpec* z) { z->aes.localStrength = 1; }, ReadStatus::Damaged},
      {"no local field", [](ZipSpec* z) { z->aes.inLocal = false; }, ReadStatus::Damaged},
      {"field of 6 bytes", [](ZipSpec* z) { z->aes.fieldLen = 6; }, ReadStatus::Damaged},
      {"field of 8 bytes", [](ZipSpec* z) { z->aes.fieldLen = 8; }, ReadStatus::Damaged},
      {"vendor version 3", [](ZipSpec* z) { z->aes.vendor = 3; }, ReadStatus::Damaged},
      {"data method bzip2", [](ZipSpec* z) { z->method = 12; }, ReadStatus::Unsupported},
  };
  for (const Case& c : cases) {
    ZipSpec z = AesDeflated(Mixed(5000));
    c.change(&z);
    EXPECT_EQ(ReadMemory(BuildZip(z), "739", &back), c.expected) << c.what;
  }
  // Method 99 without the encryption flag.
  std::string noFlag = whole;
  const size_t cd = whole.size() - 22 - (46 + 5 + 9 + kAesExtraLen);
  noFlag[6] = 0;
  noFlag[cd + 8] = 0;
  EXPECT_EQ(ReadMemory(noFlag, "739", &back), ReadStatus::Damaged);
}

TEST(ZipReaderAes, ADecompressionBombStopsAtItsStatedSizeAndIsStillAuthenticated) {
  const std::string huge(8 << 20, 'A');
  ZipSpec z = AesDeflated(huge);
  z.statedSize = 1000;
  z.plain = huge.substr(0, 1000);
  size_t handedOut = 0;
  MemoryStream in(BuildZip(z));
  EXPECT_EQ(ZipExtract(
                in, "739", [&](const uint8_t*, size_t n) { return (handedOut += n) > 0; }, nullptr),
            ReadStatus::TooLong);
  EXPECT_EQ(handedOut, 1000u);
}

}  // namespace
