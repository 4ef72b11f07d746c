// A download's bytes become the same text however they arrived in pieces.
#include <gtest/gtest.h>

#include <string>

#include "retrieval/received_bytes.h"

namespace qel {
namespace {

TEST(ReceivedBytesTest, TextIsTheSameWhateverTheReadSizes) {
  std::string all;
  for (int i = 0; i < 150000; ++i) all.push_back(static_cast<char>((i * 7) & 0xFF));
  std::u16string expected;
  {
    ReceivedBytes whole;
    whole.Append(all.data(), all.size());
    expected = whole.ToText();
  }
  ASSERT_EQ(expected.size(), all.size()) << "one unit per byte in Windows-1252";
  EXPECT_EQ(expected[1], u'\u0007');
  EXPECT_EQ(expected[128], u'\u20AC');  // byte 0x80
  for (const size_t step : {size_t{1}, size_t{255}, size_t{256}, size_t{4097}, size_t{65536}}) {
    ReceivedBytes pieces;
    for (size_t at = 0; at < all.size(); at += step) {
      pieces.Append(all.data() + at, std::min(step, all.size() - at));
    }
    EXPECT_EQ(pieces.Size(), all.size()) << step;
    EXPECT_EQ(pieces.ToText(), expected) << step;
  }
}

TEST(ReceivedBytesTest, NothingReceivedIsEmptyText) {
  const ReceivedBytes none;
  EXPECT_EQ(none.Size(), 0u);
  EXPECT_EQ(none.ToText(), u"");
}

}  // namespace
}  // namespace qel
