// The test main: scratch folders under one root, removed unless their test failed.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace vqtest {
namespace {

std::mutex g_mutex;
std::vector<std::wstring> g_current;  // scratch dirs of the running test
bool g_keptAny = false;

fs::path ToPath(const std::wstring& w) {
#ifdef _WIN32
  return fs::path(w);
#else
  return fs::path(vq::WideToUtf8(w));
#endif
}

class ScratchCleaner : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo& info) override {
    std::vector<std::wstring> dirs;
    {
      std::lock_guard<std::mutex> g(g_mutex);
      dirs.swap(g_current);
    }
    bool failed = info.result() && info.result()->Failed();
    for (const auto& d : dirs) {
      if (failed) {
        g_keptAny = true;
        std::printf("scratch directory kept: %s\n", vq::WideToUtf8(d).c_str());
      } else {
        RemoveTree(d);
      }
    }
    if (!failed && !dirs.empty()) {
      // The per-test folder above the scratch dirs.
      std::error_code ec;
      fs::remove(ToPath(dirs.front()).parent_path().parent_path(), ec);
    }
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    if (!g_keptAny) {
      std::error_code ec;
      fs::remove(ToPath(ScratchRoot()), ec);  // only when empty
    }
  }
};

std::wstring Sanitised(const char* s) {
  std::wstring w = vq::Utf8ToWide(s ? s : "");
  for (auto& c : w)
    if (c == L'/' || c == L'\\') c = L'_';
  return w;
}

}  // namespace

const std::wstring& ScratchRoot() {
  static const std::wstring root = vq::platform::TempPathLong() + L"vq-tests-" +
                                   std::to_wstring(vq::platform::TickCount()) + L"-" +
                                   std::to_wstring(std::random_device{}() % 1000000) + vq::platform::PathSeparator();
  return root;
}

std::wstring MakeScratchDir(const std::wstring& name) {
  static std::atomic<int> counter{0};
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::wstring testDir = ScratchRoot();
  if (info)
    testDir += Sanitised(info->test_suite_name()) + L"." + Sanitised(info->name());
  else
    testDir += L"global";
  wchar_t sep = vq::platform::PathSeparator();
  std::wstring dir = testDir + sep + name + L"-" + std::to_wstring(counter.fetch_add(1)) + sep;
  vq::platform::CreateDirectoryTree(dir);
  std::lock_guard<std::mutex> g(g_mutex);
  g_current.push_back(dir);
  return dir;
}

bool RemoveTree(const std::wstring& dir) {
#ifdef _WIN32
  // Through the program's own file calls: a scratch tree holds the folder view's copy of a
  // scratch path, whose deepest names pass the 260 characters the C++ library's calls stop at
  // (by how many digits the scratch names happen to have, so it failed now and then).
  vq::platform::FileSystem& f = vq::platform::RealFileSystem();
  std::vector<vq::platform::DirEntry> entries;
  f.List(dir, &entries);
  const std::wstring base = dir.empty() || dir.back() == L'\\' ? dir : dir + L'\\';
  for (const vq::platform::DirEntry& e : entries) {
    const std::wstring p = base + e.name;
    if ((e.attributes & vq::platform::kAttrDirectory) && !(e.attributes & vq::platform::kAttrReparsePoint)) {
      RemoveTree(p);
    } else if (e.attributes & vq::platform::kAttrDirectory) {
      f.RemoveDir(p);  // a link to a folder goes, never what it points to
    } else {
      f.SetAttributes(p, vq::platform::kAttrNormal);  // a read-only file refuses deletion
      f.RemoveFile(p);
    }
  }
  f.RemoveDir(dir);
  return !f.Exists(dir);
#else
  fs::path p = ToPath(dir);
  std::error_code ec;
  // Read-only entries refuse deletion on Windows; clear the flag first.
  for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code ec2;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec2);
  }
  ec.clear();
  fs::remove_all(p, ec);
  return !fs::exists(p, ec);
#endif
}

}  // namespace vqtest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new vqtest::ScratchCleaner);
  return RUN_ALL_TESTS();
}
