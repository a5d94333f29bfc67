// The update check: on request a background thread fetches "CONFIG.xml" from the first mirror
// that delivers a well-formed document, shows its message in the log and compares its version
// with the program's. A newer version opens the download page, tells the user that this copy
// must be upgraded and closes the program. The first failed check ends the thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Http.h"

namespace vq {
class XmlDocument;
}

namespace vq::update {

// Capacity of the download buffer; the document keeps at most kDownloadBufferBytes - 8 bytes.
inline constexpr size_t kDownloadBufferBytes = 204800;

// True when the server's version is greater than ours, compared as UTF-16 unit strings (not as
// numbers): "0.10", "0.050" and "0.1a" are greater than "0.05"; "" is never greater.
bool IsNewerVersion(const std::wstring& serverVersion, const std::wstring& ownVersion);

// Only an http:// or https:// address with a host and without blanks, quotes or control
// characters is ever handed to the shell: the page comes from a server nobody authenticated.
bool IsOpenableWebPage(const std::wstring& url);
// text with every control character (and the Unicode line separators) written as \xNN or
// \uNNNN, for logging a text that came from outside.
std::wstring EscapeControlCharacters(const std::wstring& text);

// The Help menu's request (the caller logs "check updata..").
void RequestUpdateCheck();

// Starts UpdateThreadFun on its own thread (1 MB stack); false when the thread could not be made.
bool StartUpdateThread();
// The thread: waits, then serves requests until a check fails. Returns 1.
int UpdateThreadFun();
// One poll of the thread: runs a check when one was requested. False when that check failed.
bool UpdateThreadStep();

bool CheckUpdate();
// Downloads one mirror's document and hands it to doc; true only for a well-formed document.
bool FetchConfig(const std::wstring& url, XmlDocument& doc);
// HTTP GET into buffer; *length is the capacity on entry and the bytes stored on return. Six
// zero bytes follow the data.
bool Download2Mem(const std::wstring& url, char* buffer, size_t* length);
// Reads the fields of the update document; false without its ROOT element.
bool SerializeFromXml(XmlDocument& doc);
void PromptUpgrade();
// Opens a web page (refusing anything but plain web addresses); true when a handler took it.
bool OpenWebPage(const std::wstring& url);

// What the update check does to the desktop. The default goes to the platform: the shell, the
// main window's message box and its Cancel command. Tests put their own in place so that no
// browser ever opens and no window is asked to close.
class UpdateShell {
 public:
  virtual ~UpdateShell() = default;
  virtual bool OpenDefault(const std::wstring& url);
  virtual bool OpenNamedBrowser(const std::wstring& url);
  virtual void ShowMessage(void* window, const std::wstring& text, const std::wstring& caption);
  virtual void CloseMainWindow(void* window);
};
// nullptr restores the platform's.
void SetUpdateShell(UpdateShell* shell);

// Tests: where the documents come from ({} restores the configured mirrors), the HTTP options
// (time-outs), the thread's waits, and what StartProductInfo uses to start the thread.
void SetMirrorsForTest(std::vector<std::wstring> mirrors);
std::vector<std::wstring> Mirrors();
void SetHttpOptionsForTest(const platform::HttpOptions* options);
struct UpdateTimings {
  uint32_t firstWaitMs = 1000;
  uint32_t secondWaitMs = 3000;
  uint32_t pollMs = 1000;
};
void SetUpdateTimingsForTest(const UpdateTimings* timings);
void SetUpdateThreadStarterForTest(std::function<bool()> starter);

}  // namespace vq::update
