// The ZIP writer: write-only archives of deflated (or, for archive files, stored) entries, with
// traditional encryption when a password is given, or AES-256 when the archive is set to it. Every operation answers
// with a 32-bit result code; 0 is success.
//
// The backup pass uses one pattern per archive: ZipCreate, one ZipAdd, ZipClose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Calendar.h"
#include "platform/FileSystem.h"

namespace vq::zip {

// Result codes: 0x100..0x800 file failures, 0x10000..0x80000 caller mistakes, 0x1000000 and
// above internal failures. Some are never returned by this writer and are kept so that every
// code has its text.
enum : uint32_t {
  kZipSuccess = 0x00000000,
  kZipCouldNotDuplicate = 0x00000100,
  kZipCouldNotOpen = 0x00000200,
  kZipNoMemory = 0x00000300,
  kZipWriteFailed = 0x00000400,
  kZipNotFound = 0x00000500,
  kZipMoreData = 0x00000600,
  kZipCorrupt = 0x00000700,
  kZipReadFailed = 0x00000800,
  kZipBadArguments = 0x00010000,
  kZipNotMemoryArchive = 0x00020000,
  kZipMemoryTooSmall = 0x00030000,
  kZipPreviousError = 0x00040000,
  kZipAdditionsEnded = 0x00050000,
  kZipSizeMismatch = 0x00060000,
  kZipPartlyUnzipped = 0x00070000,
  kZipWrongKind = 0x00080000,
  kZipNotInitialised = 0x01000000,
  kZipUnseekable = 0x02000000,
  kZipCannotChange = 0x04000000,
  kZipDeflateFailed = 0x05000000,
};

// The English text of a code ("unknown zip result code" for codes outside the table).
const char* ZipResultText(uint32_t code);

struct ZipWriter;

// What callers hold. kind is always kZipHandleKind for a handle made by ZipCreate.
struct ZipHandleRecord {
  int32_t kind;
  ZipWriter* writer;
};
using ZipHandle = ZipHandleRecord*;
constexpr int32_t kZipHandleKind = 2;

// Creates (or replaces) the archive file. The password is its bytes, all of them: a zero byte
// inside belongs to the password and never ends it, so a password that is set always encrypts.
// No bytes means no encryption.
// Returns null on failure; the reason is in ZipLastResult(). Every file the writer touches, the
// archive and the sources of its entries, goes through fs.
ZipHandle ZipCreate(const std::wstring& archive_path, std::string_view password,
                    platform::FileSystem& fs = platform::RealFileSystem());
// No password is an empty one; a null pointer would not even be a string.
ZipHandle ZipCreate(const std::wstring& archive_path, std::nullptr_t,
                    platform::FileSystem& fs = platform::RealFileSystem()) = delete;
// How entries with a password are encrypted. Traditional is what every archive tool (Windows
// Explorer too) opens, and what anybody with a dozen known bytes of an entry can break; AES-256
// is real encryption, opened by 7-Zip and the usual archive tools but not by Explorer.
enum class ZipEncryption : int { Traditional = 0, Aes256 = 1 };
// Chooses the encryption of the entries added from now on (Traditional until set). A writer
// without a password encrypts nothing either way.
uint32_t ZipSetEncryption(ZipHandle h, ZipEncryption encryption);
// Adds one entry named entry_name (backslashes become '/') with the bytes of source_path.
uint32_t ZipAdd(ZipHandle h, const std::wstring& entry_name, const std::wstring& source_path);
// Writes the central directory (unless already written), closes the file and frees the handle
// and the writer whatever the result. The handle is dead afterwards.
uint32_t ZipClose(ZipHandle h);
// Writes the central directory now; later adds answer kZipAdditionsEnded. ZipClose is still
// needed to release the handle.
uint32_t ZipEndAdditions(ZipHandle h);
// ---- Compress once, write several archives.

// A source read (and, unless its name asks for storing, deflated) once. The compressed bytes are
// held in memory up to 4 MiB and beyond that in a spill file, so memory stays bounded whatever
// the size of the source.
struct ZipPrepared;
class AesEntryKeys;  // zip/ZipAes.h
// Reads the source as ZipAdd would, with the same checks and result codes; *out is null on
// failure. spill_path: where compressed bytes beyond the memory part go (removed by
// ZipPreparedFree).
uint32_t ZipPrepare(const std::wstring& entry_name, const std::wstring& source_path, const std::wstring& spill_path,
                    ZipPrepared** out, platform::FileSystem& fs = platform::RealFileSystem());
// The same, and with Aes256 and a non-empty password the compressed bytes are encrypted here,
// once, under one fresh salt: every archive they go into holds the very same ciphered bytes,
// salt and authentication code, and must be set to Aes256 with the same password (else
// kZipBadArguments). With Traditional this is ZipPrepare: that cipher's header is made per
// archive.
uint32_t ZipPrepareEncrypted(const std::wstring& entry_name, const std::wstring& source_path,
                             const std::wstring& spill_path, ZipEncryption encryption, std::string_view password,
                             ZipPrepared** out, platform::FileSystem& fs = platform::RealFileSystem());
// The same with Aes256, under keys made beforehand (AesEntryKeys::Make, with the password the
// archives are made with), so that their derivation can run apart from the compression. The keys
// are spent by this call whatever it answers; kZipBadArguments when they hold no password,
// kZipNotInitialised (as for a derivation that fails here) when their derivation failed.
uint32_t ZipPrepareWithKeys(const std::wstring& entry_name, const std::wstring& source_path,
                            const std::wstring& spill_path, AesEntryKeys* keys, ZipPrepared** out,
                            platform::FileSystem& fs = platform::RealFileSystem());
// Adds the prepared entry: the archive is byte for byte what ZipAdd of the same source would
// write (the random bytes of the encryption header, or the salt, aside). A source prepared
// without encryption goes into an AES archive too, ciphered on the way under a salt of its own.
uint32_t ZipAddPrepared(ZipHandle h, const ZipPrepared* prepared);
void ZipPreparedFree(ZipPrepared* prepared);

// Test seam: the encryption header's generator starts from this seed instead of a varying one
// (a negative value restores the varying seed), so archives can be compared byte for byte.
void ZipFixSeedForTest(int64_t seed);
// Test seam: the memory part of a prepared source holds this many bytes (0 restores 4 MiB).
void ZipSetPreparedMemoryForTest(size_t bytes);

// The result of the latest ZipCreate, ZipAdd or ZipClose in the process (any thread).
uint32_t ZipLastResult();

// ---- Decisions, exposed for the tests.

// True when the entry is stored rather than deflated: its name ends in one of the archive
// extensions (.Z .zip .zoo .arc .lzh .arj .gz .tgz, any case).
bool ZipIsArchiveName(const std::wstring& name);
// External attributes from the Windows attribute bits: the DOS bits 0x37, and a Unix mode in
// the upper half (directory or regular file, owner read, owner write unless read-only, owner
// execute for executable images).
uint32_t ZipExternalAttributes(uint32_t windows_attributes, bool executable);
// DOS date (high half) and time (low half). Moments the format cannot hold are clamped to its
// first (1980-01-01 00:00:00) or last (2107-12-31 23:59:58) stamp.
uint32_t ZipDosStamp(const CalendarTime& local);
// Same from a moment, converted to local time by the platform.
uint32_t ZipDosStampFromUnix(UnixTime t);
// True when the first n bytes of a file start a Windows PE image (an "MZ" header whose e_lfanew
// points at "PE\0\0" within those bytes) or an ELF image.
bool ZipLooksExecutable(const uint8_t* head, size_t n);

}  // namespace vq::zip
