// The one UTF-8 codec, both ways: well-formed text survives, ill-formed input
// becomes U+FFFD instead of being dropped or passed through.
#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qel {
namespace {

TEST(Utf8Text, DecodesAndEncodesReplacingWhatIsIllFormed) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string text;
    bool wellFormed;
  };
  const std::vector<Case> cases = {
      {"ascii", "abc", u"abc", true},
      {"two to four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E9\u20AC\U0001F600",
       true},
      {"truncated then ascii", "\xE2\x82Z", u"\uFFFDZ", false},
      {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD", false},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD", false},
      {"stray bytes", "a\xFFz\x80", u"a\uFFFDz\uFFFD", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8ToText(c.bytes), c.text);
    if (c.wellFormed) {
      EXPECT_EQ(TextToUtf8(c.text), c.bytes);
    }
  }
  // A lone surrogate has no UTF-8 form.
  EXPECT_EQ(TextToUtf8(u"a\xD83D"
                       u"b\xDE00"),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qel
