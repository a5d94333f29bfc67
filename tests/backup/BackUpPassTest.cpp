// Backup passes and cleaning on a real temporary tree, and every failure the pass must survive,
// driven through the file-system seam: a file that vanishes, a copy that cannot be made, a view
// that is missing, a disk that fills, a rename that fails, a read that breaks off.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "backup/BackUp.h"
#include "backup/Clean.h"
#include "backup/EngineState.h"
#include "backup/Monitor.h"
#include "backup/Schedule.h"
#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/NewFile.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/backup/BackupWorld.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"
#include "tests/zip/TestInflate.h"
#include "zip/Crc32.h"
#include "zip/ZipCipher.h"
#include "zip/ZipWriter.h"

using namespace vq;
using platform::RealFileSystem;

namespace {

uint32_t U16(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b.at(at))) | uint32_t(uint8_t(b.at(at + 1))) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// Opens a one-entry archive as an unzipping reader would: through the central directory, the
// password and the inflater. Returns the entry's name and content; fails the test when the
// archive is not sound.
bool ReadOneEntry(const std::wstring& path, const char* password, std::string* name, std::string* content) {
  std::string b = vqtest::ReadAll(path);
  if (b.size() < 22 + 46 + 30) return false;
  size_t end = b.size() - 22;
  if (U32(b, end) != 0x06054B50 || U16(b, end + 10) != 1) return false;
  size_t cd = U32(b, end + 16);
  if (U32(b, cd) != 0x02014B50) return false;
  uint32_t flags = U16(b, cd + 8), method = U16(b, cd + 10), crc = U32(b, cd + 16);
  uint32_t csize = U32(b, cd + 20), usize = U32(b, cd + 24), nlen = U16(b, cd + 28);
  size_t local = U32(b, cd + 42);
  if (U32(b, local) != 0x04034B50) return false;
  *name = b.substr(local + 30, U16(b, local + 26));
  if (*name != b.substr(cd + 46, nlen)) return false;
  std::string data = b.substr(local + 30 + U16(b, local + 26) + U16(b, local + 28), csize);
  if (flags & 1) {
    zip::ZipCipherKeys k;
    zip::CipherInitKeys(&k, password);
    for (auto& c : data) {
      uint8_t p = uint8_t(c) ^ zip::CipherStreamByte(k);
      zip::CipherUpdateKeys(&k, p);
      c = char(p);
    }
    data = data.substr(12);
  }
  if (method == 8) {
    vqtest::InflateResult r = vqtest::TestInflate(data);
    if (!r.error.empty()) return false;
    *content = r.out;
  } else {
    *content = data;
  }
  return content->size() == usize && zip::Crc32Update(0, content->data(), content->size()) == crc;
}

class BackUpPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vqtest::BackupWorld w = vqtest::MakeBackupWorld(L"pass", kDefaultFilter, 1);
    root_ = w.root, src_ = w.src, dest_ = w.dest, sep_ = w.sep;
    AppSettings.timeLastBk.store(0);
    srcChanged.store(0);
    CurrentPassMemory() = PassMemory();
    CurrentReports().Take();
  }
  void TearDown() override {
    SetLogDirectoryForTest(L"");
    srcChanged.store(0);
  }

  std::wstring Put(const std::wstring& rel, const std::string& data) {
    std::wstring p = src_ + rel;
    size_t slash = p.rfind(sep_);
    RealFileSystem().CreateDirectoryTree(p.substr(0, slash + 1));
    auto s = RealFileSystem().CreateAlways(p);
    EXPECT_TRUE(s);
    if (s) {
      EXPECT_EQ(s->Write(data.data(), data.size()), data.size());
    }
    return p;
  }
  ArchivePaths Archives(const std::wstring& path) {
    platform::DirEntry e;
    EXPECT_TRUE(RealFileSystem().Stat(path, &e));
    CalendarTime c;
    platform::ToLocalCalendar(e.modified, &c);
    WorkDirs d{AppSettings.S_DIR_TEMP.Get(), AppSettings.S_DIR_ST_LIST.Get(), AppSettings.S_DIR_ST_HIST.Get(),
               AppSettings.S_DIR_ST_DIR.Get()};
    return ArchivePathsFor(d, path, path.substr(path.rfind(sep_) + 1), c, platform::RootLength());
  }
  // The three archives exist and each holds exactly the entry name with the content.
  void ExpectArchived(const std::wstring& path, const std::string& content) {
    ArchivePaths a = Archives(path);
    // Entry names are in the OEM code page (936 on a Chinese desktop, UTF-8 on POSIX).
    std::string wantName = platform::WideToOem(path.substr(path.rfind(sep_) + 1));
    for (const std::wstring& z : {a.list, a.history, a.folder}) {
      SCOPED_TRACE(WideToUtf8(z));
      std::string name, got;
      ASSERT_TRUE(ReadOneEntry(z, "739", &name, &got));
      EXPECT_EQ(name, wantName);
      EXPECT_TRUE(got == content) << "content differs";
    }
  }
  // Every file below dir with its bytes.
  std::map<std::wstring, std::string> Snapshot(const std::wstring& dir) {
    std::map<std::wstring, std::string> out;
    std::vector<platform::DirEntry> entries;
    RealFileSystem().List(dir, &entries);
    for (const auto& e : entries) {
      std::wstring p = dir + e.name;
      if (e.attributes & platform::kAttrDirectory) {
        auto sub = Snapshot(p + sep_);
        out.insert(sub.begin(), sub.end());
      } else {
        out[p] = vqtest::ReadAll(p);
      }
    }
    return out;
  }
  static std::vector<std::wstring> Keys(const std::map<std::wstring, std::string>& m) {
    std::vector<std::wstring> k;
    for (const auto& e : m) k.push_back(e.first);
    return k;
  }
  std::wstring Log() { return vqtest::DecodeLog(vqtest::ReadAll(root_ + L"vq.lumen.log.txt")); }
  bool Logged(const std::wstring& line) { return Log().find(line) != std::wstring::npos; }
  void MakeHidden(const std::wstring& path) {
    uint32_t a = 0;
    ASSERT_TRUE(RealFileSystem().GetAttributes(path, &a));
    RealFileSystem().SetAttributes(path, a | platform::kAttrHidden);
  }

  vqtest::SettingsGuard keep_;
  std::wstring root_, src_, dest_;
  wchar_t sep_;
};

TEST_F(BackUpPassTest, APassArchivesTheSelectedFilesAndASecondOneNothing) {
  platform::FileSystem& fs = RealFileSystem();
  std::string big(1048577, 'b');
  std::wstring a = Put(L"a.txt", "alpha\n");
  std::wstring b = Put(std::wstring(L"sub") + sep_ + L"报告.TXT", std::string(200000, 'x') + "tail");
  std::wstring exact = Put(L"exact.txt", std::string(1048576, 'e'));
  std::wstring d = Put(std::wstring(L"y") + sep_ + L"Ups" + sep_ + L"d.txt", "other case is walked");
  std::wstring same1 = Put(std::wstring(L"one") + sep_ + L"same.txt", "first");
  std::wstring same2 = Put(std::wstring(L"two") + sep_ + L"same.txt", "second");
  std::wstring tooBig = Put(L"big.txt", big);
  std::wstring make = Put(L"Makefile", "all:");
  std::wstring ups = Put(std::wstring(L"x") + sep_ + L"ups" + sep_ + L"c.txt", "skipped folder");
#ifdef _WIN32
  std::wstring hidden = Put(L"h.txt", "hidden");
  MakeHidden(hidden);
#else
  std::wstring hidden = Put(L".h.txt", "hidden");
#endif

  platform::SleepMs(1100);  // the files are older than the pass's first second
  const UnixTime before = platform::Now();
  RunBackUpPass(fs);
  EXPECT_EQ(backFileCount.load(), 6);
  EXPECT_EQ(srcChanged.load(), 0);
  EXPECT_GE(AppSettings.timeLastBk.load(), before - 1);
  EXPECT_LE(AppSettings.timeLastBk.load(), platform::Now());

  ExpectArchived(a, "alpha\n");
  ExpectArchived(b, std::string(200000, 'x') + "tail");
  ExpectArchived(exact, std::string(1048576, 'e'));
  ExpectArchived(d, "other case is walked");
  ExpectArchived(same1, "first");
  ExpectArchived(same2, "second");
  for (const std::wstring& p : {tooBig, make, ups, hidden}) {
    SCOPED_TRACE(WideToUtf8(p));
    EXPECT_FALSE(fs.Exists(Archives(p).list));
    EXPECT_FALSE(Logged(L"DoBackUp[1]:" + p + L"\r\n"));
  }
  EXPECT_TRUE(Logged(L"DoBackUp[1]:" + a + L"\r\n"));
  EXPECT_TRUE(Logged(L"back 6 file at  "));
  EXPECT_TRUE(Snapshot(AppSettings.S_DIR_TEMP.Get()).empty()) << "temporary copies are removed";

  // Nothing changed: the next pass selects nothing, writes nothing and logs nothing.
  auto views = Snapshot(dest_);
  std::wstring logBefore = Log();
  RunBackUpPass(fs);
  EXPECT_EQ(backFileCount.load(), 0);
  EXPECT_TRUE(Snapshot(dest_) == views);
  EXPECT_EQ(Log(), logBefore);

  // After a reset the same files are archived again; the history keeps one archive per version.
  ApplyResetRule(ResetKind::To1980);
  EXPECT_EQ(srcChanged.load(), 1);
  RunBackUpPass(fs);
  EXPECT_EQ(backFileCount.load(), 6);
  EXPECT_EQ(Snapshot(AppSettings.S_DIR_ST_HIST.Get()).size(), 6u) << "rewritten, not duplicated";
  ExpectArchived(a, "alpha\n");
}

// Times are whole seconds: a file saved in the first second of a pass, after the walk passed its
// folder, carries the pass's start as its last-write time and must still be taken next time.
TEST_F(BackUpPassTest, AFileSavedInThePasssFirstSecondIsTakenByTheNextPass) {
  std::wstring g = Put(L"g.txt", "saved while the pass ran");
  platform::DirEntry e;
  ASSERT_TRUE(RealFileSystem().Stat(g, &e));
  vqtest::FaultyFileSystem notYet;
  notYet.hideFromList = L"g.txt";
  platform::SetNowForTest(e.modified);
  RunBackUpPass(notYet);
  EXPECT_EQ(backFileCount.load(), 0);
  platform::SetNowForTest(e.modified + 3);
  RunBackUpPass(RealFileSystem());
  platform::ClearNowForTest();
  EXPECT_EQ(backFileCount.load(), 1);
  ExpectArchived(g, "saved while the pass ran");
}

// A reset typed while a pass runs, between the walk's two folders. Moving the time back must
// reach the folder already passed over: the pass keeps the earlier time and asks for another,
// which takes it. Moving it forward cuts a full pass short: the rest is judged against the later
// time and the pass ends with its own start, as the log's advice for a long pass promises.
TEST_F(BackUpPassTest, AResetDuringAPassReachesEveryFileBackAndCutsItShortForward) {
  const std::wstring one = Put(L"a" + std::wstring(1, sep_) + L"one.txt", "one");
  const std::wstring two = Put(L"b" + std::wstring(1, sep_) + L"two.txt", "two");
  platform::DirEntry e;
  ASSERT_TRUE(RealFileSystem().Stat(one, &e));
  const UnixTime modified = e.modified;
  // Whichever folder the walk lists second, the reset comes just before it.
  std::vector<std::wstring> listed;
  vqtest::FaultyFileSystem faulty;
  ResetKind kind = ResetKind::Day;
  faulty.beforeListing = [&](const std::wstring& d) {
    if (d == src_ || d.rfind(src_, 0) != 0) return;
    listed.push_back(d);
    if (listed.size() == 2) ApplyResetRule(kind);
  };
  auto fileIn = [&](const std::wstring& folder) { return folder == src_ + L"a" + sep_ ? one : two; };
  // Passes of a process that has run a while: only the times decide, no look for files without
  // archives.
  CurrentPassMemory().lookForMissing = false;

  // Back: the pass starts with nothing due (the time is after both files), a reset-day comes
  // between the folders.
  platform::SetNowForTest(modified + 1000);
  AppSettings.timeLastBk.store(modified + 10);
  RunBackUpPass(faulty);
  ASSERT_EQ(listed.size(), 2u);
  const std::wstring passedOver = fileIn(listed[0]);
  EXPECT_EQ(backFileCount.load(), 1);
  EXPECT_FALSE(RealFileSystem().Exists(Archives(passedOver).list)) << "passed over before the reset";
  EXPECT_EQ(AppSettings.timeLastBk.load(), modified + 1000 - kSecondsPerDay) << "the earlier time stays";
  EXPECT_EQ(srcChanged.load(), 1) << "another pass is asked for";
  EXPECT_TRUE(Logged(L"备份期间最后备份时间被重置,将再备份一次\r\n"));
  platform::SetNowForTest(modified + 1005);
  RunBackUpPass(RealFileSystem());
  ExpectArchived(passedOver, passedOver == one ? "one" : "two");
  EXPECT_EQ(AppSettings.timeLastBk.load(), modified + 1004) << "an undisturbed pass ends with its start";
  EXPECT_EQ(srcChanged.load(), 0);

  // Forward: a full pass (time zero) meets a reset-day that lies after both files.
  RealFileSystem().RemoveFile(Archives(one).list);
  RealFileSystem().RemoveFile(Archives(two).list);
  listed.clear();
  platform::SetNowForTest(modified + 2 * kSecondsPerDay);
  AppSettings.timeLastBk.store(0);
  RunBackUpPass(faulty);
  ASSERT_EQ(listed.size(), 2u);
  const std::wstring cut = fileIn(listed[1]);
  EXPECT_FALSE(RealFileSystem().Exists(Archives(cut).list)) << "the rest of the pass is cut short";
  EXPECT_TRUE(RealFileSystem().Exists(Archives(fileIn(listed[0])).list));
  EXPECT_EQ(AppSettings.timeLastBk.load(), modified + 2 * kSecondsPerDay - 1);
  platform::ClearNowForTest();
}

TEST_F(BackUpPassTest, ADestinationInsideTheSourceIsNeverBackedUp) {
  dest_ = src_ + L"backup" + sep_;
  AppSettings.S_DIR_DESTDATA.Set(dest_);
  WorkDirs d = ComputeWorkDirs(dest_, src_ + L"tmp" + sep_, sep_);
  AppSettings.S_DIR_TEMP.Set(d.temp);
  AppSettings.S_DIR_ST_LIST.Set(d.list);
  AppSettings.S_DIR_ST_HIST.Set(d.history);
  AppSettings.S_DIR_ST_DIR.Set(d.folder);
  CreateWorkDirs();
  Put(L"a.txt", "a");
  Put(std::wstring(L"tmp") + sep_ + L"old.zip.temp", "a temporary copy");
  RunBackUpPass(RealFileSystem());
  EXPECT_EQ(backFileCount.load(), 1);
  // Three archives of a.txt were written inside the source; a pass from the start takes none.
  ApplyResetRule(ResetKind::To1980);
  RunBackUpPass(RealFileSystem());
  EXPECT_EQ(backFileCount.load(), 1) << "only a.txt again";
  EXPECT_EQ(Snapshot(d.list).size(), 1u);
}

TEST_F(BackUpPassTest, AFileThatVanishesIsReportedAndTheWalkGoesOn) {
  vqtest::FaultyFileSystem fs;
  std::wstring gone = Put(L"gone.txt", "soon gone");
  std::wstring stays = Put(L"stays.txt", "here");
  fs.beforeLookup = [&](const std::wstring& p) {
    if (p == gone) RealFileSystem().RemoveFile(gone);
  };
  RunBackUpPass(fs);
  EXPECT_EQ(backFileCount.load(), 1);
  std::wstring log = Log();
  size_t at = log.find(L"]不存在或者名字乱码" + gone + L"\r\n");
  ASSERT_NE(at, std::wstring::npos);
  EXPECT_NE(log.rfind(L"[", at), std::wstring::npos);
  EXPECT_FALSE(RealFileSystem().Exists(Archives(stays).list + L"x"));
  ExpectArchived(stays, "here");
}

// Files compress side by side, yet the log reads line for line as when each file is done before
// the next: same-named files (one temporary name), a spilled large file, a copy that fails and a
// file that vanishes, each in its place.
TEST_F(BackUpPassTest, CompressingSideBySideLogsAndArchivesAsOneAtATime) {
  std::vector<std::pair<std::wstring, std::string>> files;
  for (int i = 0; i < 24; ++i) {
    std::wstring dir = L"d" + std::to_wstring(i % 5) + sep_;
    std::string data = std::string(size_t(i) * 9000 + 1, char('a' + i)) + std::to_string(i);
    files.emplace_back(Put(dir + (i % 6 == 0 ? L"same.txt" : L"f" + std::to_wstring(i) + L".txt"), data), data);
  }
  std::wstring held = Put(L"held.txt", "cannot be copied");
  std::wstring gone = Put(L"gone.txt", "vanishes");
  zip::ZipSetPreparedMemoryForTest(50000);  // the larger files spill to disk
  vqtest::FaultyFileSystem fs;
  fs.refuseCopyTo.insert(L"held.txt.temp");
  fs.beforeLookup = [&](const std::wstring& p) {
    if (p == gone) RealFileSystem().RemoveFile(gone);
  };
  auto passLog = [&](unsigned compressors) {
    ApplyResetRule(ResetKind::To1980);
    Put(L"gone.txt", "vanishes");
    const size_t from = Log().size();
    RunBackUpPass(fs, compressors);
    std::wstring log = Log().substr(from), lines;
    // Without the time each line starts with, and without the end line, which carries one.
    for (size_t at = 0; at < log.size() && log.find(L"]:back ", at) != log.find(L"]:", at);) {
      size_t start = log.find(L"]:", at) + 2, end = log.find(L"\r\n", start) + 2;
      lines += log.substr(start, end - start);
      at = end;
    }
    return lines;
  };
  const std::wstring alone = passLog(0);
  const std::wstring sideBySide = passLog(2);
  zip::ZipSetPreparedMemoryForTest(0);
  EXPECT_EQ(WideToUtf8(sideBySide), WideToUtf8(alone));
  EXPECT_NE(alone.find(L"ZipAdd 3 失败[512] [" + held + L"]  \r\n"), std::wstring::npos);
  EXPECT_NE(alone.find(L"不存在或者名字乱码" + gone), std::wstring::npos);
  for (const auto& f : files) ExpectArchived(f.first, f.second);
  EXPECT_TRUE(Snapshot(AppSettings.S_DIR_TEMP.Get()).empty()) << "no copy or spill file is left";
}

// "p3.a/b.txt" and "p3/a.b.txt" flatten to one list archive, and their temporary copies differ:
// written side by side, only the walk order may decide which of them the list view keeps.
TEST_F(BackUpPassTest, FilesSharingAnArchiveAreWrittenInWalkOrder) {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  for (int i = 0; i < 16; ++i) {
    const std::wstring p = L"p" + std::to_wstring(i);
    // The larger of the two takes longer to compress: first or second, it must not finish last.
    const std::string big(60000 + size_t(i) * 5000, char('a' + i));
    pairs.emplace_back(Put(p + L".a" + sep_ + L"b.txt", i % 2 ? big : "dotted"),
                       Put(p + sep_ + L"a.b.txt", i % 2 ? "plain" : big));
  }
  const size_t from = Log().size();
  RunBackUpPass(RealFileSystem(), 2);
  const std::wstring log = Log().substr(from);
  for (const auto& pair : pairs) {
    const size_t first = log.find(L"DoBackUp[1]:" + pair.first + L"\r\n");
    const size_t second = log.find(L"DoBackUp[1]:" + pair.second + L"\r\n");
    ASSERT_TRUE(first != std::wstring::npos && second != std::wstring::npos);
    const std::wstring& later = first > second ? pair.first : pair.second;
    ASSERT_EQ(Archives(pair.first).list, Archives(pair.second).list);
    std::string name, got;
    ASSERT_TRUE(ReadOneEntry(Archives(later).list, "739", &name, &got));
    EXPECT_TRUE(got == vqtest::ReadAll(later)) << WideToUtf8(later) << " was taken last";
  }
}

// The moves of a walk reach the disk with one flush per folder for a batch of files, and a file
// whose folder could not be flushed is counted failed and taken again by the next pass.
TEST_F(BackUpPassTest, FoldersAreFlushedOncePerBatchAndAFailedFlushRetriesItsFiles) {
  for (int i = 0; i < 100; ++i) Put(L"f" + std::to_wstring(i) + L".txt", "content " + std::to_string(i));
  const std::wstring deep = Put(L"deep" + std::wstring(1, sep_) + L"d.txt", "deep content");
  vqtest::FaultyFileSystem fs;
  fs.failFolderFlushOf.insert(sep_ + std::wstring(L"deep"));
  RunBackUpPass(fs, 2);
  EXPECT_EQ(fs.renames.load(), 303);
  // The list and history views and the two mirrored folders, for each of two batches; and once
  // each the folders the pass made for the mirrored tree (their entries are in their parents).
  int made = 0;
  std::function<void(const std::wstring&)> count = [&](const std::wstring& dir) {
    std::vector<platform::DirEntry> entries;
    RealFileSystem().List(dir, &entries);
    for (const auto& e : entries)
      if (e.attributes & platform::kAttrDirectory) ++made, count(dir + e.name + sep_);
  };
  count(AppSettings.S_DIR_ST_DIR.Get());
  EXPECT_LE(fs.folderFlushes.load(), 8 + made + 1);
  EXPECT_TRUE(Logged(L"1 个文件的存档未能写入,稍后重试\r\n"));
  EXPECT_EQ(CurrentPassMemory().retry, std::set<std::wstring>{deep});
  ExpectArchived(deep, "deep content");
}

// A pass that finds nothing newer decides by the listing alone: no file of the source is looked
// up again, opened or copied (the second look would double the cost of every pass).
TEST_F(BackUpPassTest, APassThatSelectsNothingLooksAtNoFileAgain) {
  for (int i = 0; i < 20; ++i) Put(L"d" + std::to_wstring(i % 3) + sep_ + L"n" + std::to_wstring(i) + L".txt", "x");
  vqtest::FaultyFileSystem fs;
  std::atomic<int> looks{0};
  fs.beforeLookup = [&](const std::wstring& p) {
    if (p.rfind(src_, 0) == 0) ++looks;
  };
  RunBackUpPass(fs);
  EXPECT_EQ(looks.load(), 20) << "one fresh look per selected file";
  looks = 0;
  AppSettings.timeLastBk.store(platform::Now() + 100);
  RunBackUpPass(fs);
  EXPECT_EQ(backFileCount.load(), 0);
  EXPECT_EQ(looks.load(), 0);
  EXPECT_EQ(fs.copies.load(), 20);
}

// Every failure of one archive keeps the archive of the earlier backup whole and leaves no
// partial file in the views; the failure line carries the writer's code.
TEST_F(BackUpPassTest, FailuresNeverCostAGoodArchive) {
  std::wstring f = Put(L"doc.txt", std::string(300000, 'v') + "version 1");
  RunBackUpPass(RealFileSystem());
  ExpectArchived(f, std::string(300000, 'v') + "version 1");
  const ArchivePaths a = Archives(f);
  auto good = Snapshot(dest_);

  struct Case {
    const char* what;
    std::function<void(vqtest::FaultyFileSystem&)> arm;
    std::vector<std::wstring> lines;
    bool untouched;  // every view failed: the old archives must be the very same bytes
  } cases[] = {
      {"the source cannot be copied (held open or unreadable)",
       [&](vqtest::FaultyFileSystem& fs) { fs.refuseCopyTo.insert(L".temp"); },
       {L"ZipAdd 1 失败[512] [" + f + L"] \r\n", L"ZipAdd 2 失败[512] [" + f + L"] \r\n",
        L"ZipAdd 3 失败[512] [" + f + L"]  \r\n"},
       true},
      {"the disk fills during the archive",
       [&](vqtest::FaultyFileSystem& fs) { fs.diskBytesLeft = 200; },
       {L"ZipAdd 1 失败[1024] [" + f + L"] \r\n", L"ZipAdd 2 失败[1024] [" + f + L"] \r\n",
        L"ZipAdd 3 失败[1024] [" + f + L"]  \r\n"},
       true},
      {"the n-th write fails",
       [&](vqtest::FaultyFileSystem& fs) { fs.failNthWrite = 4; },
       {L"ZipAdd 1 失败[1024] [" + f + L"] \r\n"},
       false},
      {"the move into place fails",
       [&](vqtest::FaultyFileSystem& fs) { fs.refuseRenameTo.insert(std::wstring(L"mScDir") + sep_); },
       {L"ZipAdd 3 失败[1024] [" + f + L"]  \r\n"},
       false},
      {"the flush before the move fails (a delayed write on a share)",
       [&](vqtest::FaultyFileSystem& fs) { fs.failFlush = true; },
       {L"ZipAdd 1 失败[1024] [" + f + L"] \r\n", L"ZipAdd 2 失败[1024] [" + f + L"] \r\n",
        L"ZipAdd 3 失败[1024] [" + f + L"]  \r\n"},
       true},
      {"the close fails",
       [&](vqtest::FaultyFileSystem& fs) { fs.failClose = true; },
       {L"ZipAdd 1 失败[1024] [" + f + L"] \r\n", L"ZipAdd 2 失败[1024] [" + f + L"] \r\n",
        L"ZipAdd 3 失败[1024] [" + f + L"]  \r\n"},
       true},
      {"the copy breaks off while it is read",
       [&](vqtest::FaultyFileSystem& fs) {
         fs.failReadsOf = L"doc.txt.temp";
         fs.readOkBytes = 100000;
       },
       {L"ZipAdd 1 失败[2048] [" + f + L"] \r\n", L"ZipAdd 2 失败[2048] [" + f + L"] \r\n",
        L"ZipAdd 3 失败[2048] [" + f + L"]  \r\n"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vqtest::FaultyFileSystem fs;
    c.arm(fs);
    ApplyResetRule(ResetKind::To1980);  // select the file again
    RunBackUpPass(fs);
    for (const std::wstring& line : c.lines) EXPECT_TRUE(Logged(line)) << WideToUtf8(line);
    auto now = Snapshot(dest_);
    EXPECT_TRUE(Keys(now) == Keys(good)) << "no partial files, no archive lost";
    if (c.untouched) {
      EXPECT_TRUE(now == good) << "the old archives are the same bytes";
    }
    ExpectArchived(f, std::string(300000, 'v') + "version 1");
    good = now;
  }
  // Nothing broken: the next pass writes them again.
  vqtest::FaultyFileSystem fs;
  ApplyResetRule(ResetKind::To1980);
  RunBackUpPass(fs);
  EXPECT_EQ(fs.renames.load(), 3);
  EXPECT_GE(fs.flushes.load(), 3) << "every archive reaches the disk before it is moved into place";
  ExpectArchived(f, std::string(300000, 'v') + "version 1");
}

// For real: a source that another program holds open without read sharing (Windows) cannot be
// copied; its three failure lines say 512 and the archives of its earlier backup stay as they are.
// (POSIX has no such lock, and the tests run as a user who can read anything.)
TEST_F(BackUpPassTest, ASourceHeldOpenWithoutSharingKeepsItsOldArchives) {
  std::wstring f = Put(L"locked.txt", "version 1");
  RunBackUpPass(RealFileSystem());
  auto good = Snapshot(dest_);
  ASSERT_EQ(good.size(), 3u);
  ApplyResetRule(ResetKind::To1980);
  bool created = false;
  platform::File holder = platform::File::OpenAppendExclusive(f, &created);
  ASSERT_TRUE(holder.IsOpen());
  RunBackUpPass(RealFileSystem());
  holder.Close();
#ifdef _WIN32
  EXPECT_TRUE(Logged(L"ZipAdd 1 失败[512] [" + f + L"] \r\n"));
  EXPECT_TRUE(Logged(L"ZipAdd 3 失败[512] [" + f + L"]  \r\n"));
  EXPECT_TRUE(Snapshot(dest_) == good);
#else
  EXPECT_FALSE(Logged(L"失败"));
  ExpectArchived(f, "version 1");
#endif
}

TEST_F(BackUpPassTest, ABrokenViewFailsThatViewOnlyAndAStrayPartialIsRemoved) {
  std::wstring f = Put(L"n.txt", "note");
  // A plain file where the history view should be: the view can be neither found nor made.
  std::wstring hist = AppSettings.S_DIR_ST_HIST.Get();
  vqtest::RemoveTree(hist);
  RealFileSystem().CreateAlways(hist.substr(0, hist.size() - 1))->Write("x", 1);
  // A partial archive left by a killed process.
  std::wstring stray = PartialArchivePath(AppSettings.S_DIR_ST_LIST.Get(), 0);
  RealFileSystem().CreateAlways(stray)->Write("PK", 2);
  RunBackUpPass(RealFileSystem());
  EXPECT_TRUE(Logged(L"ZipAdd 2 失败[65536] [" + f + L"] \r\n"));
  EXPECT_FALSE(Logged(L"ZipAdd 1 失败"));
  EXPECT_FALSE(Logged(L"ZipAdd 3 失败"));
  ArchivePaths a = Archives(f);
  EXPECT_TRUE(RealFileSystem().Exists(a.list));
  EXPECT_TRUE(RealFileSystem().Exists(a.folder));
  EXPECT_FALSE(RealFileSystem().Exists(stray));
}

// A destination disk replaced by an empty one, or a view deleted by hand: the pass makes the views
// again instead of failing their archives until the next start.
TEST_F(BackUpPassTest, MissingViewsAreMadeAgainByThePass) {
  std::wstring f = Put(L"v.txt", "views");
  vqtest::RemoveTree(AppSettings.S_DIR_DESTDATA.Get());
  RunBackUpPass(RealFileSystem());
  EXPECT_FALSE(Logged(L"失败"));
  ExpectArchived(f, "views");
}

TEST_F(BackUpPassTest, CleaningEmptiesOnlyTheHistoryView) {
  std::wstring f = Put(L"a.txt", "a");
  RunBackUpPass(RealFileSystem());
  const std::wstring hist = AppSettings.S_DIR_ST_HIST.Get();
  // A read-only archive, a hidden one and a folder inside the history view.
  auto histFiles = Snapshot(hist);
  ASSERT_EQ(histFiles.size(), 1u);
  std::wstring ro = histFiles.begin()->first;
  uint32_t attrs = 0;
  RealFileSystem().GetAttributes(ro, &attrs);
  RealFileSystem().SetAttributes(ro, attrs | platform::kAttrReadOnly);
#ifdef _WIN32
  std::wstring hidden = hist + L"h.zip";
  RealFileSystem().CreateAlways(hidden);
  MakeHidden(hidden);
#else
  std::wstring hidden = hist + L".h.zip";
  RealFileSystem().CreateAlways(hidden);
#endif
  RealFileSystem().CreateDirectoryTree(hist + L"d" + sep_);
  RealFileSystem().CreateAlways(hist + L"d" + sep_ + L"x.zip");
  auto list = Snapshot(AppSettings.S_DIR_ST_LIST.Get());
  auto folder = Snapshot(AppSettings.S_DIR_ST_DIR.Get());

  EXPECT_EQ(RunClean(RealFileSystem()), 1);
  std::vector<platform::DirEntry> left;
  ASSERT_TRUE(RealFileSystem().List(hist, &left)) << "the history view itself stays";
  EXPECT_TRUE(left.empty());
  EXPECT_TRUE(Snapshot(AppSettings.S_DIR_ST_LIST.Get()) == list);
  EXPECT_TRUE(Snapshot(AppSettings.S_DIR_ST_DIR.Get()) == folder);
  std::wstring base = hist.substr(0, hist.size() - 1);
  EXPECT_TRUE(Logged(L"DeleteDir:" + base + sep_ + L"d" + sep_ + L"x.zip\r\n"));
  EXPECT_TRUE(Logged(L"DeleteDir:" + base + sep_ + L"d\r\n"));
  EXPECT_TRUE(Logged(L"DeleteDir:" + ro + L"\r\n"));
  EXPECT_FALSE(Logged(L"DeleteDir:" + base + L"\r\n")) << "no line for the view itself";

  // An empty history view: exactly the three lines.
  std::wstring before = Log();
  RunClean(RealFileSystem());
  std::wstring added = Log().substr(before.size());
  EXPECT_NE(added.find(L"CleanTreadFun:清理开始\r\n"), std::wstring::npos);
  EXPECT_NE(added.find(L"Clean [" + hist + L"]\r\n"), std::wstring::npos);
  EXPECT_NE(added.find(L"CleanTreadFun:清理结束\r\n"), std::wstring::npos);
  EXPECT_EQ(added.find(L"DeleteDir:"), std::wstring::npos);
}

// Two cleanings while a pass writes history archives: neither side waits for the other, nothing
// crashes, and whatever stays in the history view is a whole archive.
TEST_F(BackUpPassTest, TwoCleaningsDuringAPass) {
  for (int i = 0; i < 40; ++i) Put(L"f" + std::to_wstring(i) + L".txt", std::string(20000 + i, char('a' + i % 26)));
  std::atomic<bool> go{false};
  std::vector<std::thread> cleaners;
  for (int i = 0; i < 2; ++i)
    cleaners.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int k = 0; k < 5; ++k) RunClean(RealFileSystem());
    });
  go = true;
  RunBackUpPass(RealFileSystem());
  for (auto& t : cleaners) t.join();
  EXPECT_EQ(backFileCount.load(), 40);
  for (const auto& [path, bytes] : Snapshot(AppSettings.S_DIR_ST_HIST.Get())) {
    std::string name, content;
    EXPECT_TRUE(ReadOneEntry(path, "739", &name, &content)) << WideToUtf8(path);
  }
  EXPECT_EQ(Snapshot(AppSettings.S_DIR_ST_LIST.Get()).size(), 40u);
}

// Partial archives of other writers on a shared destination (another computer, or an old
// process still running) are never touched nor moved onto an archive; our own strays, those of
// processes that are gone and anybody's abandoned for a day are removed; temporary folders alike.
TEST_F(BackUpPassTest, OnlyOwnOrAbandonedWorkFilesAreRemoved) {
  platform::FileSystem& fs = RealFileSystem();
  std::wstring f = Put(L"mine.txt", "our content");
  const std::wstring list = AppSettings.S_DIR_ST_LIST.Get(), temp = AppSettings.S_DIR_TEMP.Get();
  const uint32_t gone = 0x7FFFFFF0;  // no process has this id
  ASSERT_FALSE(platform::ProcessRunning(gone));
  auto put = [&](const std::wstring& path, const std::string& data) {
    fs.CreateDirectoryTree(path.substr(0, path.rfind(sep_) + 1));
    auto s = fs.CreateAlways(path);
    ASSERT_TRUE(s);
    s->Write(data.data(), data.size());
  };
  const std::wstring otherHost = list + WorkTag(L"OTHER-PC", 42) + L".part";
  const std::wstring deadOwn = list + WorkTag(platform::HostName(), gone) + L".part";
  const std::wstring ownStray = PartialArchivePath(list, 12);
  const std::wstring foreign = list + L"~vq.lumen.notes.part.txt";
  const std::wstring otherTemp = temp + WorkTag(L"OTHER-PC", 42) + sep_ + L"big.bin.temp";
  const std::wstring deadTemp = temp + WorkTag(platform::HostName(), gone) + sep_;
  const std::wstring someoneElses = temp + L"report.doc.temp";
  for (const auto& p : {otherHost, deadOwn, ownStray, foreign, otherTemp, someoneElses}) put(p, "PK other");
  put(deadTemp + L"big.bin.temp", "x");
  put(deadTemp + L"big.bin.temp.z", "y");

  RunBackUpPass(fs);
  ExpectArchived(f, "our content");
  EXPECT_EQ(vqtest::ReadAll(otherHost), "PK other") << "another writer's partial stays untouched";
  EXPECT_TRUE(fs.Exists(otherTemp));
  EXPECT_TRUE(fs.Exists(foreign));
  EXPECT_TRUE(fs.Exists(someoneElses)) << "another program's file in the temporary folder";
  EXPECT_FALSE(fs.Exists(deadOwn));
  EXPECT_FALSE(fs.Exists(ownStray));
  EXPECT_FALSE(fs.Exists(deadTemp)) << "a killed process's copy and spill file";
  EXPECT_FALSE(fs.Exists(OwnTempDir(temp))) << "nothing of ours is left between passes";
}

// Links inside the history view (a POSIX symbolic link; a junction on Windows lists the same way)
// are removed as links: what they point to is not ours and stays whole.
#ifndef _WIN32
TEST_F(BackUpPassTest, CleaningRemovesLinksWithoutFollowingThem) {
  const std::wstring hist = AppSettings.S_DIR_ST_HIST.Get();
  const std::wstring outside = root_ + L"precious" + sep_;
  RealFileSystem().CreateDirectoryTree(outside + L"deep" + sep_);
  RealFileSystem().CreateAlways(outside + L"deep" + sep_ + L"thesis.doc")->Write("keep", 4);
  RealFileSystem().CreateAlways(outside + L"single.doc")->Write("keep", 4);
  ASSERT_EQ(symlink(WideToUtf8(outside).c_str(), WideToUtf8(hist + L"dirlink").c_str()), 0);
  ASSERT_EQ(symlink(WideToUtf8(outside + L"single.doc").c_str(), WideToUtf8(hist + L"filelink.zip").c_str()), 0);
  ASSERT_EQ(symlink(WideToUtf8(root_ + L"nowhere").c_str(), WideToUtf8(hist + L"dangling").c_str()), 0);
  RealFileSystem().CreateDirectoryTree(hist + L"sub" + sep_);
  ASSERT_EQ(symlink(WideToUtf8(outside).c_str(), WideToUtf8(hist + L"sub" + sep_ + L"inner").c_str()), 0);

  RunClean(RealFileSystem());
  std::vector<platform::DirEntry> left;
  ASSERT_TRUE(RealFileSystem().List(hist, &left));
  EXPECT_TRUE(left.empty()) << "the links themselves are gone";
  EXPECT_EQ(vqtest::ReadAll(outside + L"deep" + sep_ + L"thesis.doc"), "keep");
  EXPECT_EQ(vqtest::ReadAll(outside + L"single.doc"), "keep");
}
#endif

namespace {
std::vector<std::pair<BackupHealth, int32_t>> g_health;
void RecordHealth(BackupHealth h, int32_t failed) { g_health.emplace_back(h, failed); }
}  // namespace

// An unplugged disk: the pass is skipped with one line for the whole outage, timeLastBk stays,
// and once the destination is back the pass runs and the files changed meanwhile get archives.
TEST_F(BackUpPassTest, AnUnreachableDestinationSkipsThePassUntilItIsBack) {
  g_health.clear();
  SetBackupHealthListener(RecordHealth);
  std::wstring f = Put(L"during.txt", "written while the disk was away");
  // A destination below a plain file can neither be found nor made.
  RealFileSystem().CreateAlways(root_ + L"unplugged")->Write("x", 1);
  AppSettings.S_DIR_DESTDATA.Set(root_ + L"unplugged" + sep_ + L"vq.l" + sep_);
  AppSettings.timeLastBk.store(1000);
  EXPECT_EQ(RunBackUpPass(RealFileSystem()), PassOutcome::DestinationAway);
  EXPECT_EQ(RunBackUpPass(RealFileSystem()), PassOutcome::DestinationAway);
  EXPECT_EQ(AppSettings.timeLastBk.load(), 1000) << "the time is not moved past files never archived";
  std::wstring log = Log();
  size_t first = log.find(L"目标目录无法访问");
  ASSERT_NE(first, std::wstring::npos);
  EXPECT_EQ(log.find(L"目标目录无法访问", first + 1), std::wstring::npos) << "one line per outage";
  EXPECT_FALSE(Logged(L"ZipAdd")) << "no line per file";
  EXPECT_FALSE(Logged(L"back ")) << "no end line claiming a backup";
  ASSERT_EQ(g_health.size(), 2u);
  EXPECT_EQ(g_health[0].first, BackupHealth::DestinationAway);
  EXPECT_EQ(IdleLimitAfter(PassOutcome::DestinationAway, false), 60) << "tried again every minute";

  AppSettings.S_DIR_DESTDATA.Set(dest_);
  EXPECT_EQ(RunBackUpPass(RealFileSystem()), PassOutcome::Done);
  ExpectArchived(f, "written while the disk was away");
  EXPECT_TRUE(Logged(L"目标目录已恢复"));
  EXPECT_EQ(g_health.back().first, BackupHealth::Ok);
  SetBackupHealthListener(nullptr);
}

// A file whose archives failed is taken again by the next pass although it did not change.
TEST_F(BackUpPassTest, AFileWhoseArchivesFailedIsRetriedWithoutAChange) {
  g_health.clear();
  SetBackupHealthListener(RecordHealth);
  std::wstring f = Put(L"retry.txt", "needs a second try");
  std::wstring ok = Put(L"fine.txt", "fine");
  vqtest::FaultyFileSystem faulty;
  faulty.refuseRenameTo.insert(L"retry.txt");
  RunBackUpPass(faulty);
  ASSERT_FALSE(g_health.empty());
  EXPECT_EQ(g_health.back().first, BackupHealth::ArchivesFailed);
  EXPECT_EQ(g_health.back().second, 1);
  EXPECT_TRUE(Logged(L"1 个文件的存档未能写入"));
  EXPECT_EQ(IdleLimitAfter(PassOutcome::Done, !CurrentPassMemory().retry.empty()), 600);

  // Neither file is newer than the last backup now: only the retry takes one.
  AppSettings.timeLastBk.store(platform::Now() + 100);
  RunBackUpPass(RealFileSystem());
  ExpectArchived(f, "needs a second try");
  EXPECT_EQ(backFileCount.load(), 1) << "only the failed file, not the one archived already";
  EXPECT_EQ(g_health.back().first, BackupHealth::Ok);
  EXPECT_TRUE(CurrentPassMemory().retry.empty());
  SetBackupHealthListener(nullptr);
}

// Deep trees: a source path of 300 characters is walked and backed up into the folder view,
// whose path is longer still (on Windows through the long-path form). The list and history views
// flatten the whole path into one name, which no file system stores beyond 255 characters:
// those two keep their error lines.
TEST_F(BackUpPassTest, ASourcePathOf300CharactersIsBackedUp) {
  std::wstring rel;
  while (src_.size() + rel.size() < 255) rel += std::wstring(20, L'd') + sep_;  // leaves 20 or more for the name
  std::wstring name = std::wstring(300 - src_.size() - rel.size() - 4, L'n') + L".txt";
  std::wstring f = Put(rel + name, "deep content");
  ASSERT_EQ(f.size(), 300u);
  RunBackUpPass(RealFileSystem());
  EXPECT_TRUE(Logged(L"DoBackUp[1]:" + f + L"\r\n")) << "the walk reaches it";
  EXPECT_FALSE(Logged(L"ZipAdd 3 失败")) << WideToUtf8(Log());
  EXPECT_TRUE(Logged(L"ZipAdd 1 失败[1024] [" + f + L"] \r\n"));
  ArchivePaths a = Archives(f);
  EXPECT_GT(a.folder.size(), 300u);
  std::string entry, content;
  ASSERT_TRUE(ReadOneEntry(a.folder, "739", &entry, &content));
  EXPECT_EQ(content, "deep content");
}

// A read-only source: its temporary copy inherits the bit, and must still go after the pass and
// not block the next one.
TEST_F(BackUpPassTest, AReadOnlySourceIsBackedUpTwice) {
  std::wstring f = Put(L"frozen.txt", "read only");
  uint32_t a = 0;
  ASSERT_TRUE(RealFileSystem().GetAttributes(f, &a));
  ASSERT_TRUE(RealFileSystem().SetAttributes(f, a | platform::kAttrReadOnly));
  for (int pass = 0; pass < 2; ++pass) {
    ApplyResetRule(ResetKind::To1980);
    RunBackUpPass(RealFileSystem());
    EXPECT_FALSE(Logged(L"失败"));
    ExpectArchived(f, "read only");
    std::vector<platform::DirEntry> left;
    RealFileSystem().List(AppSettings.S_DIR_TEMP.Get(), &left);
    EXPECT_TRUE(left.empty()) << "no temporary copy left";
  }
  RealFileSystem().SetAttributes(f, a);
}

// A clock that never sleeps: it adds up the waits it was asked for.
class CountingClock : public platform::Clock {
 public:
  UnixTime Now() override { return platform::Now(); }
  void SleepMs(uint32_t ms) override { sleptMs += ms; }
  uint64_t sleptMs = 0;
};

class ThrowingFileSystem : public platform::ForwardingFileSystem {
 public:
  ThrowingFileSystem() : ForwardingFileSystem(RealFileSystem()) {}
  bool List(const std::wstring&, std::vector<platform::DirEntry>*) override { throw std::runtime_error("listing"); }
};

// One turn of the worker: an exception outside the per-file guard is logged and the worker goes
// on to its idle; a skipped pass is followed by a minute's wait, not the five-hour idle.
TEST_F(BackUpPassTest, TheWorkerOutlivesAnExceptionAndRetriesAnAwayDestinationEachMinute) {
  Put(L"a.txt", "a");
  ThrowingFileSystem throwing;
  CountingClock clock;
  EngineServices broken{throwing, clock, platform::RealDirWatchers()};
  srcChanged.store(1);  // a change came during the pass: the idle ends at once
  BackUpThreadStep(broken);
  EXPECT_TRUE(Logged(L"catch BackUpThreadFun:listing\r\n"));

  RealFileSystem().CreateAlways(root_ + L"unplugged")->Write("x", 1);
  AppSettings.S_DIR_DESTDATA.Set(root_ + L"unplugged" + sep_);
  EngineServices away{RealFileSystem(), clock, platform::RealDirWatchers()};
  srcChanged.store(0);
  clock.sleptMs = 0;
  BackUpThreadStep(away);
  EXPECT_EQ(clock.sleptMs, 61000u + 1000u) << "61 idle seconds, then the second before the pass";

  clock.sleptMs = 0;
  int counter = 0;
  while (!IdleStep(clock, &counter, 18000)) {
  }
  EXPECT_EQ(clock.sleptMs, 18001000u) << "the long idle, counted without waiting";
}

// A file system that counts the listings of one folder and the fresh looks below another.
class CountingFileSystem : public vqtest::FaultyFileSystem {
 public:
  std::wstring listedDir, lookedBelow;
  std::atomic<int> listings{0}, looks{0};
  bool List(const std::wstring& d, std::vector<platform::DirEntry>* out) override {
    if (d == listedDir) ++listings;
    return FaultyFileSystem::List(d, out);
  }
  bool Stat(const std::wstring& p, platform::DirEntry* out) override {
    if (p.rfind(lookedBelow, 0) == 0) ++looks;
    return FaultyFileSystem::Stat(p, out);
  }
};

// Renaming, moving or copying a file in keeps its last-write time: the change monitor's report
// selects it whatever that time is, while the filter and the size limit still apply. A folder
// moved in is one report on Windows; everything below it is taken.
TEST_F(BackUpPassTest, FilesRenamedMovedOrCopiedInAreTakenByTheMonitorsReport) {
  platform::FileSystem& fs = RealFileSystem();
  const std::wstring a = Put(L"a.txt", "renamed later");
  const std::wstring c = Put(std::wstring(L"b") + sep_ + L"c.txt", "moved with its folder");
  const std::wstring stay = Put(L"stay.txt", "untouched");
  RunBackUpPass(fs);
  ASSERT_EQ(backFileCount.load(), 3);
  AppSettings.timeLastBk.store(platform::Now() + 100);  // nothing is newer than the last backup now

  const std::wstring renamed = src_ + L"renamed.txt";
  ASSERT_TRUE(fs.Rename(a, renamed));
  fs.CreateDirectoryTree(src_ + L"into");
  ASSERT_TRUE(fs.Rename(src_ + L"b", src_ + L"into" + sep_ + L"b"));
  const std::wstring copied = Put(L"copied.txt", "last month's document");
  ASSERT_TRUE(platform::SetLastWriteTime(copied, platform::Now() - 30 * 86400));
  const std::wstring exe = Put(L"tool.exe", "not in the filter");
  const std::wstring big = Put(L"big.txt", std::string(1048577, 'b'));
  ASSERT_TRUE(platform::SetLastWriteTime(big, platform::Now() - 86400));
  auto report = [&](uint32_t action, const std::wstring& rel) {
    platform::DirWatcher::Change ch;
    ch.action = action;
    ch.name = rel;
    return MonitNotification(fs, src_, ch);
  };
  EXPECT_TRUE(report(4, L"a.txt")) << "the old name asks for a pass";
  EXPECT_TRUE(report(5, L"renamed.txt"));
  EXPECT_TRUE(report(5, L"into" + std::wstring(1, sep_) + L"b")) << "a folder moved in, with files";
  EXPECT_TRUE(report(1, L"copied.txt"));
  EXPECT_TRUE(report(3, L"tool.exe"));
  EXPECT_TRUE(report(1, L"big.txt"));
  CurrentPassMemory().lookForMissing = false;  // the report alone selects them
  AppSettings.timeLastBk.store(platform::Now() + 100);
  const size_t logged = Log().size();
  RunBackUpPass(fs);
  const std::wstring lines = Log().substr(logged);
  EXPECT_EQ(backFileCount.load(), 3);
  ExpectArchived(renamed, "renamed later");
  ExpectArchived(src_ + L"into" + sep_ + L"b" + sep_ + L"c.txt", "moved with its folder");
  ExpectArchived(copied, "last month's document");
  for (const std::wstring& p : {exe, big, stay})
    EXPECT_EQ(lines.find(L"DoBackUp[1]:" + p + L"\r\n"), std::wstring::npos) << WideToUtf8(p);

  // The reports are used once.
  AppSettings.timeLastBk.store(platform::Now() + 100);
  RunBackUpPass(fs);
  EXPECT_EQ(backFileCount.load(), 0);
}

// A file that no report names (copied in while the program was not running, or among changes
// the monitor lost) is found by its missing list archive: one listing of the list view on the
// passes that look, no look at any file that has its archive.
TEST_F(BackUpPassTest, FilesWithoutAnArchiveAreFoundByOneListingWhenChangesMayHaveBeenLost) {
  for (int i = 0; i < 10; ++i) Put(L"d" + std::to_wstring(i % 3) + sep_ + L"f" + std::to_wstring(i) + L".txt", "x");
  RunBackUpPass(RealFileSystem());
  AppSettings.timeLastBk.store(platform::Now() + 100);
  auto putOld = [&](const std::wstring& rel) {
    const std::wstring p = Put(rel, "old " + WideToUtf8(rel));
    EXPECT_TRUE(platform::SetLastWriteTime(p, platform::Now() - 40 * 86400));
    return p;
  };
  CountingFileSystem fs;
  fs.listedDir = AppSettings.S_DIR_ST_LIST.Get();
  fs.lookedBelow = src_;
  // Nothing is newer than the last backup: only a missing archive selects a file.
  auto pass = [&] {
    AppSettings.timeLastBk.store(platform::Now() + 100);
    RunBackUpPass(fs);
  };

  const std::wstring first = putOld(L"d1" + std::wstring(1, sep_) + L"first.txt");
  pass();
  EXPECT_EQ(backFileCount.load(), 0) << "an ordinary pass does not look";
  EXPECT_EQ(fs.listings.load(), 1) << "the views are listed for stray work files anyway";

  CurrentReports().MarkLost();  // the monitor's queue overflowed
  pass();
  EXPECT_EQ(backFileCount.load(), 1);
  ExpectArchived(first, "old d1" + std::string(1, char(sep_)) + "first.txt");
  EXPECT_EQ(fs.listings.load(), 2) << "the same one listing of the list view serves the look";
  EXPECT_EQ(fs.looks.load(), 1) << "no look at a file that has its archive";

  const std::wstring second = putOld(L"second.txt");
  CurrentPassMemory() = PassMemory();  // a new process: its first pass looks
  pass();
  EXPECT_EQ(backFileCount.load(), 1);
  ExpectArchived(second, "old second.txt");

  const std::wstring third = putOld(L"third.txt");
  CurrentPassMemory().destinationAway = true;  // the destination comes back
  pass();
  EXPECT_EQ(backFileCount.load(), 1);
  ExpectArchived(third, "old third.txt");

  // The pass after the long idle looks too.
  const std::wstring fourth = putOld(L"fourth.txt");
  CountingClock clock;
  EngineServices services{fs, clock, platform::RealDirWatchers()};
  AppSettings.timeLastBk.store(platform::Now() + 100);
  BackUpThreadStep(services);
  EXPECT_EQ(backFileCount.load(), 0);
  EXPECT_TRUE(CurrentPassMemory().lookForMissing);
  pass();
  EXPECT_EQ(backFileCount.load(), 1);
  ExpectArchived(fourth, "old fourth.txt");
  EXPECT_EQ(fs.listings.load(), 6) << "one per pass";
}

// Records, in order, each folder an archive was moved into, each folder made and each folder
// flushed, with the last backup time at that moment.
class RecordingFileSystem : public vqtest::FaultyFileSystem {
 public:
  struct Event {
    char kind;  // 'm' moved into, 'c' made, 'f' flushed
    std::wstring folder;
    UnixTime timeLastBk;
  };
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> g(lock_);
    return events_;
  }
  static std::wstring Parent(std::wstring p) {
    while (!p.empty() && platform::IsSeparator(p.back())) p.pop_back();
    return p.substr(0, p.find_last_of(L"\\/"));
  }
  static std::wstring Bare(std::wstring p) {
    while (!p.empty() && platform::IsSeparator(p.back())) p.pop_back();
    return p;
  }
  bool Rename(const std::wstring& f, const std::wstring& t) override {
    const bool r = FaultyFileSystem::Rename(f, t);
    if (r) Note('m', Parent(t)), Note('f', Parent(t));
    return r;
  }
  bool RenameUnflushed(const std::wstring& f, const std::wstring& t) override {
    const bool r = FaultyFileSystem::RenameUnflushed(f, t);
    if (r) Note('m', Parent(t));
    return r;
  }
  bool CreateDirectoryTree(const std::wstring& p) override {
    std::vector<std::wstring> missing;
    for (std::wstring at = Bare(p); at.size() > platform::RootLength() && !inner_.IsDirectory(at); at = Parent(at))
      missing.push_back(at);
    const bool r = FaultyFileSystem::CreateDirectoryTree(p);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
      if (inner_.IsDirectory(*it)) Note('c', *it);
    return r;
  }
  bool FlushFolder(const std::wstring& d) override {
    Note('f', Bare(d));
    return FaultyFileSystem::FlushFolder(d);
  }

 private:
  void Note(char kind, const std::wstring& folder) {
    std::lock_guard<std::mutex> g(lock_);
    events_.push_back({kind, Bare(folder), AppSettings.timeLastBk.load()});
  }
  std::mutex lock_;
  std::vector<Event> events_;
};

// Every folder of the destination that a pass moved an archive into or made (views made again,
// mirrored folders and their parents) is flushed after the last move into it, and a made
// folder's parent after it was made, all before the last backup time moves on.
TEST_F(BackUpPassTest, EveryFolderAPassMovedIntoOrMadeIsFlushedBeforeTheTimeMovesOn) {
  const std::wstring deep = std::wstring(L"a") + sep_ + L"b" + sep_ + L"c" + sep_;
  // Fewer files than a batch: the last flushes are the walk's final ones.
  for (int i = 0; i < 20; ++i) Put((i % 2 ? deep : L"") + L"f" + std::to_wstring(i) + L".txt", "x");
  vqtest::RemoveTree(dest_);  // a disk that comes back empty: destination and views made again
  AppSettings.timeLastBk.store(1000);
  RecordingFileSystem fs;
  RunBackUpPass(fs, 2);
  EXPECT_EQ(backFileCount.load(), 20);
  ASSERT_NE(AppSettings.timeLastBk.load(), 1000) << "the pass moved the time on";
  const std::vector<RecordingFileSystem::Event> events = fs.Events();
  const std::wstring destBare = RecordingFileSystem::Bare(dest_);
  auto flushedAfter = [&](const std::wstring& folder, size_t after) {
    for (size_t j = after + 1; j < events.size(); ++j)
      if (events[j].kind == 'f' && events[j].folder == folder && events[j].timeLastBk == 1000) return true;
    return false;
  };
  std::map<std::wstring, size_t> last;  // folder -> index of its last move or making
  size_t made = 0, movedInto = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    if (e.kind == 'f' || e.folder.rfind(destBare, 0) != 0) continue;
    last[e.folder] = i;
    if (e.kind == 'c') {
      ++made;
      EXPECT_TRUE(flushedAfter(RecordingFileSystem::Parent(e.folder), i))
          << "the parent of a made folder: " << WideToUtf8(e.folder);
    } else {
      ++movedInto;
    }
  }
  for (const auto& [folder, i] : last) EXPECT_TRUE(flushedAfter(folder, i)) << WideToUtf8(folder);
  EXPECT_GE(made, 4u) << "the destination, its views and the mirrored tree were made";
  EXPECT_EQ(movedInto, 60u);
}

// Exceptions where a pass can meet them: the third view's folder cannot be made (the job throws
// after two archives were moved) and a folder's flush throws. Neither file vanishes: both are
// told, kept for the next pass with the settings, survive a restart and a pass that throws, and
// are archived by the pass after.
class ThrowingAtFileSystem : public vqtest::FaultyFileSystem {
 public:
  bool CreateDirectoryTree(const std::wstring& p) override {
    if (p.find(L"boom") != std::wstring::npos) throw std::runtime_error("making the folder");
    return FaultyFileSystem::CreateDirectoryTree(p);
  }
  bool FlushFolder(const std::wstring& d) override {
    if (d.find(L"flushy") != std::wstring::npos) throw std::runtime_error("flushing the folder");
    return FaultyFileSystem::FlushFolder(d);
  }
};

TEST_F(BackUpPassTest, AJobThatThrowsAfterAMoveAndAFlushThatThrowsAreRetriedAcrossARestart) {
  const std::wstring x = Put(std::wstring(L"boom") + sep_ + L"x.txt", "the third view's folder throws");
  const std::wstring y = Put(std::wstring(L"flushy") + sep_ + L"y.txt", "its folder's flush throws");
  const std::wstring z = Put(L"z.txt", "fine");
  ThrowingAtFileSystem fs;
  RunBackUpPass(fs, 2);
  EXPECT_EQ(backFileCount.load(), 3);
  EXPECT_TRUE(Logged(L"DoBackUp[1]:" + x + L"\r\n"));
  EXPECT_TRUE(Logged(L"catch DoBackUp:...\r\n"));
  EXPECT_TRUE(Logged(L"存档目录刷新失败,稍后重试 [" + y + L"]\r\n"));
  EXPECT_TRUE(Logged(L"2 个文件的存档未能写入,稍后重试\r\n"));
  EXPECT_EQ(CurrentPassMemory().retry, (std::set<std::wstring>{x, y}));
  EXPECT_TRUE(RealFileSystem().Exists(Archives(x).list)) << "moved before the throw";

  // A restart: the worker reads the list back from the settings.
  CurrentPassMemory() = PassMemory();
  CurrentPassMemory().lookForMissing = false;
  CurrentPassMemory().retry = LoadRetryList();
  EXPECT_EQ(CurrentPassMemory().retry, (std::set<std::wstring>{x, y}));
  // A pass that throws forgets nothing.
  ThrowingFileSystem listingThrows;
  EXPECT_ANY_THROW(RunBackUpPass(listingThrows));
  EXPECT_EQ(CurrentPassMemory().retry, (std::set<std::wstring>{x, y}));
  EXPECT_EQ(LoadRetryList(), (std::set<std::wstring>{x, y}));

  AppSettings.timeLastBk.store(platform::Now() + 100);  // only the retry selects them now
  RunBackUpPass(RealFileSystem());
  EXPECT_EQ(backFileCount.load(), 2);
  ExpectArchived(x, "the third view's folder throws");
  ExpectArchived(y, "its folder's flush throws");
  EXPECT_TRUE(LoadRetryList().empty());
}

// Two files whose names differ only in the case of non-ASCII letters (one file to Windows if they
// were in one folder), both large enough to spill, in flight together: each archive holds its
// own file. Under wine a spill file named after the file would be shared by the two.
TEST_F(BackUpPassTest, NamesDifferingInTheCaseOfAnyLetterNeverShareWorkingFiles) {
  AppSettings.fFilterSr.Set(L".pdf.");
  AppSettings.maxFSize.store(20);
  std::string one(6 << 20, '\0'), two(6 << 20, '\0');
  uint32_t seed = 1;
  for (size_t i = 0; i < one.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    one[i] = char(seed >> 24);
    two[i] = char(seed >> 16);
  }
  const std::wstring a = Put(L"2023" + std::wstring(1, sep_) + L"R\u00c9SUM\u00c9.PDF", one);
  const std::wstring b = Put(L"2024" + std::wstring(1, sep_) + L"r\u00e9sum\u00e9.PDF", two);
#ifdef _WIN32
  EXPECT_EQ(platform::FoldNameCase(L"R\u00c9SUM\u00c9.PDF"), platform::FoldNameCase(L"r\u00e9sum\u00e9.PDF"));
#endif
  RunBackUpPass(RealFileSystem(), 2);
  EXPECT_EQ(backFileCount.load(), 2);
  ExpectArchived(a, one);
  ExpectArchived(b, two);
  EXPECT_TRUE(CurrentPassMemory().retry.empty());
}

TEST(RetryListTest, StoredFormKeepsEveryPath) {
  const std::set<std::wstring> paths{L"C:\\a\\b.txt", L"/x/100%/y.txt", L"/odd\nname.txt", L"/cr\rname", L"/%0A.txt"};
  EXPECT_EQ(DecodeRetryList(EncodeRetryList(paths)), paths);
  EXPECT_TRUE(DecodeRetryList(L"").empty());
}

}  // namespace
