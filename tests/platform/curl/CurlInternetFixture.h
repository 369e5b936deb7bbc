// What the tests of the libcurl internet boundary share: a request opened the
// way the transfer engine opens one, reads to the end, and the request head the
// engine's headers make.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/curl/CurlInternet.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestPki.h"

namespace vizadavu::platform {

using namespace std::chrono_literals;
using test::Connection;
using test::LoopbackServer;
using test::ScopedEnv;
using test::TestPki;
using test::Trickle;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kPlainFlags = 0x84200000;
constexpr std::uint32_t kTlsFlags = 0x84A03000;
constexpr std::uint32_t kTlsStrictFlags = 0x84A00000;  // without the ignore-date/name flags
constexpr const char* kEngineHeaders[] = {"Accept-Language: en\r\n", "Connection: Keep-Alive\r\n",
                                          "Content-Type: application/x-www-form-urlencoded\r\n"};

// The first line of an echoed request.
inline std::string FirstLine(const std::string& echoed) {
  return echoed.substr(0, echoed.find("\r\n"));
}

inline long long MsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

class CurlInternetTest : public ::testing::Test {
 protected:
  // Opens a request the way the transfer engine does.
  Handle Open(std::uint16_t port, std::string_view verb, std::string_view object,
              std::uint32_t flags = kPlainFlags, std::string_view host = "127.0.0.1",
              std::uint32_t access = inet::kOpenTypePreconfig) {
    session_ = net_.OpenSession("Tormelo/1.0", access);
    EXPECT_NE(session_, kNullHandle);
    const Handle connection = net_.Connect(session_, host, port, "", "", inet::kServiceHttp);
    EXPECT_NE(connection, kNullHandle) << net_.LastError();
    const Handle request = net_.OpenRequest(connection, verb, object, "HTTP/1.0", flags);
    EXPECT_NE(request, kNullHandle) << net_.LastError();
    for (const char* header : kEngineHeaders) {
      EXPECT_TRUE(net_.AddRequestHeaders(request, header, 0xA0000000));
    }
    return request;
  }

  // Reads to the end of the body in chunks; fails the test on a read error.
  std::string ReadAll(Handle request, std::uint32_t chunk = 2048) {
    std::string all;
    std::vector<std::uint8_t> buffer(chunk);
    for (std::uint32_t got = 1; got != 0;) {
      if (!net_.ReadFile(request, buffer.data(), chunk, got)) {
        ADD_FAILURE() << "read failed with " << net_.LastError();
        break;
      }
      all.append(reinterpret_cast<const char*>(buffer.data()), got);
    }
    return all;
  }

  // Sends and reads the whole body.
  std::string Exchange(Handle request, std::optional<std::string_view> body = std::nullopt) {
    EXPECT_TRUE(net_.SendRequest(request, body)) << net_.LastError();
    return ReadAll(request);
  }

  // A failing read: FALSE, 0 bytes, and the error code.
  std::uint32_t ReadError(Handle request) {
    std::uint8_t buffer[64];
    std::uint32_t got = 99;
    EXPECT_FALSE(net_.ReadFile(request, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    return static_cast<std::uint32_t>(net_.LastError());
  }

  void TearDown() override {
    if (session_ != kNullHandle) net_.CloseHandle(session_);
  }

  test::WatchedMemory memory_;
  CurlInternet net_{memory_};
  Handle session_ = kNullHandle;
};

inline std::string Head(std::string_view line, std::uint16_t port, std::string_view extra = "") {
  return std::string(line) + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nUser-Agent: Tormelo/1.0\r\nAccept-Language: en\r\nConnection: Keep-Alive\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\n" +
         std::string(extra) + "\r\n";
}

}  // namespace vizadavu::platform
