// WinINet limits the connections a process holds to one server at a time (2
// by default). Each object here checks on a thread of its own; with the limit
// as it comes, two checks stalled on a publisher's server would hold up every
// other object's check of that server until they end.
#pragma once

namespace qel::com {

inline constexpr unsigned long kConnectionsPerServer = 128;

// Raises the limit for this process, for HTTP/1.1 and HTTP/1.0 servers alike;
// false if WinINet refused either.
bool RaiseConnectionLimits();

}  // namespace qel::com
