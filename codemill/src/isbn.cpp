#include "operations.h"

namespace codemill {

namespace {

int DigitAt(std::string_view text, std::size_t i) { return text[i] - '0'; }

}  // namespace

bool Isbn13Ok(std::string_view text)
{
    if (text.size() != 13 || !AllDigits(text)) return false;
    int sum = 0;
#pragma GCC unroll 12
    for (std::size_t i = 0; i < 12; ++i) {
        sum += DigitAt(text, i) * (i % 2 == 0 ? 1 : 3);
    }
    return DigitAt(text, 12) == (10 - sum % 10) % 10;
}

char Isbn10Check(std::string_view nineDigits)
{
    int sum = 0;
#pragma GCC unroll 9
    for (std::size_t i = 0; i < 9; ++i) {
        sum += DigitAt(nineDigits, i) * static_cast<int>(10 - i);
    }
    const int r = sum % 11;
    if (r == 0) return '0';
    if (r == 1) return 'X';
    return static_cast<char>('0' + (11 - r));
}

std::string_view PublisherCode(std::string_view isbn10)
{
    std::size_t length = 0;
    switch (isbn10[1]) {
        case '0': length = 2; break;
        case '1': case '2': case '3': length = 3; break;
        case '4': case '5': length = 4; break;
        case '6': case '7': case '8': length = 5; break;
        default: length = 6; break;  // '9'
    }
    return isbn10.substr(1, length);
}

bool ConvertIsbn(std::string_view isbn, IsbnParts& parts)
{
    // The trimmed length only picks the path; the checks run on the text as
    // given, so blanks around a number reject it.
    const std::string_view trimmed = TrimBlanks(isbn);
    std::string_view nine;
    char check = 0;
    if (trimmed.size() == 13) {
        if (!Isbn13Ok(isbn) || isbn.substr(0, 3) != "978") return false;
        nine = isbn.substr(3, 9);
        check = Isbn10Check(nine);
    } else if (trimmed.size() == 10 && trimmed.front() == '7') {
        // The nine digits and their check character must be the text exactly.
        nine = isbn.substr(0, 9);
        if (isbn.size() != 10 || !AllDigits(nine)) return false;
        check = Isbn10Check(nine);
        if (check != isbn[9]) return false;
    } else {
        return false;
    }
    parts.isbn10.Assign(nine);
    parts.isbn10.Append(check);
    parts.publisher.Assign(PublisherCode(parts.isbn10.view()));
    return true;
}

}  // namespace codemill
