#include "operations.h"

#include <array>
#include <charconv>
#include <cstring>

namespace codemill {

namespace {

constexpr std::size_t kPrefixLength = 4;
constexpr std::size_t kSerialLength = 7;
constexpr std::size_t kCheckedLength = 11;
constexpr std::size_t kCardLength = 1 + kPrefixLength + kSerialLength + 1;

// One position of the running sum: Sum + digit * |Sum - position|, all in 32 bits that
// wrap; card numbers in use depend on the wrapping.
constexpr std::uint32_t SumStep(std::uint32_t sum, std::uint32_t digit, std::uint32_t position)
{
    const std::uint32_t difference = sum - position;
    const std::uint32_t weight =
        static_cast<std::int32_t>(difference) < 0 ? 0u - difference : difference;
    return sum + digit * weight;
}

// The sum after the first three positions, by their digits as a number 0 to 999: each
// step waits for the one before, so three steps in one load shorten the wait.
constexpr std::array<std::uint32_t, 1000> kSumOfFirstThree = [] {
    std::array<std::uint32_t, 1000> sums{};
    for (std::uint32_t digits = 0; digits < 1000; ++digits) {
        const std::uint32_t first = SumStep(0, digits / 100, 1);
        sums[digits] = SumStep(SumStep(first, digits / 10 % 10, 2), digits % 10, 3);
    }
    return sums;
}();

std::uint32_t Digit(char c) { return static_cast<std::uint32_t>(c - '0'); }

// "00" to "99": two digits of a serial number at a time.
constexpr std::array<char, 200> kTwoDigits = [] {
    std::array<char, 200> digits{};
    for (std::size_t n = 0; n < 100; ++n) {
        digits[2 * n] = static_cast<char>('0' + n / 10);
        digits[2 * n + 1] = static_cast<char>('0' + n % 10);
    }
    return digits;
}();

}  // namespace

char CardCheckDigit(std::string_view body)
{
    std::uint32_t sum =
        kSumOfFirstThree[Digit(body[0]) * 100 + Digit(body[1]) * 10 + Digit(body[2])];
    // Each later step as SumStep, with both products of the digit and Sum - position
    // formed while the sign of the difference is found (the same values modulo 2^32).
#pragma GCC unroll 8
    for (std::uint32_t i = 4; i <= kCheckedLength; ++i) {
        const std::uint32_t b = Digit(body[i - 1]);
        const std::uint32_t up = (1 + b) * sum - b * i;
        const std::uint32_t down = (1 - b) * sum + b * i;
        sum = static_cast<std::int32_t>(sum - i) < 0 ? down : up;
    }
    // A sum that ends negative leaves a remainder of -9 to 0; its magnitude (the
    // last decimal digit of the sum) keeps the check digit a single digit, the
    // same one for the maker and the checker.
    const std::int32_t remainder = static_cast<std::int32_t>(sum) % 10;
    return static_cast<char>('0' + (remainder < 0 ? -remainder : remainder));
}

bool MakeCardId(std::string_view prefix, std::int32_t number, CardId& id)
{
    // The check digit needs digits; a minus sign or a letter would land in the body.
    if (number < 0 || !AllDigits(prefix)) return false;
    char* p = id.bytes;
    *p++ = '1';
    // The last four characters of the prefix, "0" in front of a shorter one.
    if (prefix.size() >= kPrefixLength) {
        std::memcpy(p, prefix.data() + prefix.size() - kPrefixLength, kPrefixLength);
    } else {
        for (std::size_t k = 0; k < kPrefixLength; ++k) {
            const std::size_t from = prefix.size() + k;
            p[k] = from >= kPrefixLength ? prefix[from - kPrefixLength] : '0';
        }
    }
    p += kPrefixLength;
    auto serial = static_cast<std::uint32_t>(number);
    if (serial < 10'000'000) {
        // Seven digits, "0"-filled: the last one alone, then two at a time.
        p[6] = static_cast<char>('0' + serial % 10);
        serial /= 10;
        for (std::size_t k = 6; k > 0; k -= 2, serial /= 100) {
            std::memcpy(p + k - 2, &kTwoDigits[2 * (serial % 100)], 2);
        }
        p += kSerialLength;
    } else {
        // A serial of more than seven digits gives a longer number, which the
        // checker refuses; its check digit still covers only the first eleven.
        p = std::to_chars(p, id.bytes + sizeof id.bytes - 2, serial).ptr;
    }
    *p++ = CardCheckDigit(std::string_view(id.bytes + 1, kCheckedLength));
    *p = '\0';
    id.size = static_cast<std::size_t>(p - id.bytes);
    return true;
}

bool CardIdOk(std::string_view id)
{
    if (id.size() != kCardLength || id.front() != '1' || !AllDigits(id.substr(1))) return false;
    return id.back() == CardCheckDigit(id.substr(1, kCheckedLength));
}

}  // namespace codemill
