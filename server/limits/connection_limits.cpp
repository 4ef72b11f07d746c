#include "server/limits/connection_limits.h"

#include <windows.h>

#include <wininet.h>

namespace qel::com {

bool RaiseConnectionLimits() {
  DWORD limit = kConnectionsPerServer;
  // Process-wide options: they take no handle.
  const BOOL perServer =
      InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &limit, sizeof(limit));
  const BOOL perOldServer =
      InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &limit, sizeof(limit));
  return perServer && perOldServer;
}

}  // namespace qel::com
