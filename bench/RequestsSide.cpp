// Python requests as a peer: a python3 worker process (bench/requests_peer.py)
// that times each job inside Python and answers over a pipe. The pipe's
// round trip is outside the timing; the worker stays warm between jobs.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

  double Once() override {
    std::fprintf(to_, "%s\n", row_.name.c_str());
    std::fflush(to_);
    char line[64];
    if (std::fgets(line, sizeof line, from_) == nullptr)
      throw std::runtime_error("the requests worker ended");
    char* end = nullptr;
    const double seconds = std::strtod(line, &end);
    if (end == line || seconds <= 0) throw std::runtime_error(std::string("requests: ") + line);
    return seconds;
  }

 private:
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
