// Shared by the update tests: a scratch product directory with the product-information log on,
// the log captured, and a desktop that records instead of opening browsers or closing windows.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"
#include "update/ProductInfo.h"
#include "update/UpdateCheck.h"

namespace vqtest {

class CapturingView : public vq::LogView {
 public:
  void AppendLogText(const std::wstring& text) override {
    std::lock_guard<std::mutex> g(m_);
    shown_ += text;
  }
  std::wstring Shown() {
    std::lock_guard<std::mutex> g(m_);
    return shown_;
  }

 private:
  std::mutex m_;
  std::wstring shown_;
};

class RecordingShell : public vq::update::UpdateShell {
 public:
  bool OpenDefault(const std::wstring& url) override {
    calls.push_back(L"default " + url);
    return defaultSucceeds;
  }
  bool OpenNamedBrowser(const std::wstring& url) override {
    calls.push_back(L"named " + url);
    return true;
  }
  void ShowMessage(void* window, const std::wstring& text, const std::wstring& caption) override {
    calls.push_back(L"message");
    owner = window;
    this->text = text;
    this->caption = caption;
  }
  void CloseMainWindow(void* window) override {
    calls.push_back(L"close");
    closed = window;
  }
  bool defaultSucceeds = true;
  std::vector<std::wstring> calls;
  void* owner = nullptr;
  void* closed = nullptr;
  std::wstring text, caption;
};

// The texts of the entries of a log file, each without its time prefix.
inline std::vector<std::wstring> LogEntries(const std::wstring& path) {
  std::string bytes = ReadAll(path);
  std::vector<std::wstring> entries;
  if (bytes.empty()) return entries;
  std::string text = vq::WideToUtf8(DecodeLog(bytes));
  std::regex prefix(R"(\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:)");
  std::sregex_token_iterator it(text.begin(), text.end(), prefix, -1), end;
  bool first = true;
  for (; it != end; ++it) {
    if (first) {  // before the first prefix: nothing
      first = false;
      if (it->str().empty()) continue;
    }
    entries.push_back(vq::Utf8ToWide(it->str()));
  }
  return entries;
}

class UpdateFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeScratchDir(L"update");
    vq::SetLogDirectoryForTest(dir_);
    vq::AppSettings.logFileName.Set(L"vq.lumen.log.txt");
    vq::SetLogView(&view_);
    vq::update::ResetProductInfoForTest(dir_, dir_);
    vq::update::SetUpdateShell(&shell_);
  }
  void TearDown() override {
    vq::update::SetUpdateShell(nullptr);
    vq::update::SetMirrorsForTest({});
    vq::update::SetHttpOptionsForTest(nullptr);
    vq::update::SetUpdateTimingsForTest(nullptr);
    vq::update::SetUpdateThreadStarterForTest(nullptr);
    vq::SetLogView(nullptr);
    vq::SetLogDirectoryForTest(L"");
    vq::update::ResetProductInfoForTest(dir_, dir_);
  }
  void InfoLogOn() { vq::update::ProductInfo.logflag.store(1); }
  std::vector<std::wstring> InfoLog() { return LogEntries(dir_ + L"vq.l.txt"); }
  std::wstring Shown() { return view_.Shown(); }

  SettingsGuard keep_;
  std::wstring dir_;
  CapturingView view_;
  RecordingShell shell_;
};

}  // namespace vqtest
