#include "zip/ZipWriter.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <new>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "zip/Alloc.h"
#include "zip/Crc32.h"
#include "zip/Deflate.h"
#include "zip/ZipAes.h"
#include "zip/ZipCipher.h"

namespace vq::zip {

namespace {

constexpr uint32_t kTransferSize = 16384;
constexpr unsigned kNameArea = 260;      // bytes, terminator included
constexpr unsigned kLocalExtraLen = 17;  // the extended timestamp
constexpr unsigned kCentralExtraLen = 9;
// An AES entry carries the AES field after the timestamp in both headers.
constexpr unsigned kLocalExtraMax = kLocalExtraLen + kAesExtraLen;
constexpr unsigned kCentralExtraMax = kCentralExtraLen + kAesExtraLen;
constexpr unsigned kLocalHeaderLen = 30;
constexpr unsigned kCentralHeaderLen = 46;
constexpr unsigned kCryptHeaderLen = 12;
constexpr uint16_t kVersionMadeBy = 0x0B17;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8Name = 0x0800;
// Files this large do not fit the 32-bit sizes of the format without ZIP64.
constexpr uint64_t kLargestSource = 0x7FFFFFFF;

std::atomic<uint32_t> g_last_result{0};
std::atomic<int64_t> g_fixed_seed{-1};
// Compressed data of a prepared source is held in memory up to this size, then spills to a file.
std::atomic<size_t> g_prepared_memory{4u << 20};

uint32_t HeaderSeed() {
  int64_t fixed = g_fixed_seed.load(std::memory_order_relaxed);
  if (fixed >= 0) return uint32_t(fixed);
  return platform::DesktopHandleValue() ^ platform::TickCount();
}

}  // namespace

struct ZipEntryRecord {
  uint16_t version_made_by;
  uint16_t version_needed;
  uint16_t flags;  // central
  uint16_t method;
  uint32_t dos_stamp;
  uint32_t crc;
  uint32_t compressed_size;
  uint32_t uncompressed_size;
  uint32_t name_len;
  uint32_t local_extra_len;
  uint32_t central_extra_len;
  uint32_t comment_len;
  uint16_t disk_start;
  uint16_t internal_attributes;
  uint16_t local_flags;
  uint32_t external_attributes;
  uint32_t local_offset;
  char name[kNameArea];
  uint8_t local_extra[kLocalExtraMax];
  uint8_t central_extra[kCentralExtraMax];
  ZipEntryRecord* next;
};

struct ZipWriter {
  char* password = nullptr;  // password_len bytes, null when there are none
  size_t password_len = 0;
  platform::FileSystem* fs = nullptr;
  std::unique_ptr<platform::FileStream> out;
  uint32_t error = 0;
  uint32_t written = 0;
  bool directory_written = false;
  bool encrypting = false;
  ZipEncryption encryption = ZipEncryption::Traditional;
  ZipCipherKeys keys;
  std::unique_ptr<AesEntryCipher> aes;  // the AES entry being written, while its data goes out
  uint8_t* cipher_buf = nullptr;
  uint32_t cipher_cap = 0;
  ZipEntryRecord* first = nullptr;
  ZipEntryRecord* last = nullptr;
  DeflateState* deflate = nullptr;
  uint32_t attributes = 0;
  int64_t atime = 0, mtime = 0, ctime = 0;
  uint32_t dos_stamp = 0;
  int32_t expected_size = 0;
  uint32_t bytes_read = 0;
  uint32_t crc = 0;
  std::unique_ptr<platform::FileStream> src;
  uint32_t compressed_size = 0;
  uint8_t transfer[kTransferSize];
};

namespace {

uint32_t Finish(uint32_t code) {
  g_last_result.store(code, std::memory_order_relaxed);
  return code;
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// One platform write may take fewer bytes than asked; keep going until all are written or a
// write takes none. Returns the bytes written.
size_t WriteAll(platform::FileStream& f, const uint8_t* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    size_t k = f.Write(data + done, n - done);
    if (k == 0) break;
    done += k;
  }
  return done;
}

// The archive output: enciphers a copy while an encrypted entry's data is being written.
// Returns the bytes that reached the file; the caller counts them.
size_t Output(ZipWriter* w, const uint8_t* data, size_t n) {
  if (!w->out) {
    w->error = kZipNotInitialised;
    return 0;
  }
  if (n == 0) return 0;
  if (w->encrypting) {
    if (w->cipher_cap < n) {
      ZipRelease(w->cipher_buf);
      w->cipher_cap = 0;
      w->cipher_buf = static_cast<uint8_t*>(ZipAllocate(n * 2));
      if (!w->cipher_buf) {
        w->error = kZipNoMemory;
        return 0;
      }
      w->cipher_cap = uint32_t(n * 2);
    }
    std::memcpy(w->cipher_buf, data, n);
    if (w->aes) {
      if (!w->aes->Encrypt(w->cipher_buf, n)) {
        w->error = kZipNotInitialised;  // the system's cipher failed us
        return 0;
      }
    } else {
      CipherEncrypt(&w->keys, w->cipher_buf, n);
    }
    data = w->cipher_buf;
  }
  return WriteAll(*w->out, data, n);
}

// Appends at the end of the archive; true when every byte went out.
bool Append(ZipWriter* w, const uint8_t* data, size_t n) {
  size_t k = Output(w, data, n);
  w->written += uint32_t(k);
  return k == n;
}

int ReadSource(void* ctx, uint8_t* dst, unsigned max) {
  auto* w = static_cast<ZipWriter*>(ctx);
  if (!w->src) {
    w->error = kZipNotInitialised;
    return 0;
  }
  int64_t n = w->src->Read(dst, max);
  if (n < 0) {
    // A failed read is not the end of the file: the entry would be cut short and still pass
    // for whole. Record it; the add then fails with it.
    w->error = kZipReadFailed;
    return 0;
  }
  w->bytes_read += uint32_t(n);
  w->crc = Crc32Update(w->crc, dst, size_t(n));
  return int(n);
}

void FlushCompressed(void* ctx, const uint8_t* buf, unsigned* count) {
  auto* w = static_cast<ZipWriter*>(ctx);
  size_t k = Output(w, buf, *count);
  w->compressed_size += uint32_t(k);
  // A short write leaves the count set: the compressor then fails the stream.
  if (k == *count) *count = 0;
}

size_t BuildLocalHeader(const ZipEntryRecord& r, uint8_t* p) {
  Put32(p + 0, 0x04034B50);
  Put16(p + 4, r.version_needed);
  Put16(p + 6, r.local_flags);
  Put16(p + 8, r.method);
  Put32(p + 10, r.dos_stamp);  // time, then date
  Put32(p + 14, r.crc);
  Put32(p + 18, r.compressed_size);
  Put32(p + 22, r.uncompressed_size);
  Put16(p + 26, r.name_len);
  Put16(p + 28, r.local_extra_len);
  std::memcpy(p + 30, r.name, r.name_len);
  std::memcpy(p + 30 + r.name_len, r.local_extra, r.local_extra_len);
  return kLocalHeaderLen + r.name_len + r.local_extra_len;
}

size_t BuildCentralHeader(const ZipEntryRecord& r, uint8_t* p) {
  Put32(p + 0, 0x02014B50);
  Put16(p + 4, r.version_made_by);
  Put16(p + 6, r.version_needed);
  Put16(p + 8, r.flags);
  Put16(p + 10, r.method);
  Put32(p + 12, r.dos_stamp);
  Put32(p + 16, r.crc);
  Put32(p + 20, r.compressed_size);
  Put32(p + 24, r.uncompressed_size);
  Put16(p + 28, r.name_len);
  Put16(p + 30, r.central_extra_len);
  Put16(p + 32, r.comment_len);
  Put16(p + 34, r.disk_start);
  Put16(p + 36, r.internal_attributes);
  Put32(p + 38, r.external_attributes);
  Put32(p + 42, r.local_offset);
  std::memcpy(p + 46, r.name, r.name_len);
  std::memcpy(p + 46 + r.name_len, r.central_extra, r.central_extra_len);
  return kCentralHeaderLen + r.name_len + r.central_extra_len;
}

void FreeEntries(ZipWriter* w) {
  while (w->first) {
    ZipEntryRecord* next = w->first->next;
    ZipRelease(w->first);
    w->first = next;
  }
  w->last = nullptr;
}

void DestroyWriter(ZipWriter* w) {
  if (!w) return;
  FreeEntries(w);
  DeflateStateDestroy(w->deflate);
  ZipRelease(w->cipher_buf);
  ZipRelease(w->password);
  w->~ZipWriter();
  ZipRelease(w);
}

uint32_t WriteDirectory(ZipWriter* w) {
  const uint32_t start = w->written;
  bool failed = false;
  uint32_t count = 0;
  uint8_t buf[kCentralHeaderLen + kNameArea + kCentralExtraMax];
  while (w->first) {
    ZipEntryRecord* r = w->first;
    if (!failed) failed = !Append(w, buf, BuildCentralHeader(*r, buf));
    w->first = r->next;
    ZipRelease(r);
    count++;
  }
  w->last = nullptr;
  if (failed) return kZipWriteFailed;

  uint8_t end[22];
  Put32(end + 0, 0x06054B50);
  Put16(end + 4, 0);
  Put16(end + 6, 0);
  Put16(end + 8, count);
  Put16(end + 10, count);
  Put32(end + 12, w->written - start);
  Put32(end + 16, start);
  Put16(end + 20, 0);
  return Append(w, end, sizeof end) ? kZipSuccess : kZipWriteFailed;
}

// The source is positioned at byte 0 again afterwards.
bool TestExecutable(ZipWriter* w, uint64_t size, bool* executable) {
  *executable = false;
  if (size <= 40) return true;
  uint8_t head[1024];
  int64_t n = w->src->Read(head, sizeof head);
  *executable = n > 0 && ZipLooksExecutable(head, size_t(n));
  return w->src->SeekSet(0);
}

// Steps 11 onward share these checks once the data has gone out.
uint32_t DataFailure(ZipWriter* w, uint32_t data_result) {
  if (w->error) return w->error;
  if (data_result) return kZipWriteFailed;
  return kZipSuccess;
}

// What an entry's data comes from: a file read (and deflated) while the entry is written, or a
// source deflated once beforehand for several archives. Both give the same bytes.
struct SourceFacts {
  uint32_t attributes = 0;
  int64_t mtime = 0, atime = 0, ctime = 0;
  uint32_t dos_stamp = 0;
  int32_t expected_size = 0;
};

class EntrySource {
 public:
  virtual ~EntrySource() = default;
  // A result code; nothing has been written when it fails.
  virtual uint32_t Open(ZipWriter* w, SourceFacts* facts) = 0;
  // Writes the entry's data through Output, counting w->compressed_size, w->bytes_read and
  // w->crc. kZipNoMemory fails the entry at once; otherwise 0 or the storing or compressing
  // failure (kZipSizeMismatch, kZipDeflateFailed).
  virtual uint32_t Produce(ZipWriter* w, uint16_t method, uint16_t* gp_flags) = 0;
  virtual void Close(ZipWriter* w) = 0;
  // A source whose data was AES-encrypted beforehand: its salt, verifier and code come with it.
  virtual const ZipPrepared* Sealed() const { return nullptr; }
};

// Facts of an open source file, shared by both kinds of source.
uint32_t ReadFacts(platform::FileStream& src, SourceFacts* facts, bool* executable_out,
                   const std::function<bool(uint64_t, bool*)>& test_executable) {
  platform::FileInfo info;
  bool executable = false;
  if (!src.Info(&info) || !test_executable(info.size, &executable)) return kZipCouldNotOpen;
  if (info.size > kLargestSource) return kZipBadArguments;
  facts->attributes = ZipExternalAttributes(info.attributes, executable);
  facts->mtime = info.modified;
  facts->atime = info.accessed;
  facts->ctime = info.created;
  facts->dos_stamp = ZipDosStampFromUnix(info.modified);
  facts->expected_size = int32_t(info.size);
  if (executable_out) *executable_out = executable;
  return kZipSuccess;
}

class FileSource : public EntrySource {
 public:
  explicit FileSource(const std::wstring& path) : path_(path) {}
  uint32_t Open(ZipWriter* w, SourceFacts* facts) override {
    w->src = w->fs->OpenRead(path_);
    if (!w->src) return kZipCouldNotOpen;
    uint32_t code = ReadFacts(*w->src, facts, nullptr,
                              [w](uint64_t size, bool* executable) { return TestExecutable(w, size, executable); });
    if (code) w->src.reset();
    return code;
  }
  uint32_t Produce(ZipWriter* w, uint16_t method, uint16_t* gp_flags) override {
    if (method == 8) {
      if (!w->deflate) w->deflate = DeflateStateCreate();
      if (!w->deflate) return kZipNoMemory;
      DeflateJob job;
      job.level = 8;
      job.ctx = w;
      job.read = ReadSource;
      job.flush = FlushCompressed;
      job.out_buf = w->transfer;
      job.out_size = kTransferSize;
      job.gp_flags = gp_flags;
      DeflateRun(w->deflate, job);
      return DeflateError(w->deflate) ? kZipDeflateFailed : kZipSuccess;
    }
    for (;;) {
      int n = ReadSource(w, w->transfer, kTransferSize);
      if (n <= 0) break;
      size_t k = Output(w, w->transfer, size_t(n));
      w->compressed_size += uint32_t(k);
      if (k != size_t(n)) return kZipSizeMismatch;
    }
    return kZipSuccess;
  }
  void Close(ZipWriter* w) override { w->src.reset(); }

 private:
  const std::wstring& path_;
};

}  // namespace

struct ZipPrepared {
  platform::FileSystem* fs = nullptr;
  std::wstring entry_name, spill_path;
  std::unique_ptr<platform::FileStream> src, spill;
  bool spilled = false;
  std::string memory;  // the first compressed bytes, up to the memory bound
  SourceFacts facts;
  uint16_t gp_bits = 0;
  uint32_t crc = 0, bytes_read = 0, error = 0;
  // Sealed with AES: the bytes kept are ciphered already.
  bool aes = false;
  std::string password;
  std::unique_ptr<AesEntryCipher> cipher;  // while preparing
  uint8_t salt[kAesSaltLen] = {}, verifier[kAesVerifierLen] = {}, mac[kAesMacLen] = {};
  uint8_t transfer[kTransferSize];
};

namespace {

int PreparedRead(void* ctx, uint8_t* dst, unsigned max) {
  auto* p = static_cast<ZipPrepared*>(ctx);
  int64_t n = p->src->Read(dst, max);
  if (n < 0) {
    p->error = kZipReadFailed;
    return 0;
  }
  p->bytes_read += uint32_t(n);
  p->crc = Crc32Update(p->crc, dst, size_t(n));
  return int(n);
}

// Keeps compressed bytes (ciphered first when sealing; data is our own transfer buffer): in memory
// first, then in the spill file. False when the spill or the cipher failed.
bool PreparedKeep(ZipPrepared* p, uint8_t* data, size_t n) {
  if (p->cipher && !p->cipher->Encrypt(data, n)) {
    p->error = kZipNotInitialised;
    return false;
  }
  const size_t bound = g_prepared_memory.load(std::memory_order_relaxed);
  size_t room = p->memory.size() < bound ? bound - p->memory.size() : 0;
  size_t here = n < room ? n : room;
  p->memory.append(reinterpret_cast<const char*>(data), here);
  data += here;
  n -= here;
  if (n == 0) return true;
  if (!p->spill) {
    p->spill = p->fs->CreateAlways(p->spill_path);
    if (!p->spill) return false;
    p->spilled = true;
  }
  return WriteAll(*p->spill, data, n) == n;
}

void PreparedFlush(void* ctx, const uint8_t* buf, unsigned* count) {
  auto* p = static_cast<ZipPrepared*>(ctx);
  // The compressor's output buffer is p->transfer, ours to cipher in place.
  if (PreparedKeep(p, p->transfer + (buf - p->transfer), *count)) *count = 0;
}

class PreparedSource : public EntrySource {
 public:
  explicit PreparedSource(const ZipPrepared& p) : p_(p) {}
  uint32_t Open(ZipWriter*, SourceFacts* facts) override {
    *facts = p_.facts;
    return kZipSuccess;
  }
  uint32_t Produce(ZipWriter* w, uint16_t, uint16_t* gp_flags) override {
    *gp_flags |= p_.gp_bits;
    w->bytes_read = p_.bytes_read;
    w->crc = p_.crc;
    if (!Copy(w, reinterpret_cast<const uint8_t*>(p_.memory.data()), p_.memory.size())) return kZipSizeMismatch;
    if (!p_.spilled) return kZipSuccess;
    auto in = p_.fs->OpenRead(p_.spill_path);
    if (!in) {
      w->error = kZipReadFailed;
      return kZipSuccess;
    }
    for (;;) {
      int64_t n = in->Read(w->transfer, kTransferSize);
      if (n < 0) w->error = kZipReadFailed;
      if (n <= 0) break;
      if (!Copy(w, w->transfer, size_t(n))) return kZipSizeMismatch;
    }
    return kZipSuccess;
  }
  void Close(ZipWriter*) override {}
  const ZipPrepared* Sealed() const override { return p_.aes ? &p_ : nullptr; }

 private:
  static bool Copy(ZipWriter* w, const uint8_t* data, size_t n) {
    size_t k = n ? Output(w, data, n) : 0;
    w->compressed_size += uint32_t(k);
    return k == n;
  }
  const ZipPrepared& p_;
};

// The checks of an entry name that come before its source is opened; the stored form in *oem.
uint32_t CheckEntryName(const std::wstring& entry_name, std::wstring* name, std::string* oem) {
  if (entry_name.empty()) return kZipBadArguments;
  if (WideToUtf16(entry_name).size() > kNameArea - 1) return kZipBadArguments;
  *name = entry_name;
  for (wchar_t& c : *name) {
    if (c == L'\\') c = L'/';
  }
  *oem = platform::WideToOem(*name);
  if (oem->empty() || oem->size() > kNameArea - 1) return kZipBadArguments;
  return kZipSuccess;
}

uint32_t AddEntry(ZipWriter* w, const std::wstring& entry_name, EntrySource& source) {
  if (w->error) return kZipPreviousError;
  if (w->directory_written) return kZipAdditionsEnded;
  const ZipPrepared* sealed = source.Sealed();
  const bool encrypt = w->password != nullptr;
  const bool aes = encrypt && w->encryption == ZipEncryption::Aes256;
  const bool traditional = encrypt && !aes;
  // Sealed bytes are ciphered under their own password: only an archive meant for exactly that
  // may take them, or it would hold data its own password cannot open.
  const std::string_view password(w->password, w->password_len);
  if (sealed && (!aes || sealed->password != password)) return kZipBadArguments;
  const uint32_t crypt_len = traditional ? kCryptHeaderLen : aes ? uint32_t(kAesOverhead) : 0;

  std::wstring name;
  std::string oem;
  if (uint32_t code = CheckEntryName(entry_name, &name, &oem)) return code;
  const uint16_t method = ZipIsArchiveName(name) ? 0 : 8;

  SourceFacts facts;
  if (uint32_t code = source.Open(w, &facts)) return code;
  w->attributes = facts.attributes;
  w->mtime = facts.mtime;
  w->atime = facts.atime;
  w->ctime = facts.ctime;
  w->dos_stamp = facts.dos_stamp;
  w->expected_size = facts.expected_size;

  auto* r = static_cast<ZipEntryRecord*>(ZipAllocate(sizeof(ZipEntryRecord)));
  if (!r) {
    source.Close(w);
    return kZipNoMemory;
  }
  std::memset(r, 0, sizeof *r);
  r->version_made_by = kVersionMadeBy;
  r->version_needed = aes ? kAesVersionNeeded : kVersionNeeded;
  r->flags = encrypt ? kFlagDescriptor | kFlagEncrypted : kFlagDescriptor;
  // Where the system's names are UTF-8 (the POSIX build), say so in the flags; in a real OEM code
  // page the flag stays clear, as every reader assumes that code page anyway.
  if (platform::OemIsUtf8()) {
    for (unsigned char c : oem)
      if (c >= 0x80) {
        r->flags |= kFlagUtf8Name;
        break;
      }
  }
  r->local_flags = r->flags;
  r->method = aes ? kAesMethod : method;
  r->dos_stamp = w->dos_stamp;
  r->crc = 0;
  r->compressed_size = method == 0 ? uint32_t(w->expected_size) + crypt_len : 0;
  r->uncompressed_size = uint32_t(w->expected_size);
  r->name_len = uint32_t(oem.size());
  std::memcpy(r->name, oem.data(), oem.size());
  r->local_extra_len = kLocalExtraLen;
  r->central_extra_len = kCentralExtraLen;
  r->external_attributes = w->attributes;
  r->local_offset = w->written;
  uint8_t* le = r->local_extra;
  Put16(le + 0, 0x5455);
  Put16(le + 2, 13);
  le[4] = 0x07;  // modification, access and creation time present
  Put32(le + 5, uint32_t(w->mtime));
  Put32(le + 9, uint32_t(w->atime));
  Put32(le + 13, uint32_t(w->ctime));
  uint8_t* ce = r->central_extra;
  Put16(ce + 0, 0x5455);
  Put16(ce + 2, 5);
  ce[4] = 0x07;
  Put32(ce + 5, uint32_t(w->mtime));
  if (aes) {
    AesExtraField(le + kLocalExtraLen, method);
    AesExtraField(ce + kCentralExtraLen, method);
    r->local_extra_len += kAesExtraLen;
    r->central_extra_len += kAesExtraLen;
  }

  auto fail = [&](uint32_t code) {
    w->encrypting = false;
    w->aes.reset();
    source.Close(w);
    ZipRelease(r);
    return code;
  };

  uint8_t header[kLocalHeaderLen + kNameArea + kLocalExtraMax];
  const uint32_t first_compressed_size = r->compressed_size;
  if (!Append(w, header, BuildLocalHeader(*r, header))) return fail(kZipWriteFailed);
  if (w->error) return fail(w->error);

  if (aes) {
    uint8_t head[kAesSaltLen + kAesVerifierLen];
    if (sealed) {
      std::memcpy(head, sealed->salt, kAesSaltLen);
      std::memcpy(head + kAesSaltLen, sealed->verifier, kAesVerifierLen);
    } else {
      w->aes.reset(new (std::nothrow) AesEntryCipher);
      if (!w->aes) return fail(kZipNoMemory);
      AesEntryKeys keys;
      keys.Make(password);
      if (!w->aes->Start(keys, head, head + kAesSaltLen)) return fail(kZipNotInitialised);
    }
    if (!Append(w, head, sizeof head)) return fail(kZipWriteFailed);
  } else if (traditional) {
    uint8_t crypt_header[kCryptHeaderLen];
    uint32_t seed = HeaderSeed();
    MakeEncryptionHeader(&w->keys, password, seed, uint16_t(w->dos_stamp & 0xFFFF), crypt_header);
    if (!Append(w, crypt_header, sizeof crypt_header)) return fail(kZipWriteFailed);
  }

  w->bytes_read = 0;
  w->crc = 0;
  w->compressed_size = 0;
  w->encrypting = traditional || (aes && !sealed);
  uint32_t data_result = source.Produce(w, method, &r->flags);
  if (data_result == kZipNoMemory) {
    w->written += w->compressed_size;
    return fail(kZipNoMemory);
  }
  w->encrypting = false;
  source.Close(w);
  w->written += w->compressed_size;
  w->expected_size = int32_t(w->bytes_read);
  if (uint32_t code = DataFailure(w, data_result)) return fail(code);
  if (aes) {
    uint8_t mac[kAesMacLen];
    if (sealed) {
      std::memcpy(mac, sealed->mac, kAesMacLen);
    } else if (!w->aes->Finish(mac)) {
      return fail(kZipNotInitialised);
    }
    w->aes.reset();
    if (!Append(w, mac, sizeof mac)) return fail(kZipWriteFailed);
  }

  r->compressed_size = w->compressed_size + crypt_len;
  // AE-2 stores no CRC: the plaintext's checksum would let anyone test a guess at the contents.
  r->crc = aes ? 0 : w->crc;
  r->uncompressed_size = w->bytes_read;
  const bool size_as_announced = r->compressed_size == first_compressed_size;

  if (!traditional) {
    // Nothing in an AES entry's data depends on its sizes, so like a plain entry its local header
    // gets them afterwards and no descriptor follows.
    r->flags &= uint16_t(~kFlagDescriptor);
    r->local_flags = r->flags;
    bool ok = w->out->SeekSet(r->local_offset);
    size_t len = ok ? BuildLocalHeader(*r, header) : 0;
    ok = ok && Output(w, header, len) == len;
    // Whatever happened, later output belongs at the end.
    ok = w->out->SeekSet(w->written) && ok;
    if (!ok) return fail(kZipWriteFailed);
  } else {
    if (method == 0 && !size_as_announced) return fail(kZipCannotChange);
    uint8_t desc[16];
    Put32(desc + 0, 0x08074B50);
    Put32(desc + 4, r->crc);
    Put32(desc + 8, r->compressed_size);
    Put32(desc + 12, r->uncompressed_size);
    if (!Append(w, desc, sizeof desc)) return fail(kZipWriteFailed);
    // The level bits the compressor set are not kept: both headers carry the same flags.
    r->flags = r->local_flags;
  }
  if (w->error) return fail(w->error);

  r->next = nullptr;
  if (w->last) {
    w->last->next = r;
  } else {
    w->first = r;
  }
  w->last = r;
  return kZipSuccess;
}

}  // namespace

const char* ZipResultText(uint32_t code) {
  switch (code) {
    case kZipSuccess:
      return "Success";
    case kZipCouldNotDuplicate:
      return "Culdn't duplicate handle";
    case kZipCouldNotOpen:
      return "Couldn't create/open file";
    case kZipNoMemory:
      return "Failed to allocate memory";
    case kZipWriteFailed:
      return "Error writing to file";
    case kZipNotFound:
      return "File not found in the zipfile";
    case kZipMoreData:
      return "Still more data to unzip";
    case kZipCorrupt:
      return "Zipfile is corrupt or not a zipfile";
    case kZipReadFailed:
      return "Error reading file";
    case kZipBadArguments:
      return "Caller: faulty arguments";
    case kZipNotMemoryArchive:
      return "Caller: can only get memory of a memory zipfile";
    case kZipMemoryTooSmall:
      return "Caller: not enough space allocated for memory zipfile";
    case kZipPreviousError:
      return "Caller: there was a previous error";
    case kZipAdditionsEnded:
      return "Caller: additions to the zip have already been ended";
    case kZipSizeMismatch:
      return "Zip-bug: the anticipated size turned out wrong";
    case kZipPartlyUnzipped:
      return "Caller: the file had already been partially unzipped";
    case kZipWrongKind:
      return "Caller: mixing creation and opening of zip";
    case kZipNotInitialised:
      return "Zip-bug: internal initialisation not completed";
    case kZipUnseekable:
      return "Zip-bug: trying to seek the unseekable";
    case kZipCannotChange:
      return "Zip-bug: tried to change mind, but not allowed";
    case kZipDeflateFailed:
      return "Zip-bug: an internal error during flation";
    default:
      return "unknown zip result code";
  }
}

ZipHandle ZipCreate(const std::wstring& archive_path, std::string_view password, platform::FileSystem& fs) {
  void* mem = ZipAllocate(sizeof(ZipWriter));
  if (!mem) {
    Finish(kZipNoMemory);
    return nullptr;
  }
  ZipWriter* w = new (mem) ZipWriter;
  w->fs = &fs;
  if (!password.empty()) {
    const size_t n = password.size();
    w->password = static_cast<char*>(ZipAllocate(n));
    if (!w->password) {
      DestroyWriter(w);
      Finish(kZipNoMemory);
      return nullptr;
    }
    std::memcpy(w->password, password.data(), n);
    w->password_len = n;
  }
  auto* h = static_cast<ZipHandleRecord*>(ZipAllocate(sizeof(ZipHandleRecord)));
  if (!h) {
    DestroyWriter(w);
    Finish(kZipNoMemory);
    return nullptr;
  }
  w->out = fs.CreateAlways(archive_path);
  if (!w->out) {
    ZipRelease(h);
    DestroyWriter(w);
    Finish(kZipCouldNotOpen);
    return nullptr;
  }
  h->kind = kZipHandleKind;
  h->writer = w;
  Finish(kZipSuccess);
  return h;
}

uint32_t ZipAdd(ZipHandle h, const std::wstring& entry_name, const std::wstring& source_path) {
  if (!h) return Finish(kZipBadArguments);
  if (h->kind != kZipHandleKind) return Finish(kZipWrongKind);
  FileSource source(source_path);
  return Finish(AddEntry(h->writer, entry_name, source));
}

uint32_t ZipSetEncryption(ZipHandle h, ZipEncryption encryption) {
  if (!h) return kZipBadArguments;
  if (h->kind != kZipHandleKind) return kZipWrongKind;
  if (encryption != ZipEncryption::Traditional && encryption != ZipEncryption::Aes256) return kZipBadArguments;
  h->writer->encryption = encryption;
  return kZipSuccess;
}

uint32_t ZipEndAdditions(ZipHandle h) {
  if (!h) return kZipBadArguments;
  if (h->kind != kZipHandleKind) return kZipWrongKind;
  ZipWriter* w = h->writer;
  if (w->directory_written) return kZipAdditionsEnded;
  uint32_t code = WriteDirectory(w);
  w->directory_written = true;
  return code;
}

uint32_t ZipClose(ZipHandle h) {
  if (!h) return Finish(kZipBadArguments);
  // A record we did not make is not ours to free.
  if (h->kind != kZipHandleKind) return Finish(kZipWrongKind);
  ZipWriter* w = h->writer;
  uint32_t code = kZipSuccess;
  if (!w->directory_written) code = WriteDirectory(w);
  w->directory_written = true;
  if (w->out) {
    // An archive counts as written only once it is on the disk and its close succeeded: the
    // caller may move it over a good one next.
    if (code == kZipSuccess && !w->out->Flush()) code = kZipWriteFailed;
    if (!w->out->Close() && code == kZipSuccess) code = kZipWriteFailed;
  }
  w->out.reset();
  DestroyWriter(w);
  h->kind = 0;
  ZipRelease(h);
  return Finish(code);
}

uint32_t ZipPrepare(const std::wstring& entry_name, const std::wstring& source_path, const std::wstring& spill_path,
                    ZipPrepared** out, platform::FileSystem& fs) {
  return ZipPrepareEncrypted(entry_name, source_path, spill_path, ZipEncryption::Traditional, {}, out, fs);
}

namespace {

// keys: made beforehand for Aes256 (spent here), or null to make them here the same way.
uint32_t PrepareEntry(const std::wstring& entry_name, const std::wstring& source_path, const std::wstring& spill_path,
                      ZipEncryption encryption, std::string_view password, AesEntryKeys* keys, ZipPrepared** out,
                      platform::FileSystem& fs) {
  *out = nullptr;
  if (encryption != ZipEncryption::Traditional && encryption != ZipEncryption::Aes256) return kZipBadArguments;
  std::wstring name;
  std::string oem;
  if (uint32_t code = CheckEntryName(entry_name, &name, &oem)) return code;
  void* mem = ZipAllocate(sizeof(ZipPrepared));
  if (!mem) return kZipNoMemory;
  ZipPrepared* p = new (mem) ZipPrepared;
  p->fs = &fs;
  p->entry_name = entry_name;
  p->spill_path = spill_path;
  auto fail = [&](uint32_t code) {
    ZipPreparedFree(p);
    return code;
  };
  p->src = fs.OpenRead(source_path);
  if (!p->src) return fail(kZipCouldNotOpen);
  uint32_t code = ReadFacts(*p->src, &p->facts, nullptr, [p](uint64_t size, bool* executable) {
    *executable = false;
    if (size <= 40) return true;
    uint8_t head[1024];
    int64_t n = p->src->Read(head, sizeof head);
    *executable = n > 0 && ZipLooksExecutable(head, size_t(n));
    return p->src->SeekSet(0);
  });
  if (code) return fail(code);
  if (encryption == ZipEncryption::Aes256 && !password.empty()) {
    // One salt for every archive of this version: they hold identical bytes, so sharing the key
    // stream shows nothing that one archive does not; a new version gets a new salt.
    p->aes = true;
    p->password = password;
    p->cipher.reset(new (std::nothrow) AesEntryCipher);
    if (!p->cipher) return fail(kZipNoMemory);
    AesEntryKeys madeHere;
    if (!keys) {
      madeHere.Make(password);
      keys = &madeHere;
    }
    if (!p->cipher->Start(*keys, p->salt, p->verifier)) return fail(kZipNotInitialised);
  }

  uint32_t data_result = kZipSuccess;
  if (!ZipIsArchiveName(name)) {
    DeflateState* ds = DeflateStateCreate();
    if (!ds) return fail(kZipNoMemory);
    DeflateJob job;
    job.level = 8;
    job.ctx = p;
    job.read = PreparedRead;
    job.flush = PreparedFlush;
    job.out_buf = p->transfer;
    job.out_size = kTransferSize;
    job.gp_flags = &p->gp_bits;
    DeflateRun(ds, job);
    if (DeflateError(ds)) data_result = kZipDeflateFailed;
    DeflateStateDestroy(ds);
  } else {
    for (;;) {
      int n = PreparedRead(p, p->transfer, kTransferSize);
      if (n <= 0) break;
      if (!PreparedKeep(p, p->transfer, size_t(n))) {
        data_result = kZipSizeMismatch;
        break;
      }
    }
  }
  p->src.reset();
  p->spill.reset();
  // The same precedence as an add: a recorded failure first, then a failed data stream.
  if (p->error) return fail(p->error);
  if (data_result) return fail(kZipWriteFailed);
  if (p->cipher) {
    if (!p->cipher->Finish(p->mac)) return fail(kZipNotInitialised);
    p->cipher.reset();
  }
  *out = p;
  return kZipSuccess;
}

}  // namespace

uint32_t ZipPrepareEncrypted(const std::wstring& entry_name, const std::wstring& source_path,
                             const std::wstring& spill_path, ZipEncryption encryption, std::string_view password,
                             ZipPrepared** out, platform::FileSystem& fs) {
  return PrepareEntry(entry_name, source_path, spill_path, encryption, password, nullptr, out, fs);
}

uint32_t ZipPrepareWithKeys(const std::wstring& entry_name, const std::wstring& source_path,
                            const std::wstring& spill_path, AesEntryKeys* keys, ZipPrepared** out,
                            platform::FileSystem& fs) {
  *out = nullptr;
  // Keys whose derivation failed still carry their password, so the entry fails where a failed
  // derivation fails in ZipPrepareEncrypted, and is never written in clear.
  if (!keys || keys->Password().empty()) return kZipBadArguments;
  // Spent whatever happens to the source: keys that ciphered part of one file are never taken
  // for another.
  const std::string password = keys->Password();
  const uint32_t code =
      PrepareEntry(entry_name, source_path, spill_path, ZipEncryption::Aes256, password, keys, out, fs);
  keys->Clear();
  return code;
}

uint32_t ZipAddPrepared(ZipHandle h, const ZipPrepared* p) {
  if (!h || !p) return Finish(kZipBadArguments);
  if (h->kind != kZipHandleKind) return Finish(kZipWrongKind);
  PreparedSource source(*p);
  return Finish(AddEntry(h->writer, p->entry_name, source));
}

void ZipPreparedFree(ZipPrepared* p) {
  if (!p) return;
  p->src.reset();
  p->spill.reset();
  if (p->spilled) p->fs->RemoveFile(p->spill_path);
  p->~ZipPrepared();
  ZipRelease(p);
}

void ZipSetPreparedMemoryForTest(size_t bytes) { g_prepared_memory.store(bytes ? bytes : 4u << 20); }

void ZipFixSeedForTest(int64_t seed) { g_fixed_seed.store(seed < 0 ? -1 : seed); }

uint32_t ZipLastResult() { return g_last_result.load(std::memory_order_relaxed); }

bool ZipIsArchiveName(const std::wstring& name) {
  static const wchar_t* const kArchiveExtensions[] = {L".Z",   L".zip", L".zoo", L".arc",
                                                      L".lzh", L".arj", L".gz",  L".tgz"};
  size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  std::wstring_view ext(name.data() + dot, name.size() - dot);
  for (const wchar_t* e : kArchiveExtensions) {
    if (EqualsIgnoreAsciiCase(ext, e)) return true;
  }
  return false;
}

uint32_t ZipExternalAttributes(uint32_t windows_attributes, bool executable) {
  uint32_t a = windows_attributes & 0x37;
  a |= (windows_attributes & 0x10) ? 0x40000000u : 0x80000000u;  // S_IFDIR or S_IFREG
  a |= 0x01000000u;                                              // owner read
  if (!(windows_attributes & 0x01)) a |= 0x00800000u;            // owner write
  if (executable) a |= 0x00400000u;                              // owner execute
  return a;
}

uint32_t ZipDosStamp(const CalendarTime& c) {
  constexpr uint32_t kFirst = (uint32_t((0 << 9) | (1 << 5) | 1) << 16) | 0;
  constexpr uint32_t kLast = (uint32_t((127 << 9) | (12 << 5) | 31) << 16) | uint32_t((23 << 11) | (59 << 5) | 29);
  if (c.year < 1980) return kFirst;
  if (c.year > 2107) return kLast;
  int second = c.second > 59 ? 59 : c.second;  // a leap second has no DOS form
  uint32_t date = uint32_t(((c.year - 1980) << 9) | (c.month << 5) | c.day);
  uint32_t time = uint32_t((c.hour << 11) | (c.minute << 5) | (second / 2));
  return (date << 16) | time;
}

uint32_t ZipDosStampFromUnix(UnixTime t) {
  CalendarTime c;
  if (!platform::ToLocalCalendar(t, &c)) {
    // Out of the platform's range: far before 1980 or far after 2107.
    c = CalendarTime{};
    c.year = t < 0 ? 1979 : 2108;
  }
  return ZipDosStamp(c);
}

bool ZipLooksExecutable(const uint8_t* head, size_t n) {
  if (n >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') {
    return true;
  }
  if (n < 64 || head[0] != 'M' || head[1] != 'Z') return false;
  uint32_t pe = uint32_t(head[60]) | uint32_t(head[61]) << 8 | uint32_t(head[62]) << 16 | uint32_t(head[63]) << 24;
  if (pe < 64 || pe > n - 4) return false;
  return std::memcmp(head + pe, "PE\0\0", 4) == 0;
}

}  // namespace vq::zip
