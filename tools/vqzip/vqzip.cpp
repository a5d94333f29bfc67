// vqzip: the ZIP writer from the command line, for tests and for checking archives by hand.
//
//   vqzip ARCHIVE ENTRY_NAME SOURCE [PASSWORD]   one-entry archive, as the backup pass writes it
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
#include "zip/ZipWriter.h"

namespace {

using vq::platform::File;

int Usage() {
  std::fprintf(stderr,
               "usage: vqzip ARCHIVE ENTRY_NAME SOURCE [PASSWORD]\n"
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
            const std::string& password) {
  using namespace vq::zip;
  ZipHandle h = ZipCreate(archive, password);
  uint32_t create = h ? kZipSuccess : ZipLastResult();
  // As the backup pass does: a failed create is passed on to add and close.
  uint32_t add = ZipAdd(h, entry, source);
  uint32_t close = ZipClose(h);
  uint32_t result = create ? create : add ? add : close;
  std::printf("0x%08X %s\n", result, ZipResultText(result));
  return result == kZipSuccess ? 0 : 1;
}

int Run(const std::vector<std::wstring>& args, const std::string& password) {
  if (args.size() == 4 && args[0] == L"--deflate") return Deflate(args[1], args[2], args[3]);
  if (args.size() == 3 || args.size() == 4) return Archive(args[0], args[1], args[2], password);
  return Usage();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  std::string password = args.size() == 4 ? vq::platform::WideToAnsi(args[3]) : std::string();
  return Run(args, password);
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(vq::Utf8ToWide(argv[i]));
  std::string password = argc == 5 ? std::string(argv[4]) : std::string();
  return Run(args, password);
}
#endif
