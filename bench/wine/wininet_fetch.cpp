#include "bench/wine/wininet_fetch.h"

#include <windows.h>

#include <wininet.h>

#include "retrieval/modInternetFunctions.h"

namespace qel::bench {

long WinInetFetch(const std::string& url) {
  const HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!root) return -1;
  long total = -1;
  if (const HINTERNET request =
          InternetOpenUrlA(root, url.c_str(), nullptr, 0,
                           static_cast<DWORD>(modInternetFunctions::kRequestFlags), 0)) {
    char buffer[256];
    DWORD read = 0;
    total = 0;
    while (InternetReadFile(request, buffer, sizeof(buffer), &read) && read > 0) total += read;
    InternetCloseHandle(request);
  }
  InternetCloseHandle(root);
  return total;
}

}  // namespace qel::bench
