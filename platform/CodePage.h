// The platform's code pages: ZIP entry names go to the OEM code page, passwords to the ANSI code
// page (Windows: CP_OEMCP / CP_ACP of the thread, 936 on a Chinese desktop; POSIX: UTF-8).
#pragma once

#include <string>

namespace vq::platform {

std::string WideToOem(const std::wstring& s);
std::string WideToAnsi(const std::wstring& s);
std::wstring AnsiToWide(const std::string& s);

}  // namespace vq::platform
