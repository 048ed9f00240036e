// What the TSC library costs: 1,000 labels (CLS, a Code 128 barcode, a line of Chinese
// text drawn as a bitmap, PRINT) generated in memory, against a floor measured in the
// same run: Qt drawing the same texts with the same font, size, antialiasing and image
// format as the library, plus writing the job's bytes. Then the same job through a
// private cupsd's raw queue to a socket, and the same bytes written to a socket directly.
// Prints the times of every run, the medians and the ratios, and ends with one line:
//   tsclib_bench: labels=N generate_ms=… floor_ms=… ratio=… cups_ms=…
//
//   tsclib_bench [labels] [runs]
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

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

constexpr int kFontHeight = 36;

struct Label {
  std::string code;
  std::string textUtf8;
  std::string text;  // code page 936
};

std::vector<Label> MakeLabels(int count) {
  std::vector<Label> labels;
  for (int i = 0; i < count; ++i) {
    const std::string text = "图书馆 藏书 " + std::to_string(100000 + i);
    labels.push_back({std::to_string(9787000000000LL + i), text, Utf8ToCp936(text)});
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
    job += *tsc::tspl::WindowsFont(24, 150, kFontHeight, 0, 0, 0, kFace, l.text);
    job += *tsc::tspl::PrintLabel("1", "1");
  }
  return job;
}

// The floor's share of one label: its text, and the cell the library draws it into.
struct FloorText {
  QString text;
  int width;
  int height;
};

// Runs after the library has drawn once, so the application object and the font
// substitution are in place, as they are for the library.
QFont FloorFont() {
  QFont font(QString::fromUtf8("宋体"));
  font.setPixelSize(kFontHeight);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

std::vector<FloorText> FloorTexts(const std::vector<Label>& labels) {
  const QFontMetrics metrics(FloorFont());
  std::vector<FloorText> texts;
  for (const Label& l : labels) {
    const QString text = QString::fromStdString(l.textUtf8);
    const int width =
        std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
    texts.push_back({text, width, metrics.height()});
  }
  return texts;
}

// Bare Qt draws each text into a 32-bit RGB cell of its own without antialiasing, and the
// job's bytes are written into memory.
std::string Floor(const std::vector<FloorText>& texts, const std::string& job) {
  const QFont font = FloorFont();
  const int ascent = QFontMetrics(font).ascent();
  for (const FloorText& t : texts) {
    QImage cell(t.width, t.height, QImage::Format_RGB32);
    cell.fill(Qt::white);
    QPainter painter(&cell);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(0, ascent, t.text);
  }
  std::string written;
  written.append(job);
  return written;
}

// The same job through the eight functions and the raw queue; returns what arrived.
std::string ThroughCups(const std::vector<Label>& labels, cups_test::OneJobListener& printer,
                        const std::string& queue) {
  tsc::openport(queue.c_str());
  tsc::setup("40", "30", "2.0", "5", "0", "3", "0");
  for (const Label& l : labels) {
    tsc::clearbuffer();
    tsc::barcode("24", "16", "128", "96", "1", "0", "2", "2", l.code.c_str());
    tsc::windowsfont(24, 150, kFontHeight, 0, 0, 0, kFace.c_str(), l.text.c_str());
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
  if (count < 1 || runs < 1) {
    std::fprintf(stderr, "usage: tsclib_bench [labels] [runs]\n");
    return 2;
  }
  std::string whyNot;
  if (!cups_test::CupsServer(&whyNot)) {
    std::fprintf(stderr, "tsclib_bench: %s\n", whyNot.c_str());
    return 1;
  }
  const std::vector<Label> labels = MakeLabels(count);
  const std::string job = Generate(labels);  // warm-up: fonts, the application object
  const std::vector<FloorText> floorTexts = FloorTexts(labels);
  Floor(floorTexts, job);

  std::vector<double> generate, floor, cups, direct;
  for (int run = 0; run < runs; ++run) {
    const Clock::time_point g0 = Clock::now();
    const std::string expected = Generate(labels);
    generate.push_back(Ms(Clock::now() - g0));
    if (expected != job) {
      std::fprintf(stderr, "tsclib_bench: run %d generated another job\n", run + 1);
      return 1;
    }

    const Clock::time_point f0 = Clock::now();
    const std::string written = Floor(floorTexts, job);
    floor.push_back(Ms(Clock::now() - f0));
    if (written.size() != job.size()) {
      return 1;
    }

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
    const std::string directReceived = directPrinter.Wait(std::chrono::minutes(5)).value_or("");
    direct.push_back(Ms(Clock::now() - d0));
    if (directReceived != expected) {
      std::fprintf(stderr, "tsclib_bench: the direct write differs\n");
      return 1;
    }
    std::printf("run %d: generate %.1f ms, floor %.1f ms, ratio %.2f, through CUPS (generate + "
                "send) %.1f ms, direct socket %.1f ms\n",
                run + 1, generate.back(), floor.back(), generate.back() / floor.back(),
                cups.back(), direct.back());
  }
  const double g = Median(generate), f = Median(floor), c = Median(cups), d = Median(direct);
  std::printf("%d labels, %zu bytes per job, median of %d runs:\n", count, job.size(), runs);
  std::printf("  generate TSPL in memory               %8.1f ms\n", g);
  std::printf("  floor: Qt draws the texts, bytes written %5.1f ms\n", f);
  std::printf("  ratio generate / floor                %8.2f\n", g / f);
  std::printf("  eight functions through raw queue     %8.1f ms\n", c);
  std::printf("  same bytes to a socket directly       %8.1f ms\n", d);
  std::printf("  ratio CUPS road / direct write        %8.1f\n", c / d);
  std::printf("tsclib_bench: labels=%d generate_ms=%.1f floor_ms=%.1f ratio=%.2f cups_ms=%.1f\n",
              count, g, f, g / f, c);
  return 0;
}
