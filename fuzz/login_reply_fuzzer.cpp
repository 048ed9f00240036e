// A body of the cluster center's login reply into SplitLoginReply, the split behind
// HttpGetResult. The reply passes through code page 936 first; then a reply that starts
// with a double quote and "OK" is a success whose text lies between "OK" and the last
// character, any other the text between its first and last character. The text is
// always whole UTF-8 characters, and an ASCII reply is split byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "marrowind/core/gl_expand.h"
#include "platform/text.h"

namespace {

size_t FirstCharLength(std::string_view s) {
  const auto b = static_cast<unsigned char>(s[0]);
  return b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 4;
}

bool IsOneChar(std::string_view s) { return !s.empty() && FirstCharLength(s) == s.size(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  std::string text = "unset";
  const bool ok = marrowind::SplitLoginReply(reply, text);

  const std::string body = platform::text::Cp936ToUtf8(platform::text::Utf8ToCp936(reply));
  FUZZ_CHECK(fuzz::ValidUtf8(text), "text of a broken character");
  FUZZ_CHECK(ok == body.starts_with("\"OK"), "success of " + body);
  if (ok) {
    // "OK" + the text + one last character, or nothing after "OK".
    const std::string_view rest = std::string_view(body).substr(3);
    FUZZ_CHECK(rest.starts_with(text) &&
                   (rest.empty() ? text.empty() : IsOneChar(rest.substr(text.size()))),
               "number " + text + " of " + body);
  } else if (body.empty() || IsOneChar(body)) {
    FUZZ_CHECK(text.empty(), "text " + text + " of " + body);
  } else {
    const std::string_view inner = std::string_view(body).substr(FirstCharLength(body));
    FUZZ_CHECK(inner.starts_with(text) && IsOneChar(inner.substr(text.size())),
               "text " + text + " of " + body);
  }

  bool ascii = true;
  for (char c : reply) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    FUZZ_CHECK(body == reply, "an ASCII reply changed on its way through code page 936");
    if (ok) FUZZ_CHECK(text == (size > 4 ? reply.substr(3, size - 4) : ""), std::string(reply));
    if (!ok) FUZZ_CHECK(text == (size > 2 ? reply.substr(1, size - 2) : ""), std::string(reply));
  }
  return 0;
}
