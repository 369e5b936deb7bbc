// The reply server of bench/run, in a process of its own so that every side
// (in-process or not) talks to it alike: GET or POST /N answers N bytes of the
// benchmark pattern. Prints "http://127.0.0.1:PORT" once it listens, then serves
// until it is killed or its standard input ends.
#include <cstdio>

#include "bench/BenchSupport.h"

int main() {
  vizadavu::bench::ReplyBytes();  // the pattern, made before the first request
  vizadavu::loopback::LoopbackServer& server = vizadavu::bench::Server();
  std::printf("http://%s\n", server.HostPort().c_str());
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
