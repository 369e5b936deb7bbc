#include <unistd.h>

#include <iostream>

#include "tools/vizadavu/Cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return vizadavu::cli::Main(args, {std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1});
}
