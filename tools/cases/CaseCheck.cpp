// A run of the control against its case, and the table of every case.
#include <algorithm>
#include <string>

#include "tools/cases/CaseFile.h"

namespace vizadavu::cases {
namespace {

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

bool EventsMatch(const std::vector<std::string>& expected, const std::vector<std::string>& got) {
  if (expected.size() != got.size()) return false;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (expected[i] == got[i]) continue;
    if (expected[i] == "Error" && got[i].rfind("Error ", 0) == 0) continue;
    return false;
  }
  return true;
}

// Where two byte strings part, said without showing their bytes.
std::string Parting(const char* what, const std::string& got, const std::string& want) {
  const auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  return std::string(what) + ": " + std::to_string(got.size()) + " bytes, expected " +
         std::to_string(want.size()) + ", first difference at byte " +
         std::to_string(at.first - got.begin()) + "; ";
}

// A header line "Name: value" of `request`, matched case-insensitively by name ("*": any value).
bool HasHeader(const std::string& request, const std::string& header) {
  const std::size_t colon = header.find(':');
  const std::string name = header.substr(0, colon);
  const std::string value = header.substr(header.find_first_not_of(' ', colon + 1));
  const std::size_t headEnd = request.find("\r\n\r\n");
  std::size_t at = request.find("\r\n");
  while (at != std::string::npos && at < headEnd) {
    const std::size_t next = request.find("\r\n", at + 2);
    const std::string line = request.substr(at + 2, next - at - 2);
    const std::size_t c = line.find(':');
    if (c == name.size() &&
        std::equal(name.begin(), name.end(), line.begin(), line.begin() + static_cast<long>(c),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); }) &&
        (value == "*" || line.substr(line.find_first_not_of(' ', c + 1)) == value))
      return true;
    at = next;
  }
  return false;
}

std::string CompareRequest(const Expectation& e, std::optional<std::string> got,
                           std::uint16_t port) {
  if (!e.request && !e.requestLine && e.requestHeaders.empty() && e.requestAbsent.empty() &&
      !e.requestBody)
    return "";
  if (!got) return "the server read no request; ";
  const std::string host = "127.0.0.1:" + std::to_string(port);
  if (const std::size_t at = got->find(host); at != std::string::npos)
    got->replace(at, host.size(), "127.0.0.1:PORT");
  std::string out;
  if (e.request && *got != *e.request) out += Parting("request", *got, *e.request);
  if (e.requestLine && got->substr(0, got->find("\r\n")) != *e.requestLine)
    out += "request line is \"" + got->substr(0, std::min<std::size_t>(got->find("\r\n"), 200)) +
           "\"; ";
  for (const std::string& header : e.requestHeaders)
    if (!HasHeader(*got, header)) out += "no request header \"" + header + "\"; ";
  for (const std::string& name : e.requestAbsent)
    if (HasHeader(*got, name + ": *")) out += "request header " + name + " present; ";
  if (e.requestBody) {
    const std::size_t headEnd = got->find("\r\n\r\n");
    const std::string body = headEnd == std::string::npos ? "" : got->substr(headEnd + 4);
    if (body != *e.requestBody) out += Parting("request body", body, *e.requestBody);
  }
  return out;
}

// A table cell's text: a "|" would end the cell.
std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

std::string ReadName(long read) {
  return read < 0 ? "chunked" : "single " + std::to_string(read);
}

std::string Cell(const Case& c, std::string_view implementation) {
  const Expectation& e = c.For(implementation);
  if (!e.skip.empty()) return "not run: " + e.skip;
  std::string out = Join(e.events);
  if (e.httpStatus) out += "; status " + std::to_string(*e.httpStatus);
  if (e.reply) out += "; " + std::to_string(e.reply->size()) + " bytes kept";
  if (c.Differs(implementation)) out = "**" + out + "** (" + e.reason + ")";
  return out;
}

}  // namespace

std::string Compare(const Case& c, std::string_view implementation, long read,
                    const Outcome& outcome) {
  const Expectation& e = c.For(implementation);
  std::string out;
  if (!EventsMatch(e.events, outcome.events)) out += "events: " + Join(outcome.events) + "; ";
  const auto cut = [read](const std::string& bytes) {
    return read < 0 ? bytes : bytes.substr(0, static_cast<std::size_t>(read));
  };
  if (e.reply && outcome.reply != cut(*e.reply))
    out += Parting("reply", outcome.reply, cut(*e.reply));
  if (e.replyPrefix && cut(*e.replyPrefix).compare(0, outcome.reply.size(), outcome.reply) != 0)
    out += "reply: not a prefix of the expected bytes; ";
  if (e.httpStatus && outcome.httpStatus != *e.httpStatus)
    out += "HttpStatusCode " + std::to_string(outcome.httpStatus) + "; ";
  const long arraySize = read < 0                  ? -1
                         : e.arraySize.has_value() ? *e.arraySize
                                                   : static_cast<long>(outcome.reply.size()) - 1;
  if (outcome.arraySize != arraySize)
    out += "ReceiveBufferArraySize " + std::to_string(outcome.arraySize) + ", expected " +
           std::to_string(arraySize) + "; ";
  out += CompareRequest(e, outcome.request, outcome.port);
  if (!out.empty()) out = ReadName(read) + " read: " + out.substr(0, out.size() - 2);
  return out;
}

std::string Table(const std::vector<Case>& cases) {
  std::string out =
      "# Protocol cases\n\n"
      "Generated from `tests/cases/*.case` by `vizadavu_cases table tests/cases` (do not\n"
      "edit; the `protocol_cases_table` test checks that it is current). Each row is one\n"
      "exchange with the scripted loopback server (`tests/cases/README.md` has the format);\n"
      "each cell is what the control raises over that internet boundary in every read mode\n"
      "the case runs (both: chunked, and one read of 1 MiB), with `HttpStatusCode` and the\n"
      "bytes kept where the case checks them. The `protocol_cases` test checks the libcurl\n"
      "column on Linux, and the WinINet column (wine 8's WinINet) in `ctest --preset\n"
      "windows`, against the same native server inside the Windows stage's network\n"
      "namespace. A cell in bold differs from the other implementation, with the reason;\n"
      "\"not run\" names what keeps a case out.\n\n"
      "| case | what the server does | reads | libcurl | WinINet (wine) |\n|---|---|---|---|---|\n";
  int differences = 0, notRun = 0;
  for (const Case& c : cases) {
    std::string reads;
    for (const long read : c.reads) reads += (reads.empty() ? "" : ", ") + ReadName(read);
    if (c.reads == std::vector<long>{-1, 1 << 20}) reads = "both";
    out += "| `" + c.name + "` | " + Escape(c.title) + " | " + reads + " | " +
           Escape(Cell(c, "libcurl")) + " | " + Escape(Cell(c, "wininet")) + " |\n";
    const bool skipped = !c.For("libcurl").skip.empty() || !c.For("wininet").skip.empty();
    notRun += skipped;
    differences += !skipped && (c.Differs("libcurl") || c.Differs("wininet"));
  }
  out += "\n" + std::to_string(cases.size()) +
         " cases: " + std::to_string(static_cast<int>(cases.size()) - differences - notRun) +
         " agree, " + std::to_string(differences) + " differ for the reason given, " +
         std::to_string(notRun) + " not yet run on one implementation.\n";
  return out;
}

}  // namespace vizadavu::cases
