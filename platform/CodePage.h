// The platform's code pages: ZIP entry names go to the OEM code page, passwords to the ANSI code
// page (Windows: CP_OEMCP / CP_ACP of the thread, 936 on a Chinese desktop; POSIX: UTF-8).
#pragma once

#include <string>

namespace vq::platform {

std::string WideToOem(const std::wstring& s);
// True where the "OEM" code page is UTF-8 (POSIX): archive names then need the language-encoding
// flag so that readers do not take them for code page 437.
bool OemIsUtf8();
std::string WideToAnsi(const std::wstring& s);
std::wstring AnsiToWide(const std::string& s);

}  // namespace vq::platform
