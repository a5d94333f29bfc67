// The parts of the file service that need nothing but the File class.
#include "platform/File.h"

namespace vq::platform {

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

}  // namespace vq::platform
