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
#include "platform/Crypto.h"
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

// "OUTFILE.<16 random hex digits>.vqunzip.part": nobody can plant a link under it beforehand, and
// it is made only where nothing is.
std::wstring PartialName(const std::wstring& out) {
  uint8_t bytes[8] = {};
  vq::platform::RandomBytes(bytes, sizeof bytes);
  std::wstring name = out + L".";
  static const wchar_t kHex[] = L"0123456789abcdef";
  for (uint8_t b : bytes) name += {kHex[b >> 4], kHex[b & 15]};
  return name + L".vqunzip.part";
}

int Extract(const std::wstring& archive, const std::wstring& out, const std::string& password) {
  vq::platform::FileSystem& fs = vq::platform::RealFileSystem();
  if (fs.Exists(out)) {
    std::fprintf(stderr, "vqunzip: %s exists; nothing is overwritten\n", vq::WideToUtf8(out).c_str());
    return kFailed;
  }
  std::wstring partial;
  std::unique_ptr<vq::platform::FileStream> f;
  for (int attempt = 0; attempt < 4 && !f; ++attempt) {
    partial = PartialName(out);
    f = fs.CreateNew(partial);
  }
  if (!f) {
    std::fprintf(stderr, "vqunzip: cannot create %s\n", vq::WideToUtf8(partial).c_str());
    return kFailed;
  }
  vq::zip::ZipEntryInfo info;
  ReadStatus s = vq::zip::ZipExtractFile(
      fs, archive, password.empty() ? nullptr : password.c_str(),
      [&](const uint8_t* p, size_t n) { return f->Write(p, n) == n; }, &info);
  // Whole on the disk before it gets its name: a delayed write may fail only at the flush or close.
  if (s == ReadStatus::Sound && !(f->Flush() && f->Close())) s = ReadStatus::OutputFailed;
  f.reset();
  Report(archive, s, info);
  if (s != ReadStatus::Sound) {
    fs.RemoveFile(partial);
    return s == ReadStatus::OutputFailed ? kFailed : s == ReadStatus::WrongPassword ? kWrongPassword : kBroken;
  }
  if (info.hasModified && !fs.SetLastWriteTime(partial, info.modified)) {
    fs.RemoveFile(partial);
    std::fprintf(stderr, "vqunzip: cannot set the time of %s\n", vq::WideToUtf8(partial).c_str());
    return kFailed;
  }
  bool exists = false;
  if (!fs.MoveNoReplace(partial, out, &exists)) {
    fs.RemoveFile(partial);
    std::fprintf(stderr, "vqunzip: cannot write %s%s\n", vq::WideToUtf8(out).c_str(), exists ? " (it exists)" : "");
    return kFailed;
  }
  const size_t cut = out.find_last_of(L"\\/");
  if (!fs.FlushFolder(cut == std::wstring::npos ? L"." : out.substr(0, cut + 1))) {
    std::fprintf(stderr, "vqunzip: %s may not survive a power cut: its folder cannot be flushed\n",
                 vq::WideToUtf8(out).c_str());
    return kFailed;
  }
  return kSound;
}

int Run(std::vector<std::wstring> args, const std::string& password) {
  if (!args.empty() && args[0] == L"-p") {
    if (args.size() < 2) return Usage();  // "-p" without its value is no archive named "-p"
    args.erase(args.begin(), args.begin() + 2);
  }
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
