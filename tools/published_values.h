// The values a version file publishes: read from the object after a check,
// and found in a file by the linter.
#pragma once

#include <cstdint>
#include <string>

namespace qel::tool {

struct PublishedValues {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t build = 0;
  std::u16string updateURL;
  std::u16string versionHistory;
};

}  // namespace qel::tool
