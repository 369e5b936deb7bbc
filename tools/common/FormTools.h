// What the vizadavu command-line program and the vizadavu-form window share: reading
// NAME=VALUE fields, the demonstration's form, and whether the control's code page
// can carry a text.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vizadavu::tools {

struct FieldError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// Splits "NAME=VALUE" at the first "=" (the value may hold more). Throws FieldError
// ("'TEXT' is not NAME=VALUE", "'TEXT' has an empty name").
std::pair<std::string, std::string> SplitField(const std::string& text);

// The form the demonstrations submit to their loopback form-echo server: a non-ASCII
// character, characters that need escaping, and a blank field the control leaves out.
const std::vector<std::pair<std::string, std::string>>& DemoFields();
// The demonstration's URL on the loopback server at "HOST:PORT".
std::string DemoUrl(const std::string& hostPort);

// True when every character has a code in the control's code page (Windows-1252);
// the control sends the others as "?".
bool CodePageCarries(std::u16string_view text);

}  // namespace vizadavu::tools
