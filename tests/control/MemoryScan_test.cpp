// After Clear, and after the control is gone, the process's writable memory
// holds no copy of the reply or of the form: the test reads its own memory
// and counts every occurrence of a random marker. Windows has the rows with
// the fake boundary (there is no server in a child process there).
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "control/Testing.h"
#include "platform/SecureMemory.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "tests/support/Pages.h"
#include "tests/support/Recorder.h"
#ifndef _WIN32
#include "tests/support/TestPki.h"
#endif
#include "vizadavu/vizADAVU.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VIZADAVU_HAS_ASAN 1
#endif
#endif
#ifndef VIZADAVU_HAS_ASAN
#define VIZADAVU_HAS_ASAN 0
#endif

namespace vizadavu::test {
namespace {

// A byte pattern this test never holds in the clear: it keeps the bytes XOR-ed
// with a random mask and unmasks one byte at a time while comparing.
class Secret {
 public:
  Secret() = default;
  // `n` random letters and digits.
  static Secret Random(std::size_t n, std::mt19937_64& rng) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    Secret s;
    for (std::size_t i = 0; i < n; ++i)
      s.Push(static_cast<std::uint8_t>(kAlphabet[rng() % 62]), rng);
    return s;
  }
  std::size_t size() const { return masked_.size(); }
  std::uint8_t At(std::size_t i) const { return masked_[i] ^ mask_[i]; }
  void Push(std::uint8_t byte, std::mt19937_64& rng) {
    const auto m = static_cast<std::uint8_t>(rng() | 1);
    mask_.push_back(m);
    masked_.push_back(byte ^ m);
  }
  // The same bytes as 16-bit characters, little-endian.
  Secret Wide(std::mt19937_64& rng) const {
    Secret w;
    for (std::size_t i = 0; i < size(); ++i) {
      w.Push(At(i), rng);
      w.Push(0, rng);
    }
    return w;
  }
  // The bytes from `from` on. The allocator writes its links over the first 16
  // bytes of a block it takes back, so the scan looks for what follows them:
  // a copy left in a freed block is found even when it began the block.
  Secret From(std::size_t from, std::mt19937_64& rng) const {
    Secret o;
    for (std::size_t i = from; i < size(); ++i) o.Push(At(i), rng);
    return o;
  }
  // The same bytes with one of them replaced (a space and its "+").
  Secret With(std::size_t at, std::uint8_t byte, std::mt19937_64& rng) const {
    Secret o;
    for (std::size_t i = 0; i < size(); ++i) o.Push(i == at ? byte : At(i), rng);
    return o;
  }

 private:
  std::vector<std::uint8_t> masked_, mask_;
};

struct Range {
  std::uintptr_t begin, end;
};

// Counts the occurrences of every pattern in the process's readable, writable
// mappings. The chunk buffer is a mapping of its own, left out of the scan and
// wiped afterwards.
std::vector<int> CountInMemory(const std::vector<const Secret*>& patterns) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::size_t longest = 0;
  for (const Secret* p : patterns) longest = std::max(longest, p->size());
#ifdef _WIN32
  // VirtualQuery and ReadProcessMemory (tests/support/win32/Pages.cpp).
  void* map = MapPages(kChunk);
  if (map == nullptr) throw std::runtime_error("no scan buffer");
  auto* chunk = static_cast<std::uint8_t*>(map);
  std::vector<Range> ranges;
  for (const auto& [begin, end] : WritableRegions(map)) ranges.push_back({begin, end});
#else
  void* map = mmap(nullptr, kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) throw std::runtime_error("no scan buffer");
  auto* chunk = static_cast<std::uint8_t*>(map);
  const auto self = reinterpret_cast<std::uintptr_t>(map);

  std::vector<Range> ranges;
  {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
      unsigned long begin = 0, end = 0;
      char perms[5] = {};
      if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) != 3) continue;
      if (perms[0] != 'r' || perms[1] != 'w') continue;
      if (begin <= self && self < end) continue;
      ranges.push_back({begin, end});
    }
  }
  const int mem = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  if (mem < 0) throw std::runtime_error("cannot open /proc/self/mem");
#endif
  std::vector<int> counts(patterns.size(), 0);
  for (const Range& r : ranges) {
    // Each step reads kChunk bytes, of which the last longest-1 are read again
    // by the next step, so a match is counted where it starts.
    for (std::uintptr_t at = r.begin; at < r.end;) {
      const std::size_t want = std::min<std::uintptr_t>(kChunk, r.end - at);
#ifdef _WIN32
      const auto got = static_cast<std::ptrdiff_t>(ReadOwnMemory(at, chunk, want));
#else
      const ssize_t got = pread(mem, chunk, want, static_cast<off_t>(at));
#endif
      if (got <= 0) break;  // a mapping that cannot be read (a guard, a device)
      const auto n = static_cast<std::size_t>(got);
      const bool last = at + n >= r.end;
      const std::size_t starts = last ? n : n - (longest - 1);
      for (std::size_t k = 0; k < patterns.size(); ++k) {
        const Secret& p = *patterns[k];
        const std::uint8_t* s = chunk;
        while (s < chunk + starts) {
          s = static_cast<const std::uint8_t*>(
              std::memchr(s, p.At(0), static_cast<std::size_t>(chunk + starts - s)));
          if (s == nullptr) break;
          std::size_t i = 1;
          while (i < p.size() && s + i < chunk + n && s[i] == p.At(i)) ++i;
          if (i == p.size()) ++counts[k];
          ++s;
        }
      }
      at += starts;
    }
  }
  platform::SecureWipe(chunk, kChunk);
#ifdef _WIN32
  UnmapPages(map);
#else
  close(mem);
  munmap(map, kChunk);
#endif
  return counts;
}

#ifdef _WIN32
// The fake boundary, but the body sent is not recorded.
struct UnrecordedInternet final : FakeInternet {
  bool SendRequest(platform::Handle, std::optional<std::string_view>) override { return true; }
};
#else
// A server in a child process, so that its copies of the reply and of the
// request are not in this process's memory. It answers every request with
// `marker` 40 times, spread so that chunked reads split some copies.
class ChildServer {
 public:
  ChildServer(const Secret& marker, const Pem* identity) {
    int port[2], stop[2];
    if (pipe2(port, O_CLOEXEC) != 0 || pipe2(stop, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      close(port[0]);
      close(stop[1]);
      Serve(marker, identity, port[1], stop[0]);
    }
    close(port[1]);
    close(stop[0]);
    stop_ = stop[1];
    std::uint16_t number = 0;
    if (read(port[0], &number, sizeof number) != sizeof number) number = 0;
    close(port[0]);
    port_ = number;
  }
  ~ChildServer() {
    close(stop_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  std::uint16_t Port() const { return port_; }

 private:
  [[noreturn]] static void Serve(const Secret& marker, const Pem* identity, int port, int stop) {
    try {
      std::string body;
      for (int copy = 0; copy < 40; ++copy) {
        body.append(static_cast<std::size_t>(37 + copy), '.');
        for (std::size_t i = 0; i < marker.size(); ++i)
          body.push_back(static_cast<char>(marker.At(i)));
      }
      LoopbackServer server(LoopbackServer::Respond(200, body),
                            identity ? std::optional(identity->Identity()) : std::nullopt);
      const std::uint16_t number = server.Port();
      if (write(port, &number, sizeof number) != sizeof number) _exit(1);
      char byte;
      while (read(stop, &byte, 1) > 0) {
      }
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  pid_t pid_ = -1;
  int stop_ = -1;
  std::uint16_t port_ = 0;
};
#endif

struct Mode {
  bool tls;
  Long receiveBufferSize;
};
// Without it the test framework prints the object's bytes, padding included.
void PrintTo(const Mode& mode, std::ostream* out) {
  *out << (mode.tls ? "TLS" : "plain") << ", ReceiveBufferSize " << mode.receiveBufferSize;
}

class MemoryScan : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__) || VIZADAVU_HAS_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory, which cannot be scanned";
#endif
#ifndef _WIN32
    setenv("SSL_CERT_FILE", pki.CaFile().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("SSL_CERT_FILE");
#endif
  }

  // Sets form entry 1 to `value` and wipes this test's own copy of it.
  static void SetValue(vizADAVU& control, const Secret& value) {
    Text text;
    text.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) text.push_back(value.At(i));
    control.FormVarValues(1, text);
    platform::SecureWipe(text.data(), text.capacity() * sizeof(char16_t));
  }

#ifndef _WIN32
  TestPki pki;
#endif
};

TEST_P(MemoryScan, NothingOfTheReplyOrTheFormOutlivesClearOrTheControl) {
  const Mode mode = GetParam();
  std::mt19937_64 rng(std::random_device{}());
  const Secret marker = Secret::Random(32, rng);
  // A form value with a space in it: as characters, as code-page bytes and
  // urlencoded ("+" for the space) it makes three different patterns.
  const Secret value = Secret::Random(40, rng).With(27, ' ', rng);
  constexpr std::size_t kSkip = 16;
  const Secret markerTail = marker.From(kSkip, rng);
  const Secret markerChars = marker.Wide(rng).From(kSkip, rng);
  const Secret valueTail = value.From(kSkip, rng);
  const Secret valueChars = value.Wide(rng).From(kSkip, rng);
  const Secret valueEncoded = value.With(27, '+', rng).From(kSkip, rng);
  const std::vector<const Secret*> patterns = {&markerTail, &markerChars, &valueTail, &valueChars,
                                               &valueEncoded};
  const char* names[] = {"reply bytes", "reply characters", "form value code-page bytes",
                         "form value characters", "form value urlencoded"};

#ifdef _WIN32
  const std::string url = "http://example.test/form";
  UnrecordedInternet fake;
  platform::Internet* const internet = &fake;
#else
  const Pem identity = pki.Issue("127.0.0.1");
  ChildServer server(marker, mode.tls ? &identity : nullptr);
  ASSERT_NE(server.Port(), 0);
  const std::string url = (mode.tls ? "https://127.0.0.1:" : "http://127.0.0.1:") +
                          std::to_string(server.Port()) + "/form";
  platform::Internet* const internet = nullptr;
#endif

  FakeClock clock;
  Recorder recorder;
  auto control =
      detail::Testing::New(&recorder, nullptr, platform::Services{internet, &clock, nullptr});
  auto submit = [&] {
    control->Secure_Mode_Off = !mode.tls;
    control->URL(Utf8ToText(url));
    control->ReceiveBufferSize = mode.receiveBufferSize;
    control->FormVarCount(2);
    control->FormVarNames(1, u"password");
    SetValue(*control, value);
    control->FormVarNames(2, u"user");
    control->FormVarValues(2, u"someone");
    recorder.events.clear();
#ifdef _WIN32
    fake.Restart();  // the same reply, in one block: no copy is left in one given back
    fake.reply.reserve(40 * (57 + marker.size()));
    for (std::size_t copy = 0; copy < 40; ++copy) {
      fake.reply.append(37 + copy, '.');
      for (std::size_t i = 0; i < marker.size(); ++i) fake.reply.push_back(char(marker.At(i)));
    }
#endif
    control->Action(1);
#ifdef _WIN32
    platform::SecureWipe(fake.reply.data(), fake.reply.size());
    fake.reply.clear();
#endif
    ASSERT_EQ(recorder.events.back(), "EndTransfer");
  };

  ASSERT_NO_FATAL_FAILURE(submit());
  const std::vector<int> before = CountInMemory(patterns);
  EXPECT_GT(before[0], 0) << "the scan finds the reply the control holds";
  EXPECT_GT(before[3], 0) << "the scan finds the form value the control holds";
  if (mode.receiveBufferSize < 0) {
    EXPECT_GE(before[1], 40) << "the reply text holds every copy";
  }

  control->Clear();
  const std::vector<int> afterClear = CountInMemory(patterns);
  for (std::size_t k = 0; k < patterns.size(); ++k) {
    EXPECT_EQ(afterClear[k], 0) << names[k] << " after Clear";
  }

  // Again, and this time the control goes without a Clear.
  ASSERT_NO_FATAL_FAILURE(submit());
  control.reset();
  const std::vector<int> afterDestruction = CountInMemory(patterns);
  for (std::size_t k = 0; k < patterns.size(); ++k) {
    EXPECT_EQ(afterDestruction[k], 0) << names[k] << " after destruction";
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, MemoryScan,
                         ::testing::Values(Mode{false, -1}, Mode{false, 8192}, Mode{true, -1},
                                           Mode{true, 8192}),
                         [](const ::testing::TestParamInfo<Mode>& param) {
                           return std::string(param.param.tls ? "Tls" : "Plain") +
                                  (param.param.receiveBufferSize < 0 ? "Chunked" : "SingleRead");
                         });

}  // namespace
}  // namespace vizadavu::test
