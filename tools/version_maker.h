// updatecheck make: writes a version file that the update checker accepts,
// CR LF line ends and Windows-1252 bytes.
#pragma once

#include <string>
#include <string_view>

namespace qel::tool {

struct MadeVersionFile {
  std::string bytes;  // the file, when error is empty
  std::string error;  // one line
};

// All text is UTF-8; version is "MAJOR.MINOR.BUILD". An empty history gives
// the line "Version MAJOR.MINOR.BUILD".
MadeVersionFile MakeVersionFile(std::string_view url, std::string_view version,
                                std::string_view update, std::string_view history);

}  // namespace qel::tool
