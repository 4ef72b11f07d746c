// The error snapshot that lets the download raise an error again unchanged
// after it has closed its handles.
#include "retrieval/clsErrorCache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"

namespace qel {
namespace {

struct Fields {
  int32_t number;
  std::u16string source;
  std::u16string description;
  std::u16string helpFile;
  int32_t helpContext;
  std::u16string helpContextText;  // as the cache holds it
};

std::optional<Error> RaisedBy(const clsErrorCache& cache) {
  try {
    cache.Raise();
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

const std::vector<Fields>& Samples() {
  static const std::vector<Fields> samples = {
      {5, u"QELUpdateCheck1_0", u"Invalid procedure call or argument", u"", 0, u"0"},
      {-2147219003, u"QELUpdateCheck1_0:UpdateCheck:", u"Busy", u"C:\\help\\qel.chm", 1000123,
       u"1000123"},
      {std::numeric_limits<int32_t>::min(), u"src", u"Fehler \u2013 \u00fcberlauf", u"h.hlp", -1,
       u"-1"},
      {std::numeric_limits<int32_t>::max(), u"", u"", u"", std::numeric_limits<int32_t>::max(),
       u"2147483647"},
  };
  return samples;
}

TEST(ErrorCacheTest, NewCacheHoldsZeroAndFourEmptyTexts) {
  const clsErrorCache cache;
  EXPECT_EQ(cache.Number(), 0);
  EXPECT_EQ(cache.Description(), u"");
  EXPECT_EQ(cache.Source(), u"");
  EXPECT_EQ(cache.HelpFile(), u"");
  EXPECT_EQ(cache.HelpContext(), u"");
}

TEST(ErrorCacheTest, CacheCopiesAllFiveFieldsWithTheHelpContextAsDecimalText) {
  for (const Fields& f : Samples()) {
    SCOPED_TRACE(f.number);
    clsErrorCache cache;
    cache.Cache(Error(f.number, f.source, f.description, f.helpFile, f.helpContext));
    EXPECT_EQ(cache.Number(), f.number);
    EXPECT_EQ(cache.Source(), f.source);
    EXPECT_EQ(cache.Description(), f.description);
    EXPECT_EQ(cache.HelpFile(), f.helpFile);
    EXPECT_EQ(cache.HelpContext(), f.helpContextText);
  }
}

TEST(ErrorCacheTest, RaiseGivesBackAllFiveFields) {
  for (const Fields& f : Samples()) {
    SCOPED_TRACE(f.number);
    clsErrorCache cache;
    cache.Cache(Error(f.number, f.source, f.description, f.helpFile, f.helpContext));
    const std::optional<Error> raised = RaisedBy(cache);
    ASSERT_TRUE(raised.has_value());
    EXPECT_EQ(raised->Number(), f.number);
    EXPECT_EQ(raised->Source(), f.source);
    EXPECT_EQ(raised->Description(), f.description);
    EXPECT_EQ(raised->HelpFile(), f.helpFile);
    EXPECT_EQ(raised->HelpContext(), f.helpContext);
  }
}

TEST(ErrorCacheTest, SnapshotSurvivesALaterDifferentErrorDuringCleanUp) {
  clsErrorCache cache;
  try {
    Raise(12029, u"first source", u"first", u"first.hlp", 11);
  } catch (const Error& first) {
    cache.Cache(first);
    // Clean-up that fails and recovers on its own must not disturb the snapshot.
    try {
      Raise(91, u"second source", u"second", u"second.hlp", 22);
    } catch (const Error&) {
    }
  }
  const std::optional<Error> raised = RaisedBy(cache);
  ASSERT_TRUE(raised.has_value());
  EXPECT_EQ(raised->Number(), 12029);
  EXPECT_EQ(raised->Source(), u"first source");
  EXPECT_EQ(raised->Description(), u"first");
  EXPECT_EQ(raised->HelpFile(), u"first.hlp");
  EXPECT_EQ(raised->HelpContext(), 11);
}

TEST(ErrorCacheTest, WrittenPropertiesAreWhatRaiseUses) {
  clsErrorCache cache;
  cache.Cache(Error(1, u"s", u"d", u"f", 2));
  cache.Number(-7);
  cache.Description(u"described");
  cache.Source(u"sourced");
  cache.HelpFile(u"helped.chm");
  cache.HelpContext(u"77");
  EXPECT_EQ(cache.Number(), -7);
  EXPECT_EQ(cache.Description(), u"described");
  EXPECT_EQ(cache.Source(), u"sourced");
  EXPECT_EQ(cache.HelpFile(), u"helped.chm");
  EXPECT_EQ(cache.HelpContext(), u"77");

  const std::optional<Error> raised = RaisedBy(cache);
  ASSERT_TRUE(raised.has_value());
  EXPECT_EQ(raised->Number(), -7);
  EXPECT_EQ(raised->Source(), u"sourced");
  EXPECT_EQ(raised->Description(), u"described");
  EXPECT_EQ(raised->HelpFile(), u"helped.chm");
  EXPECT_EQ(raised->HelpContext(), 77);
}

}  // namespace
}  // namespace qel
