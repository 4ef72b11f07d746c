// Checks over HTTPS, in-process in both builds, against the test run's own
// TLS front (tests/scripts/tls_front.py): a trusted certificate publishes,
// each bad one ends with its WinINet code and stores nothing, and so does a
// redirect from https to plain http.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/test_support.h"
#include "tools/publish/refusal_explanation.h"

#ifdef _WIN32
#include <wincrypt.h>
#endif

namespace qel {
namespace {

// Each bad certificate and the WinINet error it must end with, natively and
// under Wine. Wine's crypt32 reports an unknown CA as a failed revocation
// check (12057); Windows reports 12045, as the Linux stand-in does.
struct TlsCase {
  const char* szServer;
  DWORD lNative;
  DWORD lUnderWine;
};
const TlsCase kBadCertificates[] = {
    {"expired", ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    {"wrongname", ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_CN_INVALID},
    {"untrusted", ERROR_INTERNET_INVALID_CA, 12057 /* ERROR_INTERNET_SEC_CERT_REV_FAILED */},
};

DWORD Expected(const TlsCase& row) {
#ifdef _WIN32
  return row.lUnderWine;
#else
  return row.lNative;
#endif
}

// "good=<port>,expired=<port>,..." from the front.
std::map<std::string, std::string> FrontPorts() {
  std::map<std::string, std::string> ports;
  const char* szList = std::getenv("QEL_TLS_PORTS");
  std::stringstream list(szList != nullptr ? szList : "");
  for (std::string item; std::getline(list, item, ',');) {
    const size_t lEquals = item.find('=');
    if (lEquals != std::string::npos) ports[item.substr(0, lEquals)] = item.substr(lEquals + 1);
  }
  return ports;
}

#ifdef _WIN32
// What `certutil -addstore Root` does: the CA joins the machine's Root store,
// where it stays for the test prefix.
bool TrustTestCa() {
  const char* szPem = std::getenv("QEL_TEST_CA_PEM");
  if (szPem == nullptr) return false;
  DWORD lSize = 0;
  if (!CryptStringToBinaryA(szPem, 0, CRYPT_STRING_BASE64HEADER, nullptr, &lSize, nullptr,
                            nullptr)) {
    return false;
  }
  std::vector<BYTE> der(lSize);
  if (!CryptStringToBinaryA(szPem, 0, CRYPT_STRING_BASE64HEADER, der.data(), &lSize, nullptr,
                            nullptr)) {
    return false;
  }
  const HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return false;
  const BOOL bAdded = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), lSize,
                                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return bAdded != FALSE;
}
#else
bool TrustTestCa() { return std::getenv("QEL_TEST_CA_FILE") != nullptr; }
#endif

struct Completion {
  int32_t lNumber = -1;
  bool bDone = false;
};

class HttpsCheck : public testing::Test {
 protected:
  static void SetUpTestSuite() { s_bTrusted = TrustTestCa(); }
  void SetUp() override {
    ASSERT_TRUE(s_bTrusted) << "run through tests/scripts/tls_front.py";
    ASSERT_EQ(m_ports.size(), 5u);
  }

  std::u16string Url(const std::string& server,
                     const std::string& path = "/app/version.txt") const {
    const std::string host = server == "plain" ? "http://127.0.0.1:" : "https://localhost:";
    return Utf8ToText(host + m_ports.at(server) + path);
  }
  int32_t Check(const std::u16string& url) {
    Completion done;
    const Connection binding =
        m_check->UpdateCheckComplete.Bind([&](int32_t lNumber, const std::u16string&) {
          done = {lNumber, true};
        });
    m_check->StartCheck(url);
    EXPECT_TRUE(test::WaitFor([&] { return done.bDone; }, std::chrono::seconds(30)));
    return done.lNumber;
  }

  static bool s_bTrusted;
  const std::map<std::string, std::string> m_ports = FrontPorts();
  std::shared_ptr<UpdateCheck> m_check = UpdateCheck::Create();
};
bool HttpsCheck::s_bTrusted = false;

// In order: each row that fails must leave the values of the row before.
TEST_F(HttpsCheck, TrustedCertificatesAndRedirectsThatStayOnHttpsPublishOthersStoreNothing) {
  struct Row {
    const char* szName;
    std::u16string strURL;
    DWORD lError;
    int32_t lMajor;  // and the history, published when lError is 0
    std::u16string strHistory;
  };
  std::vector<Row> rows = {{"good", Url("good"), 0, 3, u"Over TLS\r\n"}};
  // Each bad server serves a valid file with a major number of its own, so a
  // certificate let through would show.
  for (const TlsCase& row : kBadCertificates) {
    rows.push_back({row.szServer, Url(row.szServer), Expected(row), 0, {}});
  }
  const DWORD lDowngrade = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
  rows.push_back({"https to https", Url("good", "/to-https/v"), 0, 3, u"Redirected\r\n"});
  // The plain file names the https URL asked for, with a major of 7.
  rows.push_back({"https to http", Url("good", "/to-http/v"), lDowngrade, 0, {}});
  rows.push_back({"http to https", Url("plain", "/to-https/v"), 0, 3, u"Redirected\r\n"});
  rows.push_back(
      {"HTTPS to http", u"HTTPS" + Url("good", "/to-http/v").substr(5), lDowngrade, 0, {}});
  // Sent as Windows would best-fit it, U+FF0F would fetch /app/version.txt.
  rows.push_back({"look-alike slash",
                  Url("good", "/app\uFF0Fversion.txt"),
                  ERROR_INTERNET_INVALID_URL,
                  0,
                  {}});

  using Values = std::tuple<int32_t, int32_t, int32_t, std::u16string, std::u16string>;
  const auto published = [&] {
    return Values{m_check->Major(), m_check->Minor(), m_check->Build(), m_check->UpdateURL(),
                  m_check->VersionHistory()};
  };
  for (const Row& row : rows) {
    const Values before = published();
    EXPECT_EQ(Check(row.strURL), static_cast<int32_t>(row.lError)) << row.szName;
    const Values file{row.lMajor, 1, 4, u"https://localhost/setup.exe", row.strHistory};
    EXPECT_EQ(published(), row.lError == 0 ? file : before) << row.szName;
  }
}

// The host tool's second fetch is the check's own download: it reads, and
// so explains, nothing of the plain leg either.
TEST_F(HttpsCheck, TheToolsSecondFetchRefusesTheRedirectToHttpToo) {
  const std::u16string url = Url("good", "/to-http/v");
  const tool::Fetched fetched =
      tool::FetchAgain(url, std::chrono::steady_clock::now() + std::chrono::seconds(30));
  EXPECT_EQ(fetched.error, static_cast<int32_t>(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR));
  EXPECT_EQ(fetched.text, u"");
  EXPECT_EQ(tool::ExplainRefusal(url, fetched).size(), 1u);
}

}  // namespace
}  // namespace qel
