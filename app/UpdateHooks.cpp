// The start-up and menu hooks of the product information and the update check.
#include "app/EngineHooks.h"
#include "platform/Shell.h"
#include "update/ProductInfo.h"
#include "update/UpdateCheck.h"

namespace vq {

void StartProductInfo() {
  // Start-up has marked the main window by now; the update prompt is owned by it and closes it.
  update::ReadProductIni(platform::FindMainWindow());
  update::StartProductInfo();
}

void RequestUpdateCheck() { update::RequestUpdateCheck(); }

void LogAboutLines() { update::WriteAboutLines(); }

}  // namespace vq
