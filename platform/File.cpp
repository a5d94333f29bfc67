// The portable parts of the file and path services.
#include "platform/File.h"
#include "platform/Paths.h"

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
