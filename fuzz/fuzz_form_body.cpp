// EncodeFormBody on a form table built from the input. The body, split on "&"
// and then "=", decodes to exactly the entries 1..count that are filled (name
// not empty, value not only spaces), in order, with every character the code
// page lacks as one "?" (a surrogate pair included); no body at all when none
// is filled.
//
// Input layout: the first byte picks the count relative to the last index
// (byte % 4 - 1: "0" one less, "1" the last index, "2" and "3" beyond the
// table); the rest is text (see TextFromBytes) with one table entry per line
// ("\n"), the first line being entry 0, name and value split at the first tab.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "control/Encoding.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr const char* kTarget = "fuzz_form_body";

std::vector<vizadavu::FormVar> ParseTable(const std::u16string& text) {
  std::vector<vizadavu::FormVar> table;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(u'\n', start);
    const std::u16string line = text.substr(start, end == std::u16string::npos ? end : end - start);
    const std::size_t tab = line.find(u'\t');
    if (tab == std::u16string::npos) {
      table.push_back({line, u""});
    } else {
      table.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  return table;
}

std::u16string ThroughCodePage(const std::u16string& text) {
  return vizadavu::fuzz::ThroughCp1252(text);
}

// Decodes one name or value of the body; "&" and "=" may not appear in it raw.
std::u16string DecodeField(const std::string& field) {
  std::vector<vizadavu::fuzz::DecodedUnit> units;
  FUZZ_CHECK(vizadavu::fuzz::DecodeUrlEncoded(field, false, units));
  std::u16string out;
  for (const auto& unit : units) out.push_back(unit.c);
  return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<vizadavu::FormVar> table =
      ParseTable(vizadavu::fuzz::TextFromBytes(data + 1, size - 1));
  const auto count = static_cast<vizadavu::Long>(table.size()) - 1 + (data[0] % 4) - 1;

  std::vector<vizadavu::FormVar> expected;
  for (std::size_t i = 1; i < table.size() && static_cast<vizadavu::Long>(i) <= count; ++i) {
    const vizadavu::FormVar& var = table[i];
    if (var.Name.empty() || var.Value.find_first_not_of(u' ') == std::u16string::npos) continue;
    expected.push_back({ThroughCodePage(var.Name), ThroughCodePage(var.Value)});
  }

  FUZZ_CHECK(!vizadavu::detail::EncodeFormBody({}, count));  // no table, nothing to send
  const auto body = vizadavu::detail::EncodeFormBody(table, count);
  if (expected.empty()) {
    FUZZ_CHECK(!body.has_value());
    return 0;
  }
  FUZZ_CHECK(body.has_value());
  const std::vector<std::string> pairs = Split(std::string(body->begin(), body->end()), '&');
  FUZZ_CHECK(pairs.size() == expected.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const std::vector<std::string> field = Split(pairs[i], '=');
    FUZZ_CHECK(field.size() == 2);
    FUZZ_CHECK(DecodeField(field[0]) == expected[i].Name);
    FUZZ_CHECK(DecodeField(field[1]) == expected[i].Value);
  }
  return 0;
}
