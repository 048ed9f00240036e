#include "record_set.h"

#include <bit>
#include <cstring>

namespace platform::db::detail {
namespace {

// The first byte of a cell says what it holds. Numbers lie in bytes 8 to 15; a short
// text fills bytes 1 to 15 and its tag is kShortText plus its length.
enum Tag : unsigned char {
  kNull = 0,
  kInteger = 1,
  kFloat = 2,
  kBoolean = 3,
  kCurrency = 4,
  kDateTime = 5,      // month to second in bytes 1 to 5, milliseconds in 6 and 7, year in 8 to 11
  kDateTimeAway = 6,  // a DateTime beyond those ranges, kept with the long texts
  kLongText = 7,      // length in bytes 1 to 7, address in 8 to 15
  kShortText = 16,
};
constexpr size_t kShortMax = 15;

// About 64 KiB of cells a block; texts in blocks of the same size.
constexpr size_t kBlockCells = 4096;
constexpr size_t kTextBlock = 64 * 1024;

template <typename T>
void Put(unsigned char* at, const T& v) {
  std::memcpy(at, &v, sizeof v);
}

template <typename T>
T Take(const unsigned char* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

bool Byte(int v) { return v >= 0 && v <= 255; }

}  // namespace

RecordSet::RecordSet(size_t columns) : columns_(columns) {
  size_t rowsPerBlock = std::bit_floor(std::max<size_t>(1, kBlockCells / std::max<size_t>(1, columns)));
  shift_ = static_cast<unsigned>(std::countr_zero(rowsPerBlock));
  mask_ = rowsPerBlock - 1;
}

size_t RecordSet::AddRow() {
  size_t row = rows_;
  if ((row & mask_) == 0) {
    size_t n = (mask_ + 1) * std::max<size_t>(1, columns_);
    blocks_.push_back(std::make_unique_for_overwrite<Cell[]>(n));
  }
  ++rows_;
  for (size_t c = 0; c < columns_; ++c) At(row, c).b[0] = kNull;
  return row;
}

const char* RecordSet::Keep(std::string_view bytes) {
  if (bytes.size() > kTextBlock / 4) {
    // A long text of its own: it would leave most of a shared block unused.
    auto own = std::make_unique_for_overwrite<char[]>(bytes.size());
    std::memcpy(own.get(), bytes.data(), bytes.size());
    texts_.push_back(std::move(own));
    return texts_.back().get();
  }
  if (bytes.size() > textLeft_) {
    texts_.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
    textFree_ = texts_.back().get();
    textLeft_ = kTextBlock;
  }
  char* at = textFree_;
  std::memcpy(at, bytes.data(), bytes.size());
  textFree_ += bytes.size();
  textLeft_ -= bytes.size();
  return at;
}

void RecordSet::SetNull(size_t row, size_t col) { At(row, col).b[0] = kNull; }

void RecordSet::SetInteger(size_t row, size_t col, std::int64_t v) {
  Cell& c = At(row, col);
  c.b[0] = kInteger;
  Put(c.b + 8, v);
}

void RecordSet::SetFloat(size_t row, size_t col, double v) {
  Cell& c = At(row, col);
  c.b[0] = kFloat;
  Put(c.b + 8, v);
}

void RecordSet::SetBoolean(size_t row, size_t col, bool v) {
  Cell& c = At(row, col);
  c.b[0] = kBoolean;
  c.b[1] = v ? 1 : 0;
}

void RecordSet::SetCurrency(size_t row, size_t col, Currency v) {
  Cell& c = At(row, col);
  c.b[0] = kCurrency;
  Put(c.b + 8, v.units);
}

void RecordSet::SetDateTime(size_t row, size_t col, const DateTime& v) {
  Cell& c = At(row, col);
  if (Byte(v.month) && Byte(v.day) && Byte(v.hour) && Byte(v.minute) && Byte(v.second) && v.millisecond >= 0 &&
      v.millisecond <= 0xFFFF) {
    c.b[0] = kDateTime;
    c.b[1] = static_cast<unsigned char>(v.month);
    c.b[2] = static_cast<unsigned char>(v.day);
    c.b[3] = static_cast<unsigned char>(v.hour);
    c.b[4] = static_cast<unsigned char>(v.minute);
    c.b[5] = static_cast<unsigned char>(v.second);
    Put(c.b + 6, static_cast<std::uint16_t>(v.millisecond));
    Put(c.b + 8, static_cast<std::int32_t>(v.year));
    return;
  }
  const char* away = Keep(std::string_view(reinterpret_cast<const char*>(&v), sizeof v));
  c.b[0] = kDateTimeAway;
  Put(c.b + 8, away);
}

void RecordSet::SetText(size_t row, size_t col, std::string_view v) {
  Cell& c = At(row, col);
  if (v.size() <= kShortMax) {
    c.b[0] = static_cast<unsigned char>(kShortText + v.size());
    if (!v.empty()) std::memcpy(c.b + 1, v.data(), v.size());
    return;
  }
  const char* at = Keep(v);
  c.b[0] = kLongText;
  std::uint64_t n = v.size();
  for (int i = 1; i < 8; ++i, n >>= 8) c.b[i] = static_cast<unsigned char>(n & 0xFF);
  Put(c.b + 8, at);
}

void RecordSet::Set(size_t row, size_t col, const Value& v) {
  if (auto* n = std::get_if<std::int64_t>(&v)) SetInteger(row, col, *n);
  else if (auto* d = std::get_if<double>(&v)) SetFloat(row, col, *d);
  else if (auto* b = std::get_if<bool>(&v)) SetBoolean(row, col, *b);
  else if (auto* m = std::get_if<Currency>(&v)) SetCurrency(row, col, *m);
  else if (auto* t = std::get_if<DateTime>(&v)) SetDateTime(row, col, *t);
  else if (auto* s = std::get_if<std::string>(&v)) SetText(row, col, *s);
  else SetNull(row, col);
}

RecordSet::Kind RecordSet::KindOf(size_t row, size_t col) const {
  switch (At(row, col).b[0]) {
    case kNull: return Kind::Null;
    case kInteger: return Kind::Integer;
    case kFloat: return Kind::Float;
    case kBoolean: return Kind::Boolean;
    case kCurrency: return Kind::Currency;
    case kDateTime:
    case kDateTimeAway: return Kind::DateTime;
    default: return Kind::Text;
  }
}

std::int64_t RecordSet::Integer(size_t row, size_t col) const { return Take<std::int64_t>(At(row, col).b + 8); }

double RecordSet::Float(size_t row, size_t col) const { return Take<double>(At(row, col).b + 8); }

std::string_view RecordSet::Text(size_t row, size_t col) const {
  const Cell& c = At(row, col);
  if (c.b[0] >= kShortText) return std::string_view(reinterpret_cast<const char*>(c.b + 1), c.b[0] - kShortText);
  std::uint64_t n = 0;
  for (int i = 7; i >= 1; --i) n = (n << 8) | c.b[i];
  return std::string_view(Take<const char*>(c.b + 8), n);
}

Value RecordSet::Get(size_t row, size_t col) const {
  const Cell& c = At(row, col);
  switch (c.b[0]) {
    case kNull: return std::monostate{};
    case kInteger: return Take<std::int64_t>(c.b + 8);
    case kFloat: return Take<double>(c.b + 8);
    case kBoolean: return c.b[1] != 0;
    case kCurrency: return Currency{Take<std::int64_t>(c.b + 8)};
    case kDateTime:
      return DateTime{Take<std::int32_t>(c.b + 8), c.b[1], c.b[2], c.b[3], c.b[4], c.b[5],
                      Take<std::uint16_t>(c.b + 6)};
    case kDateTimeAway: {
      DateTime d;
      std::memcpy(&d, Take<const char*>(c.b + 8), sizeof d);
      return d;
    }
    default: return std::string(Text(row, col));
  }
}

}  // namespace platform::db::detail
