#include "control/Encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/CodePage.h"

namespace vizadavu::detail {
namespace {

constexpr std::u16string_view kPassThrough =
    u"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&";

// For every character below 256, what the encoder writes: kPass (itself), kPlus
// ("+") or kEscape ("%" and the hexadecimal digits of its code-page code).
// Names and values also escape "&" and "=".
enum Action : std::uint8_t { kEscape, kPass, kPlus };
using ActionTable = std::array<Action, 256>;

constexpr ActionTable MakeActions(bool escapeSeparators) {
  ActionTable table{};
  for (char16_t c : kPassThrough) table[c] = kPass;
  table[u' '] = kPlus;
  if (escapeSeparators) table[u'&'] = table[u'='] = kEscape;
  return table;
}
constexpr ActionTable kUrlActions = MakeActions(false);
constexpr ActionTable kFieldActions = MakeActions(true);

constexpr char kHex[] = "0123456789ABCDEF";

// What the encoder writes for a character below 256, held four units wide so
// that one store writes it whole; `size` 0: a two-byte code, written by the
// general path.
template <class Char>
struct Piece {
  Char units[4];
  std::uint8_t size;
};
template <class Char>
using PieceTable = std::array<Piece<Char>, 256>;

template <class Char>
PieceTable<Char> MakePieces(const ActionTable& actions) {
  PieceTable<Char> table{};
  for (std::size_t c = 0; c < table.size(); ++c) {
    Piece<Char>& piece = table[c];
    if (actions[c] != kEscape) {
      piece.units[0] = static_cast<Char>(actions[c] == kPass ? c : '+');
      piece.size = 1;
      continue;
    }
    // Below 0x80 every code page is ASCII.
    const std::uint16_t code =
        c < 0x80 ? static_cast<std::uint16_t>(c) : platform::CharToAnsi(static_cast<char16_t>(c));
    if (code > 0xFF) continue;
    piece.units[0] = static_cast<Char>('%');
    piece.units[1] = static_cast<Char>(kHex[code >> 4]);
    piece.units[2] = static_cast<Char>(kHex[code & 0xF]);
    piece.size = 3;
  }
  return table;
}

// The pieces of the process's code page, each table made on its first use: for
// URLEncode, and for form names and values (which also escape "&" and "=").
template <class Char>
const PieceTable<Char>& UrlPieces() {
  static const PieceTable<Char> table = MakePieces<Char>(kUrlActions);
  return table;
}
template <class Char>
const PieceTable<Char>& FieldPieces() {
  static const PieceTable<Char> table = MakePieces<Char>(kFieldActions);
  return table;
}

// Units a piece may write past the end of what it encodes.
constexpr std::size_t kSlack = 3;

// Encodes into `out`, which has room for Width() units per input character and
// kSlack more; returns the end of what was written.
template <class Char>
Char* Encode(std::u16string_view raw, const PieceTable<Char>& pieces, Char* out) {
  const char16_t* p = raw.data();
  const char16_t* const end = p + raw.size();
  while (p != end) {
    const char16_t c = *p++;
    if (c < 256 && pieces[c].size != 0) {
      std::memcpy(out, pieces[c].units, sizeof pieces[c].units);
      out += pieces[c].size;
      continue;
    }
    const std::uint16_t code = platform::CharToAnsi(c);
    // A surrogate pair is one character: one "%3F" for both units.
    if ((c & 0xFC00) == 0xD800 && p != end && (*p & 0xFC00) == 0xDC00) ++p;
    *out++ = static_cast<Char>('%');
    // A two-byte character is one "%" and its four digits, lead byte first.
    for (int shift = code > 0xFF ? 12 : 4; shift >= 0; shift -= 4)
      *out++ = static_cast<Char>(kHex[(code >> shift) & 0xF]);
  }
  return out;
}

// "%" and two digits a character, or four for a two-byte character.
std::size_t Width() {
  return platform::MaxCharBytes() > 1 ? 5 : 3;
}

template <class String>
void AppendEncoded(String& out, std::u16string_view raw,
                   const PieceTable<typename String::value_type>& pieces) {
  const std::size_t start = out.size();
  out.resize(start + raw.size() * Width() + kSlack);
  auto* end = Encode(raw, pieces, out.data() + start);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

}  // namespace

Text URLEncode(std::u16string_view raw) {
  Text out;
  AppendEncoded(out, raw, UrlPieces<char16_t>());
  return out;
}

void AppendFieldEncoded(platform::SecretString& out, std::u16string_view raw) {
  AppendEncoded(out, raw, FieldPieces<char>());
}

std::optional<platform::SecretString> EncodeFormBody(std::span<const FormVar> vars, Long count) {
  if (count < 1 || vars.empty()) return std::nullopt;
  // Larger than the short-string buffer from the start, so that no byte of the
  // body is ever kept inside the object (which moves and is not wiped).
  platform::SecretString body;
  body.reserve(64);
  const std::size_t last = std::min(static_cast<std::size_t>(count), vars.size() - 1);
  for (std::size_t i = 1; i <= last; ++i) {
    const FormVar& var = vars[i];
    const std::size_t first = var.Value.find_first_not_of(u' ');
    if (var.Name.empty() || first == Text::npos) continue;
    if (!body.empty()) body.push_back('&');
    AppendFieldEncoded(body, var.Name);
    body.push_back('=');
    AppendFieldEncoded(body, var.Value);
  }
  if (body.empty()) return std::nullopt;
  return body;
}

}  // namespace vizadavu::detail
