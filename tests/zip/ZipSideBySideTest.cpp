// Archives checked side by side, their deciphering interleaved, come out exactly as each checked
// alone: every status, size and CRC the same, whatever mix of entries shares a batch.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/zip/ZipBytes.h"
#include "zip/Deflate.h"
#include "zip/ZipReader.h"

using namespace vq::zip;
using vqtest::BuildZip;
using vqtest::MemoryStream;
using vqtest::ZipSpec;

namespace {

std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (auto& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = char(seed >> 24);
  }
  return s;
}

// Lines that compress well but not to nothing, so a long one spans several read pieces.
std::string Lines(size_t n, uint32_t seed) {
  std::string s;
  while (s.size() < n) {
    seed = seed * 1103515245u + 12345u;
    s += "entry " + std::to_string(seed % 9973) + (seed & 0x100 ? " archive\n" : " 备份\n");
  }
  s.resize(n);
  return s;
}

std::string Archive(const std::string& plain, uint16_t method, const char* password, bool aes = false) {
  ZipSpec z;
  z.aes.on = aes;
  z.plain = plain;
  z.method = method;
  z.password = password;
  if (method == 8) {
    EXPECT_TRUE(DeflateBuffer(8, plain.data(), plain.size(), &z.compressed));
  } else {
    z.compressed = plain;
  }
  return BuildZip(z);
}

struct Case {
  std::string name;
  std::string bytes;  // empty: the archive could not be opened
};

std::vector<Case> Cases() {
  std::vector<Case> c;
  c.push_back({"empty, encrypted", Archive("", 8, "739")});
  c.push_back({"one byte, encrypted", Archive("x", 8, "739")});
  c.push_back({"lines over several pieces, encrypted", Archive(Lines(400000, 1), 8, "739")});
  c.push_back({"noise, encrypted", Archive(Noise(150000, 2), 8, "739")});
  c.push_back({"stored noise, encrypted", Archive(Noise(70000, 3), 0, "739")});
  c.push_back({"lines, not encrypted", Archive(Lines(90000, 4), 8, nullptr)});
  c.push_back({"another password", Archive(Lines(5000, 5), 8, "secret")});
  std::string altered = Archive(Lines(200000, 6), 8, "739");
  altered[altered.size() / 2] ^= 0x20;
  c.push_back({"a byte altered, encrypted", altered});
  std::string cut = Archive(Lines(30000, 7), 8, "739");
  cut.resize(cut.size() - 40);
  c.push_back({"cut short", cut});
  c.push_back({"not opened", ""});
  c.push_back({"short lines, encrypted", Archive(Lines(3000, 8), 8, "739")});
  c.push_back({"lines, AES", Archive(Lines(100000, 9), 8, "739", true)});
  return c;
}

TEST(ZipSideBySide, EveryBatchGivesWhatEachArchiveGivesAlone) {
  const std::vector<Case> cases = Cases();
  std::vector<ReadStatus> alone(cases.size());
  std::vector<ZipEntryInfo> aloneInfo(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].bytes.empty()) {
      alone[i] = ReadStatus::OpenFailed;
      continue;
    }
    MemoryStream in(cases[i].bytes);
    alone[i] = ZipExtract(in, "739", {}, &aloneInfo[i]);
  }
  // The cases meant to be sound are, so a batch that matches them deciphered every byte right.
  EXPECT_EQ(alone[2], ReadStatus::Sound);
  EXPECT_EQ(alone[4], ReadStatus::Sound);
  EXPECT_EQ(alone[6], ReadStatus::WrongPassword);
  EXPECT_NE(alone[7], ReadStatus::Sound);
  EXPECT_EQ(alone[11], ReadStatus::Sound);

  // Every run of 1 to 4 consecutive cases (with wrap-around) as one batch.
  for (size_t n = 1; n <= kZipSideBySide; ++n) {
    for (size_t first = 0; first < cases.size(); ++first) {
      std::vector<std::unique_ptr<MemoryStream>> streams;
      vq::platform::FileStream* in[kZipSideBySide] = {};
      size_t idx[kZipSideBySide];
      for (size_t j = 0; j < n; ++j) {
        idx[j] = (first + j) % cases.size();
        if (!cases[idx[j]].bytes.empty()) {
          streams.push_back(std::make_unique<MemoryStream>(cases[idx[j]].bytes));
          in[j] = streams.back().get();
        }
      }
      ReadStatus status[kZipSideBySide];
      ZipEntryInfo info[kZipSideBySide];
      ZipCheckSideBySide(in, n, "739", status, info);
      for (size_t j = 0; j < n; ++j) {
        const size_t i = idx[j];
        SCOPED_TRACE(cases[i].name + " in a batch of " + std::to_string(n) + " from " + std::to_string(first));
        EXPECT_EQ(status[j], alone[i]) << ReadStatusText(status[j]);
        if (cases[i].bytes.empty()) continue;
        EXPECT_EQ(info[j].size, aloneInfo[i].size);
        EXPECT_EQ(info[j].crc, aloneInfo[i].crc);
        EXPECT_EQ(info[j].compressedSize, aloneInfo[i].compressedSize);
        EXPECT_EQ(info[j].rawName, aloneInfo[i].rawName);
      }
    }
  }
}

}  // namespace
