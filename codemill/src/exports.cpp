// The C boundary: null texts become empty, results live in per-thread storage of
// each export, reused from call to call, and nothing thrown inside ever reaches the
// caller.
#include "codemill.h"
#include "operations.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kEmpty = "";

std::string_view View(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// The first `limit` bytes of a text at most: an export that reads no further need not
// look for the end of a long text.
std::string_view Start(const char* text, std::size_t limit)
{
    return text ? std::string_view(text, strnlen(text, limit)) : std::string_view();
}

}  // namespace

extern "C" {

unsigned char CODEMILL_CALL CheckReadCadeId(const char* Id)
{
    try {
        // Fourteen bytes tell a card number's thirteen from a longer text.
        return codemill::CardIdOk(Start(Id, 14)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// Each export owns its slots, so a result stays valid until the same thread calls the
// same export again.

const char* CODEMILL_CALL SetReadCadeId(const char* Prefix, int32_t Number)
{
    thread_local codemill::CardId result;
    try {
        return codemill::MakeCardId(View(Prefix), Number, result) ? result.c_str() : kEmpty;
    } catch (...) {
        return kEmpty;
    }
}

const char* CODEMILL_CALL GetPassword(const char* Text)
{
    thread_local codemill::ShortText<10> result;
    try {
        codemill::ScramblePassword(Start(Text, 10), result);
        return result.c_str();
    } catch (...) {
        return kEmpty;
    }
}

const char* CODEMILL_CALL GETCODEMILL(const char* Text)
{
    // Grows only for a text longer than any before on this thread.
    thread_local std::vector<char> result;
    try {
        const std::string_view text = View(Text);
        if (text.empty()) return kEmpty;
        if (result.size() <= text.size()) result.resize(text.size() + 1);
        codemill::InitialLetters(text, result.data());
        return result.data();
    } catch (...) {
        return kEmpty;
    }
}

unsigned char CODEMILL_CALL GetIsbn(const char* Isbn, const char** Isbn10, const char** Publisher)
{
    thread_local codemill::IsbnParts result;
    try {
        if (!codemill::ConvertIsbn(View(Isbn), result)) return 0;
        // A caller without a place for one of the texts still gets the answer.
        if (Isbn10) *Isbn10 = result.isbn10.c_str();
        if (Publisher) *Publisher = result.publisher.c_str();
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
