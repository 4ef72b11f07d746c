// Linux stand-in for the WinINet calls the download makes, over libcurl.
// Failures set the thread's last error to the code WinINet gives for them.
#pragma once

#include <windows.h>

using HINTERNET = void*;
using INTERNET_PORT = WORD;

inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;

inline constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;

inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
inline constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
inline constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;

inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr DWORD INTERNET_OPTION_URL = 34;

inline constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR = 12040;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
// What WinINet reports for a TLS failure that is none of the certificate
// errors above.
inline constexpr DWORD ERROR_INTERNET_DECODING_FAILED = 12175;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags);
HINTERNET InternetOpenUrlA(HINTERNET hInternet, LPCSTR lpszUrl, LPCSTR lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, UINT_PTR dwContext);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
BOOL InternetCloseHandle(HINTERNET hInternet);
// Only the time-outs, as DWORD milliseconds, on a handle from InternetOpenA.
BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
// Only INTERNET_OPTION_URL on a URL handle: the URL the request ended on,
// after redirects. As WinINet, the length without the NUL on success, with
// it (and ERROR_INSUFFICIENT_BUFFER) when the buffer is too small.
BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                          LPDWORD lpdwBufferLength);

// Only the status line, HTTP_QUERY_STATUS_CODE (as text, or as a DWORD with
// HTTP_QUERY_FLAG_NUMBER) and HTTP_QUERY_STATUS_TEXT, and
// HTTP_QUERY_CONTENT_LENGTH as text.
inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;
BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
