#include "zip/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "zip/Crc32.h"
#include "zip/ZipAes.h"
#include "zip/ZipCipher.h"

namespace vq::zip {

const char* ReadStatusText(ReadStatus s) {
  switch (s) {
    case ReadStatus::Sound:
      return "Sound";
    case ReadStatus::WrongPassword:
      return "Wrong password";
    case ReadStatus::OpenFailed:
      return "Couldn't open or read the archive";
    case ReadStatus::NotZip:
      return "Not a zipfile";
    case ReadStatus::EntryCount:
      return "Not exactly one entry";
    case ReadStatus::Unsupported:
      return "Unsupported method, encryption or layout";
    case ReadStatus::Damaged:
      return "Zipfile is truncated or corrupt";
    case ReadStatus::BadData:
      return "Compressed data is corrupt";
    case ReadStatus::TooLong:
      return "Entry is longer than its stated size";
    case ReadStatus::SizeMismatch:
      return "Entry is shorter than its stated size";
    case ReadStatus::CrcMismatch:
      return "CRC mismatch";
    case ReadStatus::OutputFailed:
      return "Couldn't write the entry's bytes";
    case ReadStatus::AuthFailed:
      return "Authentication code mismatch: changed data, or a wrong password";
  }
  return "unknown read status";
}

namespace {

constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kDescriptorSig = 0x08074B50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kChunk = 65536;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16; }

// Reads exactly n bytes at offset; Damaged when the file ends first, OpenFailed on a read error.
ReadStatus ReadAt(platform::FileStream& in, uint64_t offset, void* buf, size_t n) {
  if (!in.SeekSet(offset)) return ReadStatus::OpenFailed;
  size_t done = 0;
  while (done < n) {
    int64_t k = in.Read(static_cast<uint8_t*>(buf) + done, n - done);
    if (k < 0) return ReadStatus::OpenFailed;
    if (k == 0) return ReadStatus::Damaged;
    done += size_t(k);
  }
  return ReadStatus::Sound;
}

// The last-write time of an extended-timestamp field (header 0x5455) among the extra fields.
void FindModified(const uint8_t* extra, size_t n, ZipEntryInfo* info) {
  size_t at = 0;
  while (at + 4 <= n) {
    uint16_t id = Le16(extra + at);
    size_t len = Le16(extra + at + 2);
    if (at + 4 + len > n) return;
    if (id == 0x5455 && len >= 5 && (extra[at + 4] & 1)) {
      info->hasModified = true;
      // Unsigned, as the writer stores the low 32 bits of a time after 1970.
      info->modified = UnixTime(Le32(extra + at + 5));
      return;
    }
    at += 4 + len;
  }
}

struct Layout {
  uint64_t dataStart = 0;  // first byte after the local header (the encryption header, if any)
  uint16_t localTime = 0;  // DOS time of the local header: the check byte's source
};

// The AES field (0x9901) among the extra fields: Sound with *field pointing at its 11 bytes,
// Damaged when it is missing, cut, repeated or not the format's, Unsupported for a key length
// other than 256 bits.
ReadStatus FindAesField(const uint8_t* extra, size_t n, const uint8_t** field) {
  *field = nullptr;
  size_t at = 0;
  while (at + 4 <= n) {
    const uint16_t id = Le16(extra + at);
    const size_t len = Le16(extra + at + 2);
    if (at + 4 + len > n) return ReadStatus::Damaged;
    if (id == kAesExtraId) {
      if (*field || len != kAesExtraDataLen) return ReadStatus::Damaged;
      *field = extra + at;
    }
    at += 4 + len;
  }
  if (!*field) return ReadStatus::Damaged;
  const uint8_t* f = *field;
  const uint16_t vendor = Le16(f + 4);
  if ((vendor != kAesVendorAe1 && vendor != kAesVendorAe2) || f[6] != 'A' || f[7] != 'E') return ReadStatus::Damaged;
  // AES-128 and AES-192 (strength 1 and 2) are real archives of other tools this reader does not
  // take; anything else is no strength at all.
  if (f[8] == 1 || f[8] == 2) return ReadStatus::Unsupported;
  if (f[8] != kAesStrength256) return ReadStatus::Damaged;
  return ReadStatus::Sound;
}

// Finds the single entry: the end record, its one central header and the local header, each
// checked against the file's size and against one another.
ReadStatus Locate(platform::FileStream& in, ZipEntryInfo* info, Layout* out) {
  platform::FileInfo fi;
  if (!in.Info(&fi)) return ReadStatus::OpenFailed;
  const uint64_t size = fi.size;
  if (size < kEndSize) {
    uint8_t head[4] = {};
    if (size >= 4 && ReadAt(in, 0, head, 4) == ReadStatus::Sound && Le32(head) == kLocalSig) return ReadStatus::Damaged;
    return ReadStatus::NotZip;
  }
  // The end record sits in the last 22 + 65535 bytes; the one whose comment reaches exactly to
  // the end of the file is taken, searching backwards.
  const size_t tailSize = size_t(std::min<uint64_t>(size, kEndSize + 0xFFFF));
  std::vector<uint8_t> tail(tailSize);
  ReadStatus r = ReadAt(in, size - tailSize, tail.data(), tailSize);
  if (r != ReadStatus::Sound) return r;
  size_t endAt = SIZE_MAX;
  for (size_t i = tailSize - kEndSize + 1; i-- > 0;) {
    if (Le32(&tail[i]) == kEndSig && i + kEndSize + Le16(&tail[i + 20]) == tailSize) {
      endAt = i;
      break;
    }
  }
  if (endAt == SIZE_MAX) {
    // A file that starts like an archive but has lost its end was cut short.
    uint8_t head[4] = {};
    if (ReadAt(in, 0, head, 4) == ReadStatus::Sound && Le32(head) == kLocalSig) return ReadStatus::Damaged;
    return ReadStatus::NotZip;
  }
  const uint8_t* e = &tail[endAt];
  const uint64_t endPos = size - tailSize + endAt;
  const uint16_t disk = Le16(e + 4), cdDisk = Le16(e + 6), onDisk = Le16(e + 8), total = Le16(e + 10);
  const uint32_t cdSize = Le32(e + 12), cdOffset = Le32(e + 16);
  if (total == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) return ReadStatus::Unsupported;  // ZIP64
  if (disk != 0 || cdDisk != 0 || onDisk != total) return ReadStatus::Unsupported;                        // spanned
  if (total != 1) return ReadStatus::EntryCount;
  if (uint64_t(cdOffset) + cdSize > endPos || cdSize < kCentralSize) return ReadStatus::Damaged;
  // One header with its three variable fields of at most 64 KiB each: a directory stated larger
  // (say 1 GiB in a sparse file of a few kilobytes) is refused before anything is allocated.
  if (cdSize > kCentralSize + 3 * 0xFFFF) return ReadStatus::Damaged;

  std::vector<uint8_t> cd(cdSize);
  r = ReadAt(in, cdOffset, cd.data(), cdSize);
  if (r != ReadStatus::Sound) return r;
  const uint8_t* c = cd.data();
  if (Le32(c) != kCentralSig) return ReadStatus::Damaged;
  const size_t nameLen = Le16(c + 28), extraLen = Le16(c + 30), commentLen = Le16(c + 32);
  // One entry means one header: anything more in the directory is not what the count says.
  if (kCentralSize + nameLen + extraLen + commentLen != cdSize) return ReadStatus::Damaged;
  info->versionMadeBy = Le16(c + 4);
  info->flags = Le16(c + 8);
  info->method = Le16(c + 10);
  info->dosStamp = uint32_t(Le16(c + 14)) << 16 | Le16(c + 12);
  info->crc = Le32(c + 16);
  info->compressedSize = Le32(c + 20);
  info->size = Le32(c + 24);
  info->externalAttributes = Le32(c + 38);
  const uint32_t localOffset = Le32(c + 42);
  info->rawName.assign(reinterpret_cast<const char*>(c + kCentralSize), nameLen);
  info->utf8Name = (info->flags & 0x0800) != 0;
  info->encrypted = (info->flags & 0x0001) != 0;
  FindModified(c + kCentralSize + nameLen, extraLen, info);
  if (Le16(c + 34) != 0) return ReadStatus::Unsupported;
  info->dataMethod = info->method;
  const uint8_t* aesField = nullptr;
  if (info->method == kAesMethod) {
    r = FindAesField(c + kCentralSize + nameLen, extraLen, &aesField);
    if (r != ReadStatus::Sound) return r;
    if (!info->encrypted) return ReadStatus::Damaged;
    info->aes = true;
    info->aesVendor = Le16(aesField + 4);
    info->dataMethod = Le16(aesField + 9);
  }
  // Strong encryption (bit 6) and methods other than stored and deflated.
  if ((info->flags & 0x0040) || (info->dataMethod != 0 && info->dataMethod != 8)) return ReadStatus::Unsupported;
  if (info->compressedSize == 0xFFFFFFFF || info->size == 0xFFFFFFFF) return ReadStatus::Unsupported;

  if (uint64_t(localOffset) + kLocalSize + nameLen > cdOffset) return ReadStatus::Damaged;
  uint8_t local[kLocalSize];
  r = ReadAt(in, localOffset, local, kLocalSize);
  if (r != ReadStatus::Sound) return r;
  if (Le32(local) != kLocalSig) return ReadStatus::Damaged;
  const uint16_t localFlags = Le16(local + 6);
  const size_t localNameLen = Le16(local + 26), localExtraLen = Le16(local + 28);
  if (localNameLen != nameLen || Le16(local + 8) != info->method || (localFlags & 1) != (info->flags & 1))
    return ReadStatus::Damaged;
  std::string localName(nameLen, '\0');
  r = ReadAt(in, uint64_t(localOffset) + kLocalSize, localName.data(), nameLen);
  if (r != ReadStatus::Sound) return r;
  if (localName != info->rawName) return ReadStatus::Damaged;
  if (info->aes) {
    // The local header must name the same cipher and method: a reader that goes by either one
    // finds the same entry.
    std::vector<uint8_t> localExtra(localExtraLen);
    r = ReadAt(in, uint64_t(localOffset) + kLocalSize + nameLen, localExtra.data(), localExtraLen);
    if (r != ReadStatus::Sound) return r;
    const uint8_t* localAes = nullptr;
    if (FindAesField(localExtra.data(), localExtraLen, &localAes) != ReadStatus::Sound ||
        std::memcmp(localAes, aesField, kAesExtraLen) != 0)
      return ReadStatus::Damaged;
  }
  out->localTime = Le16(local + 10);
  out->dataStart = uint64_t(localOffset) + kLocalSize + nameLen + localExtraLen;
  const bool descriptor = (localFlags & 0x0008) != 0;
  const uint64_t dataEnd = out->dataStart + info->compressedSize;
  if (dataEnd > cdOffset) return ReadStatus::Damaged;
  if (!descriptor) {
    if (Le32(local + 14) != info->crc || Le32(local + 18) != info->compressedSize || Le32(local + 22) != info->size)
      return ReadStatus::Damaged;
  } else {
    // The descriptor after the data must say what the directory says; its signature is optional.
    uint8_t d[16] = {};
    const size_t room = size_t(std::min<uint64_t>(16, cdOffset - dataEnd));
    if (room < 12) return ReadStatus::Damaged;
    r = ReadAt(in, dataEnd, d, room);
    if (r != ReadStatus::Sound) return r;
    const uint8_t* v = d;
    if (Le32(d) == kDescriptorSig && room == 16) v = d + 4;
    if (Le32(v) != info->crc || Le32(v + 4) != info->compressedSize || Le32(v + 8) != info->size)
      return ReadStatus::Damaged;
  }
  if (info->encrypted && info->compressedSize < (info->aes ? kAesOverhead : 12)) return ReadStatus::Damaged;
  return ReadStatus::Sound;
}

inline void Decipher(ZipCipherKeys* k, uint8_t* data, size_t n) {
  // The keys live in registers for the loop; the cipher is serial by nature.
  uint32_t k0 = k->k0, k1 = k->k1, k2 = k->k2;
  const uint32_t* t = kCrcTables.t[0];
  for (size_t i = 0; i < n; ++i) {
    const uint32_t s = (k2 | 2) & 0xFFFF;
    const uint8_t p = uint8_t(data[i] ^ uint8_t((s * (s ^ 1)) >> 8));
    data[i] = p;
    k0 = t[(k0 ^ p) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = t[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  k->k0 = k0;
  k->k1 = k1;
  k->k2 = k2;
}

// Hands the entry's bytes to the sink, never more than the stated size in total.
class Output {
 public:
  Output(const ZipSink& sink, uint32_t stated, bool checkCrc) : sink_(sink), stated_(stated), checkCrc_(checkCrc) {}
  // False when the data went past the stated size (the excess is dropped) or the sink refused.
  bool Put(const uint8_t* p, size_t n) {
    size_t take = n;
    if (total_ + n > stated_) {
      take = size_t(stated_ - total_);
      tooLong_ = true;
    }
    if (take) {
      crc_ = Crc32Update(crc_, p, take);
      total_ += take;
      if (sink_ && !sink_(p, take)) {
        sinkFailed_ = true;
        return false;
      }
    }
    return !tooLong_;
  }
  ReadStatus Finish(uint32_t expectedCrc) const {
    if (sinkFailed_) return ReadStatus::OutputFailed;
    if (tooLong_) return ReadStatus::TooLong;
    if (total_ != stated_) return ReadStatus::SizeMismatch;
    if (checkCrc_ && crc_ != expectedCrc) return ReadStatus::CrcMismatch;
    return ReadStatus::Sound;
  }
  bool sinkFailed() const { return sinkFailed_; }

 private:
  const ZipSink& sink_;
  uint64_t stated_;
  bool checkCrc_;
  uint64_t total_ = 0;
  uint32_t crc_ = 0;
  bool tooLong_ = false;
  bool sinkFailed_ = false;
};

struct InflateGuard {
  z_stream z{};
  bool live = false;
  ~InflateGuard() {
    if (live) inflateEnd(&z);
  }
};

// Hands one deciphered piece of the entry's data to out: as it is when stored (z null), through
// inflate otherwise, in outBuf's kChunk bytes at a time. False when the piece decided the entry,
// *verdict then saying how; *ended once the deflate stream has ended.
bool TakePiece(z_stream* z, uint8_t* piece, size_t n, uint8_t* outBuf, Output& out, uint32_t crc, bool* ended,
               ReadStatus* verdict) {
  if (!z) {
    if (out.Put(piece, n)) return true;
    *verdict = out.Finish(crc);
    return false;
  }
  z->next_in = piece;
  z->avail_in = uInt(n);
  do {
    z->next_out = outBuf;
    z->avail_out = uInt(kChunk);
    const int zr = inflate(z, Z_NO_FLUSH);
    if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR) {
      // Whatever came out before the fault is already checked against the size; the fault
      // itself is the answer.
      out.Put(outBuf, kChunk - z->avail_out);
      *verdict = out.sinkFailed() ? ReadStatus::OutputFailed : ReadStatus::BadData;
      return false;
    }
    if (!out.Put(outBuf, kChunk - z->avail_out)) {
      *verdict = out.Finish(crc);
      return false;
    }
    if (zr == Z_STREAM_END) {
      *ended = true;
      break;
    }
    if (zr == Z_BUF_ERROR) break;  // no progress possible: more input is needed
  } while (z->avail_in > 0 || z->avail_out == 0);
  return true;
}

// Sets up the keys and deciphers the 12-byte header: WrongPassword unless its check byte fits.
ReadStatus CheckPassword(platform::FileStream& in, const ZipEntryInfo& info, const Layout& layout, const char* password,
                         ZipCipherKeys* keys) {
  if (!password || !*password) return ReadStatus::WrongPassword;
  uint8_t header[12];
  ReadStatus r = ReadAt(in, layout.dataStart, header, sizeof header);
  if (r != ReadStatus::Sound) return r;
  CipherInitKeys(keys, password);
  Decipher(keys, header, sizeof header);
  // With the sizes in a descriptor the writer could not know the CRC: the check byte is then
  // the high byte of the DOS time, otherwise that of the CRC.
  const uint8_t check = (info.flags & 0x0008) ? uint8_t(layout.localTime >> 8) : uint8_t(info.crc >> 24);
  return header[11] == check ? ReadStatus::Sound : ReadStatus::WrongPassword;
}

// Reads the salt and the verifier and derives the keys: WrongPassword unless the verifier fits.
ReadStatus StartAes(platform::FileStream& in, const Layout& layout, const char* password, AesEntryCipher* cipher) {
  if (!password || !*password) return ReadStatus::WrongPassword;
  uint8_t head[kAesSaltLen + kAesVerifierLen];
  ReadStatus r = ReadAt(in, layout.dataStart, head, sizeof head);
  if (r != ReadStatus::Sound) return r;
  uint8_t verifier[kAesVerifierLen];
  // The system's primitives failing is no fault of the archive: it could not be read.
  if (!cipher->Start(password, head, verifier)) return ReadStatus::OpenFailed;
  return std::memcmp(verifier, head + kAesSaltLen, kAesVerifierLen) == 0 ? ReadStatus::Sound
                                                                         : ReadStatus::WrongPassword;
}

// Reads `left` bytes from the current position, deciphers (keys or AES) and hands them on:
// stored bytes to out, deflated ones through zlib. *left counts down what was consumed.
ReadStatus ReadData(platform::FileStream& in, const ZipEntryInfo& info, ZipCipherKeys* keys, AesEntryCipher* aes,
                    uint64_t* left, Output& out) {
  std::unique_ptr<uint8_t[]> inBuf(new uint8_t[kChunk]);
  std::unique_ptr<uint8_t[]> outBuf;
  InflateGuard inf;
  const bool deflated = info.dataMethod == 8;
  const uint32_t crc = info.crc;
  if (deflated) {
    outBuf.reset(new uint8_t[kChunk]);
    if (inflateInit2(&inf.z, -MAX_WBITS) != Z_OK) return ReadStatus::BadData;
    inf.live = true;
  }
  bool ended = false;
  while (*left > 0 && !ended) {
    const size_t want = size_t(std::min<uint64_t>(*left, kChunk));
    size_t got = 0;
    while (got < want) {
      int64_t k = in.Read(inBuf.get() + got, want - got);
      if (k < 0) return ReadStatus::OpenFailed;
      if (k == 0) return ReadStatus::Damaged;
      got += size_t(k);
    }
    *left -= got;
    if (aes) {
      if (!aes->Decrypt(inBuf.get(), got)) return ReadStatus::OpenFailed;
    } else if (info.encrypted) {
      Decipher(keys, inBuf.get(), got);
    }
    ReadStatus verdict;
    if (!TakePiece(deflated ? &inf.z : nullptr, inBuf.get(), got, outBuf.get(), out, crc, &ended, &verdict))
      return verdict;
  }
  if (deflated && !ended) return ReadStatus::BadData;  // the stream stops before its end
  return out.Finish(crc);
}

// The end of an AES entry: the ciphered bytes the data did not use are authenticated too, and the
// code decides. A mismatch outranks what the data said: garbage from changed bytes is damage,
// not a fault of the writer's compressor. A code that matches leaves the data's verdict.
ReadStatus FinishAes(platform::FileStream& in, uint64_t macAt, uint64_t left, AesEntryCipher* aes,
                     ReadStatus dataStatus) {
  // The sink's refusal and a failing disk say nothing about the archive.
  if (dataStatus == ReadStatus::OutputFailed || dataStatus == ReadStatus::OpenFailed) return dataStatus;
  uint8_t buf[4096];
  while (left > 0) {
    const size_t want = size_t(std::min<uint64_t>(left, sizeof buf));
    ReadStatus r = ReadAt(in, macAt - left, buf, want);
    if (r != ReadStatus::Sound) return r;
    if (!aes->Authenticate(buf, want)) return ReadStatus::OpenFailed;
    left -= want;
  }
  uint8_t stored[kAesMacLen], made[kAesMacLen];
  ReadStatus r = ReadAt(in, macAt, stored, sizeof stored);
  if (r != ReadStatus::Sound) return r;
  if (!aes->Finish(made)) return ReadStatus::OpenFailed;
  if (std::memcmp(stored, made, kAesMacLen) != 0) return ReadStatus::AuthFailed;
  return dataStatus;
}

}  // namespace

ReadStatus ZipCheckOpens(platform::FileStream& in, const char* password, ZipEntryInfo* info) {
  *info = ZipEntryInfo();
  Layout layout;
  ReadStatus r = Locate(in, info, &layout);
  if (r != ReadStatus::Sound || !info->encrypted) return r;
  if (info->aes) {
    AesEntryCipher cipher;
    return StartAes(in, layout, password, &cipher);
  }
  ZipCipherKeys keys;
  return CheckPassword(in, *info, layout, password, &keys);
}

ReadStatus ZipReadInfo(platform::FileStream& in, ZipEntryInfo* info) {
  *info = ZipEntryInfo();
  Layout layout;
  return Locate(in, info, &layout);
}

ReadStatus ZipExtract(platform::FileStream& in, const char* password, const ZipSink& sink, ZipEntryInfo* infoOut) {
  ZipEntryInfo local;
  ZipEntryInfo* info = infoOut ? infoOut : &local;
  *info = ZipEntryInfo();
  Layout layout;
  ReadStatus r = Locate(in, info, &layout);
  if (r != ReadStatus::Sound) return r;

  uint64_t at = layout.dataStart;
  uint64_t left = info->compressedSize;
  ZipCipherKeys keys;
  std::unique_ptr<AesEntryCipher> aes;
  if (info->aes) {
    aes = std::make_unique<AesEntryCipher>();
    r = StartAes(in, layout, password, aes.get());
    if (r != ReadStatus::Sound) return r;
    at += kAesSaltLen + kAesVerifierLen;
    left -= kAesOverhead;
  } else if (info->encrypted) {
    r = CheckPassword(in, *info, layout, password, &keys);
    if (r != ReadStatus::Sound) return r;
    at += 12;
    left -= 12;
  }
  const uint64_t dataEnd = at + left;

  // AE-2 stores no CRC: the authentication code stands for it.
  Output out(sink, info->size, !(info->aes && info->aesVendor == kAesVendorAe2));
  if (!in.SeekSet(at)) return ReadStatus::OpenFailed;
  r = ReadData(in, *info, &keys, aes.get(), &left, out);
  if (info->aes) r = FinishAes(in, dataEnd, left, aes.get(), r);
  return r;
}

namespace {

// A piece of an entry to decipher with its keys.
struct CipherPiece {
  ZipCipherKeys* keys;
  uint8_t* data;
  size_t n;
};

// Deciphers N pieces over their first n bytes, one byte of each in turn: the steps of different
// entries do not wait on one another, so the processor runs them together.
template <size_t N>
void DecipherSideBySide(CipherPiece* p, size_t n) {
  uint32_t k0[N], k1[N], k2[N];
  uint8_t* d[N];
  for (size_t j = 0; j < N; ++j) k0[j] = p[j].keys->k0, k1[j] = p[j].keys->k1, k2[j] = p[j].keys->k2, d[j] = p[j].data;
  const uint32_t* t = kCrcTables.t[0];
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < N; ++j) {
      const uint32_t s = (k2[j] | 2) & 0xFFFF;
      const uint8_t b = uint8_t(d[j][i] ^ uint8_t((s * (s ^ 1)) >> 8));
      d[j][i] = b;
      k0[j] = t[(k0[j] ^ b) & 0xFF] ^ (k0[j] >> 8);
      k1[j] = (k1[j] + (k0[j] & 0xFF)) * 134775813u + 1;
      k2[j] = t[(k2[j] ^ (k1[j] >> 24)) & 0xFF] ^ (k2[j] >> 8);
    }
  }
  for (size_t j = 0; j < N; ++j) {
    p[j].keys->k0 = k0[j], p[j].keys->k1 = k1[j], p[j].keys->k2 = k2[j];
    p[j].data += n;
    p[j].n -= n;
  }
}

// Deciphers up to kZipSideBySide pieces: side by side as far as the shortest goes, then the rest.
void DecipherPieces(CipherPiece* p, size_t m) {
  static_assert(kZipSideBySide == 8, "one loop per count of pieces");
  while (m > 1) {
    size_t common = p[0].n;
    for (size_t j = 1; j < m; ++j) common = std::min(common, p[j].n);
    switch (m) {
      case 2:
        DecipherSideBySide<2>(p, common);
        break;
      case 3:
        DecipherSideBySide<3>(p, common);
        break;
      case 4:
        DecipherSideBySide<4>(p, common);
        break;
      case 5:
        DecipherSideBySide<5>(p, common);
        break;
      case 6:
        DecipherSideBySide<6>(p, common);
        break;
      case 7:
        DecipherSideBySide<7>(p, common);
        break;
      default:
        DecipherSideBySide<8>(p, common);
        break;
    }
    size_t kept = 0;
    for (size_t j = 0; j < m; ++j)
      if (p[j].n > 0) p[kept++] = p[j];
    m = kept;
  }
  if (m == 1) Decipher(p[0].keys, p[0].data, p[0].n);
}

// One entry of ZipCheckSideBySide: what ZipExtract keeps in its locals.
struct SideEntry {
  platform::FileStream* in = nullptr;
  ZipEntryInfo* info = nullptr;
  ZipCipherKeys keys;
  uint64_t left = 0;
  std::unique_ptr<Output> out;
  InflateGuard inf;
  std::unique_ptr<uint8_t[]> inBuf, outBuf;
  size_t got = 0;  // bytes of the piece in inBuf
  bool ended = false;
  bool live = false;
  ReadStatus status = ReadStatus::Sound;

  void Stop(ReadStatus s) {
    status = s;
    live = false;
  }
  // The directory, the password and the set-up; live afterwards unless the entry failed.
  void Begin(const char* password) {
    static const ZipSink kNoSink;
    if (!in) return Stop(ReadStatus::OpenFailed);
    *info = ZipEntryInfo();
    Layout layout;
    ReadStatus r = Locate(*in, info, &layout);
    if (r != ReadStatus::Sound) return Stop(r);
    // AES runs in blocks of its own, nothing to interleave: such an entry is read alone.
    if (info->aes) return Stop(ZipExtract(*in, password, kNoSink, info));
    uint64_t at = layout.dataStart;
    left = info->compressedSize;
    if (info->encrypted) {
      r = CheckPassword(*in, *info, layout, password, &keys);
      if (r != ReadStatus::Sound) return Stop(r);
      at += 12;
      left -= 12;
    }
    out = std::make_unique<Output>(kNoSink, info->size, true);
    inBuf.reset(new uint8_t[kChunk]);
    if (info->method == 8) {
      outBuf.reset(new uint8_t[kChunk]);
      if (inflateInit2(&inf.z, -MAX_WBITS) != Z_OK) return Stop(ReadStatus::BadData);
      inf.live = true;
    }
    if (!in->SeekSet(at)) return Stop(ReadStatus::OpenFailed);
    live = true;
  }
  // Reads the next piece; false when there is none (the entry is then finished) or it failed.
  bool Read() {
    got = 0;
    if (left == 0 || ended) {
      Stop(info->method == 8 && !ended ? ReadStatus::BadData : out->Finish(info->crc));
      return false;
    }
    const size_t want = size_t(std::min<uint64_t>(left, kChunk));
    while (got < want) {
      int64_t k = in->Read(inBuf.get() + got, want - got);
      if (k <= 0) {
        got = 0;
        Stop(k < 0 ? ReadStatus::OpenFailed : ReadStatus::Damaged);
        return false;
      }
      got += size_t(k);
    }
    left -= got;
    return true;
  }
  // Takes the deciphered piece, as ZipExtract's loop does.
  void Consume() {
    ReadStatus verdict;
    if (!TakePiece(info->method == 8 ? &inf.z : nullptr, inBuf.get(), got, outBuf.get(), *out, info->crc, &ended,
                   &verdict))
      Stop(verdict);
  }
};

}  // namespace

void ZipCheckSideBySide(platform::FileStream* const* in, size_t n, const char* password, ReadStatus* status,
                        ZipEntryInfo* info) {
  n = std::min(n, kZipSideBySide);
  SideEntry e[kZipSideBySide];
  for (size_t i = 0; i < n; ++i) {
    e[i].in = in[i];
    e[i].info = &info[i];
    e[i].Begin(password);
  }
  for (;;) {
    CipherPiece pieces[kZipSideBySide];
    size_t m = 0;
    bool any = false;
    for (size_t i = 0; i < n; ++i) {
      if (!e[i].live || !e[i].Read()) continue;
      any = true;
      if (e[i].info->encrypted) pieces[m++] = {&e[i].keys, e[i].inBuf.get(), e[i].got};
    }
    if (!any) break;
    DecipherPieces(pieces, m);
    for (size_t i = 0; i < n; ++i)
      if (e[i].live && e[i].got > 0) e[i].Consume();
  }
  for (size_t i = 0; i < n; ++i) status[i] = e[i].status;
}

ReadStatus ZipExtractFile(platform::FileSystem& fs, const std::wstring& archive, const char* password,
                          const ZipSink& sink, ZipEntryInfo* info) {
  if (info) *info = ZipEntryInfo();
  std::unique_ptr<platform::FileStream> in = fs.OpenRead(archive);
  if (!in) return ReadStatus::OpenFailed;
  return ZipExtract(*in, password, sink, info);
}

}  // namespace vq::zip
