// The C boundary: null texts become empty, results live in per-thread storage of
// each export, and nothing thrown inside ever reaches the caller.
#include "codemill.h"
#include "operations.h"

#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr const char* kEmpty = "";

std::string_view View(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// Each export owns its slots, so a result stays valid until the same thread
// calls the same export again.
const char* Keep(std::string& slot, std::string value)
{
    slot = std::move(value);
    return slot.c_str();
}

}  // namespace

extern "C" {

unsigned char CODEMILL_CALL CheckReadCadeId(const char* Id)
{
    try {
        return codemill::CardIdOk(View(Id)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

const char* CODEMILL_CALL SetReadCadeId(const char* Prefix, int32_t Number)
{
    thread_local std::string result;
    try {
        auto id = codemill::MakeCardId(View(Prefix), Number);
        return id ? Keep(result, std::move(*id)) : kEmpty;
    } catch (...) {
        return kEmpty;
    }
}

const char* CODEMILL_CALL GetPassword(const char* Text)
{
    thread_local std::string result;
    try {
        return Keep(result, codemill::ScramblePassword(View(Text)));
    } catch (...) {
        return kEmpty;
    }
}

const char* CODEMILL_CALL GETCODEMILL(const char* Text)
{
    thread_local std::string result;
    try {
        return Keep(result, codemill::InitialLetters(View(Text)));
    } catch (...) {
        return kEmpty;
    }
}

unsigned char CODEMILL_CALL GetIsbn(const char* Isbn, const char** Isbn10, const char** Publisher)
{
    thread_local std::string isbn10;
    thread_local std::string publisher;
    try {
        auto parts = codemill::ConvertIsbn(View(Isbn));
        if (!parts) return 0;
        // A caller without a place for one of the texts still gets the answer.
        const char* isbn10Text = Keep(isbn10, std::move(parts->isbn10));
        const char* publisherText = Keep(publisher, std::move(parts->publisher));
        if (Isbn10) *Isbn10 = isbn10Text;
        if (Publisher) *Publisher = publisherText;
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
