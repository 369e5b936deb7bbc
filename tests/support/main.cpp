// Test entry point: no proxy and no trust store from the environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/Loopback.h"

int main(int argc, char** argv) {
  vizadavu::test::ClearProxyEnvironment();
  unsetenv("SSL_CERT_FILE");
  unsetenv("SSL_CERT_DIR");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
