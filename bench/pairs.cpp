// Side-by-side runs of the control and one peer, for bench/run's table.
//
//   vizadavu_bench_pairs warm BASE ROW PEER [PAIRS]
//     Both sides in this process, both warm (two untimed batches each first), then
//     PAIRS (default 7, at least 5) interleaved pairs: control then peer, peer
//     then control, and so on, so that a burst of load on the machine hits both
//     sides of a pair alike. Each side runs under glibc's malloc with every block
//     kept on the heap (M_MMAP_MAX 0, trim threshold 1 GiB), the best case for a
//     host that reuses its heap; the setting is process-wide, so both sides get it.
//   vizadavu_bench_pairs cold BASE ROW SIDE
//     One job of one side, the first in this fresh process, with glibc's
//     defaults: its time, the process's peak resident memory (getrusage
//     ru_maxrss), and resident memory before the job and after its release.
//
// A chunked row also records each peer's time until it held the reply's bytes,
// before widening them to the control's text ("peer_bytes_s", "bytes_seconds").
//
// BASE is "http://127.0.0.1:PORT" of a reply server (vizadavu_bench_server),
// ROW one of post, urlencode, chunked/MIB, single/MIB; PEER curl, qt or
// requests; SIDE control, curl or qt. Prints one JSON line on standard output.
#include <openssl/ssl.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>

#include "bench/BenchSupport.h"
#include "bench/Sides.h"

namespace vizadavu::bench {
namespace {

std::string List(const std::vector<double>& values) {
  std::ostringstream out;
  out.precision(9);
  out << '[';
  for (std::size_t i = 0; i < values.size(); ++i) out << (i ? ", " : "") << values[i];
  return out.str() + ']';
}

std::unique_ptr<Side> MakePeer(const std::string& peer, const Row& row, const std::string& base,
                               int& argc, char** argv) {
  if (peer == "curl") return MakeCurl(row, base);
  if (peer == "qt") return MakeQt(row, base, argc, argv);
  if (peer == "requests") return MakeRequests(row, base, VIZADAVU_BENCH_DIR "/requests_peer.py");
  if (peer == "control") return MakeControl(row, base);
  return nullptr;
}

int Warm(const Row& row, const std::string& base, Side& peer, const std::string& peerName,
         int pairs) {
  std::unique_ptr<Side> control = MakeControl(row, base);
  // Two rounds of warm-up: a peer's heap settles only after its second large reply.
  for (int i = 0; i < 2; ++i) {
    Batch(*control, row);
    Batch(peer, row);
  }
  std::vector<double> controlSeconds, peerSeconds, peerBytesSeconds;
  const auto runPeer = [&] {
    const Times times = Batch(peer, row);
    peerSeconds.push_back(times.result);
    peerBytesSeconds.push_back(times.bytes);
  };
  for (int i = 0; i < pairs; ++i) {
    if (i % 2 == 0) {
      controlSeconds.push_back(Batch(*control, row).result);
      runPeer();
    } else {
      runPeer();
      controlSeconds.push_back(Batch(*control, row).result);
    }
  }
  const std::string bytes =
      row.kind == Kind::Chunked ? ", \"peer_bytes_s\": " + List(peerBytesSeconds) : "";
  std::printf(
      "{\"row\": \"%s\", \"peer\": \"%s\", \"state\": \"warm\", \"batch\": %d, "
      "\"control_s\": %s, \"peer_s\": %s%s}\n",
      row.name.c_str(), peerName.c_str(), row.batch, List(controlSeconds).c_str(),
      List(peerSeconds).c_str(), bytes.c_str());
  return 0;
}

int Cold(const Row& row, const std::string& sideName, Side& side) {
  const long before = Resident();
  const Times times = side.Once();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  side.Release(true);
  const long after = Resident();
  std::printf(
      "{\"row\": \"%s\", \"side\": \"%s\", \"state\": \"cold\", \"seconds\": %.9g, "
      "\"bytes_seconds\": %.9g, \"maxrss_kib\": %ld, \"rss_before_kib\": %ld, "
      "\"rss_after_release_kib\": %ld}\n",
      row.name.c_str(), sideName.c_str(), times.result, times.bytes, usage.ru_maxrss, before / 1024,
      after / 1024);
  return 0;
}

int Run(int argc, char** argv) {
  const std::string usage =
      "usage: vizadavu_bench_pairs warm BASE ROW PEER [PAIRS] | cold BASE ROW SIDE\n";
  if (argc < 5) throw std::invalid_argument(usage);
  const std::string mode = argv[1], base = argv[2], sideName = argv[4];
  const std::optional<Row> row = ParseRow(argv[3]);
  if (!row) throw std::invalid_argument(std::string("unknown row ") + argv[3] + "\n" + usage);
  const int pairs = argc > 5 ? std::atoi(argv[5]) : 7;
  if (mode == "warm") {
    if (pairs < 5) throw std::invalid_argument("at least 5 pairs\n");
    KeepFreedBlocksOnTheHeap();
  } else if (mode != "cold") {
    throw std::invalid_argument(usage);
  } else {
    // The Python side's `import requests` initialises OpenSSL, configuration
    // file included, before its clock starts; every side here starts the same
    // way. libcurl's own initialisation stays inside the first transfer.
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr);
  }
  std::unique_ptr<Side> side = MakePeer(sideName, *row, base, argc, argv);
  if (!side || (mode == "warm" && sideName == "control"))
    throw std::invalid_argument(sideName + " cannot run " + row->name + " in this build\n");
  return mode == "warm" ? Warm(*row, base, *side, sideName, pairs) : Cold(*row, sideName, *side);
}

}  // namespace
}  // namespace vizadavu::bench

int main(int argc, char** argv) {
  try {
    return vizadavu::bench::Run(argc, argv);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    std::fprintf(stderr, "vizadavu_bench_pairs: %s%s", what.c_str(),
                 what.ends_with('\n') ? "" : "\n");
    return 2;
  }
}
