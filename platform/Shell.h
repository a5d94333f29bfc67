// The desktop around the program: opening web pages, the main window as seen from a worker
// thread, and the profile (ini) files of the product.
#pragma once

#include <cstddef>
#include <string>

namespace vq::platform {

// Opens url with the desktop's default handler (Windows: ShellExecuteW "open"; POSIX: xdg-open).
// False when the handler could not be started or reported failure.
bool OpenUrl(const std::wstring& url);
// Opens url in a browser named by the platform (Windows: "iexplore.exe"; POSIX: x-www-browser),
// the fallback when the default handler failed.
bool OpenUrlInNamedBrowser(const std::wstring& url);

// The main window of this process: the top-level window carrying the property "vq.lumen" = 1
// (Windows). POSIX has no window: nullptr.
void* FindMainWindow();

// Shows text with an information icon and an OK button, owned by window, and waits until the
// user closed it (Windows: a message box; POSIX: the text on the terminal, no wait).
void ShowInfoMessage(void* window, const std::wstring& text, const std::wstring& caption);

// Asks the main window to close as its Cancel button would (Windows: posts the command 2 to
// window). POSIX: asks the terminal front end to end, as an interrupt from the terminal does
// (SIGTERM to this process).
void PostCancelCommand(void* window);

// Reads key of section from a Windows profile (ini) file with the rules of the Windows profile
// reading: section and key names without regard to case, blanks around names and values
// dropped, one pair of enclosing quotes removed, the first match wins. Returns "" when the file,
// section or key is missing; the value is cut to maxChars characters.
std::wstring ReadProfileString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                               size_t maxChars);
// The same rules on a text already read (the POSIX implementation, and tests on both builds).
std::wstring ProfileStringFromText(const std::wstring& text, const std::wstring& section, const std::wstring& key,
                                   size_t maxChars);

}  // namespace vq::platform
