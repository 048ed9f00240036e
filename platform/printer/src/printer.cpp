#include "platform/printer.h"

#include <cups/cups.h>

#include <charconv>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/text.h"

namespace platform::printer {

const char* const kNoDefaultPrinter = "There is no default printer currently selected";

namespace {

constexpr int kResolutionWithoutOption = 300;

// The destinations as libcups lists them, freed with the object.
class Dests {
 public:
  Dests() : count_(cupsGetDests2(CUPS_HTTP_DEFAULT, &dests_)) {}
  ~Dests() { cupsFreeDests(count_, dests_); }
  Dests(const Dests&) = delete;
  Dests& operator=(const Dests&) = delete;

  cups_dest_t* begin() const { return dests_; }
  cups_dest_t* end() const { return dests_ + count_; }

 private:
  cups_dest_t* dests_ = nullptr;
  int count_;
};

// One destination with the user's options, as lp finds it; no name: the default one
// (PRINTER, LPDEST, the user's lpoptions, then the server's default).
class NamedDest {
 public:
  explicit NamedDest(const char* name)
      : dest_(cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr)) {}
  ~NamedDest() {
    if (dest_ != nullptr) {
      cupsFreeDests(1, dest_);
    }
  }
  NamedDest(NamedDest&& other) noexcept : dest_(std::exchange(other.dest_, nullptr)) {}
  NamedDest(const NamedDest&) = delete;
  NamedDest& operator=(const NamedDest&) = delete;

  cups_dest_t* get() const { return dest_; }

 private:
  cups_dest_t* dest_;
};

int FromUnits(int value, bool perCm) {
  return perCm ? static_cast<int>(text::RoundHalfEven(value * 2.54)) : value;
}

// "203dpi", "300x600dpi", "80dpcm": the vertical (second, or only) number.
std::optional<int> ParseResolution(std::string_view s) {
  auto number = [&s]() -> std::optional<int> {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end == s.data()) {
      return std::nullopt;
    }
    s.remove_prefix(static_cast<std::size_t>(end - s.data()));
    return v;
  };
  std::optional<int> y = number();
  if (y && !s.empty() && s.front() == 'x') {
    s.remove_prefix(1);
    y = number();
  }
  if (!y || *y <= 0) {
    return std::nullopt;
  }
  if (s == "dpi") {
    return FromUnits(*y, false);
  }
  if (s == "dpcm") {
    return FromUnits(*y, true);
  }
  return std::nullopt;
}

int ResolutionY(cups_dest_t* dest) {
  // The user's own option first, as libcups gives it for printing.
  if (const char* option = cupsGetOption("printer-resolution", dest->num_options, dest->options)) {
    if (std::optional<int> y = ParseResolution(option)) {
      return *y;
    }
  }
  // Then the queue's default, which lpadmin sets on the server.
  cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
  if (info == nullptr) {
    return kResolutionWithoutOption;
  }
  int result = kResolutionWithoutOption;
  if (ipp_attribute_t* attr = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "printer-resolution");
      attr != nullptr && ippGetValueTag(attr) == IPP_TAG_RESOLUTION) {
    int y = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    ippGetResolution(attr, 0, &y, &units);
    if (y > 0) {
      result = FromUnits(y, units == IPP_RES_PER_CM);
    }
  }
  cupsFreeDestInfo(info);
  return result;
}

std::string FirstQueueName() {
  Dests dests;
  for (const cups_dest_t& d : dests) {
    if (d.instance == nullptr) {
      return d.name;
    }
  }
  return {};
}

// The server's default queue as the scheduler names it, whatever the user's settings say;
// empty when it has none.
std::string ServerDefaultName() {
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-name");
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  std::string name;
  if (ipp_attribute_t* attr = ippFindAttribute(response, "printer-name", IPP_TAG_NAME)) {
    name = ippGetString(attr, 0, nullptr);
  }
  ippDelete(response);
  return name;
}

// The printer that stands for the Windows default printer. Windows always has one while
// any printer is installed (the first one installed becomes it); CUPS may have queues and
// no default. So: the user's default (PRINTER, LPDEST, lpoptions) or else the server's,
// as lp finds it; else the first queue of the list, which is sorted by name. Nothing
// only when there is no queue at all.
NamedDest DefaultDest() {
  if (NamedDest dest(nullptr); dest.get() != nullptr) {
    return dest;
  }
  // lp finds nothing either when the user's default names a queue that is gone.
  for (auto find : {&ServerDefaultName, &FirstQueueName}) {
    const std::string name = find();
    if (name.empty()) {
      continue;
    }
    if (NamedDest dest(name.c_str()); dest.get() != nullptr) {
      return dest;
    }
  }
  throw PrinterError(kNoDefaultPrinter);
}

}  // namespace

std::vector<std::string> InstalledPrinters() {
  Dests dests;
  std::vector<std::string> names;
  for (const cups_dest_t& d : dests) {
    if (d.instance == nullptr) {
      names.emplace_back(d.name);
    }
  }
  return names;
}

std::string DefaultPrinterName() { return DefaultDest().get()->name; }

int DefaultPrinterResolutionY() { return ResolutionY(DefaultDest().get()); }

int PrinterResolutionY(const std::string& name) {
  NamedDest dest(name.c_str());
  if (dest.get() == nullptr) {
    throw PrinterError("The printer \"" + name + "\" is not installed");
  }
  return ResolutionY(dest.get());
}

}  // namespace platform::printer
