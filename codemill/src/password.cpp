#include "operations.h"

namespace codemill {

namespace {
constexpr std::size_t kStoredLength = 10;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
}  // namespace

std::string ScramblePassword(std::string_view text)
{
    std::string result(text.substr(0, kStoredLength));
    result.resize(kStoredLength, ' ');
    for (char& c : result) {
        c = static_cast<char>(0xFF - static_cast<unsigned char>(c));
    }
    // Trimming both ends makes the scramble its own inverse: the padding of the
    // stored form comes back as spaces and is dropped again.
    std::size_t begin = 0;
    std::size_t end = result.size();
    while (begin < end && IsBlank(result[begin])) ++begin;
    while (end > begin && IsBlank(result[end - 1])) --end;
    return result.substr(begin, end - begin);
}

}  // namespace codemill
