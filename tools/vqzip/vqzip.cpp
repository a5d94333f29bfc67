// vqzip: the ZIP writer from the command line, for tests and for checking archives by hand.
//
//   vqzip ARCHIVE ENTRY_NAME SOURCE [PASSWORD]   one-entry archive, as the backup pass writes it
//   vqzip --aes ARCHIVE ENTRY_NAME SOURCE PASSWORD   the same with AES-256 (compressed and
//                                                     encrypted once, as the pass does)
//   vqzip --deflate LEVEL IN OUT                 raw DEFLATE stream of IN
//
// Prints the result code and its text; exits 0 only on success. The password reaches the
// cipher as bytes of the ANSI code page (Windows) or as given (POSIX, UTF-8).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "zip/Deflate.h"
#include "zip/ZipAes.h"
#include "zip/ZipWriter.h"

namespace {

using vq::platform::File;

int Usage() {
  std::fprintf(stderr,
               "usage: vqzip [--aes] ARCHIVE ENTRY_NAME SOURCE [PASSWORD]\n"
               "       vqzip --deflate LEVEL IN OUT\n");
  return 2;
}

struct Streams {
  File in;
  File out;
  bool write_failed = false;
};

int ReadIn(void* ctx, uint8_t* dst, unsigned max) { return int(static_cast<Streams*>(ctx)->in.Read(dst, max)); }

void WriteOut(void* ctx, const uint8_t* buf, unsigned* count) {
  auto* s = static_cast<Streams*>(ctx);
  size_t done = 0;
  while (done < *count) {
    size_t k = s->out.Write(buf + done, *count - done);
    if (k == 0) return;
    done += k;
  }
  *count = 0;
}

int Deflate(const std::wstring& level_text, const std::wstring& in, const std::wstring& out) {
  int level = std::atoi(vq::WideToUtf8(level_text).c_str());
  Streams s;
  s.in = File::OpenRead(in);
  if (!s.in.IsOpen()) {
    std::fprintf(stderr, "vqzip: cannot open %s\n", vq::WideToUtf8(in).c_str());
    return 1;
  }
  s.out = File::CreateAlways(out);
  if (!s.out.IsOpen()) {
    std::fprintf(stderr, "vqzip: cannot create %s\n", vq::WideToUtf8(out).c_str());
    return 1;
  }
  vq::zip::DeflateState* state = vq::zip::DeflateStateCreate();
  if (!state) {
    std::fprintf(stderr, "vqzip: out of memory\n");
    return 1;
  }
  std::vector<uint8_t> buf(16384);
  vq::zip::DeflateJob job;
  job.level = level;
  job.ctx = &s;
  job.read = ReadIn;
  job.flush = WriteOut;
  job.out_buf = buf.data();
  job.out_size = unsigned(buf.size());
  uint64_t size = vq::zip::DeflateRun(state, job);
  const char* error = vq::zip::DeflateError(state);
  int rc = 0;
  if (error) {
    std::fprintf(stderr, "vqzip: deflate failed: %s\n", error);
    rc = 1;
  } else {
    std::printf("%llu\n", static_cast<unsigned long long>(size));
  }
  vq::zip::DeflateStateDestroy(state);
  return rc;
}

int Archive(const std::wstring& archive, const std::wstring& entry, const std::wstring& source,
            const std::string& password, bool aes) {
  using namespace vq::zip;
  ZipPrepared* prepared = nullptr;
  uint32_t prepare = kZipSuccess;
  if (aes) {
    // As the backup pass does: the keys made first, then spent on the compressed data.
    AesEntryKeys keys;
    if (!password.empty()) keys.Make(password);
    prepare = password.empty()
                  ? ZipPrepareEncrypted(entry, source, archive + L".spill", ZipEncryption::Aes256, password, &prepared)
                  : ZipPrepareWithKeys(entry, source, archive + L".spill", &keys, &prepared);
    if (prepare) {
      std::printf("0x%08X %s\n", prepare, ZipResultText(prepare));
      return 1;
    }
  }
  ZipHandle h = ZipCreate(archive, password);
  uint32_t create = h ? kZipSuccess : ZipLastResult();
  if (h && aes) ZipSetEncryption(h, ZipEncryption::Aes256);
  // As the backup pass does: a failed create is passed on to add and close.
  uint32_t add = aes ? ZipAddPrepared(h, prepared) : ZipAdd(h, entry, source);
  uint32_t close = ZipClose(h);
  ZipPreparedFree(prepared);
  uint32_t result = create ? create : add ? add : close;
  std::printf("0x%08X %s\n", result, ZipResultText(result));
  return result == kZipSuccess ? 0 : 1;
}

// args without a leading --aes; aes says whether there was one.
int Run(const std::vector<std::wstring>& args, const std::string& password, bool aes) {
  if (!aes && args.size() == 4 && args[0] == L"--deflate") return Deflate(args[1], args[2], args[3]);
  if (aes && args.size() == 4) return Archive(args[0], args[1], args[2], password, true);
  if (!aes && (args.size() == 3 || args.size() == 4)) return Archive(args[0], args[1], args[2], password, false);
  return Usage();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  const bool aes = !args.empty() && args[0] == L"--aes";
  if (aes) args.erase(args.begin());
  std::string password = args.size() == 4 ? vq::platform::WideToAnsi(args[3]) : std::string();
  return Run(args, password, aes);
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  const bool aes = argc > 1 && std::string(argv[1]) == "--aes";
  for (int i = aes ? 2 : 1; i < argc; ++i) args.push_back(vq::Utf8ToWide(argv[i]));
  std::string password = args.size() == 4 ? std::string(argv[argc - 1]) : std::string();
  return Run(args, password, aes);
}
#endif
