// A loopback echo server for scripts: prints its port, answers every request
// with 200 and the raw request as the body, and stops when standard input
// closes or after five minutes.
#include <poll.h>
#include <unistd.h>

#include <iostream>

#include "tools/loopback/LoopbackServer.h"

int main() {
  vizadavu::loopback::LoopbackServer server(vizadavu::loopback::LoopbackServer::Echo());
  std::cout << server.Port() << std::endl;
  pollfd in{STDIN_FILENO, POLLIN, 0};
  char byte;
  while (poll(&in, 1, 300000) > 0 && read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}
