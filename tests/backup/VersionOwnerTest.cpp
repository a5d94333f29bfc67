// The rule of which versions belong to a path, and the folder-view search for the paths that share
// a path's list and history archive names.
#include <gtest/gtest.h>

#include <algorithm>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "backup/VersionOwner.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

using namespace vq;

namespace {

VersionEvidence Evidence(VersionView view, const char* name, uint32_t crc = 7, uint64_t size = 3,
                         vq::UnixTime modified = 1600000000) {
  VersionEvidence e;
  e.timeKnown = true;
  e.modified = modified;
  e.view = view;
  e.entryKnown = true;
  e.entryName = name;
  e.utf8Name = true;
  e.crc = crc;
  e.size = size;
  return e;
}

TEST(VersionOwner, AVersionIsOwnOnlyWhenNoOtherPathCanHaveWrittenIt) {
  const std::wstring path = L"/s/x.y/z.txt";
  const auto history = Evidence(VersionView::History, "z.txt");
  // Nobody else flattens to this path's names.
  EXPECT_EQ(OwnerOfVersion(path, history, {}, nullptr, false), VersionOwner::Own);
  // x/y.z.txt shares the archive, but its entry is "y.z.txt": the names tell them apart.
  EXPECT_EQ(OwnerOfVersion(path, history, {L"/s/x/y.z.txt"}, nullptr, false), VersionOwner::Own);
  EXPECT_EQ(OwnerOfVersion(path, Evidence(VersionView::List, "y.z.txt"), {L"/s/x/y.z.txt"}, nullptr, false),
            VersionOwner::Other);
  // An archive whose headers could not be read says nothing of its writer.
  VersionEvidence unread;
  unread.view = VersionView::History;
  EXPECT_EQ(OwnerOfVersion(path, unread, {}, nullptr, false), VersionOwner::Own);
  EXPECT_EQ(OwnerOfVersion(path, unread, {L"/s/x/y.z.txt"}, nullptr, false), VersionOwner::Unsure);

  // a.b/c/d.txt and a/b.c/d.txt store the same entry name: only the content can tell.
  const std::wstring d = L"/s/a.b/c/d.txt";
  const std::vector<std::wstring> sharers{L"/s/a/b.c/d.txt"};
  const auto dVersion = Evidence(VersionView::History, "d.txt", 0x1234, 10);
  EXPECT_EQ(OwnerOfVersion(d, dVersion, sharers, nullptr, false), VersionOwner::Unsure);
  const auto ownCopy = Evidence(VersionView::Folder, "d.txt", 0x1234, 10);
  EXPECT_EQ(OwnerOfVersion(d, dVersion, sharers, &ownCopy, false), VersionOwner::Own);
  const auto otherContent = Evidence(VersionView::Folder, "d.txt", 0x1235, 10);
  EXPECT_EQ(OwnerOfVersion(d, dVersion, sharers, &otherContent, false), VersionOwner::Unsure);
  // The same bytes at another time: the other file may have held them then (an empty file).
  const auto laterCopy = Evidence(VersionView::Folder, "d.txt", 0x1234, 10, 1600000100);
  EXPECT_EQ(OwnerOfVersion(d, dVersion, sharers, &laterCopy, false), VersionOwner::Unsure);
  // The folder view's copy is at the path itself.
  EXPECT_EQ(OwnerOfVersion(d, ownCopy, sharers, nullptr, false), VersionOwner::Own);
  EXPECT_EQ(OwnerOfVersion(d, Evidence(VersionView::Folder, "e.txt"), sharers, nullptr, false), VersionOwner::Other);

  // Case: one file on Windows, two on POSIX.
  EXPECT_EQ(OwnerOfVersion(path, Evidence(VersionView::List, "Z.TXT"), {}, nullptr, false), VersionOwner::Other);
  EXPECT_EQ(OwnerOfVersion(path, Evidence(VersionView::List, "Z.TXT"), {}, nullptr, true), VersionOwner::Own);
  EXPECT_EQ(OwnerOfVersion(d, dVersion, {L"/s/A/b.C/D.txt"}, nullptr, true), VersionOwner::Unsure);
  EXPECT_EQ(OwnerOfVersion(d, dVersion, {L"/s/A/b.C/D.txt"}, nullptr, false), VersionOwner::Own);
}

TEST(VersionOwner, SharersAreFoundInTheFolderViewWithoutFollowingLinks) {
  const std::wstring root = vqtest::MakeScratchDir(L"owner");
  const wchar_t s = platform::PathSeparator();
  WorkDirs dirs;
  dirs.folder = root + L"mScDir" + s;
  auto touch = [&](const std::wstring& rel) {
    const std::wstring p = dirs.folder + rel;
    ASSERT_TRUE(platform::RealFileSystem().CreateDirectoryTree(p.substr(0, p.rfind(s) + 1)));
    ASSERT_TRUE(platform::WriteFileAtomically(p, "z"));
  };
  const std::wstring x = std::wstring(L"x") + s, ab = std::wstring(L"a.b") + s + L"c" + s,
                     a = std::wstring(L"a") + s + L"b.c" + s, abc = std::wstring(L"a") + s + L"b" + s + L"c" + s;
  touch(std::wstring(L"x.y") + s + L"z.txt.zip");
  touch(x + L"y.z.txt.zip");
  touch(L"x.y.z.txt.zip");
  touch(x + L"y.z.txt.bak.zip");  // a longer name: not a sharer
  touch(ab + L"d.txt.zip");
  touch(a + L"d.txt.zip");
  touch(abc + L"d.txt.zip");
  touch(std::wstring(L"a.b.c") + s + L"d.txt.zip");
  const size_t rootLength = platform::RootLength();
  const std::wstring srcRoot = root.substr(0, rootLength);
  auto sharersOf = [&](const std::wstring& rel) {
    std::vector<std::wstring> v =
        ArchiveSharers(platform::RealFileSystem(), dirs, srcRoot + rel, rootLength, s == L'\\');
    std::sort(v.begin(), v.end());
    return v;
  };
  std::vector<std::wstring> want{srcRoot + x + L"y.z.txt", srcRoot + L"x.y.z.txt"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(sharersOf(std::wstring(L"x.y") + s + L"z.txt"), want);
  want = {srcRoot + a + L"d.txt", srcRoot + abc + L"d.txt", srcRoot + L"a.b.c" + s + L"d.txt"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(sharersOf(ab + L"d.txt"), want);
  EXPECT_TRUE(sharersOf(std::wstring(L"q") + s + L"r.txt").empty());
#ifndef _WIN32
  // A link to the view itself: followed, "q/q/r.txt" would pass for a sharer of "q.q/r.txt".
  touch(L"r.txt.zip");
  ASSERT_EQ(symlink(".", WideToUtf8(dirs.folder + L"q").c_str()), 0);
  EXPECT_TRUE(sharersOf(std::wstring(L"q.q") + s + L"r.txt").empty());
#endif
}

}  // namespace
