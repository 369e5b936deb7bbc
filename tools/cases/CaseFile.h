// The protocol cases (tests/cases/*.case): one exchange with a scripted server
// each, the control's inputs and what each internet boundary must make of it.
// The format is described in tests/cases/README.md. Standard C++ only: the
// scripted server (Linux) and the runners (Linux and Windows) share it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vizadavu::cases {

// The implementations of the internet boundary a case can speak of.
inline constexpr std::string_view kImplementations[] = {"libcurl", "wininet"};

// One step of the server's script, in order.
struct Step {
  enum Kind {
    kReadRequest,  // read one whole request and record it
    kReadSome,     // read the first bytes that come (a ClientHello, a request's start)
    kSend,         // write `bytes`
    kPause,        // stay silent for `pause`
  } kind = kSend;
  std::string bytes;
  std::chrono::milliseconds pause{0};
};

// How the server's side ends after its script.
enum class End {
  kFin,    // orderly close (TLS: close_notify first)
  kReset,  // RST
  kCut,    // FIN without TLS close_notify (plain: as kFin)
  kHang,   // never answers more: waits until the client goes
};

// What one implementation must make of the case.
struct Expectation {
  std::vector<std::string> events;   // "Status 21", "EndTransfer", "Error 12030"; "Error": any code
  std::optional<std::string> reply;  // the bytes kept, exactly
  std::optional<std::string> replyPrefix;  // the bytes kept are a prefix of this
  std::optional<long> httpStatus;
  std::optional<long> arraySize;       // ReceiveBufferArraySize after a single read
  std::optional<std::string> request;  // the exact request bytes the server read
  std::optional<std::string> requestLine;
  std::vector<std::string> requestHeaders;  // "Name: value", each present as given
  std::vector<std::string> requestAbsent;   // header names the request must not carry
  std::optional<std::string> requestBody;
  std::string reason;    // why it differs from the common expectation
  std::string skip;      // not run on this implementation, and why
  bool differs = false;  // an implementation's own expectation that is not the common one
};

struct Case {
  std::string name;  // the file's name without ".case"
  std::string title;
  // The control's inputs.
  std::string path = "/form";
  bool post = true;
  std::vector<long> reads{-1, 1 << 20};                     // ReceiveBufferSize of each run
  std::vector<std::pair<std::string, std::string>> fields;  // UTF-8
  bool yield = false;
  bool strict = false;
  long cancelInStatus = 0;  // 21 or 30: Cancel from that Status event
  // The server.
  std::string tls = "none";  // see kTlsKinds
  std::string scheme;        // of the URL; "" for the server's own (http, or https with TLS)
  bool listen = true;        // false: the port is closed (a connection is refused)
  std::vector<Step> script;
  End end = End::kFin;
  // The expectations: the common one, and per implementation.
  std::map<std::string, Expectation, std::less<>> expected;

  // The expectation for `implementation`: its own where it has one, else the common one.
  const Expectation& For(std::string_view implementation) const;
  // Whether `implementation` differs from the common expectation.
  bool Differs(std::string_view implementation) const;
};

// The server sides a case can ask for with "tls:".
inline constexpr std::string_view kTlsKinds[] = {
    "none",       "trusted",           "self-signed",
    "unknown-ca", "expired",           "not-yet-valid",
    "other-name", "expired-root",      "intermediate-expired",
    "tls1.1",     "client-certificate"};

// Parses one case file; std::invalid_argument naming the line on any error.
Case ParseCase(std::string name, std::string_view text);
// Every *.case file in `directory`, sorted by name.
std::vector<Case> LoadCases(const std::string& directory);
// A string expression: "..." terms with C escapes (\r \n \t \0 \\ \" \xHH), each
// optionally "* count", joined by "+".
std::string ParseBytes(std::string_view expression);

// What one run of the control gave.
struct Outcome {
  std::vector<std::string> events;
  std::string reply;  // ReceiveBuffer as code-page bytes (chunked) or StringB's bytes
  long httpStatus = 0;
  long arraySize = -1;
  std::optional<std::string> request;  // what the server recorded, if it read a request
  std::uint16_t port = 0;              // the server's: "127.0.0.1:PORT" in a case stands for it
};

// Empty when `outcome` of the run with ReceiveBufferSize `read` meets the case's
// expectation for `implementation`; else what differs (no reply bytes shown).
std::string Compare(const Case& c, std::string_view implementation, long read,
                    const Outcome& outcome);

// The Markdown table of every case against every implementation.
std::string Table(const std::vector<Case>& cases);

// The ports file the scripted server writes: "name port" lines.
std::map<std::string, std::uint16_t> ParsePorts(std::string_view text);

}  // namespace vizadavu::cases
