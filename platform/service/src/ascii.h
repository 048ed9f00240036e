// Case rules of the Windows names this library compares: ASCII letters only, whatever the
// process locale.
#pragma once

#include <string_view>

namespace platform::service::detail {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

}  // namespace platform::service::detail
