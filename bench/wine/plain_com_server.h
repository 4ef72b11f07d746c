// The classes of the soak run's comparison server (plain_com_server.cpp).
#pragma once

#include <windows.h>

namespace qel::bench {

// Objects made on the server's main thread.
inline constexpr CLSID kMainClass = {
    0xbb96a0e0, 0x0041, 0x43a1, {0x9a, 0xbe, 0xf0, 0x0a, 0xbf, 0x4e, 0x9b, 0x8a}};
// Objects made on its second apartment thread and marshalled to the main one.
inline constexpr CLSID kThreadClass = {
    0x5941d01a, 0x7faa, 0x4e2e, {0x83, 0xa6, 0xaa, 0xfb, 0x5b, 0xce, 0x36, 0xf5}};

}  // namespace qel::bench
