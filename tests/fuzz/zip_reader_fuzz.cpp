// Reader fuzzer: any bytes as an archive, and archives built from the input then altered in one
// byte or given a false stated size, traditionally encrypted or AES-256. The reader must never hand
// out more than the entry states, an unaltered archive must read back exactly, and an altered AES
// archive is never sound with other bytes than it holds. Verify's side-by-side check must agree
// with the reader on every archive.
//   cmake --preset fuzz && cmake --build --preset fuzz --target zip_reader_fuzz
//   ./build/fuzz/tests/fuzz/zip_reader_fuzz -max_total_time=300 -dict=tests/fuzz/zip_reader_fuzz.dict
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/zip/ZipBytes.h"
#include "zip/Deflate.h"
#include "zip/ZipReader.h"

using namespace vq::zip;

namespace {

void Read(const std::string& archive, const char* password, std::string* out, ReadStatus* status, ZipEntryInfo* info) {
  vqtest::MemoryStream in(archive);
  out->clear();
  *status = ZipExtract(
      in, password,
      [&](const uint8_t* p, size_t n) {
        out->append(reinterpret_cast<const char*>(p), n);
        return true;
      },
      info);
  // Never past the stated size, whatever the bytes say.
  if (out->size() > info->size) std::abort();
  if (*status != ReadStatus::Sound && *status != ReadStatus::TooLong && *status != ReadStatus::BadData &&
      *status != ReadStatus::CrcMismatch && *status != ReadStatus::SizeMismatch && *status != ReadStatus::AuthFailed &&
      !out->empty())
    std::abort();  // bytes come out only once the headers and the password were accepted
  // Verify checks archives side by side, through the same inflate loop: each must get the
  // reader's verdict.
  vqtest::MemoryStream a(archive), b(archive);
  vq::platform::FileStream* both[2] = {&a, &b};
  ReadStatus side[2];
  ZipEntryInfo sideInfo[2];
  ZipCheckSideBySide(both, 2, password, side, sideInfo);
  if (side[0] != *status || side[1] != *status) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int mode = data[0] % 3;
  const char* password = (data[0] & 0x80) ? "739" : nullptr;
  std::string out;
  ReadStatus status;
  ZipEntryInfo info;
  if (mode == 0) {
    Read(std::string(reinterpret_cast<const char*>(data + 1), size - 1), password, &out, &status, &info);
    return 0;
  }
  vqtest::ZipSpec z;
  z.plain.assign(reinterpret_cast<const char*>(data + 4), size - 4);
  z.password = password;
  z.aes.on = password && (data[0] & 0x40);
  const int level = 1 + data[1] % 9;  // 9: stored
  if (level == 9) {
    z.method = 0;
    z.compressed = z.plain;
  } else if (!DeflateBuffer(level, z.plain.data(), z.plain.size(), &z.compressed)) {
    std::abort();
  }
  if (mode == 2) z.statedSize = (uint32_t(data[2]) << 8 | data[3]) % (z.plain.size() * 2 + 1);
  std::string archive = vqtest::BuildZip(z);
  if (mode == 1) {
    Read(archive, password, &out, &status, &info);
    if (status != ReadStatus::Sound || out != z.plain) std::abort();
    const size_t at = (uint32_t(data[2]) << 8 | data[3]) % archive.size();
    archive[at] = char(archive[at] ^ (data[1] | 1));
  }
  Read(archive, password, &out, &status, &info);
  // The authentication code covers every ciphered byte; the rest of the archive is checked
  // against itself. One changed byte cannot give other contents as sound.
  if (z.aes.on && mode == 1 && status == ReadStatus::Sound && out != z.plain) std::abort();
  return 0;
}
