// ValueToLong against the plain model: the same number, or the overflow
// error exactly where the model says the value is out of range.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/error.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_units.h"
#include "fuzz/numeric_model.h"
#include "service/numeric_value.h"

namespace {

std::string Reading(const std::optional<int32_t>& number) {
  return number ? std::to_string(*number) : std::string("overflow");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace qel;
  const std::u16string value = fuzz::UnitsFromBytes(data, size);
  const std::optional<int32_t> expected = fuzz::ModelValueToLong(value);

  std::optional<int32_t> actual;
  try {
    actual = ValueToLong(value);
  } catch (const Error& error) {
    fuzz::Check(
        error.Number() == kErrOverflow, "ValueToLong raised an error other than overflow",
        [&] { return "error " + std::to_string(error.Number()) + " for " + fuzz::Shown(value); });
  }
  fuzz::Check(actual == expected, "ValueToLong disagrees with the model", [&] {
    return fuzz::Shown(value) + ": read " + Reading(actual) + ", model " + Reading(expected);
  });
  return 0;
}
