// File handles: the one file service every layer above uses (log, settings store, ZIP writer).
// Paths are wide strings; on POSIX they are converted to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Calendar.h"

namespace vq::platform {

// Attribute bits in the Windows layout; the POSIX build maps its own notions onto them
// (no owner write permission = read-only, a name starting with '.' = hidden).
enum FileAttr : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  // A junction or symbolic link (POSIX: a symbolic link; listed with the kind of its target).
  kAttrReparsePoint = 0x400,
};

class FileStream;

struct FileInfo {
  uint32_t attributes = 0;
  uint64_t size = 0;
  UnixTime modified = 0;  // last write, seconds since 1970 UTC
  UnixTime accessed = 0;
  UnixTime created = 0;  // POSIX: birth time when the file system reports it, else last change
};

// A thin owner of one stream of the file-system seam (platform/FileSystem.h), for the layers
// that keep a file open for long (the log, the settings store): one read and one write loop
// and one last error per platform.
class File {
 public:
  File();
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Read access, others may read too; the file must exist.
  static File OpenRead(const std::wstring& path);
  // Write access, no sharing; an existing file is truncated and replaced.
  static File CreateAlways(const std::wstring& path);
  // Write access at the end, no sharing: fails while any other handle has the file open for
  // writing (POSIX: while another process holds our exclusive lock on it). created tells whether
  // the file was made by this call. An existing file is never truncated.
  static File OpenAppendExclusive(const std::wstring& path, bool* created);

  bool IsOpen() const;
  void Close();

  // Returns the bytes read (0 at the end or on failure).
  size_t Read(void* buf, size_t n);
  // Returns the bytes written (fewer than n when the write failed or the disk is full).
  size_t Write(const void* buf, size_t n);
  bool SeekSet(uint64_t offset);
  bool SeekEnd();
  bool Info(FileInfo* out) const;

  // The last system error code after a failed call (Windows error or errno).
  static int LastError();

 private:
  explicit File(std::unique_ptr<FileStream> s);
  std::unique_ptr<FileStream> s_;
};

// Whole-file helpers for small files (settings store, tests).
bool ReadWholeFile(const std::wstring& path, std::string* out);
// Writes to a temporary file beside the target, flushes it to disk, then renames it over the
// target, so a crash leaves either the old or the new content.
bool WriteFileAtomically(const std::wstring& path, const std::string& data);

bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
bool DeleteFilePath(const std::wstring& path);
// Creates the directory with all missing parents; an existing directory is success.
bool CreateDirectoryTree(const std::wstring& path);

}  // namespace vq::platform
