#include "tools/common/FormTools.h"

#include "vizadavu/vizADAVU.h"

namespace vizadavu::tools {

std::pair<std::string, std::string> SplitField(const std::string& text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) throw FieldError("'" + text + "' is not NAME=VALUE");
  if (eq == 0) throw FieldError("'" + text + "' has an empty name");
  return {text.substr(0, eq), text.substr(eq + 1)};
}

const std::vector<std::pair<std::string, std::string>>& DemoFields() {
  static const std::vector<std::pair<std::string, std::string>> fields = {{"name", "Ada Lovelace"},
                                                                          {"city", "Z\xC3\xBCrich"},
                                                                          {"note", "50% off & 2=2"},
                                                                          {"empty", "   "}};
  return fields;
}

std::string DemoUrl(const std::string& hostPort) {
  return "http://" + hostPort + "/demo/form";
}

bool CodePageCarries(std::u16string_view text) {
  // The code page's stand-in is "?", so any other character that comes out as
  // "?" has no code of its own (a surrogate half among them).
  for (char16_t c : text) {
    if (c != u'?' && TextToAnsi(Text(1, c)) == "?") return false;
  }
  return true;
}

}  // namespace vizadavu::tools
