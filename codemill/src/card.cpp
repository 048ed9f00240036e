#include "operations.h"

#include <string>

namespace codemill {

namespace {

constexpr std::size_t kPrefixLength = 4;
constexpr std::size_t kSerialLength = 7;
constexpr std::size_t kCheckedLength = 11;
constexpr std::size_t kCardLength = 1 + kPrefixLength + kSerialLength + 1;

}  // namespace

char CardCheckDigit(std::string_view body)
{
    // The running sum is 32-bit and wraps; card numbers in use depend on it.
    std::uint32_t sum = 0;
    for (std::uint32_t i = 1; i <= kCheckedLength; ++i) {
        const std::uint32_t difference = sum - i;
        const std::uint32_t weight =
            static_cast<std::int32_t>(difference) < 0 ? 0u - difference : difference;
        sum += static_cast<std::uint32_t>(body[i - 1] - '0') * weight;
    }
    // A sum that ends negative leaves a remainder of -9 to 0; its magnitude (the
    // last decimal digit of the sum) keeps the check digit a single digit, the
    // same one for the maker and the checker.
    const std::int32_t remainder = static_cast<std::int32_t>(sum) % 10;
    return static_cast<char>('0' + (remainder < 0 ? -remainder : remainder));
}

std::optional<std::string> MakeCardId(std::string_view prefix, std::int32_t number)
{
    // The check digit needs digits; a minus sign or a letter would land in the body.
    if (number < 0 || !AllDigits(prefix)) return std::nullopt;
    std::string body;
    if (prefix.size() >= kPrefixLength) {
        body = prefix.substr(prefix.size() - kPrefixLength);
    } else {
        body.assign(kPrefixLength - prefix.size(), '0');
        body += prefix;
    }
    const std::string serial = std::to_string(number);
    if (serial.size() < kSerialLength) body.append(kSerialLength - serial.size(), '0');
    body += serial;
    // A serial of more than seven digits gives a longer number, which the
    // checker refuses; its check digit still covers only the first eleven.
    return "1" + body + CardCheckDigit(body);
}

bool CardIdOk(std::string_view id)
{
    if (id.size() != kCardLength || id.front() != '1' || !AllDigits(id.substr(1))) return false;
    return id.back() == CardCheckDigit(id.substr(1, kCheckedLength));
}

}  // namespace codemill
