#include "app/Commands.h"

#include "app/EngineHooks.h"
#include "app/Startup.h"
#include "backup/Schedule.h"
#include "backup/WorkDirs.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

bool IsMenuCommand(int id) {
  switch (id) {
    case ID_MENUITEM_EXIT:
    case ID_MENUITEM_SET:
    case ID_MENUITEM_CLEN:
    case ID_MENUITEM_RESET_DAY:
    case ID_MENUITEM_RESET_WEEK:
    case ID_MENUITEM_RESET_MONTH:
    case ID_MENUITEM_RESET_YEAR:
    case ID_MENUITEM_RESET_1980:
    case ID_MENUITEM_CHECK_UPDATE:
    case ID_MENUITEM_STATUS:
    case ID_MENUITEM_ABOUT:
    case ID_COMMAND_TODOBD:
    case ID_COMMAND_TODOESTE:
    case ID_MENUITEM_VERIFY:
    case ID_MENUITEM_RESTORE:
      return true;
    default:
      return false;
  }
}

void OnMenuCommand(int id, CommandHost& host) {
  switch (id) {
    case ID_MENUITEM_EXIT:
      WriteLog(L"ID_MENUITEM_EXIT:\r\n");
      platform::SleepMs(200);
      host.RemoveTrayIcon();
      host.QuitMessageLoop();
      break;
    case ID_MENUITEM_SET:
      host.RunSettingsDialog();
      break;
    case ID_MENUITEM_CLEN:
      WriteLog(L"ID_MENUITEM_CLEN:清理同步盘的up-dir-by-vq和up-history-by-vq目录\r\n");
      StartCleanThread();
      break;
    case ID_MENUITEM_RESET_DAY:
      ApplyResetRule(ResetKind::Day);
      break;
    case ID_MENUITEM_RESET_WEEK:
      ApplyResetRule(ResetKind::Week);
      break;
    case ID_MENUITEM_RESET_MONTH:
      ApplyResetRule(ResetKind::Month);
      break;
    case ID_MENUITEM_RESET_YEAR:
      ApplyResetRule(ResetKind::Year);
      break;
    case ID_MENUITEM_RESET_1980:
      ApplyResetRule(ResetKind::To1980);
      break;
    case ID_MENUITEM_CHECK_UPDATE:
      RequestUpdateCheck();
      WriteLog(L"check updata..\r\n");
      break;
    case ID_MENUITEM_STATUS:
      ShowRunParameters();
      break;
    case ID_MENUITEM_ABOUT:
      LogAboutLines();
      break;
    case ID_COMMAND_TODOBD:
      WriteLog(L"set todobd %d\r\n", 1);
      break;
    case ID_COMMAND_TODOESTE:
      WriteLog(L"set todoEste %d\r\n", 1);
      break;
    case ID_MENUITEM_VERIFY:
      WriteLog(L"ID_MENUITEM_VERIFY:校验备份\r\n");
      StartVerifyThread();
      break;
    case ID_MENUITEM_RESTORE:
      WriteLog(L"ID_MENUITEM_RESTORE:恢复文件\r\n");
      host.RunRestoreDialog();
      break;
    default:
      break;
  }
}

namespace {
void StoreValues(const SettingsValues& v) {
  AppSettings.fFilterSr.Set(v.filter);
  AppSettings.S_DIR_SRCDATA.Set(v.source);
  AppSettings.S_DIR_DESTDATA.Set(v.dest);
  AppSettings.S_ZIP_PSW.Set(v.password);
  AppSettings.maxFSize.store(v.maxFSize);
  AppSettings.autoRunFlag.store(v.autoRunFlag);
  AppSettings.vqDebug.store(v.vqDebug);
  AppSettings.zipEncryption.store(v.zipEncryption);
}

SettingsValues ValuesInUse() {
  SettingsValues v;
  v.filter = AppSettings.fFilterSr.Get();
  v.source = AppSettings.S_DIR_SRCDATA.Get();
  v.dest = AppSettings.S_DIR_DESTDATA.Get();
  v.password = AppSettings.S_ZIP_PSW.Get();
  v.maxFSize = AppSettings.maxFSize.load();
  v.autoRunFlag = AppSettings.autoRunFlag.load();
  v.vqDebug = AppSettings.vqDebug.load();
  v.zipEncryption = AppSettings.zipEncryption.load();
  return v;
}
}  // namespace

SettingsSubmit SubmitSettings(const SettingsForm& form, const SettingsRules& rules) {
  SettingsSubmit r;
  r.message = ValidateSettingsForm(form, rules);
  if (!r.accepted()) return r;
  SettingsValues v = NormaliseSettingsForm(form, platform::PathSeparator());
  // From the first value set to the reload, so the worker's save cannot land in between.
  SettingsStoreTransaction transaction;
  const SettingsValues before = ValuesInUse();
  const bool changed = DirectoriesChanged(v, before.source, before.dest);
  StoreValues(v);
  ApplyAutoRun(v.autoRunFlag);
  WriteLog(L"设置结果:\r\n");
  WriteLog(L"fFilterSr:[%s]\r\n", v.filter);
  WriteLog(L"Set autoRunFlag    [%d]\r\n", v.autoRunFlag);
  WriteLog(L"Set vqDebug        [%d]\r\n", v.vqDebug);
  WriteLog(L"Set maxFSize       [%d]\r\n", v.maxFSize);
  WriteLog(L"Set S_ZIP_PSW      [%s]\r\n", std::wstring(v.password.size(), L'*'));
  WriteLog(L"Set zipEncryption  [%s]\r\n", ZipEncryptionName(v.zipEncryption));
  WriteLog(L"Set S_DIR_SRCDATA  [%s]  \r\n", v.source);
  WriteLog(L"Set S_DIR_DESTDATA [%s]  \r\n", v.dest);
  // The working paths follow the new destination at once; a missing default destination is
  // created here.
  InitWorkDirs();
  CreateWorkDirs();
  if (!SaveSettings()) {
    // What is not in the store would be gone at the next start, and a restart would come back
    // on the old folders: the values in use stay the old ones, the dialog stays open with the
    // input, and nothing restarts.
    StoreValues(before);
    ApplyAutoRun(before.autoRunFlag);
    InitWorkDirs();
    WriteLog(L"设置保存失败,设置未改变\r\n");
    r.message = kSaveFailedMessage;
    return r;
  }
  LoadSettings();
  // During the first run's dialog nothing watches the old directories yet.
  if (firstRun.load() == 0 && changed) {
    WriteLog(L"目录有改变，将重启软件\r\n");
    r.restart = true;
  }
  return r;
}

}  // namespace vq
