// The portable parts of the file and path services.
#include "platform/File.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace vq::platform {

File::File() = default;
File::File(std::unique_ptr<FileStream> s) : s_(std::move(s)) {}
File::~File() { Close(); }
File::File(File&& o) noexcept = default;
File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = std::move(o.s_);
  }
  return *this;
}

File File::OpenRead(const std::wstring& path) { return File(RealFileSystem().OpenRead(path)); }
File File::CreateAlways(const std::wstring& path) { return File(RealFileSystem().CreateAlways(path)); }
File File::OpenAppendExclusive(const std::wstring& path, bool* created) {
  return File(OpenAppendExclusiveStream(path, created));
}

bool File::IsOpen() const { return s_ != nullptr; }

void File::Close() {
  if (s_) s_->Close();
  s_.reset();
}

size_t File::Read(void* buf, size_t n) {
  if (!s_) return 0;
  int64_t r = s_->Read(buf, n);
  return r < 0 ? 0 : static_cast<size_t>(r);
}

size_t File::Write(const void* buf, size_t n) { return s_ ? s_->Write(buf, n) : 0; }
bool File::SeekSet(uint64_t offset) { return s_ && s_->SeekSet(offset); }
bool File::SeekEnd() { return s_ && s_->SeekEnd(); }
bool File::Info(FileInfo* out) const { return s_ && s_->Info(out); }
int File::LastError() { return RealFileSystem().LastError(); }

bool ReadWholeFile(const std::wstring& path, std::string* out) {
  File f = File::OpenRead(path);
  if (!f.IsOpen()) return false;
  out->clear();
  char buf[65536];
  for (;;) {
    size_t n = f.Read(buf, sizeof buf);
    if (n == 0) break;
    out->append(buf, n);
  }
  return true;
}

std::wstring ChooseLogDir(const std::wstring& programDir, bool programDirWritable, const std::wstring& stateHome,
                          const std::wstring& home) {
  if (programDirWritable) return programDir;
  std::wstring base;
  if (!stateHome.empty() && stateHome[0] == L'/')
    base = stateHome;
  else if (!home.empty())
    base = home + L"/.local/state";
  else
    return programDir;
  while (base.size() > 1 && base.back() == L'/') base.pop_back();
  return base + L"/vq.lumen/";
}

}  // namespace vq::platform
