// The status and body of the center's reply to a batch into BatchAcknowledged, which
// decides whether the batch's journal rows may be deleted. Input: the status as decimal
// text on the first line, the body after it. Only a 2xx status with the four bytes
// "OK" in double quotes is an acknowledgement: no blank, line end, second reply or
// other case around it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "marrowind/core/group_thread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string_view statusText = input.substr(0, nl);
  const std::string_view body = nl == std::string_view::npos ? std::string_view() : input.substr(nl + 1);
  // A status line is three digits; longer texts still give some number, wrapping.
  long status = 0;
  const bool negative = statusText.starts_with('-');
  for (char c : statusText.substr(negative ? 1 : 0)) {
    const long digit = c >= '0' && c <= '9' ? c - '0' : static_cast<unsigned char>(c) % 10;
    status = status * 10 % 1000000 + digit;
  }
  if (negative) status = -status;

  const bool acknowledged = marrowind::BatchAcknowledged(status, body);
  const bool expected = status / 100 == 2 && body.size() == 4 && body[0] == '"' &&
                        body[1] == 'O' && body[2] == 'K' && body[3] == '"';
  FUZZ_CHECK(acknowledged == expected,
             "status " + std::to_string(status) + ", body \"" + std::string(body) + "\"");
  return 0;
}
