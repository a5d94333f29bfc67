#include "update/ProductInfo.h"

#include <cstdlib>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Shell.h"
#include "settings/AppSettings.h"
#include "update/ProductConfig.h"
#include "update/UpdateCheck.h"

namespace vq::update {

namespace {

// Created on the first entry and kept for the life of the process.
platform::NamedMutex& InfoLogMutex() {
  static platform::NamedMutex* m = new platform::NamedMutex(kInfoLogFileName);
  return *m;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

void SetInitialValues(ProductInfoRecord& p, const std::wstring& programDir, const std::wstring& logDir) {
  p.urls.ClearForTest();
  p.logflag.store(0);
  p.checkRequest.store(0);
  p.hWnd.store(nullptr);
  p.updata.store(0);
  p.ver.Set(kProductVersion);
  p.name.Set(kProductName);
  p.email.Set(CutToField(AuthorEmail(), kTextFieldUnits));
  p.homepage.Set(CutToField(HomePage(), kTextFieldUnits));
  p.studio.Set(kStudio);
  p.cdir.Set(CutToField(programDir, kTextFieldUnits));
  p.logPath.Set(CutToField(JoinDirAndName(logDir, kInfoLogFileName), kTextFieldUnits));
  p.inipath.Set(CutToField(JoinDirAndName(programDir, kIniFileName), kTextFieldUnits));
  p.iniOk.store(0);
  p.iver.Set(L" ");
  p.ititle.Set(L" ");
  p.istudio.Set(L"");
  p.iemail.Set(L" ");
  p.iweb.Set(L" ");
  p.iflog.Set(L" ");
  p.serverVersion.Set(L"");
  p.message.Set(L"");
  p.softpage.Set(L"");
  p.openFlag.Set(L"");
  p.startTime = CalendarTime{};
}

}  // namespace

ProductInfoRecord ProductInfo;

// The log directory is the program's own on Windows; on POSIX it moves to the per-user state
// directory when the program's folder cannot be written, as the main log does.
ProductInfoRecord::ProductInfoRecord() { SetInitialValues(*this, platform::ProgramDir(), platform::LogDir()); }

void ResetProductInfoForTest(const std::wstring& programDir, const std::wstring& logDir) {
  SetInitialValues(ProductInfo, programDir, logDir);
}

std::wstring CutToField(std::wstring_view text, size_t fieldUnits) {
  if (fieldUnits == 0) return L"";
  const size_t room = fieldUnits - 1;
  std::u16string u = WideToUtf16(text);
  if (u.size() <= room) return std::wstring(text);
  size_t keep = room;
  if (keep > 0 && IsHighSurrogate(u[keep - 1])) --keep;
  u.resize(keep);
  return Utf16ToWide(u);
}

void UrlList::Add(std::wstring url) {
  std::lock_guard<std::mutex> g(m_);
  urls_.push_back(std::move(url));
}

std::vector<std::wstring> UrlList::Snapshot() const {
  std::lock_guard<std::mutex> g(m_);
  return urls_;
}

void UrlList::ClearForTest() {
  std::lock_guard<std::mutex> g(m_);
  urls_.clear();
}

const wchar_t* AuthorEmail() { return VQ_CFG_AUTHOR_EMAIL; }
const wchar_t* HomePage() { return VQ_CFG_HOMEPAGE; }

std::vector<std::wstring> ConfiguredMirrors() {
  return {VQ_CFG_MIRROR_1, VQ_CFG_MIRROR_2, VQ_CFG_MIRROR_3, VQ_CFG_MIRROR_4};
}

void WriteInfoLogText(const std::wstring& text) {
  if (ProductInfo.logflag.load() == 0) return;
  AppendLogEntry(ProductInfo.logPath.Get(), InfoLogMutex(), text);
}

void WriteInfoLogLine(const std::wstring& text) {
  if (ProductInfo.logflag.load() == 0) return;
  WriteInfoLogText(text + L"\r\n");
}

bool IniLooksPlausible(const std::wstring& iver, const std::wstring& ititle, const std::wstring& istudio,
                       const std::wstring& iemail, const std::wstring& iweb) {
  return iver.find(L'.') != std::wstring::npos && ititle.size() > 1 && istudio.size() > 1 &&
         iemail.find(L'@') != std::wstring::npos && iweb.find(L'.') != std::wstring::npos;
}

void ReadProductIni(void* mainWindow) {
  ProductInfo.hWnd.store(mainWindow);
  const std::wstring ini = ProductInfo.inipath.Get();
  if (!platform::PathExists(ini)) return;
  auto read = [&](const wchar_t* key) { return platform::ReadProfileString(ini, L"config", key, kIniValueChars); };
  ProductInfo.iver.Set(read(L"ver"));
  ProductInfo.ititle.Set(read(L"title"));
  ProductInfo.istudio.Set(read(L"studio"));
  ProductInfo.iemail.Set(read(L"email"));
  ProductInfo.iweb.Set(read(L"web"));
  ProductInfo.iflog.Set(read(L"flog"));
  if (ProductInfo.iflog.Get() == L"on") {
    // Written while the log is still off, so this line itself never reaches the file.
    WriteInfoLog(L"logflag=1\r\n");
    ProductInfo.logflag.store(1);
  }
  WriteInfoLog(L"iver %s\r\n", ProductInfo.iver.Get());
  WriteInfoLog(L"ititle %s\r\n", ProductInfo.ititle.Get());
  WriteInfoLog(L"istudio %s\r\n", ProductInfo.istudio.Get());
  WriteInfoLog(L"iemail %s\r\n", ProductInfo.iemail.Get());
  WriteInfoLog(L"iweb %s\r\n", ProductInfo.iweb.Get());
  WriteInfoLog(L"iflog %s\r\n", ProductInfo.iflog.Get());
  ProductInfo.iniOk.store(IniLooksPlausible(ProductInfo.iver.Get(), ProductInfo.ititle.Get(), ProductInfo.istudio.Get(),
                                            ProductInfo.iemail.Get(), ProductInfo.iweb.Get())
                              ? 1
                              : 0);
  WriteInfoLog(L"iniOk is %d\r\n", ProductInfo.iniOk.load());
}

void StartProductInfo() {
  CalendarTime& t = ProductInfo.startTime;
  t = platform::LocalNow();
  WriteInfoLog(L"on@%d.%d.%d-%d:%d:%d\r\n", t.year, t.month, t.day, t.hour, t.minute, t.second);
  // A thread that cannot be made is not reported: the program runs on without update checks.
  StartUpdateThread();
  DumpProductInfo();
  std::srand(static_cast<unsigned>(platform::Now()));
}

void DumpProductInfo() {
  WriteInfoLog(L"SM_SOFT_VER %s\r\n", kProductVersion);
  WriteInfoLog(L"SM_SOFT_NAME %s\r\n", kProductName);
  WriteInfoLog(L"SM_EMAIL %s\r\n", AuthorEmail());
  WriteInfoLog(L"SM_HOMEPAGE %s\r\n", HomePage());
  WriteInfoLog(L"SM_STUDIO %s\r\n", kStudio);
  WriteInfoLog(L"SM_LOGFILENAME %s\r\n", kInfoLogFileName);
  WriteInfoLog(L"SM_INIFILENAME %s\r\n", kIniFileName);
  WriteInfoLog(L"SM_CONFIG_ORVEN %s\r\n", ConfiguredMirrors().front());
  WriteInfoLog(L"logflag %d\r\n", ProductInfo.logflag.load());
  WriteInfoLog(L"hWnd 0x%p\r\n", static_cast<const void*>(ProductInfo.hWnd.load()));
  WriteInfoLog(L"ver %s\r\n", ProductInfo.ver.Get());
  WriteInfoLog(L"name %s\r\n", ProductInfo.name.Get());
  WriteInfoLog(L"email %s\r\n", ProductInfo.email.Get());
  WriteInfoLog(L"homepage %s\r\n", ProductInfo.homepage.Get());
  WriteInfoLog(L"cdir %s\r\n", ProductInfo.cdir.Get());
  WriteInfoLog(L"logPath %s\r\n", ProductInfo.logPath.Get());
  WriteInfoLog(L"inipath %s\r\n", ProductInfo.inipath.Get());
  WriteInfoLog(L"iniOk %d\r\n", ProductInfo.iniOk.load());
  WriteInfoLog(L"iver %s\r\n", ProductInfo.iver.Get());
  WriteInfoLog(L"ititle %s\r\n", ProductInfo.ititle.Get());
  WriteInfoLog(L"iemail %s\r\n", ProductInfo.iemail.Get());
  WriteInfoLog(L"iweb %s\r\n", ProductInfo.iweb.Get());
  WriteInfoLog(L"iflog %s\r\n", ProductInfo.iflog.Get());
}

void WriteAboutLines() {
  WriteLog(L"关于:\r\n");
  WriteLog(L"%s %s\r\n", kProductName, kProductVersion);
  WriteLog(L"%s\r\n", AuthorEmail());
}

}  // namespace vq::update
