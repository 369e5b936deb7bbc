// The case files' parser, the comparison of a run with its case, and the table.
#include "tools/cases/CaseFile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vizadavu::cases {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

long Number(std::string_view text) {
  text = Trim(text);
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    throw std::invalid_argument("not a number: " + std::string(text));
  return value;
}

bool YesNo(std::string_view text) {
  if (text == "yes") return true;
  if (text == "no") return false;
  throw std::invalid_argument("expected yes or no: " + std::string(text));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw std::invalid_argument("bad \\x escape");
}

// One "..." literal at the start of `s`; consumes it.
std::string Literal(std::string_view& s) {
  if (s.empty() || s.front() != '"') throw std::invalid_argument("expected a \"...\" string");
  std::string out;
  std::size_t i = 1;
  for (; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) break;
    switch (s[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'x':
        if (i + 2 >= s.size()) throw std::invalid_argument("bad \\x escape");
        out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
        i += 2;
        break;
      default:
        throw std::invalid_argument(std::string("unknown escape \\") + s[i]);
    }
  }
  if (i >= s.size()) throw std::invalid_argument("unterminated string");
  s.remove_prefix(i + 1);
  return out;
}

const std::string_view kExpectationKeys[] = {
    "events",       "reply",          "reply-prefix",   "http-status",  "array-size", "request",
    "request-line", "request-header", "request-absent", "request-body", "reason",     "skip"};

void Apply(Expectation& e, std::string_view key, std::string_view value, bool& headersFresh) {
  const bool any = value == "any";
  if (key == "events") {
    e.events.clear();
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const std::string_view event = Trim(rest.substr(0, comma));
      if (event != "EndTransfer" && event != "Error" && event.rfind("Error ", 0) != 0 &&
          event.rfind("Status ", 0) != 0)
        throw std::invalid_argument("unknown event: " + std::string(event));
      e.events.emplace_back(event);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  } else if (key == "reply") {
    e.reply = any ? std::nullopt : std::optional(ParseBytes(value));
  } else if (key == "reply-prefix") {
    e.replyPrefix = any ? std::nullopt : std::optional(ParseBytes(value));
  } else if (key == "http-status") {
    e.httpStatus = any ? std::nullopt : std::optional(Number(value));
  } else if (key == "array-size") {
    e.arraySize = any ? std::nullopt : std::optional(Number(value));
  } else if (key == "request") {
    e.request = any ? std::nullopt : std::optional(ParseBytes(value));
  } else if (key == "request-line") {
    e.requestLine = any ? std::nullopt : std::optional(std::string(value));
  } else if (key == "request-header") {
    if (headersFresh) e.requestHeaders.clear();
    headersFresh = false;
    if (value.find(':') == std::string_view::npos)
      throw std::invalid_argument("request-header needs Name: value");
    e.requestHeaders.emplace_back(value);
  } else if (key == "request-absent") {
    e.requestAbsent.emplace_back(value);
  } else if (key == "request-body") {
    e.requestBody = any ? std::nullopt : std::optional(ParseBytes(value));
  } else if (key == "reason") {
    e.reason = value;
  } else if (key == "skip") {
    e.skip = value;
  }
}

void Input(Case& c, std::string_view key, std::string_view value) {
  if (key == "title") {
    c.title = value;
  } else if (key == "path") {
    c.path = value;
  } else if (key == "action") {
    if (value != "POST" && value != "GET") throw std::invalid_argument("action is POST or GET");
    c.post = value == "POST";
  } else if (key == "read") {
    c.reads.clear();
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const std::string_view one = Trim(rest.substr(0, comma));
      c.reads.push_back(one == "chunked" ? -1 : Number(one));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  } else if (key == "field") {
    const std::size_t equals = value.find(" = ");
    if (equals == std::string_view::npos) throw std::invalid_argument("field is name = \"value\"");
    c.fields.emplace_back(Trim(value.substr(0, equals)), ParseBytes(value.substr(equals + 3)));
  } else if (key == "yield") {
    c.yield = YesNo(value);
  } else if (key == "strict") {
    c.strict = YesNo(value);
  } else if (key == "cancel") {
    if (value != "status 21" && value != "status 30")
      throw std::invalid_argument("cancel is status 21 or status 30");
    c.cancelInStatus = Number(value.substr(7));
  } else if (key == "tls") {
    if (std::find(std::begin(kTlsKinds), std::end(kTlsKinds), value) == std::end(kTlsKinds))
      throw std::invalid_argument("unknown tls: " + std::string(value));
    c.tls = value;
  } else if (key == "scheme") {
    if (value != "http" && value != "https") throw std::invalid_argument("scheme is http or https");
    c.scheme = value;
  } else if (key == "listen") {
    c.listen = YesNo(value);
  } else if (key == "receive") {
    if (value != "request" && value != "some") throw std::invalid_argument("receive: request|some");
    c.script.push_back({value == "request" ? Step::kReadRequest : Step::kReadSome, {}, {}});
  } else if (key == "send") {
    c.script.push_back({Step::kSend, ParseBytes(value), {}});
  } else if (key == "pause") {
    if (value.size() < 3 || value.substr(value.size() - 2) != "ms")
      throw std::invalid_argument("pause is N ms, as 300ms");
    c.script.push_back(
        {Step::kPause, {}, std::chrono::milliseconds(Number(value.substr(0, value.size() - 2)))});
  } else if (key == "end") {
    const std::pair<std::string_view, End> ends[] = {
        {"fin", End::kFin}, {"rst", End::kReset}, {"cut", End::kCut}, {"hang", End::kHang}};
    const auto it = std::find_if(std::begin(ends), std::end(ends),
                                 [&](const auto& e) { return e.first == value; });
    if (it == std::end(ends)) throw std::invalid_argument("end is fin, rst, cut or hang");
    c.end = it->second;
  } else {
    throw std::invalid_argument("unknown key: " + std::string(key));
  }
}

}  // namespace

std::string ParseBytes(std::string_view expression) {
  std::string out;
  std::string_view s = Trim(expression);
  for (;;) {
    std::string term = Literal(s);
    s = Trim(s);
    std::size_t count = 1;
    if (!s.empty() && s.front() == '*') {
      s = Trim(s.substr(1));
      const std::size_t end = std::min(s.find(' '), s.size());
      count = static_cast<std::size_t>(Number(s.substr(0, end)));
      s = Trim(s.substr(end));
    }
    for (std::size_t i = 0; i < count; ++i) out += term;
    if (s.empty()) return out;
    if (s.front() != '+') throw std::invalid_argument("expected + between strings");
    s = Trim(s.substr(1));
  }
}

const Expectation& Case::For(std::string_view implementation) const {
  const auto own = expected.find(implementation);
  return own != expected.end() ? own->second : expected.at("");
}

bool Case::Differs(std::string_view implementation) const {
  const auto own = expected.find(implementation);
  return own != expected.end() && own->second.differs;
}

Case ParseCase(std::string name, std::string_view text) {
  Case c;
  c.name = std::move(name);
  std::vector<std::pair<std::string, std::string>> own;  // "impl.key", value
  Expectation common;
  bool headersFresh = true;
  int number = 0;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    ++number;
    const std::string_view l = Trim(line);
    if (l.empty() || l.front() == '#') continue;
    try {
      const std::size_t colon = l.find(':');
      if (colon == std::string_view::npos) throw std::invalid_argument("expected key: value");
      const std::string_view key = Trim(l.substr(0, colon)), value = Trim(l.substr(colon + 1));
      const std::size_t dot = key.find('.');
      const std::string_view bare = dot == std::string_view::npos ? key : key.substr(dot + 1);
      const bool expectation = std::find(std::begin(kExpectationKeys), std::end(kExpectationKeys),
                                         bare) != std::end(kExpectationKeys);
      if (dot != std::string_view::npos) {
        const std::string_view impl = key.substr(0, dot);
        if (!expectation || std::find(std::begin(kImplementations), std::end(kImplementations),
                                      impl) == std::end(kImplementations))
          throw std::invalid_argument("unknown key: " + std::string(key));
        own.emplace_back(key, value);
      } else if (expectation) {
        if (bare == "reason" || bare == "skip")
          throw std::invalid_argument(std::string(bare) + " belongs to an implementation");
        Apply(common, bare, value, headersFresh);
      } else {
        Input(c, key, value);
      }
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(c.name + ".case:" + std::to_string(number) + ": " + e.what());
    }
  }
  if (common.events.empty()) throw std::invalid_argument(c.name + ".case: no events:");
  if (c.title.empty()) throw std::invalid_argument(c.name + ".case: no title:");
  c.expected[""] = common;
  for (const std::string_view impl : kImplementations) {
    Expectation e = common;
    bool any = false, fresh = true;
    for (const auto& [key, value] : own) {
      if (key.compare(0, impl.size() + 1, std::string(impl) + ".") != 0) continue;
      const std::string_view bare = std::string_view(key).substr(impl.size() + 1);
      Apply(e, bare, value, fresh);
      any = true;
      // The exact request bytes of one implementation add a check; they differ in nothing.
      e.differs = e.differs || bare != "request";
    }
    if (!any) continue;
    if (e.differs && e.reason.empty() && e.skip.empty())
      throw std::invalid_argument(c.name + ".case: " + std::string(impl) + " differs without " +
                                  std::string(impl) + ".reason:");
    c.expected.emplace(impl, std::move(e));
  }
  return c;
}

std::vector<Case> LoadCases(const std::string& directory) {
  std::vector<Case> cases;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() != ".case") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    cases.push_back(ParseCase(entry.path().stem().string(), text.str()));
  }
  std::sort(cases.begin(), cases.end(),
            [](const Case& a, const Case& b) { return a.name < b.name; });
  return cases;
}

std::map<std::string, std::uint16_t> ParsePorts(std::string_view text) {
  std::map<std::string, std::uint16_t> ports;
  std::istringstream lines{std::string(text)};
  std::string name;
  unsigned port = 0;
  while (lines >> name >> port) ports[name] = static_cast<std::uint16_t>(port);
  return ports;
}

}  // namespace vizadavu::cases
