// Verify, versions and restore on archives written by real backup passes, and the failures a
// restore must survive without overwriting or leaving anything behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "backup/BackUp.h"
#include "backup/EngineState.h"
#include "backup/OrderedWork.h"
#include "backup/Restore.h"
#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/NewFile.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/backup/BackupWorld.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipWriter.h"

using namespace vq;
using platform::RealFileSystem;
using zip::ReadStatus;

namespace {

TEST(RestoreDecisions, HistoryNamesOfOneFileOnly) {
  const std::wstring flat = L"C..data.a.txt";
  CalendarTime c;
  ASSERT_TRUE(ParseHistoryName(L"C..data.a.txt.2021.01.07.10.08.04.zip", flat, false, &c));
  EXPECT_EQ(c.year, 2021);
  EXPECT_EQ(c.month, 1);
  EXPECT_EQ(c.day, 7);
  EXPECT_EQ(c.hour, 10);
  EXPECT_EQ(c.minute, 8);
  EXPECT_EQ(c.second, 4);
  // Another file whose name starts with this one's, the list name, a partial, bad fields.
  for (const wchar_t* other : {L"C..data.a.txt.bak.2021.01.07.10.08.04.zip", L"C..data.a.txt.zip",
                               L"C..data.a.txt.2021.01.07.10.08.04.zip.part", L"C..data.a.txt.2021.13.07.10.08.04.zip",
                               L"C..data.a.txt.2021.01.07.10.8.045.zip", L"C..data.b.txt.2021.01.07.10.08.04.zip"})
    EXPECT_FALSE(ParseHistoryName(other, flat, false, &c)) << WideToUtf8(other);
  EXPECT_FALSE(ParseHistoryName(L"c..DATA.a.txt.2021.01.07.10.08.04.zip", flat, false, &c));
  EXPECT_TRUE(ParseHistoryName(L"c..DATA.a.txt.2021.01.07.10.08.04.zip", flat, true, &c));
}

TEST(RestoreDecisions, RestoredNamesSayTheirTimeAndKeepTheExtension) {
  CalendarTime t;
  t.year = 2021, t.month = 1, t.day = 7, t.hour = 10, t.minute = 8, t.second = 4;
  EXPECT_EQ(RestoredName(L"report.docx", t, 1), L"report (2021.01.07 10.08.04).docx");
  EXPECT_EQ(RestoredName(L"report.docx", t, 3), L"report (2021.01.07 10.08.04) (3).docx");
  EXPECT_EQ(RestoredName(L"a.tar.gz", t, 1), L"a.tar (2021.01.07 10.08.04).gz");
  EXPECT_EQ(RestoredName(L".htaccess", t, 1), L".htaccess (2021.01.07 10.08.04)");
  EXPECT_EQ(RestoredName(L"Makefile", t, 2), L"Makefile (2021.01.07 10.08.04) (2)");
}

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vqtest::BackupWorld w = vqtest::MakeBackupWorld(L"restore", L".txt.doc.", 8);
    root_ = w.root, src_ = w.src, dest_ = w.dest, sep_ = w.sep, dirs_ = w.dirs;
    // The format checks a password by one byte of the header, so a wrong one passes that check
    // for one header in 256 and then reads as a broken archive. Fixed header bytes make every
    // wrong password of these tests fail the check on every run.
    zip::ZipFixSeedForTest(4242);
  }
  void TearDown() override {
    zip::ZipFixSeedForTest(-1);
    SetLogDirectoryForTest(L"");
    srcChanged.store(0);
  }
  // Writes the file with the given last-write time and backs it up with a full pass.
  std::wstring Save(const std::wstring& rel, const std::string& data, UnixTime modified) {
    const std::wstring p = src_ + rel;
    RealFileSystem().CreateDirectoryTree(p.substr(0, p.rfind(sep_) + 1));
    EXPECT_TRUE(platform::WriteFileAtomically(p, data));
    EXPECT_TRUE(platform::SetLastWriteTime(p, modified));
    AppSettings.timeLastBk.store(0);
    RunBackUpPass(RealFileSystem());
    return p;
  }
  std::wstring Log() { return vqtest::DecodeLog(vqtest::ReadAll(root_ + L"vq.lumen.log.txt")); }
  UnixTime Modified(const std::wstring& p) {
    platform::DirEntry e;
    EXPECT_TRUE(RealFileSystem().Stat(p, &e));
    return e.modified;
  }
  std::vector<std::wstring> Names(const std::wstring& dir) {
    std::vector<platform::DirEntry> entries;
    RealFileSystem().List(dir, &entries);
    std::vector<std::wstring> out;
    for (const auto& e : entries) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
  }

  vqtest::SettingsGuard guard_;
  std::wstring root_, src_, dest_;
  wchar_t sep_ = L'/';
  WorkDirs dirs_;
};

constexpr UnixTime kT1 = 1600000000, kT2 = 1600086400, kT3 = 1600172800;

TEST_F(RestoreTest, VersionsAreListedNewestFirstAndRestoredBesideTheOriginal) {
  Save(L"sub" + std::wstring(1, sep_) + L"a.txt", "first", kT1);
  Save(L"sub" + std::wstring(1, sep_) + L"a.txt", "second version", kT2);
  const std::wstring a = Save(L"sub" + std::wstring(1, sep_) + L"a.txt", "third", kT3);
  Save(L"sub" + std::wstring(1, sep_) + L"a.txt.bak.txt", "another file", kT2);  // its name extends a.txt's

  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Full);
  // The list copy and the history version of T3 hold one content: one version, not two.
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].view, FileVersion::View::List);
  const UnixTime want[] = {kT3, kT2, kT1};
  const uint64_t sizes[] = {5, 14, 5};
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_TRUE(v[i].timeKnown);
    EXPECT_EQ(v[i].modified, want[i]) << i;
    EXPECT_EQ(v[i].size, sizes[i]) << i;
    EXPECT_EQ(v[i].status, ReadStatus::Sound) << i;
  }
  LogVersions(a, v);
  EXPECT_NE(Log().find(L"[2] 历史 " + LocalTimeText(kT2) + L" 14 字节 可打开\r\n"), std::wstring::npos);

  // Beside the original, under a name with its time; the original stays as it is.
  RestoreResult r = RestoreAndLog(RealFileSystem(), v[2], a, L"", "739");
  ASSERT_TRUE(r.ok) << WideToUtf8(r.reason);
  CalendarTime t1;
  ASSERT_TRUE(platform::ToLocalCalendar(kT1, &t1));
  EXPECT_EQ(r.target, src_ + L"sub" + sep_ + RestoredName(L"a.txt", t1, 1));
  EXPECT_EQ(vqtest::ReadAll(r.target), "first");
  EXPECT_EQ(Modified(r.target), kT1);
  EXPECT_EQ(vqtest::ReadAll(a), "third");
  // Again: the name is taken, so the next one.
  RestoreResult again = RestoreVersion(RealFileSystem(), v[2], a, L"", "739");
  ASSERT_TRUE(again.ok);
  EXPECT_EQ(again.target, src_ + L"sub" + sep_ + RestoredName(L"a.txt", t1, 2));
  EXPECT_EQ(vqtest::ReadAll(r.target), "first");
  EXPECT_NE(Log().find(L"恢复文件:" + v[2].archive + L" -> " + r.target + L"\r\n"), std::wstring::npos);
  // No partial file is left anywhere.
  for (const std::wstring& n : Names(src_ + L"sub" + sep_)) EXPECT_EQ(n.find(L".part"), std::wstring::npos);
}

TEST_F(RestoreTest, ListingsLookAsFarAsAsked) {
  const std::wstring a = Save(L"a.txt", std::string(20000, 'q') + "tail", kT1);
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);
  // Damage the version's data, past its encryption header.
  std::string bytes = vqtest::ReadAll(v[0].archive);
  bytes[30 + 5 + 17 + 12 + 3] ^= 0x55;
  ASSERT_TRUE(platform::WriteFileAtomically(v[0].archive, bytes));
  auto statusOf = [&](const char* pw, VersionCheck check) {
    return ListVersions(RealFileSystem(), dirs_, a, pw, check)[0].status;
  };
  EXPECT_EQ(statusOf("739", VersionCheck::Headers), ReadStatus::Sound);
  EXPECT_EQ(statusOf("other", VersionCheck::Headers), ReadStatus::Sound);
  EXPECT_EQ(statusOf("739", VersionCheck::Opens), ReadStatus::Sound);
  EXPECT_EQ(statusOf("other", VersionCheck::Opens), ReadStatus::WrongPassword);
  const ReadStatus full = statusOf("739", VersionCheck::Full);
  EXPECT_TRUE(full == ReadStatus::BadData || full == ReadStatus::CrcMismatch) << zip::ReadStatusText(full);
  // The restore reads every byte, so the damage stops it there.
  EXPECT_FALSE(RestoreVersion(RealFileSystem(), v[0], a, L"", "739").ok);
}

TEST_F(RestoreTest, RestoreToAFolderTakesTheOwnNameFirstAndNeverOverwrites) {
  const std::wstring a = Save(L"a.txt", "content", kT1);
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);
  RestoreResult r1 = RestoreVersion(RealFileSystem(), v[0], a, out, "739");
  ASSERT_TRUE(r1.ok) << WideToUtf8(r1.reason);
  EXPECT_EQ(r1.target, out + L"a.txt");
  ASSERT_TRUE(platform::WriteFileAtomically(out + L"a.txt", "the user's own edit"));
  RestoreResult r2 = RestoreVersion(RealFileSystem(), v[0], a, out.substr(0, out.size() - 1), "739");
  ASSERT_TRUE(r2.ok);
  CalendarTime t1;
  ASSERT_TRUE(platform::ToLocalCalendar(kT1, &t1));
  EXPECT_EQ(r2.target, out + RestoredName(L"a.txt", t1, 1));
  EXPECT_EQ(vqtest::ReadAll(out + L"a.txt"), "the user's own edit");
  EXPECT_EQ(vqtest::ReadAll(r2.target), "content");

  // A file that appears under the chosen name between the look and the move is not replaced.
  bool exists = false;
  ASSERT_TRUE(platform::WriteFileAtomically(out + L"x", "new"));
  EXPECT_FALSE(platform::MoveNoReplace(out + L"x", out + L"a.txt", &exists));
  EXPECT_TRUE(exists);
  EXPECT_EQ(vqtest::ReadAll(out + L"a.txt"), "the user's own edit");
}

TEST_F(RestoreTest, AFailedRestoreSaysWhyAndLeavesNothing) {
  const std::wstring a = Save(L"a.txt", std::string(100000, 'z'), kT1);
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);

  EXPECT_FALSE(RestoreVersion(RealFileSystem(), v[0], a, root_ + L"missing", "739").ok);
  vqtest::FaultyFileSystem readOnly;
  readOnly.refuseCreate.insert(out);
  RestoreResult r = RestoreVersion(readOnly, v[0], a, out, "739");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason.find(L"目标文件夹不可写"), 0u);
  vqtest::FaultyFileSystem full;
  full.diskBytesLeft = 1000;
  r = RestoreVersion(full, v[0], a, out, "739");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, ReadStatusReason(ReadStatus::OutputFailed));
  r = RestoreAndLog(RealFileSystem(), v[0], a, out, "wrong");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(Log().find(L"恢复失败:" + v[0].archive + L" [密码不符]\r\n"), std::wstring::npos);
  EXPECT_TRUE(Names(out).empty());
}

TEST_F(RestoreTest, VerifyCountsAndNamesEveryBrokenArchive) {
  const std::wstring a = Save(L"a.txt", "one", kT1);
  Save(L"d" + std::wstring(1, sep_) + L"b.doc", std::string(50000, 'b'), kT2);
  // 6 archives from the passes; now a truncated one, a changed password, a foreign file and a
  // partial archive of a running pass (not an archive yet).
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);
  std::string bytes = vqtest::ReadAll(v[0].archive);
  ASSERT_TRUE(platform::WriteFileAtomically(v[0].archive, bytes.substr(0, bytes.size() - 30)));
  const std::wstring old = dirs_.history + L"older-password.zip";
  zip::ZipHandle h = zip::ZipCreate(old, "old");
  ASSERT_EQ(zip::ZipAdd(h, L"a.txt", a), zip::kZipSuccess);
  zip::ZipClose(h);
  const std::wstring foreign = dirs_.folder + L"notes.zip";
  ASSERT_TRUE(platform::WriteFileAtomically(foreign, "not an archive at all"));
  ASSERT_TRUE(platform::WriteFileAtomically(PartialArchivePath(dirs_.list, 3), "half"));

  EXPECT_EQ(ViewArchives(RealFileSystem(), dirs_).size(), 8u);
  VerifyReport rep = RunVerify(RealFileSystem(), dirs_, "739", 0);
  EXPECT_EQ(rep.checked, 8);
  EXPECT_EQ(rep.sound, 5);
  EXPECT_EQ(rep.wrongPassword, 1);
  EXPECT_EQ(rep.broken, 2);
  EXPECT_EQ(rep.sourceBytes, 3u + 3u + 3u * 50000u);
  // Helper threads that cannot start (none, or all but one): the verify ends, with the same counts.
  for (int startable : {0, 1}) {
    OrderedWork::LimitThreadStartsForTest(startable);
    const VerifyReport limited = RunVerify(RealFileSystem(), dirs_, "739", 0, 4);
    OrderedWork::LimitThreadStartsForTest(-1);
    EXPECT_EQ(limited.checked, 8);
    EXPECT_EQ(limited.sound, 5);
    EXPECT_EQ(limited.broken, 2);
  }
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"损坏:" + v[0].archive + L" [文件被截断或改动]\r\n"), std::wstring::npos);
  EXPECT_NE(log.find(L"损坏:" + foreign + L" [不是ZIP文件]\r\n"), std::wstring::npos);
  EXPECT_NE(log.find(L"密码不符:" + old + L"\r\n"), std::wstring::npos);
  EXPECT_NE(log.find(L"校验进度:7/8"), std::wstring::npos);
  EXPECT_NE(log.find(L"校验备份结束:检查 8 个, 完好 5 个, 密码不符 1 个, 损坏 2 个, 用时 "), std::wstring::npos);
}

// A destination with archives of both kinds: the setting switched between versions never touches
// old archives, and every reader takes each archive by its own headers.
TEST_F(RestoreTest, MixedDestinationsAreReadArchiveByArchiveAndVerifyCountsBothKinds) {
  Save(L"a.txt", "first, traditional", kT1);
  AppSettings.zipEncryption.store(kZipEncryptionAes256);
  const std::wstring a = Save(L"a.txt", std::string(30000, 's') + "second, AES", kT2);
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Full);
  ASSERT_EQ(v.size(), 2u);  // the list copy stands for its history twin
  bool aes[2] = {};
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].status, ReadStatus::Sound) << i;
    auto in = RealFileSystem().OpenRead(v[i].archive);
    zip::ZipEntryInfo info;
    ASSERT_EQ(zip::ZipReadInfo(*in, &info), ReadStatus::Sound);
    aes[i] = info.aes;
  }
  EXPECT_TRUE(aes[0] && !aes[1]) << "list and new history version AES, the old one traditional";
  // One version, encrypted once: its three archives are the same bytes.
  const std::wstring folderArchive = ArchivePathsFor(dirs_, a, L"a.txt", CalendarTime(), platform::RootLength()).folder;
  EXPECT_TRUE(vqtest::ReadAll(v[0].archive) == vqtest::ReadAll(dirs_.history + Names(dirs_.history).back()));
  EXPECT_TRUE(vqtest::ReadAll(v[0].archive) == vqtest::ReadAll(folderArchive)) << WideToUtf8(folderArchive);

  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  RestoreResult r1 = RestoreVersion(RealFileSystem(), v[1], a, out, "739");
  ASSERT_TRUE(r1.ok) << WideToUtf8(r1.reason);
  EXPECT_EQ(vqtest::ReadAll(r1.target), "first, traditional");
  RestoreResult r2 = RestoreVersion(RealFileSystem(), v[0], a, out, "739");
  ASSERT_TRUE(r2.ok) << WideToUtf8(r2.reason);
  EXPECT_EQ(vqtest::ReadAll(r2.target), std::string(30000, 's') + "second, AES");

  VerifyReport rep = RunVerify(RealFileSystem(), dirs_, "739", 0);
  EXPECT_EQ(rep.checked, 4);
  EXPECT_EQ(rep.sound, 4);
  rep = RunVerify(RealFileSystem(), dirs_, "other", 0);
  EXPECT_EQ(rep.wrongPassword, 4) << "a wrong password is told for both kinds";

  // A changed byte in the AES version's data: never restored, counted broken, and said why.
  std::string bytes = vqtest::ReadAll(v[0].archive);
  bytes[bytes.size() / 2] ^= 0x08;
  ASSERT_TRUE(platform::WriteFileAtomically(v[0].archive, bytes));
  const std::wstring out2 = root_ + L"out2" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out2));
  RestoreResult bad = RestoreVersion(RealFileSystem(), v[0], a, out2, "739");
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.reason, ReadStatusReason(ReadStatus::AuthFailed));
  EXPECT_TRUE(Names(out2).empty()) << "no partial file is left";
  rep = RunVerify(RealFileSystem(), dirs_, "739", 0);
  EXPECT_EQ(rep.sound, 3);
  EXPECT_EQ(rep.broken, 1);
  EXPECT_NE(Log().find(L"损坏:" + v[0].archive + L" [认证码不符(数据被改动)]\r\n"), std::wstring::npos);
}

TEST_F(RestoreTest, AFolderComesBackAsItWasAtAMoment) {
  const std::wstring sub = L"docs" + std::wstring(1, sep_);
  Save(sub + L"a.txt", "a at T1", kT1);
  Save(sub + L"a.txt", "a at T3", kT3);
  Save(sub + L"b.txt", "b at T2", kT2);
  Save(sub + L"deep" + sep_ + L"c.txt", "c at T1", kT1);
  Save(sub + L"deep" + sep_ + L"new.txt", "only later", kT3);
  Save(L"outside.txt", "not in the folder", kT1);
  // A file deleted from the source since is restored all the same.
  ASSERT_TRUE(RealFileSystem().RemoveFile(src_ + sub + L"b.txt"));
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  ASSERT_TRUE(platform::WriteFileAtomically(out + L"a.txt", "already there"));

  FolderRestoreReport rep = RestoreFolderAt(RealFileSystem(), dirs_, src_ + sub, kT2, out, "739");
  EXPECT_EQ(rep.restored, 3);
  EXPECT_EQ(rep.failed, 0);
  EXPECT_EQ(rep.noVersion, 1);
  CalendarTime t1;
  ASSERT_TRUE(platform::ToLocalCalendar(kT1, &t1));
  EXPECT_EQ(vqtest::ReadAll(out + L"a.txt"), "already there");
  EXPECT_EQ(vqtest::ReadAll(out + RestoredName(L"a.txt", t1, 1)), "a at T1");
  EXPECT_EQ(vqtest::ReadAll(out + L"b.txt"), "b at T2");
  EXPECT_EQ(Modified(out + L"b.txt"), kT2);
  EXPECT_EQ(vqtest::ReadAll(out + L"deep" + sep_ + L"c.txt"), "c at T1");
  EXPECT_FALSE(RealFileSystem().Exists(out + L"deep" + sep_ + L"new.txt"));
  EXPECT_FALSE(RealFileSystem().Exists(out + L"outside.txt"));
  EXPECT_NE(Log().find(L"恢复文件夹结束:恢复 3 个, 失败 0 个, 该时间之前没有版本 1 个\r\n"), std::wstring::npos);
}

TEST_F(RestoreTest, FilesWhoseFlatNamesCoincideNeverGetEachOthersContent) {
  const std::wstring s(1, sep_);
  // Entry names tell these two apart; they share the list archive and, at one second, a history name.
  const std::wstring xy = Save(L"x.y" + s + L"z.txt", "z of x.y", kT1);
  const std::wstring x = Save(L"x" + s + L"y.z.txt", "y.z of x", kT2);
  Save(L"x" + s + L"y.z.txt", "y.z of x, later", kT3);
  // These two store the same entry name.
  const std::wstring ab = Save(L"a.b" + s + L"c" + s + L"d.txt", "d of a.b/c", kT1);
  const std::wstring a = Save(L"a" + s + L"b.c" + s + L"d.txt", "d of a/b.c", kT2);

  auto contents = [&](const std::wstring& path) {
    std::vector<std::string> out;
    for (const FileVersion& v : ListVersions(RealFileSystem(), dirs_, path, "739", VersionCheck::Full)) {
      if (v.owner != VersionOwner::Own) {
        out.push_back("unsure");
        continue;
      }
      RestoreResult r = RestoreVersion(RealFileSystem(), v, path, root_ + L"out" + s, "739");
      EXPECT_TRUE(r.ok) << WideToUtf8(r.reason);
      out.push_back(vqtest::ReadAll(r.target));
      RealFileSystem().RemoveFile(r.target);
    }
    return out;
  };
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(root_ + L"out" + s));
  // x.y/z.txt: its history version, which its folder-view copy repeats (the list copy is
  // x/y.z.txt's now); each distinct version once.
  EXPECT_EQ(contents(xy), (std::vector<std::string>{"z of x.y"}));
  EXPECT_EQ(contents(x), (std::vector<std::string>{"y.z of x, later", "y.z of x"}));
  // a.b/c/d.txt, written last in walk order, keeps the list copy: the content of its own folder
  // copy proves it (so the folder copy is not listed twice). a/b.c/d.txt's newer history version
  // cannot be told apart and is marked so.
  EXPECT_EQ(contents(ab), (std::vector<std::string>{"unsure", "d of a.b/c"}));
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, ab, "739", VersionCheck::Headers);
  LogVersions(ab, v);
  EXPECT_NE(Log().find(L"[1] 历史 " + LocalTimeText(kT2) + L" 10 字节 可打开 无法确定是否属于此文件\r\n"),
            std::wstring::npos);
  EXPECT_NE(Log().find(L"[2] 最新 " + LocalTimeText(kT1) + L" 10 字节 可打开\r\n"), std::wstring::npos);

  // A folder restore gives every file its own content.
  const std::wstring out = root_ + L"folder" + s;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  FolderRestoreReport rep = RestoreFolderAt(RealFileSystem(), dirs_, src_, kT3, out, "739");
  EXPECT_EQ(rep.restored, 4);
  EXPECT_EQ(rep.failed, 0);
  EXPECT_EQ(vqtest::ReadAll(out + L"x.y" + s + L"z.txt"), "z of x.y");
  EXPECT_EQ(vqtest::ReadAll(out + L"x" + s + L"y.z.txt"), "y.z of x, later");
  EXPECT_EQ(vqtest::ReadAll(out + L"a.b" + s + L"c" + s + L"d.txt"), "d of a.b/c");
  EXPECT_EQ(vqtest::ReadAll(out + L"a" + s + L"b.c" + s + L"d.txt"), "d of a/b.c");
}

TEST_F(RestoreTest, AFileWithOnlyItsFolderViewCopyHasAVersion) {
  // Each folder name fits, but the flattened path is too long for one name in the flat views.
  const std::wstring s(1, sep_);
  const std::wstring rel = std::wstring(120, L'd') + s + std::wstring(120, L'e') + s + L"f.txt";
  const std::wstring f = Save(rel, "deep", kT1);
  ASSERT_FALSE(RealFileSystem().Exists(dirs_.list + FlattenedPath(f) + L".zip"));
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, f, "739", VersionCheck::Full);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].view, FileVersion::View::Folder);
  EXPECT_EQ(v[0].modified, kT1);
  const std::wstring out = root_ + L"out" + s;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  FolderRestoreReport rep = RestoreFolderAt(RealFileSystem(), dirs_, src_, kT1, out, "739");
  EXPECT_EQ(rep.restored, 1);
  EXPECT_EQ(rep.noVersion, 0);
  EXPECT_EQ(vqtest::ReadAll(out + rel), "deep");
  EXPECT_EQ(Modified(out + rel), kT1);
}

TEST_F(RestoreTest, NothingPlantedInTheTargetFolderReceivesTheBytes) {
  const std::wstring a = Save(L"a.txt", "restored bytes", kT1);
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);  // the list copy and its history twin are one
  // The partial file's name is nobody's guess: not the file's name with a fixed ending, and new
  // each time.
  vqtest::FaultyFileSystem fs;
  std::vector<std::wstring> partials;
  fs.beforeCreate = [&](const std::wstring& p) { partials.push_back(p); };
  ASSERT_TRUE(RestoreVersion(fs, v[0], a, out, "739").ok);
  ASSERT_TRUE(RestoreVersion(fs, v[0], a, out, "739").ok);
  ASSERT_EQ(partials.size(), 2u);
  EXPECT_NE(partials[0], partials[1]);
  EXPECT_NE(partials[0], out + L"~a.txt.vq.lumen.part");

  // Whatever appears under the partial's name between choosing it and making it is left alone:
  // a file there is not truncated, and the restore tries another name.
  const std::wstring out2 = root_ + L"out2" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out2));
  int planted = 0;
  fs.beforeCreate = [&](const std::wstring& p) {
    if (planted++ == 0) {
      ASSERT_TRUE(platform::WriteFileAtomically(p, "someone else's"));
    }
  };
  RestoreResult r = RestoreVersion(fs, v[0], a, out2, "739");
  ASSERT_TRUE(r.ok) << WideToUtf8(r.reason);
  EXPECT_EQ(vqtest::ReadAll(r.target), "restored bytes");
  EXPECT_EQ(Names(out2).size(), 2u);
  for (const std::wstring& n : Names(out2))
    if (n != L"a.txt") {
      EXPECT_EQ(vqtest::ReadAll(out2 + n), "someone else's");
    }
#ifndef _WIN32
  // A link planted at every name the restore picks: the bytes never leave the chosen folder.
  const std::wstring outside = root_ + L"outside.txt";
  ASSERT_TRUE(platform::WriteFileAtomically(outside, "keep me"));
  const std::wstring out3 = root_ + L"out3" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out3));
  fs.beforeCreate = [&](const std::wstring& p) {
    ASSERT_EQ(symlink(WideToUtf8(outside).c_str(), WideToUtf8(p).c_str()), 0);
  };
  r = RestoreVersion(fs, v[0], a, out3, "739");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason.find(L"目标文件夹不可写"), 0u) << WideToUtf8(r.reason);
  EXPECT_EQ(vqtest::ReadAll(outside), "keep me");
#endif
}

TEST_F(RestoreTest, EveryStepAfterTheWriteIsCheckedAndNothingHalfGetsTheName) {
  const std::wstring a = Save(L"a.txt", "content", kT1);
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);  // the list copy and its history twin are one
  struct Case {
    const char* what;
    std::function<void(vqtest::FaultyFileSystem&)> fault;
    const wchar_t* reason;
  };
  const std::vector<Case> cases = {
      {"flush", [](vqtest::FaultyFileSystem& f) { f.failFlush = true; }, L"写入失败"},
      {"close", [](vqtest::FaultyFileSystem& f) { f.failClose = true; }, L"写入失败"},
      {"time", [](vqtest::FaultyFileSystem& f) { f.failSetTime = true; }, L"无法设置修改时间"},
      {"move", [](vqtest::FaultyFileSystem& f) { f.refuseMoveTo.insert(L"a.txt"); }, L"无法以新名字保存"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::wstring out = root_ + L"out" + std::to_wstring(n++) + sep_;
    ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
    vqtest::FaultyFileSystem fs;
    c.fault(fs);
    RestoreResult r = RestoreVersion(fs, v[0], a, out, "739");
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.reason.find(c.reason), 0u) << c.what << ": " << WideToUtf8(r.reason);
    EXPECT_TRUE(Names(out).empty()) << c.what << ": nothing left, neither partial nor final";
  }
  // The folder cannot be flushed after the move: the file is whole, but not said to be safe.
  const std::wstring out = root_ + L"flush-folder" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  vqtest::FaultyFileSystem fs;
  fs.failFolderFlushOf.insert(L"flush-folder");
  RestoreResult r = RestoreVersion(fs, v[0], a, out, "739");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason.find(L"文件夹无法写入磁盘"), 0u);
  EXPECT_EQ(vqtest::ReadAll(out + L"a.txt"), "content");
}

TEST_F(RestoreTest, ARestoreTakesTheVersionThatWasListedOrNone) {
  const std::wstring a = Save(L"a.txt", "as listed", kT1);
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);  // the list copy stands for its history twin
  ASSERT_EQ(v[0].view, FileVersion::View::List);
  Save(L"a.txt", "backed up since", kT2);  // replaces the list copy
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  // The version shown comes back from its history twin, and the log names the archive read.
  RestoreResult r = RestoreAndLog(RealFileSystem(), v[0], a, out, "739");
  ASSERT_TRUE(r.ok) << WideToUtf8(r.reason);
  EXPECT_EQ(vqtest::ReadAll(r.target), "as listed");
  EXPECT_EQ(Modified(r.target), kT1);
  EXPECT_EQ(r.archive.compare(0, dirs_.history.size(), dirs_.history), 0);
  EXPECT_NE(Log().find(L"恢复文件:" + r.archive + L" -> " + r.target), std::wstring::npos);
  // With the history emptied as well, nothing holds that version any more: refused, nothing left.
  ASSERT_TRUE(RealFileSystem().RemoveFile(r.archive));
  ASSERT_TRUE(RealFileSystem().RemoveFile(r.target));
  r = RestoreVersion(RealFileSystem(), v[0], a, out, "739");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, L"该版本已被新的备份取代,请重新列出版本");
  EXPECT_TRUE(Names(out).empty());
}

TEST_F(RestoreTest, VerifyTellsAnUnreachableDestinationAndArchivesThatVanish) {
  Save(L"a.txt", "one", kT1);
  Save(L"b.txt", "two", kT1);
  vqtest::FaultyFileSystem fs;
  const std::wstring gone = dirs_.history;
  fs.beforeLookup = [&](const std::wstring& p) {
    if (p.find(L"b.txt") != std::wstring::npos && p.compare(0, gone.size(), gone) == 0) RealFileSystem().RemoveFile(p);
  };
  VerifyReport rep = RunVerify(fs, dirs_, "739", 0, 1);
  EXPECT_EQ(rep.checked, 5);
  EXPECT_EQ(rep.sound, 5);
  EXPECT_EQ(rep.vanished, 1);
  EXPECT_NE(Log().find(L"校验备份结束:检查 5 个, 完好 5 个, 密码不符 0 个, 损坏 0 个, 校验期间消失 1 个, 用时 "),
            std::wstring::npos);

  // The destination away: a plain file where its folder was.
  ASSERT_TRUE(vqtest::RemoveTree(dest_));
  ASSERT_TRUE(platform::WriteFileAtomically(dest_.substr(0, dest_.size() - 1), "unplugged"));
  rep = RunVerify(RealFileSystem(), dirs_, "739", 0);
  EXPECT_TRUE(rep.unreachable);
  EXPECT_EQ(rep.checked, 0);
  EXPECT_NE(Log().find(L"校验备份:无法访问 " + dirs_.list + L"\r\n"), std::wstring::npos);
  EXPECT_NE(Log().find(L"校验备份失败:备份目录无法访问\r\n"), std::wstring::npos);
}

TEST_F(RestoreTest, ADeepTargetFolderIsRestoredInto) {
  const std::wstring a = Save(L"a.txt", "deep restore", kT1);
  std::wstring out = root_ + L"out" + sep_;
  while (out.size() < 300) out += std::wstring(40, L'o') + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  std::vector<FileVersion> v = ListVersions(RealFileSystem(), dirs_, a, "739", VersionCheck::Headers);
  ASSERT_EQ(v.size(), 1u);
  RestoreResult r = RestoreVersion(RealFileSystem(), v[0], a, out, "739");
  ASSERT_TRUE(r.ok) << WideToUtf8(r.reason);
  EXPECT_EQ(r.target, out + L"a.txt");
  EXPECT_EQ(Modified(r.target), kT1);
  std::string back;
  std::unique_ptr<platform::FileStream> in = RealFileSystem().OpenRead(r.target);
  ASSERT_TRUE(in);
  char buf[64];
  const int64_t got = in->Read(buf, sizeof buf);
  EXPECT_EQ(std::string(buf, size_t(std::max<int64_t>(got, 0))), "deep restore");
}

#ifndef _WIN32
TEST_F(RestoreTest, LinksAndFifosInTheDestinationAreNeverFollowedNorOpened) {
  const std::wstring s(1, sep_);
  const std::wstring a = Save(L"docs" + s + L"a.txt", "real", kT1);
  // Two links to "." in the folder view, and one to the folder above it.
  for (const wchar_t* name : {L"loop1", L"loop2"}) ASSERT_EQ(symlink(".", WideToUtf8(dirs_.folder + name).c_str()), 0);
  ASSERT_EQ(symlink("..", WideToUtf8(dirs_.folder + L"up").c_str()), 0);
  const std::vector<std::wstring> archives = ViewArchives(RealFileSystem(), dirs_);
  EXPECT_EQ(archives.size(), 3u);
  VerifyReport rep = RunVerify(RealFileSystem(), dirs_, "739", 0);
  EXPECT_EQ(rep.checked, 3);
  EXPECT_FALSE(rep.unreachable);

  // A FIFO where the list copy of another file is: a listing returns at once instead of waiting
  // for a writer that never comes.
  const std::wstring fifoFile = src_ + L"docs" + s + L"b.txt";
  const std::string fifo = WideToUtf8(dirs_.list + FlattenedPath(fifoFile) + L".zip");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  std::vector<FileVersion> v;
  std::thread lister([&] {
    v = ListVersions(RealFileSystem(), dirs_, fifoFile, "739", VersionCheck::Full);
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done) << "versions waits on a FIFO";
  if (!done) {
    int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets it go
    if (w >= 0) ::close(w);
  }
  lister.join();
  for (const FileVersion& x : v) EXPECT_EQ(x.status, ReadStatus::OpenFailed);

  // A folder restore walks past the links; a link planted in the target, under the name of a
  // folder it restores, would lead the files outside: those files are refused.
  const std::wstring out = root_ + L"out" + s;
  const std::wstring elsewhere = root_ + L"elsewhere" + s;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(elsewhere));
  ASSERT_EQ(symlink(WideToUtf8(elsewhere).c_str(), WideToUtf8(out + L"docs").c_str()), 0);
  FolderRestoreReport fr = RestoreFolderAt(RealFileSystem(), dirs_, src_, kT2, out, "739");
  EXPECT_EQ(fr.restored, 0);
  EXPECT_EQ(fr.failed, 1);
  EXPECT_TRUE(Names(elsewhere).empty());
  ASSERT_TRUE(RealFileSystem().RemoveFile(out + L"docs"));
  fr = RestoreFolderAt(RealFileSystem(), dirs_, src_, kT2, out, "739");
  EXPECT_EQ(fr.restored, 1);
  EXPECT_EQ(vqtest::ReadAll(out + L"docs" + s + L"a.txt"), "real");
  (void)a;
}
#endif

TEST(MaintenanceGate, VerifyAndCleaningNeverOverlap) {
  MaintenanceGate gate;
  ASSERT_TRUE(gate.BeginVerify());
  EXPECT_FALSE(gate.BeginVerify()) << "a second verify is refused";
  std::atomic<bool> waiting{false}, cleaning{false};
  std::thread clean([&] {
    gate.BeginClean([&] { waiting = true; });
    cleaning = true;
    gate.EndClean();
  });
  while (!waiting) std::this_thread::yield();
  EXPECT_FALSE(cleaning);
  gate.EndVerify();
  clean.join();
  EXPECT_TRUE(cleaning);
  // A verify asked for while a cleaning runs waits for it; cleanings do not wait for each other.
  gate.BeginClean();
  gate.BeginClean();
  std::atomic<bool> verifyWaiting{false}, verifying{false};
  std::thread verify([&] {
    EXPECT_TRUE(gate.BeginVerify([&] { verifyWaiting = true; }));
    verifying = true;
    gate.EndVerify();
  });
  while (!verifyWaiting) std::this_thread::yield();
  gate.EndClean();
  EXPECT_FALSE(verifying);
  gate.EndClean();
  verify.join();
  EXPECT_TRUE(verifying);
}

}  // namespace
