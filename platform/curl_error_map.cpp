#include "platform/curl_error_map.h"

#include <openssl/x509_vfy.h>
#include <wininet.h>

namespace qel::platform {
namespace {

// A certificate that failed libcurl's check, by OpenSSL's verdict on it.
DWORD InternetErrorFromCertificate(long verifyResult) {
  switch (verifyResult) {
    // libcurl checks the host name itself once OpenSSL has trusted the
    // chain; when that check fails the verdict is left at 1 (or 0).
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return ERROR_INTERNET_INVALID_CA;
    default:
      return ERROR_INTERNET_DECODING_FAILED;
  }
}

}  // namespace

DWORD InternetErrorFromCurl(CURLcode code, long tlsVerifyResult) {
  switch (code) {
    case CURLE_OK:
      return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    // The peer closed the connection before the whole body (by its
    // Content-Length or chunking) had arrived: WinINet's "terminated".
    case CURLE_PARTIAL_FILE:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    // The socket itself failed, typically a reset by the peer.
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return ERROR_INTERNET_CONNECTION_RESET;
    // A connection closed without any reply is not a response either.
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_PEER_FAILED_VERIFICATION:
      return InternetErrorFromCertificate(tlsVerifyResult);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
      return ERROR_INTERNET_DECODING_FAILED;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    // WinINet reports an FTP server's refusal as an extended error.
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_LOGIN_DENIED:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
      return ERROR_INTERNET_EXTENDED_ERROR;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

}  // namespace qel::platform
