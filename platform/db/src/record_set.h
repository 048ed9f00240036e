// The rows of a client-side record set, held compactly: every cell is 16 bytes, with
// an integer, number, truth value, amount, date or a text of up to 15 bytes inside
// it, and longer texts in blocks of bytes. Cells are kept in blocks that never move,
// so a record set grows while it loads without ever holding two copies of itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/db.h"

namespace platform::db::detail {

class RecordSet {
 public:
  enum class Kind : std::uint8_t { Null, Integer, Float, Boolean, Currency, DateTime, Text };

  explicit RecordSet(size_t columns = 0);
  RecordSet(RecordSet&&) noexcept = default;
  RecordSet& operator=(RecordSet&&) noexcept = default;
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;

  size_t Columns() const { return columns_; }
  size_t Rows() const { return rows_; }

  // Appends a row whose cells are all NULL; gives its number.
  size_t AddRow();

  void SetNull(size_t row, size_t col);
  void SetInteger(size_t row, size_t col, std::int64_t v);
  void SetFloat(size_t row, size_t col, double v);
  void SetBoolean(size_t row, size_t col, bool v);
  void SetCurrency(size_t row, size_t col, Currency v);
  void SetDateTime(size_t row, size_t col, const DateTime& v);
  // Text or bytes. A cell's earlier long text is not reclaimed: set each cell once,
  // apart from turning a number into its text.
  void SetText(size_t row, size_t col, std::string_view v);
  void Set(size_t row, size_t col, const Value& v);

  Kind KindOf(size_t row, size_t col) const;
  // The cell's content; only for a cell of that kind.
  std::int64_t Integer(size_t row, size_t col) const;
  double Float(size_t row, size_t col) const;
  std::string_view Text(size_t row, size_t col) const;
  Value Get(size_t row, size_t col) const;

 private:
  struct alignas(8) Cell {
    unsigned char b[16];
  };
  static_assert(sizeof(Cell) == 16);

  Cell& At(size_t row, size_t col) { return blocks_[row >> shift_][((row & mask_) * columns_) + col]; }
  const Cell& At(size_t row, size_t col) const { return blocks_[row >> shift_][((row & mask_) * columns_) + col]; }
  // Copies bytes into the text blocks; gives where they now lie.
  const char* Keep(std::string_view bytes);

  size_t columns_ = 0;
  size_t rows_ = 0;
  unsigned shift_ = 0;  // a block holds 2^shift_ rows
  size_t mask_ = 0;
  std::vector<std::unique_ptr<Cell[]>> blocks_;
  std::vector<std::unique_ptr<char[]>> texts_;
  char* textFree_ = nullptr;
  size_t textLeft_ = 0;
};

}  // namespace platform::db::detail
