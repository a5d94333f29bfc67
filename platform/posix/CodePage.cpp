#include "platform/CodePage.h"

#include "common/Text.h"

namespace vq::platform {

// The POSIX build runs in a UTF-8 locale: both code pages are UTF-8.
std::string WideToOem(const std::wstring& s) { return WideToUtf8(s); }
bool OemIsUtf8() { return true; }
std::string WideToAnsi(const std::wstring& s) { return WideToUtf8(s); }
std::wstring AnsiToWide(const std::string& s) { return Utf8ToWide(s); }

}  // namespace vq::platform
