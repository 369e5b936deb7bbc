// UTF-8, the encoding a Linux host and a URL's international host name speak,
// to and from 16-bit text. Invalid input (malformed UTF-8, an unpaired
// surrogate) becomes U+FFFD, one per malformed sequence.
#pragma once

#include <string>
#include <string_view>

namespace vizadavu::platform {

std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

}  // namespace vizadavu::platform
