#include "tests/support/fault_cases.h"

#include <windows.h>
#include <wininet.h>

#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/test_support.h"

namespace qel::test {
namespace {

#ifdef _WIN32
// Wine 8's WinINet passes on the socket's own error.
constexpr int32_t kResetError = 10054;  // WSAECONNRESET
#else
constexpr int32_t kResetError = ERROR_INTERNET_CONNECTION_RESET;
#endif

}  // namespace

std::vector<FaultCase> FaultCases(LoopbackServer& web) {
  web.Put("/fault/binary.bin", std::string("\x00\x01\x7f\x80\xff\r\n\x00\xfe", 9));
  web.Put("/fault/garbage.txt", "<html><body>Not the file you want</body></html>\r\n");
  web.Put("/fault/empty.txt", "");
  web.Put("/fault/bom.txt", "\xef\xbb\xbf" + VersionFile(web.Url("/fault/bom.txt")));
  // A redirect is followed; the file must still name the URL the host gave.
  const std::string redirectToOwn = "/redirect?to=/fault/names-own.txt";
  const std::string redirectToTarget = "/redirect?to=/fault/names-target.txt";
  web.Put("/fault/names-own.txt", VersionFile(web.Url(redirectToOwn)));
  web.Put("/fault/names-target.txt", VersionFile(web.Url("/fault/names-target.txt")));
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(web.RefusedPort()) + "/version.txt";
  const auto invalid = [&](const char* name, const std::string& path) {
    return FaultCase{name, web.UrlText(path), uceInvalidFile, kInvalidFileDescription};
  };
  // URLs that Windows-1252 cannot carry as written: sent anyway, each would
  // reach this server, at another path or past a decoy host.
  const auto unsent = [&](const char* name, std::u16string url) {
    return FaultCase{name, std::move(url), static_cast<int32_t>(ERROR_INTERNET_INVALID_URL),
                     kInetDescription};
  };
  const std::u16string here = web.UrlText("/fault/a");
  // One the code page has is sent, escaped or not as the client likes: in
  // the query, which routes to the file whatever its escaping.
  const std::string cafe = "/delay?ms=1&then=/fault/cafe.txt&caf";
  web.Put("/fault/cafe.txt", VersionFile(web.Url(cafe + "\xe9")));
  return {
      {"refused", Utf8ToText(refused), static_cast<int32_t>(ERROR_INTERNET_CANNOT_CONNECT),
       kInetDescription},
      {"reset in the middle of the body", web.UrlText("/reset"), kResetError, kInetDescription},
      {"body cut short of its length", web.UrlText("/truncated"),
       static_cast<int32_t>(ERROR_INTERNET_CONNECTION_ABORTED), kInetDescription},
      invalid("garbage", "/fault/garbage.txt"),
      invalid("binary", "/fault/binary.bin"),
      invalid("empty", "/fault/empty.txt"),
      invalid("byte-order mark", "/fault/bom.txt"),
      invalid("404 page", "/status/404"),
      invalid("stalled, then a page", "/stall?ms=300"),
      {"endless body", web.UrlText("/endless"), static_cast<int32_t>(ERROR_FILE_TOO_LARGE),
       kInetDescription, std::chrono::seconds(120)},
      {"redirect, file names the host's URL", web.UrlText(redirectToOwn), 0, u""},
      invalid("redirect, file names the target", redirectToTarget),
      unsent("fullwidth at sign", u"http://decoy.invalid\uFF20127.0.0.1:" +
                                      Utf8ToText(std::to_string(web.Port())) + u"/fault/a/v.txt"),
      unsent("fullwidth solidus", here + u"\uFF0Fv.txt"),
      unsent("division slash", here + u"\u2215v.txt"),
      unsent("a letter the code page lacks", here + u"\u0436b.txt"),
      unsent("a NUL", here + std::u16string(u"\0/v.txt", 7)),
      {"a letter the code page has", web.UrlText(cafe) + u"\u00e9", 0, u""},
  };
}

std::u16string GoodFile(LoopbackServer& web) {
  web.Put("/fault/good.txt", VersionFile(web.Url("/fault/good.txt")));
  return web.UrlText("/fault/good.txt");
}

}  // namespace qel::test
