// How the stand-in reports libcurl's failures: as the WinINet error code a
// program on Windows would see for the same failure.
#pragma once

#include <curl/curl.h>
#include <windows.h>

namespace qel::platform {

// ERROR_SUCCESS for CURLE_OK; otherwise the nearest WinINet error, with
// ERROR_INTERNET_INTERNAL_ERROR for failures WinINet has no name for.
// tlsVerifyResult is libcurl's CURLINFO_SSL_VERIFYRESULT (an OpenSSL
// X509_V_* code); it tells certificate failures apart.
DWORD InternetErrorFromCurl(CURLcode code, long tlsVerifyResult = 0);

}  // namespace qel::platform
