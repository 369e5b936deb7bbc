// ASCII case, as protocol text (header names, schemes, host names) compares it:
// only A-Z and a-z fold, whatever the locale.
#pragma once

#include <algorithm>
#include <string_view>

namespace vizadavu::platform {

constexpr char AsciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

}  // namespace vizadavu::platform
