// A loopback echo server for scripts: prints its port, answers every request
// with 200 and the raw request as the body, and stops when standard input
// closes or after five minutes.
#include <poll.h>
#include <unistd.h>

#include <iostream>

#include "tests/support/LoopbackServer.h"

int main() {
  vizadavu::test::LoopbackServer server(vizadavu::test::LoopbackServer::Echo());
  std::cout << server.Port() << std::endl;
  pollfd in{STDIN_FILENO, POLLIN, 0};
  char byte;
  while (poll(&in, 1, 300000) > 0 && read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}
