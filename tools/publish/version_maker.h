// updatecheck make: writes a version file that the update checker accepts,
// CR LF line ends and Windows-1252 bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/publish/version_lint.h"

namespace qel::tool {

struct MadeVersionFile {
  std::string bytes;  // the file, when error is empty
  std::string error;  // one line
  // One line each: what was written but is probably not meant (what lint
  // says of the file, and numbers written otherwise than given).
  std::vector<std::string> warnings;
};

// All text is UTF-8; version is "MAJOR.MINOR.BUILD". An empty history gives
// the line "Version MAJOR.MINOR.BUILD". What lint would refuse is refused
// here, and what it would warn about comes back as warnings.
// `maxBytes` is the download's cap (smaller only for tests).
MadeVersionFile MakeVersionFile(std::string_view url, std::string_view version,
                                std::string_view update, std::string_view history,
                                size_t maxBytes = kMaxVersionFileBytes);

}  // namespace qel::tool
