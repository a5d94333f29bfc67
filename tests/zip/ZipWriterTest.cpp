// The archive writer, checked from the bytes it writes: header layouts and offsets, flags,
// encryption, and every failure path driven on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/zip/TestInflate.h"
#include "zip/Alloc.h"
#include "zip/Crc32.h"
#include "zip/ZipCipher.h"
#include "zip/ZipWriter.h"

namespace fs = std::filesystem;
using namespace vq::zip;

namespace {

uint32_t U16(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b.at(at))) | uint32_t(uint8_t(b.at(at + 1))) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void WriteAll(const fs::path& p, const std::string& data) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
}

// Deciphers with our own key schedule run backwards (the decryption step of the cipher).
std::string Decipher(ZipCipherKeys* k, const std::string& in) {
  std::string out = in;
  for (auto& c : out) {
    uint8_t p = uint8_t(c) ^ CipherStreamByte(*k);
    CipherUpdateKeys(k, p);
    c = char(p);
  }
  return out;
}

class ZipWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vq_zip_test_" + std::to_string(std::random_device{}()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    ZipFailAllocationForTest(0);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path Source(const std::string& name, const std::string& data) {
    fs::path p = dir_ / name;
    WriteAll(p, data);
    return p;
  }
  // One entry written as the backup pass writes it.
  std::string OneEntry(const std::wstring& entry, const std::string& data, const char* password,
                       uint32_t* add_result = nullptr) {
    fs::path src = Source("src.bin", data);
    fs::path zip = dir_ / "out.zip";
    ZipHandle h = ZipCreate(zip.wstring(), password ? password : "");
    EXPECT_NE(h, nullptr);
    uint32_t r = ZipAdd(h, entry, src.wstring());
    if (add_result) {
      *add_result = r;
    } else {
      EXPECT_EQ(r, kZipSuccess);
    }
    EXPECT_EQ(ZipClose(h), kZipSuccess);
    return ReadAll(zip);
  }
  fs::path dir_;
};

TEST_F(ZipWriterTest, PlainEntryLayout) {
  std::string zip = OneEntry(L"a.txt", "hello", nullptr);
  const uint32_t crc = Crc32Update(0, "hello", 5);
  // Local header, rewritten with the final values; no descriptor.
  ASSERT_GE(zip.size(), 134u);
  const size_t c = zip.size() - 134;
  EXPECT_EQ(U32(zip, 0), 0x04034B50u);
  EXPECT_EQ(U16(zip, 4), 20u);
  EXPECT_EQ(U16(zip, 6), 0x0002u);
  EXPECT_EQ(U16(zip, 8), 8u);
  EXPECT_EQ(U32(zip, 14), crc);
  EXPECT_EQ(U32(zip, 18), c);
  EXPECT_EQ(U32(zip, 22), 5u);
  EXPECT_EQ(U16(zip, 26), 5u);
  EXPECT_EQ(U16(zip, 28), 17u);
  EXPECT_EQ(zip.substr(30, 5), "a.txt");
  EXPECT_EQ(U16(zip, 35), 0x5455u);
  EXPECT_EQ(U16(zip, 37), 13u);
  EXPECT_EQ(uint8_t(zip[39]), 7u);
  vqtest::InflateResult data = vqtest::TestInflate(zip.substr(52, c));
  ASSERT_TRUE(data.ok) << data.error;
  EXPECT_EQ(data.out, "hello");
  // Central directory at 52 + c.
  const size_t cd = 52 + c;
  EXPECT_EQ(U32(zip, cd), 0x02014B50u);
  EXPECT_EQ(U16(zip, cd + 4), 0x0B17u);
  EXPECT_EQ(U16(zip, cd + 6), 20u);
  EXPECT_EQ(U16(zip, cd + 8), 0x0002u);
  EXPECT_EQ(U16(zip, cd + 10), 8u);
  EXPECT_EQ(U32(zip, cd + 12), U32(zip, 10));  // same DOS stamp in both headers
  EXPECT_EQ(U32(zip, cd + 16), crc);
  EXPECT_EQ(U32(zip, cd + 20), c);
  EXPECT_EQ(U32(zip, cd + 24), 5u);
  EXPECT_EQ(U16(zip, cd + 30), 9u);
  EXPECT_EQ(U16(zip, cd + 32), 0u);
  EXPECT_EQ(U16(zip, cd + 36), 0u);
  EXPECT_EQ(U32(zip, cd + 38) & 0xFF800000u, 0x81800000u);  // regular file, rw, not executable
  EXPECT_EQ(U32(zip, cd + 42), 0u);
  EXPECT_EQ(U16(zip, cd + 51), 0x5455u);
  EXPECT_EQ(U16(zip, cd + 53), 5u);
  EXPECT_EQ(U32(zip, cd + 56), U32(zip, 40));  // modification time in both extras
  // End record.
  const size_t end = cd + 60;
  EXPECT_EQ(U32(zip, end), 0x06054B50u);
  EXPECT_EQ(U16(zip, end + 8), 1u);
  EXPECT_EQ(U16(zip, end + 10), 1u);
  EXPECT_EQ(U32(zip, end + 12), 60u);
  EXPECT_EQ(U32(zip, end + 16), cd);
  EXPECT_EQ(end + 22, zip.size());
}

TEST_F(ZipWriterTest, EncryptedEntryLayoutAndCipher) {
  std::string zip = OneEntry(L"a.txt", "hello", "secret");
  ASSERT_GE(zip.size(), 162u);
  const size_t c = zip.size() - 162;
  EXPECT_EQ(U16(zip, 6), 0x0009u);
  EXPECT_EQ(U32(zip, 14), 0u);  // CRC and sizes of the first writing stay
  EXPECT_EQ(U32(zip, 18), 0u);
  EXPECT_EQ(U32(zip, 22), 5u);
  // Descriptor after header (52..63) and data (64..63+c).
  const size_t dd = 64 + c;
  EXPECT_EQ(U32(zip, dd), 0x08074B50u);
  EXPECT_EQ(U32(zip, dd + 4), Crc32Update(0, "hello", 5));
  EXPECT_EQ(U32(zip, dd + 8), c + 12);
  EXPECT_EQ(U32(zip, dd + 12), 5u);
  const size_t cd = 80 + c;
  EXPECT_EQ(U32(zip, cd), 0x02014B50u);
  EXPECT_EQ(U16(zip, cd + 8), 0x0009u);
  EXPECT_EQ(U32(zip, cd + 20), c + 12);
  EXPECT_EQ(U32(zip, zip.size() - 22 + 16), cd);

  ZipCipherKeys k;
  CipherInitKeys(&k, "secret");
  std::string header = Decipher(&k, zip.substr(52, 12));
  EXPECT_EQ(uint8_t(header[11]), U16(zip, 10) >> 8);  // high byte of the DOS time
  vqtest::InflateResult data = vqtest::TestInflate(Decipher(&k, zip.substr(64, c)));
  ASSERT_TRUE(data.ok) << data.error;
  EXPECT_EQ(data.out, "hello");
}

// A password is all of its bytes: one that begins with a zero byte still encrypts, with every
// byte in the keys (taken as a C string it would have been empty, and the archive plain).
TEST_F(ZipWriterTest, APasswordWithAZeroByteEncryptsWithAllItsBytes) {
  const std::string password("\0abc", 4);
  fs::path src = Source("src.bin", "hello");
  fs::path zip = dir_ / "zero.zip";
  ZipHandle h = ZipCreate(zip.wstring(), password);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(ZipAdd(h, L"a.txt", src.wstring()), kZipSuccess);
  ASSERT_EQ(ZipClose(h), kZipSuccess);
  const std::string bytes = ReadAll(zip);
  EXPECT_EQ(U16(bytes, 6), 0x0009u);  // encrypted
  const size_t c = U32(bytes, 18) - 12;
  ZipCipherKeys k;
  CipherInitKeys(&k, password);
  const std::string header = Decipher(&k, bytes.substr(52, 12));
  EXPECT_EQ(uint8_t(header[11]), U16(bytes, 10) >> 8);
  vqtest::InflateResult data = vqtest::TestInflate(Decipher(&k, bytes.substr(64, c)));
  ASSERT_TRUE(data.ok) << data.error;
  EXPECT_EQ(data.out, "hello");
  ZipCipherKeys without;
  CipherInitKeys(&without, "abc");
  EXPECT_NE(Decipher(&without, bytes.substr(52, 12)), header);
}

TEST_F(ZipWriterTest, ArchiveExtensionsAreStored) {
  EXPECT_TRUE(ZipIsArchiveName(L"backup/old.ZIP"));
  EXPECT_TRUE(ZipIsArchiveName(L"x.tgz"));
  EXPECT_TRUE(ZipIsArchiveName(L"x.z"));
  EXPECT_FALSE(ZipIsArchiveName(L"notes.txt"));
  EXPECT_FALSE(ZipIsArchiveName(L"archive"));
  EXPECT_FALSE(ZipIsArchiveName(L"x.zip.txt"));

  const std::string payload = "already packed bytes";
  std::string zip = OneEntry(L"backup\\old.ZIP", payload, nullptr);
  EXPECT_EQ(U16(zip, 6), 0x0000u);
  EXPECT_EQ(U16(zip, 8), 0u);
  EXPECT_EQ(zip.substr(30, 14), "backup/old.ZIP");
  EXPECT_EQ(U32(zip, 18), payload.size());
  EXPECT_EQ(zip.substr(30 + 14 + 17, payload.size()), payload);

  zip = OneEntry(L"old.zip", payload, "pw");
  EXPECT_EQ(U16(zip, 6), 0x0009u);
  EXPECT_EQ(U32(zip, 18), payload.size() + 12);  // announced in the local header
  ZipCipherKeys k;
  CipherInitKeys(&k, "pw");
  const size_t data = 30 + 7 + 17;
  std::string plain = Decipher(&k, zip.substr(data, 12 + payload.size()));
  EXPECT_EQ(plain.substr(12), payload);
  EXPECT_EQ(U32(zip, data + 12 + payload.size() + 8), payload.size() + 12);
}

TEST_F(ZipWriterTest, EmptySourceGivesTwoOrFourteenBytesOfData) {
  std::string zip = OneEntry(L"e.txt", "", nullptr);
  EXPECT_EQ(U32(zip, 14), 0u);
  EXPECT_EQ(U32(zip, 18), 2u);
  EXPECT_EQ(U32(zip, 22), 0u);
  EXPECT_EQ(zip.substr(52, 2), std::string("\x03\x00", 2));
  zip = OneEntry(L"e.txt", "", "pw");
  EXPECT_EQ(U32(zip, 64 + 2 + 8), 14u);
  EXPECT_EQ(zip.size(), 162u + 2);
}

TEST_F(ZipWriterTest, MissingSourceLeavesAnEmptyArchive) {
  fs::path zip = dir_ / "m.zip";
  ZipHandle h = ZipCreate(zip.wstring(), "pw");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ZipAdd(h, L"a.txt", (dir_ / "nope").wstring()), kZipCouldNotOpen);
  EXPECT_EQ(ZipLastResult(), kZipCouldNotOpen);
  EXPECT_EQ(ZipClose(h), kZipSuccess);
  std::string expected("PK\x05\x06", 4);
  expected.append(18, '\0');
  EXPECT_EQ(ReadAll(zip), expected);
}

TEST_F(ZipWriterTest, LaterEntriesAfterAFailedOneKeepTrueOffsets) {
  fs::path a = Source("a", std::string(3000, 'a')), b = Source("b", "bee");
  fs::path zip = dir_ / "multi.zip";
  ZipHandle h = ZipCreate(zip.wstring(), "");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ZipAdd(h, L"a", a.wstring()), kZipSuccess);
  EXPECT_EQ(ZipAdd(h, L"gone", (dir_ / "gone").wstring()), kZipCouldNotOpen);
  EXPECT_EQ(ZipAdd(h, L"b.gz", b.wstring()), kZipSuccess);
  EXPECT_EQ(ZipClose(h), kZipSuccess);
  std::string bytes = ReadAll(zip);
  const size_t end = bytes.size() - 22;
  EXPECT_EQ(U16(bytes, end + 10), 2u);
  size_t cd = U32(bytes, end + 16);
  size_t second = cd + 46 + 1 + 9;
  EXPECT_EQ(U32(bytes, cd + 42), 0u);
  size_t off = U32(bytes, second + 42);
  EXPECT_EQ(U32(bytes, off), 0x04034B50u);
  EXPECT_EQ(bytes.substr(off + 30, 4), "b.gz");
  EXPECT_EQ(bytes.substr(off + 30 + 4 + 17, 3), "bee");
}

TEST_F(ZipWriterTest, ResultCodesOfCallerMistakes) {
  EXPECT_EQ(ZipAdd(nullptr, L"a", L"b"), kZipBadArguments);
  EXPECT_EQ(ZipLastResult(), kZipBadArguments);
  EXPECT_EQ(ZipClose(nullptr), kZipBadArguments);

  ZipHandleRecord foreign{3, nullptr};
  EXPECT_EQ(ZipAdd(&foreign, L"a", L"b"), kZipWrongKind);
  EXPECT_EQ(ZipClose(&foreign), kZipWrongKind);

  fs::path src = Source("s.txt", "data");
  ZipHandle h = ZipCreate((dir_ / "r.zip").wstring(), "");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ZipAdd(h, L"", src.wstring()), kZipBadArguments);
  EXPECT_EQ(ZipAdd(h, std::wstring(260, L'n'), src.wstring()), kZipBadArguments);
  EXPECT_EQ(ZipAdd(h, std::wstring(259, L'n'), src.wstring()), kZipSuccess);
  // Fits in UTF-16 units but maybe not in bytes of the OEM code page.
  std::wstring wide(120, L'\x4E2D');
  uint32_t expect = vq::platform::WideToOem(wide).size() > 259 ? kZipBadArguments : kZipSuccess;
  EXPECT_EQ(ZipAdd(h, wide, src.wstring()), expect);
  EXPECT_EQ(ZipEndAdditions(h), kZipSuccess);
  EXPECT_EQ(ZipAdd(h, L"late", src.wstring()), kZipAdditionsEnded);
  EXPECT_EQ(ZipClose(h), kZipSuccess);
  std::string bytes = ReadAll(dir_ / "r.zip");
  EXPECT_EQ(U16(bytes, bytes.size() - 12), expect == kZipSuccess ? 2u : 1u);
}

TEST_F(ZipWriterTest, EveryCodeHasItsText) {
  EXPECT_STREQ(ZipResultText(0), "Success");
  EXPECT_STREQ(ZipResultText(0x100), "Culdn't duplicate handle");
  EXPECT_STREQ(ZipResultText(0x200), "Couldn't create/open file");
  EXPECT_STREQ(ZipResultText(0x300), "Failed to allocate memory");
  EXPECT_STREQ(ZipResultText(0x400), "Error writing to file");
  EXPECT_STREQ(ZipResultText(0x500), "File not found in the zipfile");
  EXPECT_STREQ(ZipResultText(0x600), "Still more data to unzip");
  EXPECT_STREQ(ZipResultText(0x700), "Zipfile is corrupt or not a zipfile");
  EXPECT_STREQ(ZipResultText(0x800), "Error reading file");
  EXPECT_STREQ(ZipResultText(0x10000), "Caller: faulty arguments");
  EXPECT_STREQ(ZipResultText(0x20000), "Caller: can only get memory of a memory zipfile");
  EXPECT_STREQ(ZipResultText(0x30000), "Caller: not enough space allocated for memory zipfile");
  EXPECT_STREQ(ZipResultText(0x40000), "Caller: there was a previous error");
  EXPECT_STREQ(ZipResultText(0x50000), "Caller: additions to the zip have already been ended");
  EXPECT_STREQ(ZipResultText(0x60000), "Zip-bug: the anticipated size turned out wrong");
  EXPECT_STREQ(ZipResultText(0x70000), "Caller: the file had already been partially unzipped");
  EXPECT_STREQ(ZipResultText(0x80000), "Caller: mixing creation and opening of zip");
  EXPECT_STREQ(ZipResultText(0x1000000), "Zip-bug: internal initialisation not completed");
  EXPECT_STREQ(ZipResultText(0x2000000), "Zip-bug: trying to seek the unseekable");
  EXPECT_STREQ(ZipResultText(0x4000000), "Zip-bug: tried to change mind, but not allowed");
  EXPECT_STREQ(ZipResultText(0x5000000), "Zip-bug: an internal error during flation");
  EXPECT_STREQ(ZipResultText(0x900), "unknown zip result code");
}

TEST_F(ZipWriterTest, AllocationFailuresReportNoMemory) {
  fs::path zip = dir_ / "alloc.zip";
  for (int nth = 1; nth <= 3; ++nth) {  // writer, password copy, handle
    ZipFailAllocationForTest(nth);
    EXPECT_EQ(ZipCreate(zip.wstring(), "pw"), nullptr) << nth;
    EXPECT_EQ(ZipLastResult(), kZipNoMemory);
    EXPECT_FALSE(fs::exists(zip));
  }
  fs::path src = Source("s.txt", std::string(10000, 'x'));
  // Entry record, then the compressor state.
  for (int nth = 1; nth <= 2; ++nth) {
    ZipFailAllocationForTest(0);
    ZipHandle h = ZipCreate(zip.wstring(), "");
    ASSERT_NE(h, nullptr);
    ZipFailAllocationForTest(nth);
    EXPECT_EQ(ZipAdd(h, L"s.txt", src.wstring()), kZipNoMemory) << nth;
    ZipFailAllocationForTest(0);
    EXPECT_EQ(ZipAdd(h, L"s.txt", src.wstring()), kZipSuccess);  // not sticky
    EXPECT_EQ(ZipClose(h), kZipSuccess);
  }
  // The cipher buffer fails while data goes out: recorded on the archive, later adds refused.
  ZipHandle h = ZipCreate(zip.wstring(), "pw");
  ASSERT_NE(h, nullptr);
  ZipFailAllocationForTest(3);
  EXPECT_EQ(ZipAdd(h, L"s.txt", src.wstring()), kZipNoMemory);
  EXPECT_EQ(ZipAdd(h, L"s.txt", src.wstring()), kZipPreviousError);
  EXPECT_EQ(ZipClose(h), kZipSuccess);
  std::string bytes = ReadAll(zip);
  EXPECT_EQ(U16(bytes, bytes.size() - 12), 0u);  // no entry listed
}

TEST_F(ZipWriterTest, WritesThatStopFailTheEntry) {
  std::mt19937 g(1);
  std::string data(1 << 20, '\0');
  for (auto& c : data) c = char(g() % 16);
  fs::path src = Source("big.bin", data);
  fs::path zip = dir_ / "w.zip";
  struct Case {
    const wchar_t* name;
    const char* password;
    int64_t budget;
  } cases[] = {
      {L"big.bin", nullptr, 10},     // inside the local header
      {L"big.bin", nullptr, 2000},   // while compressing
      {L"big.bin", "pw", 58},        // inside the encryption header
      {L"big.bin", "pw", 5000},      // while compressing, enciphered
      {L"big.zip", nullptr, 70000},  // while storing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.budget);
    vqtest::FaultyFileSystem disk;
    ZipHandle h = ZipCreate(zip.wstring(), c.password ? c.password : "", disk);
    ASSERT_NE(h, nullptr);
    disk.diskBytesLeft = c.budget;
    EXPECT_EQ(ZipAdd(h, c.name, src.wstring()), kZipWriteFailed);
    EXPECT_EQ(ZipClose(h), kZipWriteFailed);  // nor does the directory fit
    EXPECT_EQ(fs::file_size(zip), uint64_t(c.budget));
  }
}

// A read that fails part-way must not pass for the end of the file: the entry would be cut short
// and still look whole.
TEST_F(ZipWriterTest, AReadErrorFailsTheEntryInsteadOfTruncatingIt) {
  std::mt19937 g(7);
  std::string data(200000, '\0');
  for (auto& c : data) c = char(g());
  fs::path src = Source("flaky.bin", data);
  fs::path zip = dir_ / "r.zip";
  for (const wchar_t* name : {L"flaky.bin", L"flaky.zip"}) {  // deflated and stored
    for (const char* password : {static_cast<const char*>(nullptr), "pw"}) {
      SCOPED_TRACE(std::string(vq::WideToUtf8(name)) + (password ? " encrypted" : " plain"));
      vqtest::FaultyFileSystem disk;
      disk.failReadsOf = L"flaky.bin";
      disk.readOkBytes = 70000;
      ZipHandle h = ZipCreate(zip.wstring(), password ? password : "", disk);
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(ZipAdd(h, name, src.wstring()), kZipReadFailed);
      EXPECT_EQ(ZipClose(h), kZipSuccess);
      std::string bytes = ReadAll(zip);
      EXPECT_EQ(U16(bytes, bytes.size() - 12), 0u);  // the cut entry is not listed
    }
  }
}

// The local extended-timestamp field carries the source's access time, which reading the source
// may itself move on (and a slow run crosses a second); everything else must be equal.
std::string WithoutAccessTime(std::string archive) {
  size_t at = 30 + U16(archive, 26) + 9;  // name, then id, size, flags and modification time
  if (archive.size() >= at + 4) archive.replace(at, 4, 4, '\0');
  return archive;
}

// Compress once, write three times: each archive written from a prepared source is byte for byte
// the archive ZipAdd writes, with the header's random source fixed; also when the compressed
// data spills out of memory into its file, for stored names, and with or without a password.
TEST_F(ZipWriterTest, PreparedEntriesAreByteForByteWhatZipAddWrites) {
  std::mt19937 g(11);
  std::string random(1 << 20, '\0');
  for (auto& c : random) c = char(g());
  std::string text;
  while (text.size() < (3u << 20)) text += "line " + std::to_string(g() % 1000) + " of a long compressible text\n";
  std::string mixed = random.substr(0, 300000) + text.substr(0, 3000000) + random;
  struct Case {
    const char* file;
    const std::string* data;
    const wchar_t* entry;
  };
  const std::string empty, small = "hello, hello, hello";
  const Case cases[] = {{"e.txt", &empty, L"e.txt"}, {"s.txt", &small, L"s.txt"}, {"r.bin", &random, L"r.bin"},
                        {"t.txt", &text, L"t.txt"},  {"m.bin", &mixed, L"m.bin"}, {"a.zip", &random, L"dir\\a.zip"}};
  ZipFixSeedForTest(12345);
  ZipSetPreparedMemoryForTest(256 << 10);  // so that the larger sources spill
  for (const Case& c : cases) {
    fs::path src = Source(c.file, *c.data);
    for (const char* password : {static_cast<const char*>(nullptr), "密码pw"}) {
      SCOPED_TRACE(std::string(c.file) + (password ? " encrypted" : " plain"));
      fs::path one = dir_ / "one.zip", other = dir_ / "other.zip", spill = dir_ / "spill.z";
      ZipHandle h = ZipCreate(one.wstring(), password ? password : "");
      ASSERT_EQ(ZipAdd(h, c.entry, src.wstring()), kZipSuccess);
      ASSERT_EQ(ZipClose(h), kZipSuccess);

      ZipPrepared* p = nullptr;
      ASSERT_EQ(ZipPrepare(c.entry, src.wstring(), spill.wstring(), &p), kZipSuccess);
      for (int i = 0; i < 3; ++i) {  // the same prepared source serves every archive
        h = ZipCreate(other.wstring(), password ? password : "");
        ASSERT_EQ(ZipAddPrepared(h, p), kZipSuccess);
        ASSERT_EQ(ZipClose(h), kZipSuccess);
        EXPECT_TRUE(WithoutAccessTime(ReadAll(one)) == WithoutAccessTime(ReadAll(other)))
            << "archive " << i << " differs";
      }
      if (c.data == &mixed) {
        EXPECT_TRUE(fs::exists(spill)) << "data beyond the memory part spills";
      }
      ZipPreparedFree(p);
      EXPECT_FALSE(fs::exists(spill)) << "the spill file goes with the prepared source";
    }
  }
  ZipFixSeedForTest(-1);
  ZipSetPreparedMemoryForTest(0);
}

TEST_F(ZipWriterTest, PreparingReportsWhatAnAddWouldReport) {
  std::string data(300000, 'q');
  fs::path src = Source("p.txt", data);
  ZipPrepared* p = nullptr;
  EXPECT_EQ(ZipPrepare(L"p.txt", (dir_ / "missing.txt").wstring(), (dir_ / "s").wstring(), &p), kZipCouldNotOpen);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ZipPrepare(L"", src.wstring(), (dir_ / "s").wstring(), &p), kZipBadArguments);
  vqtest::FaultyFileSystem disk;
  disk.failReadsOf = L"p.txt";
  disk.readOkBytes = 100000;
  EXPECT_EQ(ZipPrepare(L"p.txt", src.wstring(), (dir_ / "s").wstring(), &p, disk), kZipReadFailed);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ZipAddPrepared(nullptr, p), kZipBadArguments);

  // A disk that fills while a prepared entry is written fails the add as a direct add would.
  ASSERT_EQ(ZipPrepare(L"p.txt", src.wstring(), (dir_ / "s").wstring(), &p), kZipSuccess);
  vqtest::FaultyFileSystem full;
  ZipHandle h = ZipCreate((dir_ / "f.zip").wstring(), "pw", full);
  full.diskBytesLeft = 100;
  EXPECT_EQ(ZipAddPrepared(h, p), kZipWriteFailed);
  ZipClose(h);
  ZipPreparedFree(p);
}

TEST_F(ZipWriterTest, ExecutableImagesGetTheOwnerExecuteBit) {
  std::string elf =
      "\x7F"
      "ELF" +
      std::string(60, '\x01');
  std::string zip = OneEntry(L"tool", elf, nullptr);
  size_t cd = U32(zip, zip.size() - 6);
  EXPECT_EQ(U32(zip, cd + 38) & 0x00400000u, 0x00400000u);
  // The test read the start of the source; the entry must still hold all of it.
  vqtest::InflateResult r = vqtest::TestInflate(zip.substr(30 + 4 + 17, U32(zip, 18)));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.out, elf);

  std::string pe(200, '\0');
  pe[0] = 'M', pe[1] = 'Z', pe[60] = char(128);
  pe.replace(128, 4, std::string("PE\0\0", 4));
  EXPECT_TRUE(ZipLooksExecutable(reinterpret_cast<const uint8_t*>(pe.data()), pe.size()));
  pe[129] = 'X';
  EXPECT_FALSE(ZipLooksExecutable(reinterpret_cast<const uint8_t*>(pe.data()), pe.size()));
  pe[60] = char(250);  // points past what was read
  EXPECT_FALSE(ZipLooksExecutable(reinterpret_cast<const uint8_t*>(pe.data()), pe.size()));
  EXPECT_FALSE(ZipLooksExecutable(reinterpret_cast<const uint8_t*>("\x7F"
                                                                   "EL"),
                                  3));

  zip = OneEntry(L"short",
                 "\x7F"
                 "ELF",
                 nullptr);  // 40 bytes or less: never tested
  cd = U32(zip, zip.size() - 6);
  EXPECT_EQ(U32(zip, cd + 38) & 0x00400000u, 0u);
}

// A source whose size changes between the file information and the reading. Files under /proc
// report size 0 and then deliver text, which stands in for a file growing while it is read.
TEST_F(ZipWriterTest, SourceThatChangedSizeWhileRead) {
  const fs::path proc = "/proc/self/status";
  if (!fs::exists(proc)) GTEST_SKIP() << "needs /proc";
  fs::path zip = dir_ / "grow.zip";
  // Stored and encrypted: the size is already in the local header, which cannot be rewritten.
  ZipHandle h = ZipCreate(zip.wstring(), "pw");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ZipAdd(h, L"status.zip", proc.wstring()), kZipCannotChange);
  EXPECT_EQ(ZipAdd(h, L"status.txt", proc.wstring()), kZipSuccess);  // deflated: descriptor
  EXPECT_EQ(ZipClose(h), kZipSuccess);
  // Unencrypted: the rewritten local header carries the real size.
  h = ZipCreate(zip.wstring(), "");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ZipAdd(h, L"status.zip", proc.wstring()), kZipSuccess);
  EXPECT_EQ(ZipClose(h), kZipSuccess);
  std::string bytes = ReadAll(zip);
  EXPECT_GT(U32(bytes, 22), 0u);
  EXPECT_EQ(U32(bytes, 18), U32(bytes, 22));
  EXPECT_EQ(bytes.substr(30 + 10 + 17, 5), "Name:");
}

TEST(ZipDecisions, ExternalAttributes) {
  EXPECT_EQ(ZipExternalAttributes(0x20, false), 0x81800020u);
  EXPECT_EQ(ZipExternalAttributes(0x21, false), 0x81000021u);  // read-only: no owner write
  EXPECT_EQ(ZipExternalAttributes(0x16, false), 0x41800016u);  // hidden system directory
  EXPECT_EQ(ZipExternalAttributes(0x80, true), 0x81C00000u);   // "normal" bit is not kept
}

TEST(ZipDecisions, DosStampsClampToTheFormatsRange) {
  vq::CalendarTime c;
  c.year = 2024, c.month = 2, c.day = 29, c.hour = 13, c.minute = 45, c.second = 59;
  EXPECT_EQ(ZipDosStamp(c), uint32_t((44 << 9 | 2 << 5 | 29) << 16 | (13 << 11 | 45 << 5 | 29)));
  c.second = 60;  // leap second
  EXPECT_EQ(ZipDosStamp(c) & 0x1F, 29u);
  c.year = 1979, c.month = 12, c.day = 31, c.hour = 23;
  EXPECT_EQ(ZipDosStamp(c), 0x00210000u);
  c.year = 2108, c.month = 1, c.day = 1, c.hour = 0;
  EXPECT_EQ(ZipDosStamp(c), 0xFF9FBF7Du);
  c.year = 2107, c.month = 12, c.day = 31, c.hour = 23, c.minute = 59, c.second = 59;
  EXPECT_EQ(ZipDosStamp(c), 0xFF9FBF7Du);
  c.year = 1980, c.month = 1, c.day = 1, c.hour = 0, c.minute = 0, c.second = 0;
  EXPECT_EQ(ZipDosStamp(c), 0x00210000u);

  EXPECT_EQ(ZipDosStampFromUnix(-5000000000LL), 0x00210000u);       // 1811
  EXPECT_EQ(ZipDosStampFromUnix(0), 0x00210000u);                   // 1970
  EXPECT_EQ(ZipDosStampFromUnix(5000000000LL), 0xFF9FBF7Du);        // 2128
  EXPECT_EQ(ZipDosStampFromUnix(4000000000000000LL), 0xFF9FBF7Du);  // beyond any calendar
  uint32_t mid = ZipDosStampFromUnix(1700000000);                   // November 2023
  EXPECT_EQ(mid >> 25, 2023u - 1980u);
  EXPECT_EQ((mid >> 21) & 0xF, 11u);
}

TEST(ZipCipher, CrcAndGenerator) {
  EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
  // Piecewise equals whole, across the eight-byte rounds.
  std::string s(1000, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = char(i * 7 + 3);
  uint32_t whole = Crc32Update(0, s.data(), s.size());
  for (size_t cut : {1u, 7u, 8u, 9u, 500u, 999u}) {
    EXPECT_EQ(Crc32Update(Crc32Update(0, s.data(), cut), s.data() + cut, s.size() - cut), whole);
  }
  // The Windows C runtime's rand() after srand(1).
  CrtRand r(1);
  const int expected[] = {41, 18467, 6334, 26500, 19169};
  for (int e : expected) EXPECT_EQ(r.Next(), e);
}

TEST(ZipCipher, HeaderIsSeededAndEndsWithTheCheckByte) {
  ZipCipherKeys k1, k2;
  uint8_t h1[12], h2[12];
  MakeEncryptionHeader(&k1, "pw", 12345, 0xA1B2, h1);
  MakeEncryptionHeader(&k2, "pw", 12345, 0x0002, h2);
  ZipCipherKeys d1, d2;
  CipherInitKeys(&d1, "pw");
  CipherInitKeys(&d2, "pw");
  std::string p1 = Decipher(&d1, std::string(reinterpret_cast<char*>(h1), 12));
  std::string p2 = Decipher(&d2, std::string(reinterpret_cast<char*>(h2), 12));
  EXPECT_EQ(uint8_t(p1[11]), 0xA1);
  EXPECT_EQ(uint8_t(p2[11]), 0x00);
  EXPECT_EQ(p1.substr(0, 11), p2.substr(0, 11));  // same seed, same random bytes
  CrtRand r(12345);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(uint8_t(p1[i]), uint8_t(r.Next() >> 7));
  // The keys run on: the deciphering keys end where the enciphering ones did.
  EXPECT_EQ(d1.k0, k1.k0);
  EXPECT_EQ(d1.k2, k1.k2);
  // Enciphering leaves the input of a copy alone and is undone by deciphering.
  ZipCipherKeys e, d;
  CipherInitKeys(&e, "密码");
  CipherInitKeys(&d, "密码");
  std::string plain = "some entry bytes";
  std::string buf = plain;
  CipherEncrypt(&e, reinterpret_cast<uint8_t*>(&buf[0]), buf.size());
  EXPECT_NE(buf, plain);
  EXPECT_EQ(Decipher(&d, buf), plain);
}

}  // namespace
