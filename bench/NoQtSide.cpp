// Builds without Qt Network have no Qt peer.
#include "bench/Sides.h"

namespace vizadavu::bench {

std::unique_ptr<Side> MakeQt(const Row&, const std::string&, int&, char**) {
  return nullptr;
}

}  // namespace vizadavu::bench
