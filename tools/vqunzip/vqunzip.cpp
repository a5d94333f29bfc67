// vqunzip: the archive reader from the command line, for scripts that check backups or get a file
// back without the program.
//
//   vqunzip [-p PASSWORD] ARCHIVE...             check each archive (read, decipher, inflate, CRC)
//   vqunzip [-p PASSWORD] -x ARCHIVE OUTFILE     write the entry to OUTFILE, which must not exist
//
// One line per archive: "sound", "wrong password" or "broken" with the reason. Exit codes:
//   0 every archive sound, 1 some archive broken, 2 failed (usage, OUTFILE exists or cannot be
//   written), 3 none broken but some could not be opened with the password.
// The password reaches the cipher as bytes of the ANSI code page (Windows) or as given (POSIX).
#include <cstdio>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/NewFile.h"
#include "zip/ZipReader.h"

namespace {

using vq::zip::ReadStatus;

enum Exit { kSound = 0, kBroken = 1, kFailed = 2, kWrongPassword = 3 };

int Usage() {
  std::fprintf(stderr,
               "usage: vqunzip [-p PASSWORD] ARCHIVE...\n"
               "       vqunzip [-p PASSWORD] -x ARCHIVE OUTFILE\n");
  return kFailed;
}

void Report(const std::wstring& archive, ReadStatus s, const vq::zip::ZipEntryInfo& info) {
  const std::string name = vq::WideToUtf8(archive);
  if (s == ReadStatus::Sound)
    std::printf("%s: sound (%u bytes)\n", name.c_str(), info.size);
  else if (s == ReadStatus::WrongPassword)
    std::printf("%s: wrong password\n", name.c_str());
  else
    std::printf("%s: broken: %s\n", name.c_str(), vq::zip::ReadStatusText(s));
}

int Check(const std::vector<std::wstring>& archives, const std::string& password) {
  int worst = kSound;
  for (const std::wstring& a : archives) {
    vq::zip::ZipEntryInfo info;
    ReadStatus s = vq::zip::ZipExtractFile(vq::platform::RealFileSystem(), a,
                                           password.empty() ? nullptr : password.c_str(), {}, &info);
    Report(a, s, info);
    if (s == ReadStatus::WrongPassword && worst == kSound) worst = kWrongPassword;
    if (s != ReadStatus::Sound && s != ReadStatus::WrongPassword) worst = kBroken;
  }
  return worst;
}

int Extract(const std::wstring& archive, const std::wstring& out, const std::string& password) {
  vq::platform::FileSystem& fs = vq::platform::RealFileSystem();
  if (fs.Exists(out)) {
    std::fprintf(stderr, "vqunzip: %s exists; nothing is overwritten\n", vq::WideToUtf8(out).c_str());
    return kFailed;
  }
  const std::wstring partial = out + L".vqunzip.part";
  std::unique_ptr<vq::platform::FileStream> f = fs.CreateAlways(partial);
  if (!f) {
    std::fprintf(stderr, "vqunzip: cannot create %s\n", vq::WideToUtf8(partial).c_str());
    return kFailed;
  }
  vq::zip::ZipEntryInfo info;
  ReadStatus s = vq::zip::ZipExtractFile(
      fs, archive, password.empty() ? nullptr : password.c_str(),
      [&](const uint8_t* p, size_t n) { return f->Write(p, n) == n; }, &info);
  f.reset();
  Report(archive, s, info);
  if (s != ReadStatus::Sound) {
    fs.RemoveFile(partial);
    return s == ReadStatus::OutputFailed ? kFailed : s == ReadStatus::WrongPassword ? kWrongPassword : kBroken;
  }
  if (info.hasModified) vq::platform::SetLastWriteTime(partial, info.modified);
  bool exists = false;
  if (!vq::platform::MoveNoReplace(partial, out, &exists)) {
    fs.RemoveFile(partial);
    std::fprintf(stderr, "vqunzip: cannot write %s%s\n", vq::WideToUtf8(out).c_str(), exists ? " (it exists)" : "");
    return kFailed;
  }
  return kSound;
}

int Run(std::vector<std::wstring> args, const std::string& password) {
  if (args.size() >= 2 && args[0] == L"-p") args.erase(args.begin(), args.begin() + 2);
  if (args.empty()) return Usage();
  if (args[0] == L"-x") return args.size() == 3 ? Extract(args[1], args[2], password) : Usage();
  return Check(args, password);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  std::string password = args.size() >= 2 && args[0] == L"-p" ? vq::platform::WideToAnsi(args[1]) : std::string();
  return Run(args, password);
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(vq::Utf8ToWide(argv[i]));
  std::string password = argc >= 3 && std::string(argv[1]) == "-p" ? std::string(argv[2]) : std::string();
  return Run(args, password);
}
#endif
