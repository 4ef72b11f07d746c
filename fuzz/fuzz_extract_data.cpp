// ExtractData against the plain reading of the version file: the same
// answer, the same published values afterwards (new where the parse got to
// them, the earlier parse's elsewhere), and no error but the overflow.
//
// Input: the file name, a NUL, then the text. Without a NUL the whole input
// is the text and the name is what its "file=" line says, so that the fuzzer
// gets past the first line without spelling the name twice.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_units.h"
#include "fuzz/version_file_model.h"
#include "service/clsVersionTest.h"

namespace {

using qel::fuzz::ParseOutcome;
using qel::fuzz::PublishedValues;

// An earlier, successful parse, with values no fuzzed file is likely to
// repeat, so that a member left alone and a member overwritten look different.
constexpr char16_t kEarlierName[] = u"http://127.0.0.1/earlier.txt";
constexpr char16_t kEarlierFile[] =
    u"file=http://127.0.0.1/earlier.txt\r\nmajor=-7777\r\nminor=8888\r\nbuild=&H1869F\r\n"
    u"update=earlier update\r\nearlier\r\nhistory\r\n";
const PublishedValues kEarlier{-7777, 8888, 99999, u"earlier update", u"earlier\r\nhistory\r\n"};

PublishedValues Published(const qel::clsVersionTest& parser) {
  return {parser.Major(), parser.Minor(), parser.Build(), parser.UpdateURL(),
          parser.VersionHistory()};
}

std::u16string NameFromFileLine(std::u16string_view text) {
  constexpr std::u16string_view kKey = u"file=";
  if (text.substr(0, kKey.size()) != kKey) return {};
  const std::u16string_view rest = text.substr(kKey.size());
  return std::u16string(rest.substr(0, rest.find(u"\r\n")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace qel;
  const std::u16string input = fuzz::UnitsFromBytes(data, size);
  std::u16string strFilename;
  std::u16string strFileData;
  if (const std::size_t nul = input.find(u'\0'); nul != std::u16string::npos) {
    strFilename = input.substr(0, nul);
    strFileData = input.substr(nul + 1);
  } else {
    strFileData = input;
    strFilename = NameFromFileLine(strFileData);
  }

  clsVersionTest parser;
  fuzz::Check(parser.ExtractData(kEarlierName, kEarlierFile) && Published(parser) == kEarlier,
              "the earlier file was not read as written");

  const fuzz::ModelParse expected = fuzz::ModelExtractData(strFilename, strFileData, kEarlier);
  ParseOutcome outcome = ParseOutcome::kRefused;
  try {
    outcome = parser.ExtractData(strFilename, strFileData) ? ParseOutcome::kAccepted
                                                           : ParseOutcome::kRefused;
  } catch (const Error& error) {
    fuzz::Check(error.Number() == kErrOverflow, "ExtractData raised an error other than overflow",
                [&] { return std::to_string(error.Number()); });
    outcome = ParseOutcome::kOverflow;
  }

  const auto shownInput = [&] {
    return "name " + fuzz::Shown(strFilename) + "\ntext " + fuzz::Shown(strFileData);
  };
  fuzz::Check(outcome == expected.outcome, "ExtractData answered differently from the model", [&] {
    return shownInput() + "\nanswer " + fuzz::Describe(outcome) + ", model " +
           fuzz::Describe(expected.outcome);
  });
  const PublishedValues after = Published(parser);
  fuzz::Check(after == expected.after, "ExtractData left other values than the model", [&] {
    return shownInput() + "\nparser " + fuzz::Describe(after) + "\nmodel  " +
           fuzz::Describe(expected.after);
  });

  if (outcome == ParseOutcome::kAccepted) {
    // A second, cruder reading of an accepted file: it names the file on its
    // first line (or, asked for an empty name, has no "file=" line at all),
    // and ends with the update line and the history as stored.
    fuzz::Check(after.lMajor != 0, "a file with major 0 was accepted", shownInput);
    const bool named = strFileData.starts_with(u"file=" + strFilename + u"\r\n");
    const bool unnamed = strFilename.empty() && !strFileData.starts_with(u"file=");
    fuzz::Check(named || unnamed, "an accepted file does not begin with its name", shownInput);
    fuzz::Check(strFileData.ends_with(u"\r\nupdate=" + after.strUpdateURL + u"\r\n" +
                                      after.strVersionHistory),
                "an accepted file does not end with its update line and history", shownInput);
  }
  return 0;
}
