#include "tests/support/FaultyFileSystem.h"

namespace vqtest {

namespace {

using vq::platform::FileInfo;
using vq::platform::FileStream;

class FaultyWriteStream : public FileStream {
 public:
  FaultyWriteStream(std::unique_ptr<FileStream> inner, FaultyFileSystem& fs) : inner_(std::move(inner)), fs_(fs) {}
  int64_t Read(void* buf, size_t n) override { return inner_->Read(buf, n); }
  size_t Write(const void* buf, size_t n) override {
    size_t allowed = fs_.AllowedWrite(n);
    if (allowed == 0) return 0;
    return inner_->Write(buf, allowed);
  }
  bool SeekSet(uint64_t offset) override { return inner_->SeekSet(offset); }
  bool Info(FileInfo* out) override { return inner_->Info(out); }
  bool Flush() override {
    fs_.flushes++;
    bool ok = inner_->Flush();
    return ok && !fs_.failFlush.load();
  }
  bool Close() override {
    bool ok = inner_->Close();
    return ok && !fs_.failClose.load();
  }

 private:
  std::unique_ptr<FileStream> inner_;
  FaultyFileSystem& fs_;
};

class FaultyReadStream : public FileStream {
 public:
  FaultyReadStream(std::unique_ptr<FileStream> inner, int64_t okBytes) : inner_(std::move(inner)), left_(okBytes) {}
  int64_t Read(void* buf, size_t n) override {
    if (left_ <= 0) return -1;
    if (int64_t(n) > left_) n = size_t(left_);
    int64_t r = inner_->Read(buf, n);
    if (r > 0) left_ -= r;
    return r;
  }
  size_t Write(const void* buf, size_t n) override { return inner_->Write(buf, n); }
  bool SeekSet(uint64_t offset) override { return inner_->SeekSet(offset); }
  bool Info(FileInfo* out) override { return inner_->Info(out); }
  bool Flush() override { return inner_->Flush(); }
  bool Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<FileStream> inner_;
  int64_t left_;
};

}  // namespace

size_t FaultyFileSystem::AllowedWrite(size_t n) {
  std::lock_guard<std::mutex> g(lock_);
  int nth = failNthWrite.load();
  if (nth > 0) {
    failNthWrite.store(nth - 1 == 0 ? -1 : nth - 1);
    if (nth == 1) return 0;
  }
  int64_t left = diskBytesLeft.load();
  if (left < 0) return n;
  if (int64_t(n) > left) n = size_t(left);
  diskBytesLeft.store(left - int64_t(n));
  return n;
}

std::unique_ptr<FileStream> FaultyFileSystem::OpenRead(const std::wstring& p) { return Open(p, false); }

std::unique_ptr<FileStream> FaultyFileSystem::OpenReadRegular(const std::wstring& p) { return Open(p, true); }

std::unique_ptr<FileStream> FaultyFileSystem::Open(const std::wstring& p, bool regular) {
  if (beforeLookup) beforeLookup(p);
  if (Matches(refuseOpen, p)) return nullptr;
  auto s = regular ? inner_.OpenReadRegular(p) : inner_.OpenRead(p);
  if (s && !failReadsOf.empty() && p.find(failReadsOf) != std::wstring::npos)
    return std::make_unique<FaultyReadStream>(std::move(s), readOkBytes);
  return s;
}

std::unique_ptr<FileStream> FaultyFileSystem::CreateAlways(const std::wstring& p) { return Create(p, false); }

std::unique_ptr<FileStream> FaultyFileSystem::CreateNew(const std::wstring& p) { return Create(p, true); }

std::unique_ptr<FileStream> FaultyFileSystem::Create(const std::wstring& p, bool exclusive) {
  creates++;
  if (Matches(refuseCreate, p)) return nullptr;
  if (beforeCreate) beforeCreate(p);
  auto s = exclusive ? inner_.CreateNew(p) : inner_.CreateAlways(p);
  if (!s) return s;
  return std::make_unique<FaultyWriteStream>(std::move(s), *this);
}

}  // namespace vqtest
