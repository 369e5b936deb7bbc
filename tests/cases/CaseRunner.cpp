// Runs every protocol case (tests/cases/*.case) through the whole control over
// the built-in internet boundary, against the scripted server `vizadavu_cases
// serve` started beforehand, and prints one line per case. Standard C++ and the
// control only, so that it runs on Windows as on Linux; the server is native.
//   vizadavu_case_runner IMPLEMENTATION CASES   (VIZADAVU_CASES names the state folder)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "control/Testing.h"
#include "tests/support/CodePage1252.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Recorder.h"
#include "tests/support/ShortTimeouts.h"
#include "tools/cases/CaseFile.h"

namespace vizadavu::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::optional<std::string> Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// One transfer of case `c` with ReceiveBufferSize `read`; the server is on `port`.
cases::Outcome Run(const cases::Case& c, long read, std::uint16_t port, const fs::path& state,
                   std::string& problem) {
  const fs::path record = state / "requests" / c.name;
  fs::remove(record);
  ShortTimeouts internet{1000};  // a stall ends in its time-out within a second
  FakeClock clock{500ms};        // skips the one-second pause
  Recorder host;
  vizADAVU control = detail::Testing::Make(&host, &host, platform::Services{&internet, &clock});
  host.onEvent = [&](const std::string& e) {
    if (c.cancelInStatus != 0 && e == "Status " + std::to_string(c.cancelInStatus))
      control.Cancel();
  };
  control.StrictCertificates = c.strict;
  control.YieldWhileWaiting = c.yield;
  control.ReceiveBufferSize = static_cast<Long>(read);
  const std::string scheme = !c.scheme.empty() ? c.scheme : c.tls == "none" ? "http" : "https";
  control.Secure_Mode_Off = scheme == "http";
  control.URL(Utf8ToText(scheme + "://127.0.0.1:" + std::to_string(port) + c.path));
  if (!c.fields.empty()) control.FormVarCount(static_cast<Long>(c.fields.size()));
  for (std::size_t i = 0; i < c.fields.size(); ++i) {
    control.FormVarNames(static_cast<Long>(i + 1), Utf8ToText(c.fields[i].first));
    control.FormVarValues(static_cast<Long>(i + 1), Utf8ToText(c.fields[i].second));
  }
  const auto start = std::chrono::steady_clock::now();
  control.Action(c.post ? 1 : 0);
  if (std::chrono::steady_clock::now() - start > 5s) problem += "took over 5 s; ";
  const std::map<std::uint32_t, std::uint32_t> timeouts = {
      {platform::inet::kOptionConnectTimeout, 30000},
      {platform::inet::kOptionSendTimeout, 60000},
      {platform::inet::kOptionReceiveTimeout, 120000}};
  if (!internet.asked.empty() && internet.asked != timeouts)
    problem += "time-outs not 30/60/120 s; ";
  cases::Outcome outcome;
  outcome.events = host.events;
  outcome.reply = read < 0 ? TextToCp1252(control.ReceiveBufferView())
                           : std::string(reinterpret_cast<const char*>(control.StringBView().data),
                                         control.StringBView().size);
  outcome.httpStatus = control.HttpStatusCode();
  outcome.arraySize = control.ReceiveBufferArraySize();
  outcome.request = Slurp(record);
  outcome.port = port;
  control.Clear();
  return outcome;
}

int Main(int argc, char** argv) {
  const char* state = std::getenv("VIZADAVU_CASES");
  if (argc != 3 || state == nullptr) {
    std::fprintf(stderr, "usage: VIZADAVU_CASES=STATE vizadavu_case_runner IMPLEMENTATION CASES\n");
    return 2;
  }
  const std::string implementation = argv[1];
  const auto ports = cases::ParsePorts(Slurp(fs::path(state) / "ports").value_or(""));
  int failed = 0, passed = 0, skipped = 0;
  for (const cases::Case& c : cases::LoadCases(argv[2])) {
    const cases::Expectation& e = c.For(implementation);
    std::string problem;
    if (!e.skip.empty()) {
      std::printf("skip %s: %s\n", c.name.c_str(), e.skip.c_str());
      ++skipped;
      continue;
    }
    if (ports.count(c.name) == 0) problem = "the server does not serve it";
    for (const long read : c.reads) {
      if (!problem.empty()) break;
      const cases::Outcome outcome = Run(c, read, ports.at(c.name), state, problem);
      problem += cases::Compare(c, implementation, read, outcome);
    }
    std::printf("%s %s%s%s\n", problem.empty() ? "ok  " : "FAIL", c.name.c_str(),
                problem.empty() ? "" : ": ", problem.c_str());
    std::fflush(stdout);
    ++(problem.empty() ? passed : failed);
  }
  std::printf("%s: %d cases passed, %d failed, %d not run here\n", implementation.c_str(), passed,
              failed, skipped);
  return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace
}  // namespace vizadavu::test

int main(int argc, char** argv) {
  try {
    return vizadavu::test::Main(argc, argv);
  } catch (const std::exception& e) {  // a case file that does not parse, a folder missing
    std::fprintf(stderr, "vizadavu_case_runner: %s\n", e.what());
    return 1;
  }
}
