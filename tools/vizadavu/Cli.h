// The vizadavu command-line program: submit a form from a shell or a script.
#pragma once

#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitTransferError = 1;  // the transfer ended in Error
inline constexpr int kExitHttpError = 22;     // --fail: the reply's status was 400 or more
inline constexpr int kExitTooLarge = 63;      // without -r: the reply filled the largest read
inline constexpr int kExitInterrupted = 130;  // SIGINT cancelled the transfer
inline constexpr int kExitUsage = 64;         // bad command line or field file line
inline constexpr int kExitNoInput = 66;       // the field file cannot be read
inline constexpr int kExitCannotCreate = 73;  // the output file cannot be created
inline constexpr int kExitIoError = 74;       // the reply cannot be written

struct Options {
  Long action = 1;           // POST
  bool actionGiven = false;  // --action or --get given
  bool query = false;        // fields in the URL's query string, no body
  bool plain = false;
  bool strictCertificates = false;  // StrictCertificates: check the certificate's dates and name
  std::optional<Long> readSize;
  std::optional<std::string> fieldsFile;  // "-" is standard input
  std::optional<std::string> output;
  bool verbose = false;
  bool fail = false;  // exit 22 when HttpStatusCode >= 400
  bool demo = false;
  bool help = false;
  bool version = false;
  std::string url;
  std::vector<std::pair<std::string, std::string>> fields;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name; throws UsageError.
Options ParseArguments(const std::vector<std::string>& args);

// Splits "NAME=VALUE" at the first "="; throws UsageError without one or with an
// empty name. `where` names the source in the message.
std::pair<std::string, std::string> ParseField(const std::string& text, const std::string& where);

// Reads NAME=VALUE lines (UTF-8; a byte-order mark at the start is skipped)
// and appends them to fields; `where` names the source in messages. Throws
// UsageError for a line that is not NAME=VALUE or not UTF-8. False when the
// source cannot be read.
bool ReadFields(std::istream& in, const std::string& where,
                std::vector<std::pair<std::string, std::string>>& fields);

// The fields as a query string, encoded exactly as the form body would be
// (empty names and blank values left out), appended to the URL with "?" or "&"
// and in front of any fragment.
std::string WithQuery(const std::string& url,
                      const std::vector<std::pair<std::string, std::string>>& fields);

struct Environment {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  // Set (by a signal handler) to ask for the running transfer to be cancelled.
  const volatile std::sig_atomic_t* interrupted = nullptr;
  // The ReceiveBufferSize used without -r; unset: MachineReadSize().
  std::optional<Long> defaultReadSize;
};

// The read used without -r: one read into a buffer as large as a read can be.
// The control maps that buffer untouched, so only the reply's own bytes cost
// memory, and they are written out as they came, with no 16-bit text between.
// The size is capped at half the machine's memory (0: unknown) and half the
// address-space limit: a reply larger than that would not have fitted as text
// either. Under strict overcommit (policy 2) the whole reservation would be
// charged at once, and under limits that leave less than 1 MiB a single read
// would cut most replies, so there the reply is read in chunks (-1).
Long DefaultReadSize(int overcommitPolicy, std::uint64_t physicalMemory,
                     std::uint64_t addressSpaceLimit);
// DefaultReadSize for this machine and process.
Long MachineReadSize();

// Runs the program; returns its exit status. Never throws.
int Main(const std::vector<std::string>& args, const Environment& env);

extern const char* const kUsage;
extern const char* const kHelp;

// Fills a control from the options, runs the transfer and writes the reply to
// out; returns the exit status. The demonstration's transfer (demo) gets no
// warning about its URL's scheme and names no proxy in its messages.
int Submit(const Options& options, const Environment& env, std::ostream& out, bool demo = false);
// The demonstration: a sample form to a loopback server, always reached
// directly. Where the program has no loopback server (Windows) it throws
// UsageError.
int Demo(const Environment& env);

}  // namespace vizadavu::cli
