// Conversions between the control's 16-bit text and the byte encodings a Linux
// host meets: UTF-8 and the control's code page.
#include <cstdint>

#include "platform/CodePage.h"
#include "platform/Utf8.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu {

Text Utf8ToText(std::string_view utf8) {
  return platform::FromUtf8(utf8);
}

std::string TextToUtf8(const Text& text) {
  return platform::ToUtf8(text);
}

Text AnsiToText(std::string_view bytes) {
  Text out;
  platform::AppendAnsiAsText(out, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                             bytes.size());
  return out;
}

std::string TextToAnsi(const Text& text) {
  std::string out(text.size() * platform::MaxCharBytes(), '\0');
  auto* bytes = reinterpret_cast<std::uint8_t*>(out.data());
  const std::size_t size = text.size();
  std::size_t n = 0;
  // Runs without surrogates go through the code page's table in one call; a
  // surrogate (a pair, or one alone) is one "?".
  for (std::size_t i = 0; i < size;) {
    std::size_t run = i;
    while (run < size && (text[run] & 0xF800) != 0xD800) ++run;
    n += platform::CharsToAnsi(text.data() + i, run - i, bytes + n);
    i = run;
    if (i < size) {
      bytes[n++] = '?';
      i += platform::CharUnits(text.data(), i, size);
    }
  }
  out.resize(n);
  return out;
}

}  // namespace vizadavu
