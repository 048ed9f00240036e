#include "operations.h"

namespace codemill {

namespace {
constexpr std::size_t kStoredLength = 10;
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
    return std::string(TrimBlanks(result));
}

}  // namespace codemill
