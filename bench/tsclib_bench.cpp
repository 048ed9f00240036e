// How much the TSC library's road through CUPS costs: 1,000 labels (CLS, a Code 128
// barcode, a line of Chinese text drawn as a bitmap, PRINT) generated and sent as one
// raw job through a private cupsd to a socket, and the same bytes written to a socket
// directly. Prints the times of each run and the ratio.
//
//   tsclib_bench [labels] [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cups_test_support.h"
#include "platform/text.h"
#include "platform/tsclib.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::text::Utf8ToCp936;
namespace tsc = platform::tsclib;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Label {
  std::string code;
  std::string text;  // code page 936
};

std::vector<Label> MakeLabels(int count) {
  std::vector<Label> labels;
  for (int i = 0; i < count; ++i) {
    labels.push_back({std::to_string(9787000000000LL + i),
                      Utf8ToCp936("图书馆 藏书 " + std::to_string(100000 + i))});
  }
  return labels;
}

const std::string kFace = Utf8ToCp936("宋体");

// The job as the library writes it, built in memory.
std::string Generate(const std::vector<Label>& labels) {
  std::string job = *tsc::tspl::Setup("40", "30", "2.0", "5", "0", "3", "0");
  for (const Label& l : labels) {
    job += tsc::tspl::ClearBuffer();
    job += *tsc::tspl::Barcode("24", "16", "128", "96", "1", "0", "2", "2", l.code);
    job += *tsc::tspl::WindowsFont(24, 150, 36, 0, 0, 0, kFace, l.text);
    job += *tsc::tspl::PrintLabel("1", "1");
  }
  return job;
}

// The same job through the eight functions and the raw queue; returns what arrived.
std::string ThroughCups(const std::vector<Label>& labels, cups_test::OneJobListener& printer,
                        const std::string& queue) {
  tsc::openport(queue.c_str());
  tsc::setup("40", "30", "2.0", "5", "0", "3", "0");
  for (const Label& l : labels) {
    tsc::clearbuffer();
    tsc::barcode("24", "16", "128", "96", "1", "0", "2", "2", l.code.c_str());
    tsc::windowsfont(24, 150, 36, 0, 0, 0, kFace.c_str(), l.text.c_str());
    tsc::printlabel("1", "1");
  }
  tsc::closeport();
  return printer.Wait(std::chrono::minutes(5)).value_or("");
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  std::string whyNot;
  if (!cups_test::CupsServer(&whyNot)) {
    std::fprintf(stderr, "tsclib_bench: %s\n", whyNot.c_str());
    return 1;
  }
  const std::vector<Label> labels = MakeLabels(count);
  Generate(labels);  // warm-up: fonts, the application object

  std::vector<double> generate, cups, direct;
  std::size_t bytes = 0;
  for (int run = 0; run < runs; ++run) {
    const Clock::time_point g0 = Clock::now();
    const std::string expected = Generate(labels);
    generate.push_back(Ms(Clock::now() - g0));
    bytes = expected.size();

    cups_test::OneJobListener cupsPrinter;
    cups_test::RawQueue queue("Bench", cupsPrinter.Port());
    const Clock::time_point c0 = Clock::now();
    const std::string received = ThroughCups(labels, cupsPrinter, queue.Name());
    cups.push_back(Ms(Clock::now() - c0));
    if (received != expected) {
      std::fprintf(stderr, "tsclib_bench: the job through CUPS differs (%zu bytes, expected %zu)\n",
                   received.size(), expected.size());
      return 1;
    }

    cups_test::OneJobListener directPrinter;
    const Clock::time_point d0 = Clock::now();
    cups_test::SendToPort(directPrinter.Port(), expected);
    const std::string direct_received = directPrinter.Wait(std::chrono::minutes(5)).value_or("");
    direct.push_back(Ms(Clock::now() - d0));
    if (direct_received != expected) {
      std::fprintf(stderr, "tsclib_bench: the direct write differs\n");
      return 1;
    }
    std::printf("run %d: generate %.1f ms, through CUPS (generate + send) %.1f ms, "
                "direct socket %.1f ms\n",
                run + 1, generate.back(), cups.back(), direct.back());
  }
  const double g = Median(generate), c = Median(cups), d = Median(direct);
  std::printf("%d labels, %zu bytes per job, median of %d runs:\n", count, bytes, runs);
  std::printf("  generate TSPL in memory            %8.1f ms\n", g);
  std::printf("  eight functions through raw queue  %8.1f ms\n", c);
  std::printf("  same bytes to a socket directly    %8.1f ms\n", d);
  std::printf("  ratio CUPS road / direct write     %8.1f\n", c / d);
  std::printf("  ratio (CUPS road - generate) / direct %5.1f\n", (c - g) / d);
  return 0;
}
