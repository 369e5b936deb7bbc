// Test entry point on Windows: no proxy from the environment.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    _putenv_s(name, "");  // an empty value removes the variable
  }
  _putenv_s("no_proxy", "*");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
