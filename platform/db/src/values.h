// Field types and value conversions that every backend shares.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/db.h"

namespace platform::db::detail {

// The field type of a declared column type ("varchar(20)", "int", "money"); no value
// when the text names no type known here, so the backend decides by its own rules.
std::optional<FieldType> TypeOfDeclared(std::string_view declared);

// Decimal text (sign, digits, ".", exponent) to ten-thousandths, exactly, a fifth
// decimal rounding half to even; no value when it is no number or out of range.
std::optional<Currency> ParseCurrency(std::string_view text);

std::optional<DateTime> TryParseDateTime(std::string_view text);

// The whole number a double holds exactly; no value for a fraction, NaN, an infinity
// or a magnitude beyond the 64-bit range.
std::optional<std::int64_t> WholeNumber(double d);

}  // namespace platform::db::detail
