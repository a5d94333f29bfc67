// What the backup benchmarks share: the settings of a scratch backup and the mixed tree they pass
// over, so every figure is taken over the same bytes.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vqbench {

namespace fs = std::filesystem;

inline void Write(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
}

inline std::wstring Dir(const fs::path& p) { return vq::Utf8ToWide(p.string()) + L"/"; }

using Clock = std::chrono::steady_clock;
inline double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Waits until the files just generated are on the disk. A real pass runs over files written long
// ago; right after making thousands, their write-back is still running, and on ext4 without a
// journal every new file's inode then waits for it (creating a temporary copy took 0.4-1 ms
// instead of 8 us), which would be charged to the pass.
inline void Settle() { ::sync(); }

// A scratch folder "<parent>/<name>-<random>" that holds all a benchmark's state: the settings a
// pass saves, the settings store's lock, and the log. The caller removes it at the end.
inline fs::path ScratchWorld(const fs::path& parent, const std::string& name) {
  // Absolute, or the settings folder below would be a relative XDG_CONFIG_HOME, which the settings
  // store ignores for the user's real one.
  fs::path root = fs::absolute(parent) / (name + "-" + std::to_string(std::random_device{}()));
  fs::create_directories(root);
  setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  vq::SetLogDirectoryForTest(Dir(root));
  return root;
}

// Source src, destination and temporary folder under root, the default filter, password 739;
// returns the working folders.
inline vq::WorkDirs Configure(const fs::path& root, const fs::path& src) {
  fs::path dest = root / "dest";
  vq::AppSettings.S_DIR_SRCDATA.Set(Dir(src));
  vq::AppSettings.S_DIR_DESTDATA.Set(Dir(dest));
  vq::AppSettings.S_ZIP_PSW.Set(L"739");
  vq::AppSettings.fFilterSr.Set(vq::kDefaultFilter);
  vq::AppSettings.maxFSize.store(32);
  vq::AppSettings.logFileName.Set(L"vq.lumen.log.txt");
  vq::WorkDirs d = vq::ComputeWorkDirs(Dir(dest), Dir(root / "tmp"), L'/');
  vq::AppSettings.S_DIR_TEMP.Set(d.temp);
  vq::AppSettings.S_DIR_ST_LIST.Set(d.list);
  vq::AppSettings.S_DIR_ST_HIST.Set(d.history);
  vq::AppSettings.S_DIR_ST_DIR.Set(d.folder);
  vq::CreateWorkDirs();
  return d;
}

// A tree of mixed files: source text, compressible logs, random (incompressible) blobs, small
// and large, in nested folders. Returns the contents in the order written.
inline std::vector<std::string> MixedTree(const fs::path& src) {
  std::mt19937 g(5);
  std::vector<std::string> contents;
  std::string words[] = {"int ", "return ", "value", "(x)", ";\n", "{\n", "}\n", "// note\n", "backup ", "archive "};
  for (int i = 0; i < 120; ++i) {
    std::string data;
    size_t size = (i % 10 == 0) ? (2u << 20) : (i % 3 == 0 ? 200000 : 20000);
    if (i % 4 == 3) {
      data.resize(size);
      for (auto& c : data) c = char(g());
    } else {
      while (data.size() < size) data += words[g() % 10];
    }
    Write(src / ("d" + std::to_string(i % 8)) / ("sub" + std::to_string(i % 3)) / ("f" + std::to_string(i) + ".txt"),
          data);
    contents.push_back(std::move(data));
  }
  return contents;
}

}  // namespace vqbench
