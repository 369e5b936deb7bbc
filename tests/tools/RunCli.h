// Runs the vizadavu program's Main in this process, on strings.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/vizadavu/Cli.h"

namespace vizadavu::test {

struct Result {
  int status;
  std::string out;
  std::string err;
};

inline Result RunCli(const std::vector<std::string>& args, const std::string& input = "",
                     bool terminal = false, std::optional<Long> defaultReadSize = std::nullopt) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = cli::Main(args, {in, out, err, terminal, nullptr, defaultReadSize});
  return {status, out.str(), err.str()};
}

}  // namespace vizadavu::test
