// A plain WinINet fetch, as the component's download makes it but without
// the component: the baseline of the benchmarks under Wine.
#pragma once

#include <string>

namespace qel::bench {

// The number of bytes of `url`'s body, read in 256-byte pieces; -1 if the
// request could not be made.
long WinInetFetch(const std::string& url);

}  // namespace qel::bench
