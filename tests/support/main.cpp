// Test entry point. Tests talk only to loopback servers, so a proxy configured
// in the environment must not reroute them.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    unsetenv(name);
  }
  setenv("no_proxy", "*", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
