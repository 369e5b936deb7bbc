// The urlencoded escaping of the control's texts: URLEncode and the form body.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "control/State.h"

namespace vizadavu::detail {

// The escaped form of `raw`: letters, digits and ":/.?=_-$(){}~&" pass, a space
// becomes "+", every other character "%XX" of its code-page byte.
Text URLEncode(std::u16string_view raw);
// The same for a form name or value, with "&" and "=" escaped too.
void AppendFieldEncoded(platform::SecretString& out, std::u16string_view raw);

// The urlencoded body: "name=value" for every entry 1..count whose name is not
// empty and whose value is not empty once spaces are trimmed, joined with "&".
// nullopt when no entry qualifies (nothing to send). The body lives in wiped
// heap blocks only, never in the string object itself.
std::optional<platform::SecretString> EncodeFormBody(std::span<const FormVar> vars, Long count);

}  // namespace vizadavu::detail
