#include "operations.h"

namespace codemill {

namespace {
constexpr std::size_t kStoredLength = 10;
}  // namespace

void ScramblePassword(std::string_view text, ShortText<10>& stored)
{
    // The first ten bytes, spaces after a shorter text, each replaced by its complement.
    char scrambled[kStoredLength];
    for (std::size_t i = 0; i < kStoredLength; ++i) {
        const auto c = static_cast<unsigned char>(i < text.size() ? text[i] : ' ');
        scrambled[i] = static_cast<char>(0xFF - c);
    }
    // Trimming both ends makes the scramble its own inverse: the padding of the
    // stored form comes back as spaces and is dropped again.
    const std::string_view kept = TrimBlanks(std::string_view(scrambled, kStoredLength));
    for (std::size_t i = 0; i < kept.size(); ++i) stored.bytes[i] = kept[i];
    stored.bytes[kept.size()] = '\0';
    stored.size = kept.size();
}

}  // namespace codemill
