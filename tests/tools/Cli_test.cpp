// The vizadavu program: its command line, exit statuses and output.
#include "tools/vizadavu/Cli.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/support/TestPki.h"

namespace vizadavu::test {
namespace {

using cli::Options;
using cli::ParseArguments;
using cli::UsageError;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunCli(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = cli::Main(args, {in, out, err, false});
  return {status, out.str(), err.str()};
}

TEST(CliArguments, OptionsAndFieldsInOrder) {
  const Options o = ParseArguments({"-p", "--read-size=5000", "http://h/x", "a=1", "--get", "b=x y",
                                    "-o", "out", "c=", "--", "-d=-"});
  EXPECT_TRUE(o.plain);
  EXPECT_EQ(o.readSize, 5000);
  EXPECT_EQ(o.action, 0);
  EXPECT_EQ(o.url, "http://h/x");
  EXPECT_EQ(o.output, "out");
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"a", "1"}, {"b", "x y"}, {"c", ""}, {"-d", "-"}};
  EXPECT_EQ(o.fields, fields);
  EXPECT_EQ(ParseArguments({"--action", "-7", "u"}).action, -7);
  EXPECT_EQ(ParseArguments({"u", "k=v=w"}).fields[0].second, "v=w");
}

TEST(CliArguments, BadInputIsAUsageError) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"--bogus", "u"},
           {"u", "novalue"},
           {"u", "=x"},
           {"-a", "12x", "u"},
           {"-a", "99999999999", "u"},
           {"-r", "", "u"},
           {"u", "-r"},
           {"--plain=yes", "u"},
           {"-gp", "u"},
       }) {
    EXPECT_THROW(ParseArguments(args), UsageError) << ::testing::PrintToString(args);
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("usage: vizadavu"), std::string::npos) << r.err;
  }
  // A value outside Action's 16 bits is refused before anything is sent.
  EXPECT_EQ(RunCli({"-a", "40000", "http://127.0.0.1:1/"}).status, cli::kExitUsage);
}

TEST(CliArguments, HelpAndFileErrors) {
  const Result help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--read-size"), std::string::npos);
  EXPECT_NE(help.out.find("Examples:"), std::string::npos);

  const Result missing = RunCli({"-f", "/nonexistent/fields", "http://127.0.0.1:1/"});
  EXPECT_EQ(missing.status, cli::kExitNoInput);
  EXPECT_NE(missing.err.find("/nonexistent/fields"), std::string::npos);

  const Result badLine = RunCli({"-f", "-", "http://127.0.0.1:1/"}, "a=1\n\n# note\nbroken\n");
  EXPECT_EQ(badLine.status, cli::kExitUsage);
  EXPECT_NE(badLine.err.find("standard input:4"), std::string::npos) << badLine.err;

  const Result unwritable = RunCli({"-o", "/nonexistent/dir/out", "http://127.0.0.1:1/"});
  EXPECT_EQ(unwritable.status, cli::kExitCannotCreate);
}

// These run real transfers, each with the control's one-second pause.
TEST(CliTransfer, FieldsArriveExactlyAndReplyBytesAreKept) {
  std::string reply;
  for (int b = 0; b < 256; ++b) reply.push_back(static_cast<char>(b));
  LoopbackServer server(LoopbackServer::Respond(200, reply));
  const Result r = RunCli(
      {"--plain", "-f", "-", "http://" + server.HostPort() + "/p?q=1", "b=x y", "c=\xE4\xB8\xAD"},
      "a=1\r\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, reply);  // every byte value, unchanged
  EXPECT_NE(r.err.find("field 3 (c)"), std::string::npos) << r.err;
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/p?q=1");
  EXPECT_EQ(requests[0].body, "a=1&b=x+y&c=%3F");
}

TEST(CliTransfer, ErrorsNameTheCodeAndExitNonZero) {
  const Result r = RunCli({"-p", "-v", "http://127.0.0.1:1/"});
  EXPECT_EQ(r.status, cli::kExitTransferError);
  EXPECT_NE(r.err.find("error 12029: cannot connect to the server"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Status 21"), std::string::npos) << r.err;
}

// --fail turns a reply of 400 or more into exit status 22; the reply is still written.
TEST(CliTransfer, FailExitsWith22OnAnHttpError) {
  struct Case {
    int status;
    bool fail;
    int exit;
  } cases[] = {
      {404, false, cli::kExitOk}, {399, true, cli::kExitOk}, {400, true, cli::kExitHttpError}};
  for (const Case& c : cases) {
    LoopbackServer server(LoopbackServer::Respond(c.status, "page"));
    std::vector<std::string> args = {"-p", "http://" + server.HostPort() + "/"};
    if (c.fail) args.push_back("--fail");
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, c.exit) << c.status;
    EXPECT_EQ(r.out, "page");
  }
}

TEST(CliTransfer, DemoShowsEventsAndFieldsReceived) {
  const Result r = RunCli({"--demo"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const char* expected : {"Status 21", "Status 30", "EndTransfer", "name = Ada Lovelace\n",
                               "city = Z\xC3\xBCrich\n", "note = 50% off & 2=2\n"}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("empty ="), std::string::npos) << r.out;
}

TEST(CliProgram, SubmitsFromTheShell) {
  LoopbackServer server(LoopbackServer::FormEcho());
  const std::string command = std::string(VIZADAVU_PROGRAM) + " --plain http://" +
                              server.HostPort() + "/path a=1 'b=x y' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_EQ(out, "a = 1\nb = x y\n");
}

// Ctrl-C while the server stalls: the program cancels, says so, exits 130 and
// leaves the output file as it was, with no temporary beside it.
TEST(CliProgram, SigintCancelsCleanly) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  LoopbackServer server([release](loopback::Connection& c) {
    loopback::ReceivedRequest request;
    if (!c.ReadRequest(request)) return;
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npartial");
    for (int i = 0; i < 1000 && !release->load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vizadavu-cli-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string output = (dir / "reply.html").string();
  { std::ofstream(output) << "previous"; }
  const std::string errPath = (dir / "stderr").string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const std::string url = "http://" + server.HostPort() + "/";
  std::vector<std::string> args = {VIZADAVU_PROGRAM, "-p", "-o", output, url};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, VIZADAVU_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // The pause takes a second; then the body stalls after "partial".
  while (server.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  const auto took = std::chrono::steady_clock::now() - start;
  release->store(true);

  std::ifstream errFile(errPath);
  const std::string err((std::istreambuf_iterator<char>(errFile)), {});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == cli::kExitInterrupted) << status << err;
  EXPECT_EQ(err, "vizadavu: cancelled\n");
  EXPECT_LT(took, std::chrono::seconds(1));
  std::ifstream kept(output);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "previous");
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 2);  // reply.html and stderr: no temporary left behind
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vizadavu::test
