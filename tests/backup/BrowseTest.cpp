// The backups as the tree stood: a recorded history of saves, each backed up by a real pass, is
// browsed and restored at every moment and compared with what the tree held then.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "backup/BackUp.h"
#include "backup/Browse.h"
#include "backup/EngineState.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/NewFile.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/backup/BackupWorld.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipWriter.h"

using namespace vq;
using platform::RealFileSystem;

namespace {

TEST(BrowseDecisions, SteppingGoesFromTheTimeShownToItsNeighbours) {
  const std::vector<UnixTime> times = {100, 200, 300};
  UnixTime t = 0;
  EXPECT_FALSE(PreviousBackupTime(times, 50, &t)) << "nothing shown before the first backup";
  EXPECT_TRUE(NextBackupTime(times, 50, &t));
  EXPECT_EQ(t, 100);
  EXPECT_FALSE(PreviousBackupTime(times, 100, &t));
  EXPECT_FALSE(PreviousBackupTime(times, 199, &t)) << "199 shows the backup of 100";
  ASSERT_TRUE(PreviousBackupTime(times, 250, &t));
  EXPECT_EQ(t, 100);
  ASSERT_TRUE(NextBackupTime(times, 250, &t));
  EXPECT_EQ(t, 300);
  ASSERT_TRUE(PreviousBackupTime(times, 5000, &t));
  EXPECT_EQ(t, 200);
  EXPECT_FALSE(NextBackupTime(times, 300, &t));
  EXPECT_FALSE(NextBackupTime({}, 0, &t));
  EXPECT_FALSE(PreviousBackupTime({}, 0, &t));
}

class BrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vqtest::BackupWorld w = vqtest::MakeBackupWorld(L"browse", L".txt.doc.", 8);
    root_ = w.root, src_ = w.src, sep_ = w.sep, dirs_ = w.dirs;
    zip::ZipFixSeedForTest(4242);
  }
  void TearDown() override {
    zip::ZipFixSeedForTest(-1);
    SetLogDirectoryForTest(L"");
    srcChanged.store(0);
  }
  // rel uses '/', turned into the platform's separator.
  std::wstring Native(std::wstring rel) {
    for (wchar_t& c : rel)
      if (c == L'/') c = sep_;
    return rel;
  }
  // Saves the file with the given time and backs it up with a full pass, as the history records.
  void Save(const std::wstring& rel, const std::string& data, UnixTime modified) {
    const std::wstring p = src_ + Native(rel);
    RealFileSystem().CreateDirectoryTree(p.substr(0, p.rfind(sep_) + 1));
    ASSERT_TRUE(platform::WriteFileAtomically(p, data));
    ASSERT_TRUE(platform::SetLastWriteTime(p, modified));
    AppSettings.timeLastBk.store(0);
    RunBackUpPass(RealFileSystem());
    history_.push_back({Native(rel), data, modified});
  }
  // The tree as it stood at `at`: each file's content saved last not later than then.
  std::map<std::wstring, std::pair<std::string, UnixTime>> TreeAt(UnixTime at) {
    std::map<std::wstring, std::pair<std::string, UnixTime>> tree;
    for (const auto& s : history_)
      if (s.modified <= at && (!tree.count(s.rel) || tree[s.rel].second <= s.modified))
        tree[s.rel] = {s.data, s.modified};
    return tree;
  }
  UnixTime Modified(const std::wstring& p) {
    platform::DirEntry e;
    EXPECT_TRUE(RealFileSystem().Stat(p, &e));
    return e.modified;
  }
  // Every file under dir, relative, with its content.
  std::map<std::wstring, std::string> FilesIn(const std::wstring& dir) {
    std::map<std::wstring, std::string> out;
    std::vector<std::wstring> pending{L""};
    while (!pending.empty()) {
      const std::wstring rel = pending.back();
      pending.pop_back();
      std::vector<platform::DirEntry> entries;
      RealFileSystem().List(dir + rel, &entries);
      for (const auto& e : entries) {
        if (e.attributes & platform::kAttrDirectory)
          pending.push_back(rel + e.name + sep_);
        else
          out[rel + e.name] = vqtest::ReadAll(dir + rel + e.name);
      }
    }
    return out;
  }

  struct Saved {
    std::wstring rel;
    std::string data;
    UnixTime modified;
  };
  vqtest::SettingsGuard guard_;
  std::wstring root_, src_;
  wchar_t sep_ = L'/';
  WorkDirs dirs_;
  std::vector<Saved> history_;
};

constexpr UnixTime kBase = 1600000000;

TEST_F(BrowseTest, AtEveryTimeTheListingAndARestoreEqualTheTreeAsItStood) {
  // Files appear, change, and one folder fills only later; sizes differ from version to version.
  const wchar_t* files[] = {L"a.txt", L"docs/plan.txt", L"docs/old/x.doc", L"docs/old/y.txt", L"late/z.txt"};
  const int order[] = {0, 1, 2, 0, 3, 1, 4, 2, 0, 1};
  for (int i = 0; i < 10; ++i) {
    const std::wstring rel = files[order[i]];
    Save(rel, WideToUtf8(rel) + " saved at step " + std::to_string(i) + std::string(size_t(i) * 7, '#'),
         kBase + i * 3600);
  }
  std::vector<UnixTime> recorded;
  for (const auto& s : history_) recorded.push_back(s.modified);

  const BackupCatalog catalog = BackupCatalog::Load(RealFileSystem(), dirs_, src_, "739");
  EXPECT_EQ(catalog.TimesUnder(L""), recorded);
  EXPECT_EQ(catalog.TimesUnder(Native(L"docs/old/")),
            (std::vector<UnixTime>{kBase + 2 * 3600, kBase + 4 * 3600, kBase + 7 * 3600}));

  // Stepping back from the newest time visits every recorded time, and forward again.
  std::vector<UnixTime> visited{recorded.back()};
  for (UnixTime t = recorded.back(); PreviousBackupTime(recorded, t, &t);) visited.insert(visited.begin(), t);
  EXPECT_EQ(visited, recorded);

  // Before the first backup, at each backup time and between two, in every folder.
  std::vector<UnixTime> moments{kBase - 1};
  for (UnixTime t : recorded) moments.insert(moments.end(), {t, t + 1800});
  int restores = 0;
  for (UnixTime at : moments) {
    const auto tree = TreeAt(at);
    // What each folder must hold: its files and the subfolders with files then.
    std::map<std::wstring, std::map<std::wstring, std::pair<bool, UnixTime>>> want;  // folder -> name -> folder?, time
    want[L""];
    for (const auto& [rel, content] : tree) {
      size_t start = 0;
      for (size_t sep = rel.find(sep_); sep != std::wstring::npos; sep = rel.find(sep_, sep + 1)) {
        auto& row = want[rel.substr(0, start)][rel.substr(start, sep - start)];
        row = {true, std::max(row.second, content.second)};
        start = sep + 1;
      }
      want[rel.substr(0, start)][rel.substr(start)] = {false, content.second};
    }
    for (const auto& [folder, rows] : want) {
      std::vector<BrowseRow> got = catalog.ListAt(folder, at);
      ASSERT_EQ(got.size(), rows.size()) << WideToUtf8(folder) << " at " << at;
      bool folders = true;
      for (const BrowseRow& r : got) {
        SCOPED_TRACE(WideToUtf8(folder + r.name));
        ASSERT_TRUE(rows.count(r.name));
        EXPECT_EQ(r.folder, rows.at(r.name).first);
        EXPECT_EQ(r.modified, rows.at(r.name).second);
        EXPECT_TRUE(folders || !r.folder) << "folders come first";
        folders = r.folder;
        if (!r.folder) {
          EXPECT_EQ(r.version.size, tree.at(folder + r.name).first.size());
          EXPECT_EQ(r.version.modified, r.modified);
        }
      }
    }
    // The whole tree restored at that moment is the tree as it stood, times and all.
    if (at % 3600 == 0 || at == kBase - 1) {
      const std::wstring out = root_ + L"out" + std::to_wstring(restores++) + sep_;
      ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
      const SelectionReport rep = RestoreSelection(RealFileSystem(), catalog, {RestoreItem{L"", true}}, at, out, "739");
      EXPECT_EQ(rep.restored, int(tree.size()));
      EXPECT_TRUE(rep.failed.empty());
      EXPECT_EQ(rep.noVersion.size(), 5 - tree.size());
      std::map<std::wstring, std::string> expected;
      for (const auto& [rel, content] : tree) {
        expected[rel] = content.first;
        EXPECT_EQ(Modified(out + rel), content.second) << WideToUtf8(rel);
      }
      EXPECT_EQ(FilesIn(out), expected) << "at " << at;
    }
  }
}

TEST_F(BrowseTest, ASelectionGoesToAChosenFolderOrBesideTheOriginalsAndNothingIsOverwritten) {
  Save(L"docs/plan.txt", "plan one", kBase);
  Save(L"docs/deep/notes.txt", "notes one", kBase + 10);
  Save(L"a.txt", "a one", kBase + 20);
  Save(L"docs/plan.txt", "plan two, longer", kBase + 30);
  Save(L"later.txt", "only later", kBase + 40);
  const BackupCatalog catalog = BackupCatalog::Load(RealFileSystem(), dirs_, src_, "739");
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  // The folder, a file of the root, a file inside the selected folder (restored once) and a file
  // that did not exist then.
  const std::vector<RestoreItem> items = {
      {Native(L"docs"), true}, {L"a.txt", false}, {Native(L"docs/plan.txt"), false}, {L"later.txt", false}};
  std::vector<RestoreProgress> seen;
  SelectionReport rep = RestoreSelection(RealFileSystem(), catalog, items, kBase + 25, out, "739", nullptr,
                                         [&](const RestoreProgress& p) { seen.push_back(p); });
  EXPECT_EQ(rep.restored, 3);
  EXPECT_TRUE(rep.failed.empty());
  EXPECT_EQ(rep.noVersion, std::vector<std::wstring>{src_ + L"later.txt"});
  EXPECT_FALSE(rep.cancelled);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen.back().done, 4u);
  EXPECT_EQ(seen.back().total, 4u);
  EXPECT_EQ(SelectionSummary(rep), L"恢复 3 个, 失败 0 个, 该时间之前没有版本 1 个");
  const std::map<std::wstring, std::string> first = {
      {Native(L"docs/plan.txt"), "plan one"}, {Native(L"docs/deep/notes.txt"), "notes one"}, {L"a.txt", "a one"}};
  EXPECT_EQ(FilesIn(out), first);
  EXPECT_EQ(Modified(out + Native(L"docs/deep/notes.txt")), kBase + 10);

  // Again: every file gets a new name with its time, the first ones stay as they were.
  rep = RestoreSelection(RealFileSystem(), catalog, items, kBase + 25, out, "739");
  EXPECT_EQ(rep.restored, 3);
  std::map<std::wstring, std::string> both = FilesIn(out);
  EXPECT_EQ(both.size(), 6u);
  for (const auto& [rel, content] : first) EXPECT_EQ(both[rel], content);
  CalendarTime t;
  ASSERT_TRUE(platform::ToLocalCalendar(kBase, &t));
  EXPECT_EQ(both[Native(L"docs/") + RestoredName(L"plan.txt", t, 1)], "plan one");

  // To the original place: beside each original, under a name with its time.
  rep = RestoreSelection(RealFileSystem(), catalog, {{Native(L"docs"), true}}, kBase + 25, L"", "739");
  EXPECT_EQ(rep.restored, 2);
  EXPECT_EQ(vqtest::ReadAll(src_ + Native(L"docs/") + RestoredName(L"plan.txt", t, 1)), "plan one");
  EXPECT_EQ(vqtest::ReadAll(src_ + Native(L"docs/plan.txt")), "plan two, longer");
}

TEST_F(BrowseTest, ABackupWhileTheBrowserIsOpenLeavesWhatItShowsRestorable) {
  Save(L"docs/plan.txt", "plan as shown", kBase);
  const BackupCatalog catalog = BackupCatalog::Load(RealFileSystem(), dirs_, src_, "739");
  Save(L"docs/plan.txt", "plan saved later", kBase + 30);  // replaces the list copy the catalog shows
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  const SelectionReport rep = RestoreSelection(RealFileSystem(), catalog, {{Native(L"docs"), true}}, kBase, out, "739");
  EXPECT_EQ(rep.restored, 1);
  EXPECT_TRUE(rep.failed.empty());
  EXPECT_EQ(FilesIn(out), (std::map<std::wstring, std::string>{{Native(L"docs/plan.txt"), "plan as shown"}}));
}

TEST_F(BrowseTest, ACancelStopsTheRestoreAndLeavesNothingHalfWritten) {
  for (int i = 0; i < 4; ++i) Save(L"f" + std::to_wstring(i) + L".txt", std::string(300000, char('a' + i)), kBase + i);
  const BackupCatalog catalog = BackupCatalog::Load(RealFileSystem(), dirs_, src_, "739");
  const std::wstring out = root_ + L"out" + sep_;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(out));
  std::atomic<bool> cancel{false};
  // Cancelled once the second file is under way.
  SelectionReport rep = RestoreSelection(RealFileSystem(), catalog, {{L"", true}}, kBase + 100, out, "739", &cancel,
                                         [&](const RestoreProgress& p) {
                                           if (p.done == 1) cancel = true;
                                         });
  EXPECT_TRUE(rep.cancelled);
  EXPECT_EQ(rep.restored, 1);
  EXPECT_EQ(rep.notReached, 3u);
  EXPECT_EQ(SelectionSummary(rep), L"恢复 1 个, 失败 0 个, 该时间之前没有版本 0 个, 已取消, 未恢复 3 个");
  EXPECT_EQ(FilesIn(out), (std::map<std::wstring, std::string>{{L"f0.txt", std::string(300000, 'a')}}));

  // Cancelled in the middle of a file: its partial file goes, no name holds part of it.
  const CatalogFile* f = catalog.FilesUnder(L"f1.txt").at(0);
  RestoreResult r = RestoreVersion(RealFileSystem(), f->versions[0], src_ + L"f1.txt", out, "739", &cancel);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, L"已取消");
  EXPECT_EQ(FilesIn(out).size(), 1u);
}

TEST(MaintenanceGate, ARestoreTakesTheVerifysPlace) {
  MaintenanceGate gate;
  ASSERT_TRUE(gate.BeginRestore());
  EXPECT_FALSE(gate.BeginVerify());
  EXPECT_FALSE(gate.BeginRestore());
  std::atomic<bool> waiting{false}, cleaning{false};
  std::thread clean([&] {
    gate.BeginClean([&] { waiting = true; });
    cleaning = true;
    gate.EndClean();
  });
  while (!waiting) std::this_thread::yield();
  EXPECT_FALSE(cleaning) << "no cleaning while a restore reads the history";
  gate.EndRestore();
  clean.join();
  EXPECT_TRUE(cleaning);
  ASSERT_TRUE(gate.BeginVerify());
  EXPECT_FALSE(gate.BeginRestore());
  gate.EndVerify();
}

}  // namespace
