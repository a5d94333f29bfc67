// The reader of the archives the writer makes: one entry, stored or deflated, with or without
// traditional or AES encryption. It takes any bytes: every field is checked against the file before it
// is used, an entry never yields more than its stated size (a decompression bomb stops there) and
// the CRC and sizes are checked at the end. Inflating is zlib's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/Calendar.h"
#include "platform/FileSystem.h"

namespace vq::zip {

enum class ReadStatus : int {
  Sound = 0,      // read whole, sizes and CRC agree
  WrongPassword,  // encrypted, and the password's check byte (AES: verifier) does not match, or none given
  OpenFailed,     // the archive could not be opened or a read of it failed
  NotZip,         // no end-of-central-directory record, nor a local header at the start
  EntryCount,     // not exactly one entry
  Unsupported,    // a method, an encryption or a ZIP64/multi-disk layout this reader does not handle
  Damaged,        // truncated, or headers that disagree or point outside the file
  BadData,        // the compressed data does not inflate
  TooLong,        // the data goes on past the stated size (output stopped there)
  SizeMismatch,   // the data ends before the stated size
  CrcMismatch,    // the bytes are not the ones the CRC was made from
  OutputFailed,   // the sink refused the bytes (e.g. a full disk while restoring)
  // AES: the password's verifier matched but the authentication code does not: the ciphered bytes
  // were changed, or (one chance in 65,536) a wrong password passed the verifier.
  AuthFailed,
};
// English text of a status.
const char* ReadStatusText(ReadStatus s);

struct ZipEntryInfo {
  std::string rawName;  // the name's bytes as stored
  bool utf8Name = false;
  uint16_t versionMadeBy = 0;
  uint16_t flags = 0;
  uint16_t method = 0;      // as stored: 99 for AES
  uint16_t dataMethod = 0;  // how the data is compressed (0 stored, 8 deflated)
  bool encrypted = false;
  bool aes = false;        // AES-256 with an authentication code (method 99)
  uint16_t aesVendor = 0;  // 1 (AE-1, CRC checked too) or 2 (AE-2, no CRC stored)
  uint32_t dosStamp = 0;   // DOS date in the high half, time in the low half
  uint32_t crc = 0;
  uint32_t compressedSize = 0;  // the encryption header (AES: salt, verifier and code) included
  uint32_t size = 0;            // uncompressed
  uint32_t externalAttributes = 0;
  bool hasModified = false;  // an extended-timestamp field gave the last-write time
  UnixTime modified = 0;
};

// Receives the entry's bytes in order; false stops the read with OutputFailed.
using ZipSink = std::function<bool(const uint8_t* data, size_t n)>;

// Reads the directory and the local header only (no password needed); info is filled as far as
// it could be read.
ReadStatus ZipReadInfo(platform::FileStream& in, ZipEntryInfo* info);
// The directory, the local header and, for an encrypted entry, the password's check byte (AES: its
// verifier, which costs a key derivation): whether
// the archive opens, without reading its data.
ReadStatus ZipCheckOpens(platform::FileStream& in, const char* password, ZipEntryInfo* info);
// Reads, deciphers (password null or empty: none), inflates and checks the entry; sink may be
// empty to check only. info may be null.
ReadStatus ZipExtract(platform::FileStream& in, const char* password, const ZipSink& sink, ZipEntryInfo* info);
// How many archives ZipCheckSideBySide takes at once. A deciphered byte waits about thirty cycles
// on the one before (two table lookups and two multiplies in a row); four entries side by side
// still left the processor waiting, eight keep it busy (the loop alone deciphers half as many
// bytes again per second), for about 670 KB more per thread: each entry has two 64 KiB buffers
// and an inflate state with its 32 KiB window.
constexpr size_t kZipSideBySide = 8;
// Checks up to kZipSideBySide archives as ZipExtract does each without a sink, side by side: a
// piece of each is read in turn, and the pieces of traditionally encrypted entries are
// deciphered in one loop. That cipher is serial within an entry, each byte waiting on the one
// before, which leaves the processor mostly idle; entries side by side fill the wait. in[i] may
// be null (status OpenFailed); status[i] and info[i] are what ZipExtract would give.
void ZipCheckSideBySide(platform::FileStream* const* in, size_t n, const char* password, ReadStatus* status,
                        ZipEntryInfo* info);
// The same on a file opened through fs.
ReadStatus ZipExtractFile(platform::FileSystem& fs, const std::wstring& archive, const char* password,
                          const ZipSink& sink, ZipEntryInfo* info);

}  // namespace vq::zip
