#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "tools/vizadavu/Cli.h"

// A standard descriptor the program was started without is taken by a
// read-only /dev/null: nothing else (a socket of the transfer) can get its
// number, and writing to it fails, as writing to a closed descriptor should.
static void HoldClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int held = open("/dev/null", O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

// Only notes the signal: the program's message loop cancels the transfer.
extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

}  // namespace

int main(int argc, char** argv) {
  HoldClosedStandardDescriptors();
  std::ios::sync_with_stdio(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return vizadavu::cli::Main(args, {std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1,
                                    &gInterrupted, std::nullopt});
}
