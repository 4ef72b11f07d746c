// ExtractData on version files with long histories: throughput in MB/s at
// 1, 4 and 16 MiB (it should stay flat: the parse is linear), against a plain
// copy of the same text, the least that a parse keeping the history can do.
#include <cstddef>
#include <cstdio>
#include <exception>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bench/bench_report.h"
#include "service/clsVersionTest.h"

namespace {

using qel::bench::Clock;

constexpr char16_t kName[] = u"http://127.0.0.1/version.txt";
constexpr double kTargetMBps = 200.0;

std::u16string KeyedLines() {
  return std::u16string(u"file=") + kName +
         u"\r\nmajor=2\r\nminor=0\r\nbuild=15\r\nupdate=http://127.0.0.1/new\r\n";
}

// A version file of exactly `bytes` characters: the five keyed lines, then
// history lines of text with their CR LF.
std::u16string VersionFile(std::size_t bytes) {
  std::u16string text = KeyedLines();
  const std::u16string line = u"- fixed a fault in the update dialogue; faster start-up\r\n";
  text.reserve(bytes);
  while (text.size() + line.size() <= bytes) text += line;
  text.append(bytes - text.size(), u'.');
  return text;
}

// Runs `prepare` untimed and `work` timed, until `work` has taken half a
// second in all, and at least five times.
template <typename Prepare, typename Work>
qel::bench::Timings Measure(Prepare prepare, Work work) {
  std::vector<double> runs;
  double total = 0;
  while (runs.size() < 5 || (total < 500 && runs.size() < 1000)) {
    prepare();
    const auto before = Clock::now();
    work();
    runs.push_back(qel::bench::Milliseconds(Clock::now() - before));
    total += runs.back();
  }
  return qel::bench::Summarise(runs);
}

double MegabytesPerSecond(std::size_t bytes, double milliseconds) {
  return static_cast<double>(bytes) / 1e6 / (milliseconds / 1e3);
}

}  // namespace

int main() {
  try {
    qel::bench::PrintHeader("parse: ExtractData on a version file with a long history");
    std::printf(
        "MB/s = 10^6 characters of the file per second (one byte each as downloaded)\n"
        "moved in: the text handed over as UpdateCheck hands over the download, to the one\n"
        "  parser it keeps; baseline: copying the text into a buffer kept from run to run\n"
        "copied: the caller keeps its text, so each call copies it into fresh memory;\n"
        "  baseline: one plain copy of the text into fresh memory\n");
    std::printf("%-7s %-9s %11s %9s %13s %9s %7s\n", "file", "text", "ExtractData", "MB/s",
                "baseline", "MB/s", "ratio");
    const std::u16string name = kName;
    bool met = true;
    std::vector<double> rates;
    for (const std::size_t mebibytes : {1u, 4u, 16u}) {
      const std::u16string text = VersionFile(mebibytes << 20);
      const std::size_t historySize = text.size() - KeyedLines().size();
      // One parser for every run, as an UpdateCheck keeps one for its life.
      qel::clsVersionTest parser;
      bool accepted = true;

      const auto noPreparation = [] {};
      // The handed-over text is prepared outside the timing, as the
      // download prepares it before the parse.
      std::u16string handedOver;
      const auto prepareHandOver = [&] { handedOver = text; };
      const auto parseHandedOver = [&] {
        accepted = parser.ExtractData(name, std::move(handedOver)) && accepted;
        qel::bench::Consume(static_cast<std::size_t>(parser.Major()));
      };
      std::u16string kept;
      const auto copyIntoKept = [&] {
        kept.assign(text);
        qel::bench::Consume(kept.size());
      };
      const auto parseCopy = [&] {
        accepted = parser.ExtractData(name, text) && accepted;
        qel::bench::Consume(static_cast<std::size_t>(parser.Major()));
      };
      const auto copyIntoFresh = [&] {
        const std::u16string copy = text;
        qel::bench::Consume(copy.size());
      };
      const qel::bench::Timings movedIn = Measure(prepareHandOver, parseHandedOver);
      const qel::bench::Timings keptCopy = Measure(noPreparation, copyIntoKept);
      const qel::bench::Timings copied = Measure(noPreparation, parseCopy);
      const qel::bench::Timings freshCopy = Measure(noPreparation, copyIntoFresh);
      if (!accepted || parser.VersionHistory().size() != historySize) {
        std::fprintf(stderr, "the benchmark's version file was not parsed as expected\n");
        return 1;
      }

      const double rate = MegabytesPerSecond(text.size(), movedIn.median);
      rates.push_back(rate);
      met = met && rate >= kTargetMBps;
      for (const auto& [label, parse, baseline] :
           {std::tuple{"moved in", movedIn, keptCopy}, std::tuple{"copied", copied, freshCopy}}) {
        std::printf("%2zu MiB  %-9s %8.3f ms %9.0f %10.3f ms %9.0f %6.2fx\n", mebibytes, label,
                    parse.median, MegabytesPerSecond(text.size(), parse.median), baseline.median,
                    MegabytesPerSecond(text.size(), baseline.median),
                    parse.median / baseline.median);
      }
    }
    std::printf("linearity (moved in): MB/s at 4 MiB and 16 MiB / at 1 MiB = %.2f, %.2f\n",
                rates[1] / rates[0], rates[2] / rates[0]);
    std::printf("target >= %.0f MB/s (moved in) at every size: %s\n", kTargetMBps,
                met ? "met" : "MISSED");
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_parse failed: %s\n", error.what());
    return 1;
  }
}
