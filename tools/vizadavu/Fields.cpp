// Where the program's fields come from and how -q puts them in the URL.
#include <istream>
#include <string>

#include "tools/vizadavu/Cli.h"

namespace vizadavu::cli {
namespace {

// Length of the valid UTF-8 prefix of text (all of it when it is valid).
std::size_t ValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    std::uint32_t min = 0;
    if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      min = 0x10000;
    } else if (c >= 0xE0) {
      length = 3;
      min = 0x800;
    } else if (c >= 0xC2 && c < 0xE0) {
      length = 2;
      min = 0x80;
    } else if (c >= 0x80) {
      return i;
    }
    if (length > 1) {
      if (i + length > text.size()) return i;
      std::uint32_t code = c & (0x7Fu >> length);
      for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return i;
        code = (code << 6) | (next & 0x3Fu);
      }
      if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return i;
    }
    i += length;
  }
  return i;
}

void AppendField(std::string& out, const vizADAVU& encoder, const std::string& utf8) {
  for (const char c : TextToUtf8(encoder.URLEncode(Utf8ToText(utf8)))) {
    // URLEncode leaves the separators; in a name or value they are data.
    if (c == '&') {
      out += "%26";
    } else if (c == '=') {
      out += "%3D";
    } else {
      out += c;
    }
  }
}

}  // namespace

bool ReadFields(std::istream& in, const std::string& where,
                std::vector<std::pair<std::string, std::string>>& fields) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string place = where + ":" + std::to_string(number);
    if (const std::size_t valid = ValidUtf8(line); valid != line.size()) {
      throw UsageError(place + ": not UTF-8 (byte " + std::to_string(valid + 1) +
                       " of the line); save the file as UTF-8");
    }
    if (line.empty() || line.front() == '#') continue;
    fields.push_back(ParseField(line, place));
  }
  return !in.bad();
}

std::string WithQuery(const std::string& url,
                      const std::vector<std::pair<std::string, std::string>>& fields) {
  const vizADAVU encoder;
  std::string query;
  for (const auto& [name, value] : fields) {
    // The body leaves out what it would not send; so does the query.
    if (name.empty() || value.find_first_not_of(' ') == std::string::npos) continue;
    if (!query.empty()) query += '&';
    AppendField(query, encoder, name);
    query += '=';
    AppendField(query, encoder, value);
  }
  const std::size_t fragment = url.find('#');
  std::string base = url.substr(0, fragment);
  if (query.empty()) return url;
  base += base.find('?') == std::string::npos ? '?' : '&';
  base += query;
  if (fragment != std::string::npos) base += url.substr(fragment);
  return base;
}

}  // namespace vizadavu::cli
