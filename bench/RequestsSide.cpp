// Python requests as a peer: a python3 worker process (bench/requests_peer.py)
// that times each job inside Python and answers over a pipe. The pipe's
// round trip is outside the timing; the worker stays warm between jobs. It
// answers each job's result time and bytes time (see Times).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/Sides.h"

extern char** environ;

namespace vizadavu::bench {
namespace {

class RequestsSide : public Side {
 public:
  RequestsSide(const Row& row, const std::string& base, const std::string& script) : row_(row) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
      posix_spawn_file_actions_addclose(&actions, fd);
    // Debian's python3 and python3-requests, unless the environment names another.
    const char* fromEnvironment = std::getenv("VIZADAVU_BENCH_PYTHON");
    std::string python = fromEnvironment ? fromEnvironment : "/usr/bin/python3";
    std::string mode = "--worker";
    std::string baseArg = base;
    char* args[] = {python.data(), const_cast<char*>(script.c_str()), mode.data(), baseArg.data(),
                    nullptr};
    const int rc = posix_spawnp(&pid_, python.c_str(), &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    to_ = fdopen(toChild[1], "w");
    from_ = fdopen(fromChild[0], "r");
    if (rc != 0 || to_ == nullptr || from_ == nullptr)
      throw std::runtime_error("cannot start " + python + " " + script);
  }

  ~RequestsSide() override {
    if (to_ != nullptr) std::fclose(to_);  // end of input ends the worker
    if (from_ != nullptr) std::fclose(from_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  Times Once() override {
    const std::string line = Ask(row_.name);
    char* end = nullptr;
    const double seconds = std::strtod(line.c_str(), &end);
    char* stop = nullptr;
    const double bytesSeconds = std::strtod(end, &stop);
    if (end == line.c_str() || stop == end || seconds <= 0 || bytesSeconds <= 0)
      throw std::runtime_error("requests: " + line);
    return {seconds, bytesSeconds};
  }

  // The worker answers the text as the hex digits of its UTF-16BE encoding, four per character.
  std::u16string TextOnce() override {
    const std::string hex = Ask("text " + row_.name);
    if (hex.size() % 4 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
      throw std::runtime_error("requests: " + hex.substr(0, 200));
    std::u16string text(hex.size() / 4, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(std::stoul(hex.substr(4 * i, 4), nullptr, 16));
    }
    return text;
  }

 private:
  // Sends one request line and returns the worker's answer, without its newline.
  std::string Ask(const std::string& request) {
    std::fprintf(to_, "%s\n", request.c_str());
    std::fflush(to_);
    char* line = nullptr;
    std::size_t capacity = 0;
    const ssize_t n = getline(&line, &capacity, from_);
    std::string answer = n > 0 ? std::string(line, static_cast<std::size_t>(n)) : std::string();
    std::free(line);
    if (n <= 0) throw std::runtime_error("the requests worker ended");
    if (answer.back() == '\n') answer.pop_back();
    return answer;
  }

  Row row_;
  pid_t pid_ = -1;
  FILE* to_ = nullptr;
  FILE* from_ = nullptr;
};

}  // namespace

std::unique_ptr<Side> MakeRequests(const Row& row, const std::string& base,
                                   const std::string& script) {
  if (row.kind == Kind::UrlEncode) return nullptr;
  signal(SIGPIPE, SIG_IGN);  // a worker that died shows as a failed read instead
  return std::make_unique<RequestsSide>(row, base, script);
}

}  // namespace vizadavu::bench
