// Which URLs the stand-in accepts, judged the way WinINet judges them before
// it sends anything.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qel::platform {

// ERROR_SUCCESS with the URL as it goes on the wire in wireUrl, or
// ERROR_INTERNET_UNRECOGNIZED_SCHEME when the URL names no scheme or one other
// than http, https and ftp, or ERROR_INTERNET_INVALID_URL when it is empty or
// malformed (no host included). Spaces are escaped as WinINet escapes them.
DWORD CheckInternetUrl(std::string_view url, std::string& wireUrl);

}  // namespace qel::platform
