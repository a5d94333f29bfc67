// The engine's decisions as plain functions: which file a pass selects, what the walk skips, which
// change starts a pass, and when the schedule fires.
#include <gtest/gtest.h>

#include <functional>

#include "backup/BackUp.h"
#include "backup/EngineState.h"
#include "backup/Monitor.h"
#include "backup/Schedule.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"

using namespace vq;
using platform::DirEntry;

namespace {

SelectionInput Candidate(const std::wstring& name) {
  SelectionInput in;
  in.path = L"C:\\data\\sub\\" + name;
  in.name = name;
  in.logFileName = L"vq.lumen.log.txt";
  in.tempDir = L"C:\\Temp\\";
  in.destDir = L"D:\\vq.l\\";
  in.filter = kDefaultFilter;
  in.maxFSize = 32;
  in.size = 100;
  in.modified = 1700000100;
  in.timeLastBk = 1700000000;
  return in;
}

}  // namespace

TEST(FileSelection, ExtensionsMatchWholeAndWithoutRegardToCase) {
  struct Case {
    const wchar_t* name;
    const wchar_t* filter;
    Selection expected;
  } cases[] = {
      {L"report.TXT", L".txt.", Selection::Selected},     // both sides lower-cased
      {L"main.c", L".cpp.c.", Selection::Selected},       // ".c" matched by ".c."
      {L"main.c", L".cpp.h.", Selection::NotInFilter},    // ...not by ".cpp."
      {L"main.cpp", L".c.h.", Selection::NotInFilter},    // nor ".cpp" by ".c."
      {L"Makefile", nullptr, Selection::NoExtension},     // no full stop
      {L"name.", nullptr, Selection::NoExtension},        // the extension "." is too short
      {L".htaccess", nullptr, Selection::Selected},       // the whole name is the extension
      {L"archive.tar.GZ", L".gz.", Selection::Selected},  // the last full stop counts
      {L"photo.JPEG", nullptr, Selection::Selected},      // default filter
      {L"movie.mkv", nullptr, Selection::NotInFilter},    // default filter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.name));
    SelectionInput in = Candidate(c.name);
    if (c.filter) in.filter = c.filter;
    EXPECT_EQ(SelectFile(in), c.expected);
  }
}

TEST(FileSelection, SizeLimitAndLastBackupTimeAreBoundaries) {
  SelectionInput in = Candidate(L"a.txt");
  in.maxFSize = 2;
  in.size = 2 * 1048576;
  EXPECT_EQ(SelectFile(in), Selection::Selected) << "exactly maxFSize MB";
  in.size += 1;
  EXPECT_EQ(SelectFile(in), Selection::TooLarge) << "one byte more";
  in.maxFSize = 1024;
  in.size = 5ull << 30;  // above 4 GiB: measured by its full size
  EXPECT_EQ(SelectFile(in), Selection::TooLarge);

  in = Candidate(L"a.txt");
  in.modified = in.timeLastBk;
  EXPECT_EQ(SelectFile(in), Selection::NotNewer) << "the same second as timeLastBk";
  in.modified = in.timeLastBk + 1;
  EXPECT_EQ(SelectFile(in), Selection::Selected) << "one second later";
}

TEST(FileSelection, LogTemporaryAndDestinationPathsAreExcludedWithRegardToCase) {
  SelectionInput in = Candidate(L"vq.lumen.log.txt");
  EXPECT_EQ(SelectFile(in), Selection::Excluded);
  in = Candidate(L"a.txt");
  in.path = L"C:\\Temp\\a.txt.temp";
  EXPECT_EQ(SelectFile(in), Selection::Excluded);
  in.path = L"D:\\vq.l\\mList\\C..data.a.txt.zip";
  EXPECT_EQ(SelectFile(in), Selection::Excluded) << "a destination inside the source";
  in.path = L"d:\\VQ.L\\mList\\a.txt";
  EXPECT_EQ(SelectFile(in), Selection::Selected) << "the exclusions compare with regard to case";
  // The exclusions come before the name tests.
  in = Candidate(L"Makefile");
  in.path = L"C:\\Temp\\Makefile";
  EXPECT_EQ(SelectFile(in), Selection::Excluded);
}

TEST(FileSelection, ExtensionOf) {
  EXPECT_EQ(ExtensionOf(L"a.b.c"), L".c");
  EXPECT_EQ(ExtensionOf(L".htaccess"), L".htaccess");
  EXPECT_EQ(ExtensionOf(L"Makefile"), L"");
  EXPECT_EQ(ExtensionOf(L"name."), L".");
}

TEST(Walk, SkipsHiddenSystemAndExactlyUps) {
  auto entry = [](const wchar_t* name, uint32_t attrs) {
    DirEntry e;
    e.name = name;
    e.attributes = attrs;
    return e;
  };
  using namespace platform;
  EXPECT_TRUE(WalkSkips(entry(L"h.txt", kAttrArchive | kAttrHidden)));
  EXPECT_TRUE(WalkSkips(entry(L"s.txt", kAttrArchive | kAttrSystem)));
  EXPECT_TRUE(WalkSkips(entry(L"secret", kAttrDirectory | kAttrHidden)));
  EXPECT_TRUE(WalkSkips(entry(L"ups", kAttrDirectory)));
  EXPECT_FALSE(WalkSkips(entry(L"Ups", kAttrDirectory))) << "other case is walked";
  EXPECT_FALSE(WalkSkips(entry(L"ups", kAttrArchive))) << "a file named ups is offered";
  EXPECT_FALSE(WalkSkips(entry(L"r.txt", kAttrArchive | kAttrReadOnly)));
  EXPECT_TRUE(IsRecycleBinPattern(L"e:\\$Recycle.Bin\\*.*"));
  EXPECT_FALSE(IsRecycleBinPattern(L"D:\\$RECYCLE.BIN\\*.*")) << "only drive E";
  EXPECT_FALSE(IsRecycleBinPattern(L"E:\\$RECY"));
}

TEST(MonitorExclusions, WholeNamesBelowTheSourceOnly) {
  const std::wstring log = L"vq.lumen.log.txt";
  struct Case {
    const wchar_t* rel;
    bool excluded;
  } cases[] = {
      {L"report.docx", false},
      {L"Groups.xlsx", false},          // "ups" inside a name is no exclusion
      {L"Setups\\install.txt", false},  // nor inside a folder name
      {L"ups\\a.txt", true},            // a folder named ups
      {L"sub\\UPS\\a.txt", true},       // any case
      {L"$Recycle.Bin\\S-1-5\\a.txt", true},
      {L"sub/$RECYCLE.BIN/a.txt", true},  // either separator
      {L"my$RECYCLE.BIN.txt", false},
      {L"logs\\VQ.LUMEN.LOG.TXT", true},  // the log file, any case
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.rel));
    // A source folder under D:\Backups\ must not exclude everything below it.
    EXPECT_EQ(MonitExcludes(c.rel, std::wstring(L"D:\\Backups\\work\\") + c.rel, log), c.excluded);
  }
}

class EngineLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = vqtest::MakeScratchDir(L"engine");
    SetLogDirectoryForTest(dir_);
    AppSettings.logFileName.Set(L"vq.lumen.log.txt");
    srcChanged.store(0);
  }
  void TearDown() override {
    SetLogDirectoryForTest(L"");
    platform::ClearNowForTest();
    srcChanged.store(0);
  }
  std::wstring Log() { return vqtest::DecodeLog(vqtest::ReadAll(dir_ + L"vq.lumen.log.txt")); }
  size_t Count(const std::wstring& what) {
    std::wstring t = Log();
    size_t n = 0;
    for (size_t at = t.find(what); at != std::wstring::npos; at = t.find(what, at + 1)) ++n;
    return n;
  }
  vqtest::SettingsGuard keep_;
  std::wstring dir_;
};

TEST_F(EngineLogTest, MonitorNotificationSetsTheFlagForFilesOnly) {
  std::wstring src = vqtest::MakeScratchDir(L"src");
  platform::RealFileSystem().CreateDirectoryTree(src + L"emptydir");
  AppSettings.vqDebug.store(1);
  platform::DirWatcher::Change c;
  c.action = 1;
  c.name = L"emptydir";
  EXPECT_FALSE(MonitNotification(platform::RealFileSystem(), src, c)) << "a new empty folder";
  EXPECT_EQ(srcChanged.load(), 0);
  EXPECT_EQ(CurrentReports().Take().dirs.size(), 1u) << "kept for the files that may follow";
  // A folder moved in with files: they keep their old times, the next pass takes them all.
  platform::RealFileSystem().CreateDirectoryTree(src + L"moved");
  ASSERT_TRUE(platform::RealFileSystem().CreateAlways(src + L"moved" + platform::PathSeparator() + L"f.txt"));
  c.action = 5;
  c.name = L"moved";
  EXPECT_TRUE(MonitNotification(platform::RealFileSystem(), src, c));
  EXPECT_EQ(srcChanged.exchange(0), 1);
  c.action = 3;  // a folder's own time changes with every file saved in it: no pass, no report
  EXPECT_FALSE(MonitNotification(platform::RealFileSystem(), src, c));
  c.action = 2;
  c.name = L"gone.txt";
  EXPECT_TRUE(MonitNotification(platform::RealFileSystem(), src, c)) << "a deletion asks for a pass";
  srcChanged.store(0);
  ReportedPaths::Taken taken = CurrentReports().Take();
  // Kept in the form the file system compares names in (upper case on Windows).
  EXPECT_EQ(taken.dirs,
            std::unordered_set<std::wstring>{platform::FoldNameCase(src + L"moved") + platform::PathSeparator()});
  EXPECT_TRUE(taken.files.empty()) << "a deleted file is not looked for";
  c.action = 1;
  c.name = L"Groups.xlsx";
  EXPECT_TRUE(MonitNotification(platform::RealFileSystem(), src, c)) << "a file, even gone (deleted)";
  EXPECT_EQ(srcChanged.load(), 1);
  srcChanged.store(0);
  c.name = L"vq.lumen.log.txt";
  EXPECT_FALSE(MonitNotification(platform::RealFileSystem(), src, c));
  EXPECT_EQ(srcChanged.load(), 0);
  // With vqDebug every notification is logged, excluded or not.
  EXPECT_EQ(CurrentReports().Take().files,
            std::unordered_set<std::wstring>{platform::FoldNameCase(src + L"Groups.xlsx")});
  EXPECT_EQ(Count(L"ReadDirectoryChangesW:Action[1] "), 3u);
  EXPECT_NE(Log().find(L"ReadDirectoryChangesW:Action[1] " + src + L"Groups.xlsx\r\n"), std::wstring::npos);
}

TEST_F(EngineLogTest, ScheduleFiresEachPeriodOnceAndTheLongestWins) {
  const UnixTime now = 1800000000;
  // Long shutdown: all four periods are due.
  for (auto* t : {&AppSettings.timeLastBkDayly, &AppSettings.timeLastBkWeekly, &AppSettings.timeLastBkMonthly,
                  &AppSettings.timeLastBkYearly})
    t->store(now - 400 * 86400);
  platform::SetNowForTest(now);
  EXPECT_EQ(ScheduleCheck(), 4);
  EXPECT_EQ(AppSettings.timeLastBk.load(), now - 365 * 86400);
  EXPECT_EQ(srcChanged.load(), 1);
  std::wstring log = Log();
  size_t d = log.find(L"DAYLY[重置]:make timeLastBk "), w = log.find(L"WEEKLY[重置]"), m = log.find(L"MONTHLY[重置]"),
         y = log.find(L"YEARLY[重置]");
  ASSERT_NE(y, std::wstring::npos);
  EXPECT_TRUE(d < w && w < m && m < y) << "day, week, month, year";
  EXPECT_EQ(AppSettings.timeLastBkDayly.load(), now);

  // Three more checks 1.2 s apart fire nothing: each period's time is now the clock.
  srcChanged.store(0);
  for (int i = 1; i <= 3; ++i) {
    platform::SetNowForTest(now + i);
    EXPECT_EQ(ScheduleCheck(), 0);
  }
  EXPECT_EQ(srcChanged.load(), 0);

  // Strictly more than a day later only the day fires.
  platform::SetNowForTest(now + 86400);
  EXPECT_EQ(ScheduleCheck(), 0) << "exactly one period is not more";
  platform::SetNowForTest(now + 86401);
  EXPECT_EQ(ScheduleCheck(), 1);
  EXPECT_EQ(AppSettings.timeLastBk.load(), now + 1);
}

TEST_F(EngineLogTest, ScheduleWithAClockSetBackOrAMissingTime) {
  const UnixTime now = 1800000000;
  for (auto* t : {&AppSettings.timeLastBkWeekly, &AppSettings.timeLastBkMonthly, &AppSettings.timeLastBkYearly})
    t->store(now);
  AppSettings.timeLastBkDayly.store(now + 5 * 86400);  // the clock was set back five days
  platform::SetNowForTest(now);
  EXPECT_EQ(ScheduleCheck(), 0) << "a negative difference fires nothing";
  platform::SetNowForTest(now + 6 * 86400);
  EXPECT_EQ(ScheduleCheck(), 0) << "not before the stored time plus the period has passed";
  platform::SetNowForTest(now + 6 * 86400 + 1);
  EXPECT_EQ(ScheduleCheck(), 1);

  AppSettings.timeLastBkMonthly.store(0);  // never stored
  platform::SetNowForTest(now + 6 * 86400 + 2);
  EXPECT_EQ(ScheduleCheck(), 1);
  EXPECT_EQ(Count(L"MONTHLY[重置]"), 1u);
}

TEST_F(EngineLogTest, ResetsMoveTheTimeLogAndAskForAPass) {
  platform::SetNowForTest(1800000000);
  ApplyResetRule(ResetKind::Week);
  EXPECT_EQ(AppSettings.timeLastBk.load(), 1800000000 - 604800);
  EXPECT_EQ(srcChanged.load(), 1);
  EXPECT_EQ(Count(L"[重置最后备份时间为一周前]:make timeLastBk "), 1u);
}

// Whose leftovers a pass may remove: this computer's own (this process or a gone one) and
// anybody's abandoned for a day; never a live writer's, never another program's file.
TEST(WorkFilesTest, StrayWorkFiles) {
  const UnixTime now = 1800000000, fresh = now - 60, old = now - 86401;
  auto running = [](uint32_t pid) { return pid == 77; };
  const std::wstring me = L"DESK-1";
  struct Case {
    std::wstring name, suffix;
    UnixTime modified;
    bool stray;
  } cases[] = {
      {WorkTag(me, 5) + L".part", L".part", fresh, true},          // this process (an earlier pass of it)
      {WorkTag(me, 77) + L".part", L".part", fresh, false},        // an older process still running
      {WorkTag(me, 78) + L".part", L".part", fresh, true},         // killed
      {WorkTag(L"DESK-2", 5) + L".part", L".part", fresh, false},  // another computer on the share
      {WorkTag(L"DESK-2", 5) + L".part", L".part", old, true},     // ... that gave up a day ago
      {WorkTag(L"desk.lan", 78), L"", fresh, false},               // "desk_lan" is not us
      {WorkTag(me, 78), L"", fresh, true},                         // a temporary folder
      {WorkTag(me, 78) + L".part", L"", fresh, false},             // not a folder's name
      {L"~vq.lumen.part", L".part", fresh, false},                 // an older version's, maybe running
      {L"~vq.lumen.part", L".part", old, true},
      {L"~vq.lumen.DESK-1.x5.part", L".part", old, false},  // no process id: not ours
      {L"~vq.lumen.99999999999.part", L".part", old, false},
      {L"report.docx.part", L".part", old, false},
      {L"~vq.lumen.DESK-1.5.part.zip", L".part", old, false},
      // Archives written side by side carry a writer's number after the host.
      {L"~vq.lumen.DESK-1+3.5.part", L".part", fresh, true},
      {L"~vq.lumen.DESK-1+3.77.part", L".part", fresh, false},
      {L"~vq.lumen.DESK-2+3.78.part", L".part", fresh, false},
      {L"~vq.lumen.DESK-1+.78.part", L".part", fresh, false},
      {L"~vq.lumen.DESK-1+3x.78.part", L".part", fresh, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsStrayWorkFile(c.name, c.suffix, c.modified, now, me, 5, running), c.stray) << WideToUtf8(c.name);
  EXPECT_EQ(WorkTag(L"my pc.local", 12), L"~vq.lumen.my_pc_local.12");
  // What this process writes, its own cleaning knows as its own.
  const std::wstring partial = PartialArchivePath(L"V/", 4294967295u);
  ASSERT_EQ(partial.substr(0, 12), L"V/~vq.lumen.");
  EXPECT_TRUE(IsStrayWorkFile(partial.substr(2), L".part", fresh, now, platform::HostName(), platform::ProcessId(),
                              [](uint32_t) { return true; }));
}

TEST_F(EngineLogTest, MonitorIgnoresHiddenPartsAndTheProgramsOwnFiles) {
  std::wstring src = vqtest::MakeScratchDir(L"home");
  platform::FileSystem& fs = platform::RealFileSystem();
  const wchar_t sep = platform::PathSeparator();
  fs.CreateDirectoryTree(src + L".cache" + sep);
  fs.CreateDirectoryTree(src + L"hid" + sep);
  uint32_t a = 0;
  fs.GetAttributes(src + L"hid", &a);
  fs.SetAttributes(src + L"hid", a | platform::kAttrHidden);
  bool hiddenByAttribute = fs.GetAttributes(src + L"hid", &a) && (a & platform::kAttrHidden);
  platform::DirWatcher::Change c;
  c.action = 3;
  for (std::wstring name : {std::wstring(L".cache") + sep + L"thumb.png.txt", std::wstring(L"hid") + sep + L"x.txt"}) {
    c.name = name;
    bool hidden = platform::NameIsHidden(name.substr(0, name.find(sep))) || hiddenByAttribute;
    if (name[0] == L'h' && !hiddenByAttribute) continue;  // POSIX has no hidden attribute
    EXPECT_EQ(MonitNotification(fs, src, c), !hidden) << WideToUtf8(name);
  }
  EXPECT_EQ(srcChanged.load(), 0);
#ifndef _WIN32
  // The settings store and lock files under a configuration folder inside the source: a save
  // after every pass must not start the next pass.
  vqtest::PointConfigAt(src);
  c.name = L"config/vq.lumen/vq.lumen.store";
  EXPECT_FALSE(MonitNotification(fs, src, c));
  c.name = L"config/other-program.conf";
  EXPECT_TRUE(MonitNotification(fs, src, c));
#endif
  c.name = L"work" + std::wstring(1, sep) + L"report.txt";
  srcChanged.store(0);
  EXPECT_TRUE(MonitNotification(fs, src, c));
}

// A test's watchers: each wait gives the next scripted result.
class ScriptedWatchers : public platform::DirWatchers {
 public:
  std::vector<platform::DirWatcher::Result> script;
  size_t at = 0;
  int opened = 0;
  std::unique_ptr<platform::DirWatcher> Open(const std::wstring&) override {
    struct W : platform::DirWatcher {
      ScriptedWatchers* owner;
      Result Wait(std::vector<Change>* out) override {
        out->clear();
        Result r = owner->at < owner->script.size() ? owner->script[owner->at++] : Result::Failed;
        if (r == Result::Changes) out->push_back({1, L"new.txt"});
        return r;
      }
    };
    ++opened;
    auto w = std::make_unique<W>();
    w->owner = this;
    return w;
  }
};

class RecordingClock : public platform::Clock {
 public:
  UnixTime Now() override { return 0; }
  void SleepMs(uint32_t ms) override {
    sleeps.push_back(ms);
    if (duringSleep) duringSleep();
  }
  std::vector<uint32_t> sleeps;
  std::function<void()> duringSleep;  // what another thread does meanwhile
};

// Waits that fail at once every time: the monitor backs off 2 s doubling to a minute, logs one
// line per outage and asks for a pass per pause, never more often; a wait that returns ends the
// outage.
TEST_F(EngineLogTest, AFailingWatchBacksOffAndIsToldOncePerOutage) {
  using R = platform::DirWatcher::Result;
  ScriptedWatchers watchers;
  watchers.script = {R::Failed, R::Failed, R::Failed,  R::Failed, R::Failed,
                     R::Failed, R::Failed, R::Changes, R::Failed, R::Overflow};
  RecordingClock clock;
  EngineServices services{platform::RealFileSystem(), clock, watchers};
  AppSettings.S_DIR_SRCDATA.Set(dir_);
  MonitorLoop loop;
  int flags = 0;
  for (int i = 0; i < 7; ++i) {
    MonitorStep(services, &loop);
    flags += srcChanged.exchange(0);
  }
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{2000, 4000, 8000, 16000, 32000, 60000, 60000}));
  EXPECT_EQ(flags, 7) << "one pass after each pause, not one per failed wait";
  EXPECT_EQ(Count(L"Monit 监控中断"), 1u);
  MonitorStep(services, &loop);  // a change: the watch works again
  EXPECT_EQ(srcChanged.exchange(0), 1);
  EXPECT_EQ(loop.backoffMs, 0u);
  MonitorStep(services, &loop);  // a new outage starts over at 2 s with a line of its own
  EXPECT_EQ(clock.sleeps.back(), 2000u);
  EXPECT_EQ(Count(L"Monit 监控中断"), 2u);
  CurrentReports().Take();
  MonitorStep(services, &loop);
  EXPECT_EQ(srcChanged.load(), 1) << "lost changes after an overflow ask for a pass";
  EXPECT_TRUE(CurrentReports().Take().lost) << "and a look for files without archives";
  EXPECT_EQ(watchers.opened, 9) << "the first open and one after each failed wait";
}

// A wait fails once (under wine, a burst that overflowed was told that way), the worker's pass
// for it runs while the monitor pauses, and the file saved in the pause is the last change for
// hours: the new watch never reports it, so the monitor itself must ask for the pass that finds it.
TEST_F(EngineLogTest, AWatchReopenedAfterAFailedWaitAsksForAPassThatCoversThePause) {
  using R = platform::DirWatcher::Result;
  ScriptedWatchers watchers;
  watchers.script = {R::Failed};
  RecordingClock clock;
  int passesInPause = 0;
  clock.duringSleep = [&] {
    // The worker's pass: it clears the request and takes the reports, then the file is saved.
    passesInPause += srcChanged.exchange(0);
    CurrentReports().Take();
  };
  EngineServices services{platform::RealFileSystem(), clock, watchers};
  AppSettings.S_DIR_SRCDATA.Set(dir_);
  MonitorLoop loop;
  srcChanged.store(0);
  CurrentReports().Take();
  MonitorStep(services, &loop);
  EXPECT_EQ(passesInPause, 1) << "the failure itself asks for a pass";
  EXPECT_EQ(watchers.opened, 2);
  EXPECT_EQ(srcChanged.load(), 1) << "a pass after the watch is back";
  EXPECT_TRUE(CurrentReports().Take().lost) << "that looks for files without archives";
  srcChanged.store(0);
}

// The schedule thread's turn waits on the clock it is given: one check per 1.2 s, no real wait.
TEST_F(EngineLogTest, ScheduleTurnWaitsOnTheGivenClock) {
  const UnixTime now = 1800000000;
  for (auto* t : {&AppSettings.timeLastBkDayly, &AppSettings.timeLastBkWeekly, &AppSettings.timeLastBkMonthly,
                  &AppSettings.timeLastBkYearly})
    t->store(now);
  platform::SetNowForTest(now + 86401);
  RecordingClock clock;
  ScriptedWatchers watchers;
  EngineServices services{platform::RealFileSystem(), clock, watchers};
  EXPECT_EQ(ScheduleThreadStep(services), 1);
  EXPECT_EQ(ScheduleThreadStep(services), 0);
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{1200, 1200}));
}
