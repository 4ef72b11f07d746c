// A 10 MiB body read through DownloadURL (256-byte reads, WinINet's Linux
// stand-in) against one plain libcurl fetch of the same body into memory,
// both from the in-process loopback server.
#include <sys/mman.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>
#include <wininet.h>

#include "bench/bench_report.h"
#include "bench/raw_fetch.h"
#include "retrieval/modInternetFunctions.h"
#include "tests/support/loopback_server.h"

namespace {

using qel::bench::Clock;

constexpr std::size_t kBodyBytes = 10u << 20;
constexpr int kRuns = 21;
constexpr double kTargetRatio = 1.5;

// Text lines with a few bytes above 0x7F, so that the conversion from the
// code page meets more than ASCII.
std::string Body() {
  const std::string line = "release notes: faster start-up, \xE9\xE8\x80 fixes\r\n";
  std::string body;
  body.reserve(kBodyBytes);
  while (body.size() + line.size() <= kBodyBytes) body += line;
  body.append(kBodyBytes - body.size(), '.');
  return body;
}

// The download's text must be the body, byte for character (the stand-in's
// code page is Windows-1252).
bool SameText(const std::u16string& text, const std::string& body) {
  if (text.size() != body.size()) return false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto byte = static_cast<unsigned char>(body[i]);
    if (byte < 0x80 || byte >= 0xA0 ? text[i] != byte : text[i] < 0x80) return false;
  }
  return true;
}

// The WinINet calls alone, as DownloadURL makes them but with `chunk`-byte
// reads and without the conversion to text: the bytes received.
std::string ReadThroughStandIn(const std::string& url, DWORD chunk) {
  HINTERNET root = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET file = root == nullptr ? nullptr
                                   : InternetOpenUrlA(root, url.c_str(), nullptr, 0,
                                                      qel::modInternetFunctions::kRequestFlags, 0);
  std::string bytes;
  if (file != nullptr) {
    std::vector<char> buffer(chunk);
    DWORD read = 0;
    while (InternetReadFile(file, buffer.data(), chunk, &read) && read > 0) {
      bytes.append(buffer.data(), read);
    }
    InternetCloseHandle(file);
  }
  if (root != nullptr) InternetCloseHandle(root);
  return bytes;
}

// The conversion DownloadURL makes once at the end, into a new string.
std::u16string AnsiText(const std::string& bytes) {
  const int length = static_cast<int>(bytes.size());
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), length);
  return text;
}

// Touches `bytes` of memory fresh from the kernel, as a large new string
// does: on a virtual machine each first touch of a page can cost more than
// the copy into it.
void TouchFreshMemory(std::size_t bytes) {
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::runtime_error("mmap failed");
  std::memset(memory, 1, bytes);
  qel::bench::Consume(static_cast<unsigned char*>(memory)[bytes / 2]);
  munmap(memory, bytes);
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

// One kind of run: its times and the page faults each run took, which on a
// virtual machine tell more about a run's cost than its copying does.
class Side {
 public:
  explicit Side(const char* label) : m_label(label) {}

  template <typename Work>
  void Run(bool keep, Work work) {
    const long faultsBefore = MinorFaults();
    const auto before = Clock::now();
    work();
    const double ms = qel::bench::Milliseconds(Clock::now() - before);
    const long faults = MinorFaults() - faultsBefore;
    if (!keep) return;
    m_milliseconds.push_back(ms);
    m_faults.push_back(static_cast<double>(faults));
  }

  qel::bench::Timings Print() const {
    const qel::bench::Timings timings = qel::bench::Summarise(m_milliseconds);
    qel::bench::PrintTimings(m_label, timings);
    std::printf("%-36s %6.0f page faults\n", "", qel::bench::Summarise(m_faults).median);
    return timings;
  }

 private:
  const char* m_label;
  std::vector<double> m_milliseconds;
  std::vector<double> m_faults;
};

}  // namespace

int main() {
  try {
    qel::bench::PrintHeader("download: 10 MiB through DownloadURL vs one raw libcurl fetch");
    // scripts/bench.sh runs it twice: with glibc's allocator as it comes,
    // and tuned to keep freed memory, which takes fresh pages out of both sides.
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    std::printf("allocator: %s\n", tunables ? tunables : "as it comes");
    qel::test::LoopbackServer server;
    const std::string body = Body();
    server.Put("/big.bin", body, "application/octet-stream");
    const std::string url = server.Url("/big.bin");
    const std::u16string urlText = server.UrlText("/big.bin");

    Side download{"DownloadURL, 256-byte reads"};
    Side raw{"raw libcurl fetch (baseline)"};
    // Where DownloadURL's time goes: the stand-in's reads at 256 bytes and
    // at 64 KiB, the conversion to text, and what fresh memory costs here.
    Side reads256{"  stand-in reads, 256 bytes each"};
    Side reads64k{"  stand-in reads, 64 KiB each"};
    Side conversion{"  code page conversion of 10 MiB"};
    Side freshMemory{"  first touch of 20 MiB fresh memory"};
    bool sound = true;
    // One unmeasured round, then rounds in turning order so that neither
    // main side always runs first.
    for (int round = -1; round < kRuns; ++round) {
      const bool keep = round >= 0;
      for (int step = 0; step < 2; ++step) {
        if ((round % 2 == 0) == (step == 0)) {
          std::u16string text;
          int32_t result = 0;
          download.Run(keep, [&] {
            result = qel::modInternetFunctions::DownloadURL(
                urlText, qel::modInternetFunctions::kRequestFlags, text);
          });
          sound = sound && result == 0 && SameText(text, body);
        } else {
          std::string fetched;
          raw.Run(keep, [&] { fetched = qel::bench::RawFetch(url); });
          sound = sound && fetched == body;
        }
      }
      std::string bytes;
      reads256.Run(keep, [&] { bytes = ReadThroughStandIn(url, 256); });
      sound = sound && bytes == body;
      reads64k.Run(keep, [&] { bytes = ReadThroughStandIn(url, 64 * 1024); });
      sound = sound && bytes == body;
      std::u16string text;
      conversion.Run(keep, [&] { text = AnsiText(bytes); });
      sound = sound && SameText(text, body);
      freshMemory.Run(keep, [] { TouchFreshMemory(2 * kBodyBytes); });
    }
    if (!sound) {
      std::fprintf(stderr, "a download did not deliver the body\n");
      return 1;
    }

    const qel::bench::Timings measured = download.Print();
    const qel::bench::Timings baseline = raw.Print();
    std::printf("throughput: DownloadURL %.0f MB/s, raw fetch %.0f MB/s\n",
                kBodyBytes / 1e3 / measured.median, kBodyBytes / 1e3 / baseline.median);
    qel::bench::PrintRatio(measured.median, baseline.median, kTargetRatio);
    std::printf("(fastest runs: %.2fx)\n", measured.min / baseline.min);
    std::printf("breakdown (page faults: minor faults of this thread, median per run):\n");
    for (const Side* side : {&reads256, &reads64k, &conversion, &freshMemory}) side->Print();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_download failed: %s\n", error.what());
    return 1;
  }
}
