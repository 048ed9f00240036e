// The compact record set gives back every value as it was set, across its blocks of
// cells and of texts.
#include "record_set.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using namespace platform::db;
using detail::RecordSet;

TEST(RecordSet, GivesBackWhatWasSet) {
  const std::vector<Value> values = {
      std::monostate{},
      std::int64_t{0},
      std::numeric_limits<std::int64_t>::min(),
      std::numeric_limits<std::int64_t>::max(),
      -0.5,
      1e300,
      true,
      false,
      Currency{-1},
      Currency{std::numeric_limits<std::int64_t>::max()},
      DateTime{2024, 3, 5, 9, 30, 5, 999},
      DateTime{},
      // Beyond what fits inside a cell: kept with the long texts.
      DateTime{-5, 300, 1, 99999, -1, 0, 70000},
      std::string(),
      std::string("图书"),
      std::string(15, 'x'),  // the longest text inside a cell
      std::string(16, 'y'),
      std::string("a\0b", 3),
      std::string(20000, 'z'),  // a text block of its own
      std::string(70000, 'w'),
  };
  // Three columns, enough rows for several blocks of cells and of texts.
  RecordSet rs(3);
  const size_t rows = 3000;
  auto at = [&](size_t row, size_t col) { return values[(row * 3 + col) % values.size()]; };
  for (size_t r = 0; r < rows; ++r) {
    ASSERT_EQ(rs.AddRow(), r);
    for (size_t c = 0; c < 3; ++c) rs.Set(r, c, at(r, c));
  }
  ASSERT_EQ(rs.Rows(), rows);
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < 3; ++c) ASSERT_EQ(rs.Get(r, c), at(r, c)) << r << "," << c;
  }
  // A number turned into its text in place.
  rs.SetInteger(0, 0, 42);
  EXPECT_EQ(rs.KindOf(0, 0), RecordSet::Kind::Integer);
  rs.SetText(0, 0, "forty-two and a long tail");
  EXPECT_EQ(rs.Get(0, 0), Value(std::string("forty-two and a long tail")));
  EXPECT_EQ(rs.Get(0, 1), at(0, 1));
  // Moved whole, nothing copied.
  RecordSet moved = std::move(rs);
  EXPECT_EQ(moved.Get(rows - 1, 2), at(rows - 1, 2));
}
