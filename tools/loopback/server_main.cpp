// vizadavu_loopback_server PORTS_FILE CA_FILE: loopback servers on 127.0.0.1 for
// tests that cannot host a server themselves (the Windows build under wine).
//
// One plain listener and one TLS listener per certificate category, each
// answering a request with the reply it carries: the request body verbatim, or
// for a form submission (or a GET with no body, from its query) the decoded
// field `reply` (none: "200 ok"). A target of
// `/split/N/MS` writes the first N bytes of the reply, pauses MS milliseconds
// (at most 10 s), then writes the rest. The connection is closed after the
// reply. The test CA goes to CA_FILE (PEM); then PORTS_FILE is written in one
// rename, one "name port" line per listener ("refused" is a port nobody
// listens on). Runs until SIGTERM or SIGINT, at most ten minutes, then removes
// both files.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"
#include "tests/support/TestPki.h"

namespace {

using namespace vizadavu;
using std::chrono::hours;
using std::chrono::milliseconds;

volatile sig_atomic_t stop = 0;
void Stop(int) {
  stop = 1;
}

std::string ReplyOf(const loopback::ReceivedRequest& request) {
  const auto type = request.Header("Content-Type");
  const auto query = request.target.find('?');
  std::string form;
  if (request.method == "GET" && request.body.empty() && query != std::string::npos) {
    form = request.target.substr(query + 1);
  } else if (type && type->rfind("application/x-www-form-urlencoded", 0) == 0) {
    form = request.body;
  } else {
    return request.body;
  }
  for (auto& [name, value] : loopback::DecodeFormBytes(form)) {
    if (name == "reply") return value;
  }
  return "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
}

void Answer(loopback::Connection& connection) {
  loopback::ReceivedRequest request;
  if (!connection.ReadRequest(request)) return;
  const std::string reply = ReplyOf(request);
  std::size_t split = reply.size();
  unsigned long pause = 0;
  unsigned long n = 0;
  if (std::sscanf(request.target.c_str(), "/split/%lu/%lu", &n, &pause) == 2) {
    split = std::min<std::size_t>(n, reply.size());
  }
  if (!connection.Write(std::string_view(reply).substr(0, split))) return;
  // The pause ends early when the server stops, so that stopping takes no longer.
  const auto end = std::chrono::steady_clock::now() + milliseconds(std::min(pause, 10000ul));
  while (!stop && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(milliseconds(20));
  connection.Write(std::string_view(reply).substr(split));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: vizadavu_loopback_server PORTS_FILE CA_FILE\n";
    return 2;
  }
  signal(SIGTERM, Stop);
  signal(SIGINT, Stop);
  signal(SIGPIPE, SIG_IGN);
  const std::string portsFile = argv[1], caFile = argv[2];

  const test::TestPki pki, otherPki;
  // Wine's WinINet matches no IP address entry, so the good certificates name
  // "localhost" too; "wrong.invalid" names another host.
  const std::string host = "localhost";
  struct Listener {
    const char* name;
    std::optional<loopback::TlsIdentity> tls;
  };
  const std::vector<Listener> listeners = {
      {"plain", std::nullopt},
      {"tls", pki.Issue(host).Identity()},
      {"tls-ip", pki.Issue("127.0.0.1").Identity()},
      {"tls-intermediate", pki.IssueViaIntermediate(host, -hours(24), hours(24)).Identity()},
      {"tls-unknown-ca", otherPki.Issue(host).Identity()},
      {"tls-self-signed", test::TestPki::SelfSigned(host).Identity()},
      {"tls-expired", pki.Issue(host, -hours(48), -hours(24)).Identity()},
      {"tls-not-yet-valid", pki.Issue(host, hours(24), hours(48)).Identity()},
      {"tls-wrong-name", pki.Issue("wrong.invalid").Identity()},
  };
  std::vector<std::unique_ptr<loopback::LoopbackServer>> servers;
  std::string ports = "refused " + std::to_string(test::UnusedPort()) + "\n";
  for (const Listener& listener : listeners) {
    servers.push_back(std::make_unique<loopback::LoopbackServer>(Answer, listener.tls));
    ports += std::string(listener.name) + " " + std::to_string(servers.back()->Port()) + "\n";
  }
  if (!test::ReplaceFile(caFile, pki.CaCertificatePem()) || !test::ReplaceFile(portsFile, ports)) {
    std::cerr << "vizadavu_loopback_server: cannot write " << portsFile << "\n";
    return 1;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  while (!stop && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(milliseconds(50));
  }
  std::remove(portsFile.c_str());
  std::remove(caFile.c_str());
  return 0;
}
