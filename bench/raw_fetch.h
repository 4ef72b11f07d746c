// One plain libcurl fetch into memory: the floor that the component's own
// download is measured against.
#pragma once

#include <string>

namespace qel::bench {

// The body at url, fetched directly (never through a proxy). Throws
// std::runtime_error when the fetch fails.
std::string RawFetch(const std::string& url);

}  // namespace qel::bench
