// Keeps a test's changes to the process-wide settings record from leaking into the next test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/AppSettings.h"

namespace vqtest {

class SettingsGuard {
 public:
  SettingsGuard() {
    Visit([this](std::atomic<int64_t>& v) { times_.push_back(v.load()); },
          [this](std::atomic<int32_t>& v) { ints_.push_back(v.load()); },
          [this](vq::SharedText& v) { texts_.push_back(v.Get()); });
  }
  ~SettingsGuard() {
    size_t t = 0, i = 0, s = 0;
    Visit([&](std::atomic<int64_t>& v) { v.store(times_[t++]); }, [&](std::atomic<int32_t>& v) { v.store(ints_[i++]); },
          [&](vq::SharedText& v) { v.Set(texts_[s++]); });
  }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  template <class T, class I, class S>
  static void Visit(T&& time, I&& integer, S&& text) {
    auto& a = vq::AppSettings;
    for (auto* v : {&a.timeLastBk, &a.timeLastBkDayly, &a.timeLastBkWeekly, &a.timeLastBkMonthly, &a.timeLastBkYearly})
      time(*v);
    for (auto* v : {&a.vqDebug, &a.autoRunFlag, &a.maxFSize, &a.zipEncryption}) integer(*v);
    for (auto* v : {&a.S_ZIP_PSW, &a.S_DIR_SRCDATA, &a.S_DIR_DESTDATA, &a.fFilterSr, &a.logFileName, &a.defaultSrcDir,
                    &a.defaultDestDir, &a.S_DIR_TEMP, &a.S_DIR_ST_LIST, &a.S_DIR_ST_HIST, &a.S_DIR_ST_DIR})
      text(*v);
  }
  std::vector<int64_t> times_;
  std::vector<int32_t> ints_;
  std::vector<std::wstring> texts_;
};

}  // namespace vqtest
