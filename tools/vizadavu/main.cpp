#include <unistd.h>

#include <csignal>
#include <iostream>

#include "tools/vizadavu/Cli.h"

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

// Only notes the signal: the program's message loop cancels the transfer.
extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return vizadavu::cli::Main(
      args, {std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1, &gInterrupted});
}
