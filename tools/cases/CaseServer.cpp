// vizadavu_cases: the scripted loopback server of the protocol cases, and their table.
//
//   vizadavu_cases serve CASES STATE [COMMAND ARGS...]
//     Listens on 127.0.0.1 with one port per case (plain, or TLS with the case's
//     certificate from a test CA made at start), writes STATE/ports ("name port"
//     lines) and STATE/ca.pem (the CAs a client trusts), and writes each request a
//     case reads to STATE/requests/NAME before it answers. With a command, runs it
//     with VIZADAVU_CASES=STATE and SSL_CERT_FILE=STATE/ca.pem in its environment
//     and exits with its status; without one, serves until SIGTERM or SIGINT.
//   vizadavu_cases table CASES [--check FILE]
//     Prints the table of every case (docs/protocol-cases.md), or checks FILE is it.
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"
#include "tests/support/TestPki.h"
#include "tools/cases/CaseFile.h"

namespace vizadavu::cases {
namespace {

using namespace std::chrono_literals;
using test::Connection;
using test::LoopbackServer;
using test::Pem;
using test::TestPki;

// Adds a request to what the case's server read since the runner last removed the file.
void Record(const std::filesystem::path& path, const std::string& bytes) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

test::Handler Play(const Case& c, std::filesystem::path record) {
  return [c, record](Connection& connection) {
    for (const Step& step : c.script) {
      if (step.kind == Step::kReadRequest) {
        test::ReceivedRequest request;
        if (!connection.ReadRequest(request)) return;
        Record(record, request.raw);
      } else if (step.kind == Step::kReadSome) {
        connection.ReadSome(1 << 16, 5s);
      } else if (step.kind == Step::kSend) {
        if (!connection.Write(step.bytes)) return;
      } else {
        std::this_thread::sleep_for(step.pause);
      }
    }
    switch (c.end) {
      case End::kFin:
        connection.Close();
        break;
      case End::kReset:
        connection.Reset();
        break;
      case End::kCut:
        connection.CloseWithoutNotify();
        break;
      case End::kHang:  // silent until the client goes (or a minute of its silence)
        while (!connection.ReadSome(1 << 16, 60s).empty()) {
        }
        break;
    }
  };
}

// The certificates behind each kind of TLS server.
struct Pki {
  TestPki ca;
  TestPki unknown;
  TestPki expiredRoot{-48h, -24h};

  std::optional<test::TlsIdentity> For(const std::string& kind) const {
    if (kind == "none") return std::nullopt;
    test::TlsIdentity identity;
    if (kind == "self-signed")
      identity = TestPki::SelfSigned("127.0.0.1").Identity();
    else if (kind == "unknown-ca")
      identity = unknown.Issue("127.0.0.1").Identity();
    else if (kind == "expired")
      identity = ca.Issue("127.0.0.1", -48h, -24h).Identity();
    else if (kind == "not-yet-valid")
      identity = ca.Issue("127.0.0.1", 24h, 48h).Identity();
    else if (kind == "other-name")
      identity = ca.Issue("other.example").Identity();
    else if (kind == "expired-root")
      identity = expiredRoot.Issue("127.0.0.1", -1h, 1h).Identity();
    else if (kind == "intermediate-expired")
      identity = ca.IssueViaIntermediate("127.0.0.1", -48h, -24h).Identity();
    else
      identity = ca.Issue("127.0.0.1").Identity();
    if (kind == "tls1.1") {
      identity.maxVersion = TLS1_1_VERSION;
      identity.securityLevel = 0;  // lets OpenSSL 3 offer TLS 1.1 at all
    }
    identity.requireClientCertificate = kind == "client-certificate";
    return identity;
  }
};

int Serve(const std::string& caseDir, const std::filesystem::path& state, char** command) {
  const std::vector<Case> cases = LoadCases(caseDir);
  // Blocked before the servers' threads start, so that they inherit the mask and the
  // signal waits for sigwait below.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  if (command == nullptr) pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  std::filesystem::create_directories(state / "requests");
  Pki pki;
  if (!test::ReplaceFile((state / "ca.pem").string(),
                         pki.ca.CaCertificatePem() + pki.expiredRoot.CaCertificatePem())) {
    std::cerr << "vizadavu_cases serve: cannot write into " << state << "\n";
    return 1;
  }
  std::vector<std::unique_ptr<LoopbackServer>> servers;
  std::string ports;
  for (const Case& c : cases) {
    std::uint16_t port = 0;
    if (c.listen) {
      servers.push_back(
          std::make_unique<LoopbackServer>(Play(c, state / "requests" / c.name), pki.For(c.tls)));
      port = servers.back()->Port();
    } else {
      port = test::UnusedPort();  // held unlistened, so that it refuses
    }
    ports += c.name + " " + std::to_string(port) + "\n";
  }
  if (!test::ReplaceFile((state / "ports").string(), ports)) {
    std::cerr << "vizadavu_cases serve: cannot write into " << state << "\n";
    return 1;
  }
  if (command == nullptr) {
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
  }
  const pid_t child = fork();
  if (child == 0) {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
    setenv("no_proxy", "*", 1);  // only the loopback servers are ever asked
    setenv("VIZADAVU_CASES", state.c_str(), 1);
    setenv("SSL_CERT_FILE", (state / "ca.pem").c_str(), 1);
    execvp(command[0], command);
    std::perror(command[0]);
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int Tabulate(const std::string& caseDir, const char* check) {
  const std::string table = Table(LoadCases(caseDir));
  if (check == nullptr) {
    std::cout << table;
    return 0;
  }
  std::ifstream in(check, std::ios::binary);
  std::stringstream current;
  current << in.rdbuf();
  if (current.str() == table) return 0;
  std::cerr << check << " is not current: vizadavu_cases table " << caseDir << " > " << check
            << "\n";
  return 1;
}

}  // namespace
}  // namespace vizadavu::cases

int main(int argc, char** argv) {
  const std::string usage =
      "usage: vizadavu_cases serve CASES STATE [COMMAND ARGS...]\n"
      "       vizadavu_cases table CASES [--check FILE]\n";
  try {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "serve" && argc >= 4)
      return vizadavu::cases::Serve(argv[2], argv[3], argc > 4 ? argv + 4 : nullptr);
    if (verb == "table" && (argc == 3 || (argc == 5 && std::string(argv[3]) == "--check")))
      return vizadavu::cases::Tabulate(argv[2], argc == 5 ? argv[4] : nullptr);
  } catch (const std::exception& e) {
    std::cerr << "vizadavu_cases: " << e.what() << "\n";
    return 1;
  }
  std::cerr << usage;
  return 2;
}
