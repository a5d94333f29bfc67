// The scratch world of the engine's pass tests: a source, a destination with its three views and
// a temporary folder under one scratch folder, the settings pointing at them and the log in the
// scratch folder too.
#pragma once

#include <string>

#include "backup/EngineState.h"
#include "backup/WorkDirs.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/support/TestSupport.h"

namespace vqtest {

struct BackupWorld {
  std::wstring root, src, dest;
  wchar_t sep;
  vq::WorkDirs dirs;
};

// Password 739, the log "vq.lumen.log.txt" in the scratch folder, no debug lines.
inline BackupWorld MakeBackupWorld(const wchar_t* name, const std::wstring& filter, int32_t maxMegabytes) {
  using vq::AppSettings;
  BackupWorld w;
  w.root = MakeScratchDir(name);
  PointConfigAt(w.root);
  w.sep = vq::platform::PathSeparator();
  w.src = w.root + L"src" + w.sep;
  w.dest = w.root + L"dest" + w.sep;
  vq::SetLogDirectoryForTest(w.root);
  AppSettings.logFileName.Set(L"vq.lumen.log.txt");
  AppSettings.S_DIR_SRCDATA.Set(w.src);
  AppSettings.S_DIR_DESTDATA.Set(w.dest);
  AppSettings.S_ZIP_PSW.Set(L"739");
  AppSettings.fFilterSr.Set(filter);
  AppSettings.maxFSize.store(maxMegabytes);
  AppSettings.vqDebug.store(0);
  w.dirs = vq::ComputeWorkDirs(w.dest, w.root + L"tmp" + w.sep, w.sep);
  AppSettings.S_DIR_TEMP.Set(w.dirs.temp);
  AppSettings.S_DIR_ST_LIST.Set(w.dirs.list);
  AppSettings.S_DIR_ST_HIST.Set(w.dirs.history);
  AppSettings.S_DIR_ST_DIR.Set(w.dirs.folder);
  vq::CreateWorkDirs();
  return w;
}

}  // namespace vqtest
