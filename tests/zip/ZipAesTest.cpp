// AES-256 archives from the writer: the layout other tools expect, the data encrypted once for the
// three archives of a version, and the traditional archives unchanged beside them.
#include <gtest/gtest.h>

#include <string>

#include "platform/File.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipAes.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

using namespace vq::zip;

namespace {

uint32_t U16(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b.at(at))) | uint32_t(uint8_t(b.at(at + 1))) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

std::string Text(size_t n) {
  std::string s;
  for (uint32_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of a backed-up file\n";
  s.resize(n);
  return s;
}

class ZipAesTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = vqtest::MakeScratchDir(L"aes"); }
  void TearDown() override { ZipSetPreparedMemoryForTest(0); }
  std::wstring Source(const std::wstring& name, const std::string& data) {
    EXPECT_TRUE(vq::platform::WriteFileAtomically(dir_ + name, data));
    return dir_ + name;
  }
  ReadStatus Read(const std::wstring& zip, const char* pw, std::string* back, ZipEntryInfo* info = nullptr) {
    back->clear();
    return ZipExtractFile(
        vq::platform::RealFileSystem(), zip, pw,
        [&](const uint8_t* p, size_t n) {
          back->append(reinterpret_cast<const char*>(p), n);
          return true;
        },
        info);
  }
  // One archive of one prepared source.
  uint32_t WritePrepared(const std::wstring& zip, const ZipPrepared* p, const char* pw, ZipEncryption e) {
    ZipHandle h = ZipCreate(zip, pw ? pw : "");
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(ZipSetEncryption(h, e), kZipSuccess);
    uint32_t r = ZipAddPrepared(h, p);
    EXPECT_EQ(ZipClose(h), kZipSuccess);
    return r;
  }
  std::wstring dir_;
};

TEST_F(ZipAesTest, AnAesEntryHasTheLayoutOtherToolsRead) {
  for (const std::wstring entry : {L"a.txt", L"old.zip"}) {  // deflated, stored
    const uint16_t method = entry == L"a.txt" ? 8 : 0;
    const std::string data = Text(5000);
    const std::wstring src = Source(L"src.bin", data), zip = dir_ + L"out.zip";
    ZipHandle h = ZipCreate(zip, "739");
    ASSERT_EQ(ZipSetEncryption(h, ZipEncryption::Aes256), kZipSuccess);
    ASSERT_EQ(ZipAdd(h, entry, src), kZipSuccess);
    ASSERT_EQ(ZipClose(h), kZipSuccess);
    std::string b;
    ASSERT_TRUE(vq::platform::ReadWholeFile(zip, &b));
    SCOPED_TRACE(vq::WideToUtf8(entry));
    const size_t n = 5 + (method == 0 ? 2 : 0);
    EXPECT_EQ(U16(b, 4), 51u) << "version needed";
    EXPECT_EQ(U16(b, 6) & 0x0009, 0x0001u) << "encrypted, sizes in the local header, no descriptor";
    EXPECT_EQ(U16(b, 8), 99u);
    EXPECT_EQ(U32(b, 14), 0u) << "AE-2: no CRC";
    const uint32_t csize = U32(b, 18);
    EXPECT_EQ(U32(b, 22), 5000u);
    EXPECT_EQ(U16(b, 28), 17u + 11u);
    const std::string field(
        "\x01\x99\x07\x00\x02\x00"
        "AE\x03",
        9);
    EXPECT_EQ(b.substr(30 + n + 17, 9), field);
    EXPECT_EQ(U16(b, 30 + n + 17 + 9), method);
    const size_t cd = 30 + n + 28 + csize;
    if (method == 0) {
      EXPECT_EQ(csize, 5000u + 28u) << "salt, verifier and code around the data";
    }
    ASSERT_EQ(U32(b, cd), 0x02014B50u) << "the directory follows the data at once";
    EXPECT_EQ(U16(b, cd + 6), 51u);
    EXPECT_EQ(U16(b, cd + 10), 99u);
    EXPECT_EQ(U32(b, cd + 16), 0u);
    EXPECT_EQ(U32(b, cd + 20), csize);
    EXPECT_EQ(U16(b, cd + 30), 9u + 11u);
    EXPECT_EQ(b.substr(cd + 46 + n + 9, 9), field);
    EXPECT_EQ(b.size(), cd + 46 + n + 20 + 22);

    std::string back;
    ZipEntryInfo info;
    ASSERT_EQ(Read(zip, "739", &back, &info), ReadStatus::Sound);
    EXPECT_EQ(back, data);
    EXPECT_EQ(info.dataMethod, method);
    EXPECT_EQ(Read(zip, "738", &back), ReadStatus::WrongPassword);
  }
}

TEST_F(ZipAesTest, AVersionIsEncryptedOnceForItsThreeArchivesAndEachVersionGetsItsOwnSalt) {
  ZipSetPreparedMemoryForTest(64 << 10);  // the larger source spills, ciphered as well
  for (size_t size : {size_t(0), size_t(100), size_t(1) << 20}) {
    SCOPED_TRACE(size);
    const std::string data = Text(size);
    const std::wstring src = Source(L"v.txt", data);
    ZipPrepared* p = nullptr;
    ASSERT_EQ(ZipPrepareEncrypted(L"v.txt", src, dir_ + L"v.z", ZipEncryption::Aes256, "739", &p), kZipSuccess);
    std::string first;
    for (int i = 0; i < 3; ++i) {
      const std::wstring zip = dir_ + L"v" + std::to_wstring(i) + L".zip";
      ASSERT_EQ(WritePrepared(zip, p, "739", ZipEncryption::Aes256), kZipSuccess);
      std::string bytes, back;
      ASSERT_TRUE(vq::platform::ReadWholeFile(zip, &bytes));
      if (i == 0) first = bytes;
      EXPECT_TRUE(bytes == first) << "the three archives are one and the same bytes";
      ASSERT_EQ(Read(zip, "739", &back), ReadStatus::Sound);
      EXPECT_TRUE(back == data);
    }
    ZipPreparedFree(p);
    // The next version of the same file: a new salt, so new keys and another key stream.
    ASSERT_EQ(ZipPrepareEncrypted(L"v.txt", src, dir_ + L"v.z", ZipEncryption::Aes256, "739", &p), kZipSuccess);
    ASSERT_EQ(WritePrepared(dir_ + L"next.zip", p, "739", ZipEncryption::Aes256), kZipSuccess);
    ZipPreparedFree(p);
    std::string next;
    ASSERT_TRUE(vq::platform::ReadWholeFile(dir_ + L"next.zip", &next));
    const size_t saltAt = 30 + 5 + 28;
    EXPECT_NE(next.substr(saltAt, 16), first.substr(saltAt, 16));
  }
}

TEST_F(ZipAesTest, KeysMadeAheadCipherOneEntryOnly) {
  const std::string data = Text(7000);
  const std::wstring src = Source(L"k.txt", data);
  AesEntryKeys keys;
  EXPECT_FALSE(keys.Ready());
  ZipPrepared* p = nullptr;
  EXPECT_EQ(ZipPrepareWithKeys(L"k.txt", src, dir_ + L"k.z", &keys, &p), kZipBadArguments) << "never made";
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ZipPrepareWithKeys(L"k.txt", src, dir_ + L"k.z", nullptr, &p), kZipBadArguments);

  std::string salts[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(keys.Make("739"));
    ASSERT_TRUE(keys.Ready());
    ASSERT_EQ(ZipPrepareWithKeys(L"k.txt", src, dir_ + L"k.z", &keys, &p), kZipSuccess);
    EXPECT_FALSE(keys.Ready()) << "spent by the entry they cipher";
    // Spent keys cannot cipher a second entry (it would share the first one's key stream).
    ZipPrepared* again = nullptr;
    EXPECT_EQ(ZipPrepareWithKeys(L"k.txt", src, dir_ + L"k.z", &keys, &again), kZipBadArguments);
    EXPECT_EQ(again, nullptr);
    // Only an archive with the password they were made with takes the entry.
    EXPECT_EQ(WritePrepared(dir_ + L"other.zip", p, "7390", ZipEncryption::Aes256), kZipBadArguments);
    const std::wstring zip = dir_ + L"k" + std::to_wstring(i) + L".zip";
    ASSERT_EQ(WritePrepared(zip, p, "739", ZipEncryption::Aes256), kZipSuccess);
    ZipPreparedFree(p);
    std::string back, bytes;
    EXPECT_EQ(Read(zip, "739", &back), ReadStatus::Sound);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(Read(zip, "738", &back), ReadStatus::WrongPassword);
    ASSERT_TRUE(vq::platform::ReadWholeFile(zip, &bytes));
    salts[i] = bytes.substr(30 + 5 + 28, kAesSaltLen);
  }
  EXPECT_NE(salts[0], salts[1]) << "each Make draws a new salt";

  // Keys given to an entry that fails before its data are spent all the same.
  ASSERT_TRUE(keys.Make("739"));
  EXPECT_EQ(ZipPrepareWithKeys(L"k.txt", dir_ + L"missing.txt", dir_ + L"k.z", &keys, &p), kZipCouldNotOpen);
  EXPECT_FALSE(keys.Ready());
  EXPECT_TRUE(keys.Password().empty());
}

TEST_F(ZipAesTest, SealedDataGoesOnlyIntoArchivesItsPasswordOpens) {
  const std::wstring src = Source(L"s.txt", Text(3000));
  ZipPrepared* sealed = nullptr;
  ASSERT_EQ(ZipPrepareEncrypted(L"s.txt", src, dir_ + L"s.z", ZipEncryption::Aes256, "739", &sealed), kZipSuccess);
  EXPECT_EQ(WritePrepared(dir_ + L"t.zip", sealed, "739", ZipEncryption::Traditional), kZipBadArguments);
  EXPECT_EQ(WritePrepared(dir_ + L"o.zip", sealed, "7390", ZipEncryption::Aes256), kZipBadArguments);
  EXPECT_EQ(WritePrepared(dir_ + L"n.zip", sealed, nullptr, ZipEncryption::Aes256), kZipBadArguments);
  ZipPreparedFree(sealed);

  // Unsealed data goes into an AES archive ciphered on the way; without a password nothing is.
  ZipPrepared* plain = nullptr;
  ASSERT_EQ(ZipPrepare(L"s.txt", src, dir_ + L"s.z", &plain), kZipSuccess);
  ASSERT_EQ(WritePrepared(dir_ + L"a.zip", plain, "739", ZipEncryption::Aes256), kZipSuccess);
  ASSERT_EQ(WritePrepared(dir_ + L"p.zip", plain, nullptr, ZipEncryption::Aes256), kZipSuccess);
  ZipPreparedFree(plain);
  std::string back;
  ZipEntryInfo info;
  EXPECT_EQ(Read(dir_ + L"a.zip", "739", &back, &info), ReadStatus::Sound);
  EXPECT_TRUE(info.aes);
  EXPECT_EQ(Read(dir_ + L"p.zip", nullptr, &back, &info), ReadStatus::Sound);
  EXPECT_FALSE(info.encrypted);
  ZipPrepared* none = nullptr;
  ASSERT_EQ(ZipPrepareEncrypted(L"s.txt", src, dir_ + L"s.z", ZipEncryption::Aes256, "", &none), kZipSuccess);
  EXPECT_EQ(WritePrepared(dir_ + L"e.zip", none, nullptr, ZipEncryption::Aes256), kZipSuccess);
  ZipPreparedFree(none);
  EXPECT_EQ(ZipSetEncryption(nullptr, ZipEncryption::Aes256), kZipBadArguments);
}

TEST_F(ZipAesTest, TheTraditionalEncryptionIsUnchangedBesideIt) {
  const std::wstring src = Source(L"t.txt", Text(20000));
  ZipFixSeedForTest(777);
  std::string bytes[2];
  for (int i = 0; i < 2; ++i) {
    const std::wstring zip = dir_ + L"t" + std::to_wstring(i) + L".zip";
    ZipHandle h = ZipCreate(zip, "739");
    if (i == 1) {
      ASSERT_EQ(ZipSetEncryption(h, ZipEncryption::Traditional), kZipSuccess);
    }
    ASSERT_EQ(ZipAdd(h, L"t.txt", src), kZipSuccess);
    ASSERT_EQ(ZipClose(h), kZipSuccess);
    ASSERT_TRUE(vq::platform::ReadWholeFile(zip, &bytes[i]));
  }
  ZipFixSeedForTest(-1);
  EXPECT_TRUE(bytes[0] == bytes[1]);
  EXPECT_EQ(U16(bytes[0], 8), 8u);
  EXPECT_EQ(U16(bytes[0], 6) & 0x0009, 0x0009u);
}

TEST_F(ZipAesTest, AFullDiskFailsAnAesEntryAnywhere) {
  const std::wstring src = Source(L"big.txt", Text(300000));
  ZipPrepared* sealed = nullptr;
  ASSERT_EQ(ZipPrepareEncrypted(L"big.txt", src, dir_ + L"b.z", ZipEncryption::Aes256, "739", &sealed), kZipSuccess);
  // Inside the local header, the salt, the data and the code.
  for (int64_t budget : {int64_t(10), int64_t(70), int64_t(300), int64_t(0)}) {
    for (bool prepared : {false, true}) {
      SCOPED_TRACE(testing::Message() << budget << (prepared ? " prepared" : " direct"));
      vqtest::FaultyFileSystem disk;
      const std::wstring zip = dir_ + L"full.zip";
      ZipHandle h = ZipCreate(zip, "739", disk);
      ASSERT_NE(h, nullptr);
      ZipSetEncryption(h, ZipEncryption::Aes256);
      if (budget == 0) {
        // Just short of the code: the entry without its last byte.
        std::string whole;
        ASSERT_EQ(WritePrepared(dir_ + L"whole.zip", sealed, "739", ZipEncryption::Aes256), kZipSuccess);
        ASSERT_TRUE(vq::platform::ReadWholeFile(dir_ + L"whole.zip", &whole));
        disk.diskBytesLeft = int64_t(whole.size() - 46 - 7 - 20 - 22 - 1);
      } else {
        disk.diskBytesLeft = budget;
      }
      EXPECT_EQ(prepared ? ZipAddPrepared(h, sealed) : ZipAdd(h, L"big.txt", src), kZipWriteFailed);
      ZipClose(h);
    }
  }
  ZipPreparedFree(sealed);
}

}  // namespace
