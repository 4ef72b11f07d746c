// A slow, plain model of how the version file's numbers read, written apart
// from the component's own conversion so that the two can be compared.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qel::fuzz {

// The number the value reads as, or nullopt where the conversion must raise
// the overflow error.
std::optional<int32_t> ModelValueToLong(std::u16string_view value);

}  // namespace qel::fuzz
