// The proxy the environment names for a request, with libcurl's rules.
#include "platform/curl/Proxy.h"

#include <gtest/gtest.h>

#include "tests/support/Loopback.h"

namespace vizadavu::platform {
namespace {

using test::ScopedEnv;

TEST(NoProxy, ListsMatchLikeLibcurl) {
  struct Case {
    const char* host;
    const char* list;
    bool matches;
  } cases[] = {
      {"example.test", "*", true},
      {"example.test", "", false},
      {"example.test", "example.test", true},
      {"www.Example.TEST", "example.test", true},
      {"www.example.test", ".example.test", true},
      {"badexample.test", "example.test", false},
      {"example.test.", "other, example.test.", true},
      {"example.test", "a b\texample.test", true},
      {"example.test", "*.example.test", false},
      {"127.0.0.1", "localhost,127.0.0.1", true},
      {"127.0.0.2", "127.0.0.0/8", true},
      {"128.0.0.1", "127.0.0.0/8", false},
      {"127.0.0.1", "127.0.0.0", false},
      {"[::1]", "::1", true},
      {"::1", "::/127", true},
      {"::2", "::/127", false},
      {"::1", "127.0.0.1", false},
      {"127.0.0.1", "127.0.0.1.example", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoProxyMatches(c.host, c.list), c.matches) << c.host << " in " << c.list;
  }
  ScopedEnv https("https_proxy", nullptr);
  ScopedEnv httpsUpper("HTTPS_PROXY", "http://upper.invalid:1");
  ScopedEnv http("http_proxy", nullptr);
  ScopedEnv httpUpper("HTTP_PROXY", "http://never.invalid:1");  // ignored, as libcurl does
  ScopedEnv all("all_proxy", "");
  ScopedEnv none("no_proxy", "skip.test");
  EXPECT_EQ(EnvironmentProxy("https", "h.test"), "http://upper.invalid:1");
  EXPECT_EQ(EnvironmentProxy("https", "a.skip.test"), "");
  EXPECT_EQ(EnvironmentProxy("http", "h.test"), "");  // all_proxy set but empty
}

}  // namespace
}  // namespace vizadavu::platform
