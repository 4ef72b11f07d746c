// The version file both check-latency benchmarks serve: valid, and exactly
// 1 KiB, the size their targets are stated for.
#pragma once

#include <cstddef>
#include <string>

namespace qel::bench {

inline constexpr std::size_t kVersionFileBytes = 1024;

inline std::string VersionFile1K(const std::string& url) {
  std::string file =
      "file=" + url + "\r\nmajor=2\r\nminor=0\r\nbuild=15\r\nupdate=http://127.0.0.1/new\r\n";
  const std::string line = "- a history line of the version file\r\n";
  while (file.size() + line.size() <= kVersionFileBytes) file += line;
  file.append(kVersionFileBytes - file.size(), '.');
  return file;
}

}  // namespace qel::bench
