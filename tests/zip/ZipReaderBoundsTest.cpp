// What a hostile archive may make the reader allocate: never more than the format allows for one
// entry, whatever sizes its records state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/FileSystem.h"
#include "zip/ZipReader.h"

using namespace vq::zip;

namespace {

// A file of 1 GiB and 22 bytes that is all zeros but for an end record at its end: what a sparse
// file of a few kilobytes on the disk looks like to the reader. Counts the bytes asked for.
class SparseStream : public vq::platform::FileStream {
 public:
  explicit SparseStream(std::string tail) : tail_(std::move(tail)) {}
  static constexpr uint64_t kSize = (uint64_t(1) << 30) + 22;
  int64_t Read(void* buf, size_t n) override {
    if (at_ >= kSize) return 0;
    n = size_t(std::min<uint64_t>(n, kSize - at_));
    asked += n;
    uint8_t* out = static_cast<uint8_t*>(buf);
    std::memset(out, 0, n);
    const uint64_t tailStart = kSize - tail_.size();
    for (size_t i = 0; i < n; ++i)
      if (at_ + i >= tailStart) out[i] = uint8_t(tail_[size_t(at_ + i - tailStart)]);
    at_ += n;
    return int64_t(n);
  }
  size_t Write(const void*, size_t) override { return 0; }
  bool SeekSet(uint64_t offset) override {
    at_ = offset;
    return true;
  }
  bool Info(vq::platform::FileInfo* out) override {
    out->size = kSize;
    return true;
  }
  uint64_t asked = 0;

 private:
  std::string tail_;
  uint64_t at_ = 0;
};

std::string EndRecord(uint32_t cdSize, uint32_t cdOffset) {
  std::string e(22, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) e[at + i] = char(v >> (8 * i));
  };
  put32(0, 0x06054B50);
  e[8] = e[10] = 1;  // one entry on this disk, one in all
  put32(12, cdSize);
  put32(16, cdOffset);
  return e;
}

TEST(ZipReaderBounds, AStatedDirectoryOfAGigabyteIsRefusedBeforeItIsRead) {
  for (uint32_t cdSize : {uint32_t(1) << 30, uint32_t(46 + 3 * 0xFFFF + 1)}) {
    SparseStream in(EndRecord(cdSize, 0));
    ZipEntryInfo info;
    EXPECT_EQ(ZipReadInfo(in, &info), ReadStatus::Damaged) << cdSize;
    // The end record's search reads the last 64 KiB; nothing near the stated size.
    EXPECT_LT(in.asked, 200000u) << cdSize;
    SparseStream again(EndRecord(cdSize, 0));
    EXPECT_EQ(ZipExtract(again, "739", {}, nullptr), ReadStatus::Damaged);
    EXPECT_LT(again.asked, 200000u);
  }
  // The largest directory one entry can have is still read (and found to be zeros).
  SparseStream largest(EndRecord(46 + 3 * 0xFFFF, 0));
  ZipEntryInfo info;
  EXPECT_EQ(ZipReadInfo(largest, &info), ReadStatus::Damaged);
  EXPECT_GE(largest.asked, uint64_t(46 + 3 * 0xFFFF));
}

}  // namespace
