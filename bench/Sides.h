// The two sides of each side-by-side comparison: the control and one peer (raw
// libcurl, Qt Network, Python requests), each doing the same job against the
// same loopback server and bytes. A side times one job itself, from its start
// until the host holds the result, and frees the result afterwards, untimed.
// The result is what the control delivers: for a chunked read the reply as
// 16-bit text, one character per byte by Windows-1252, so a peer's chunked job
// ends with its own widening of the bytes it received.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vizadavu::bench {

enum class Kind { Post, Chunked, Single, UrlEncode };

// One row of the table: "post" (a POST of ten fields), "chunked/MIB" (text read),
// "single/MIB" (one read of the whole reply into bytes), "urlencode" (1 MiB).
struct Row {
  Kind kind = Kind::Post;
  std::size_t bytes = 0;  // reply size; 0 for post and urlencode
  int batch = 1;          // jobs per measurement, so that each lasts a few milliseconds
  std::string name;
};

// Nullopt for anything but the four forms above (MIB a positive number of MiB
// of at most 4096).
std::optional<Row> ParseRow(std::string_view name);

// The ten form fields every side submits.
std::vector<std::pair<std::string, std::string>> FormFields();

// Seconds from a job's start until the host holds its result, and until it held
// the reply's bytes on the way there. The two differ only for a peer's chunked
// read, which widens its bytes after it; the control's chunked read delivers
// text alone, so its bytes time is its result time.
struct Times {
  double result = 0;
  double bytes = 0;
};

class Side {
 public:
  virtual ~Side() = default;
  // Runs one job and times it. Throws std::runtime_error when the job failed or
  // the result is wrong.
  virtual Times Once() = 0;
  // Runs one chunked-read job and returns the text the host then holds (the
  // benchmarks' own checks; untimed, released with the wipe).
  virtual std::u16string TextOnce() {
    throw std::runtime_error("this side keeps no text of its own");
  }
  // Frees the result of the last job (untimed). With wipe, as a host would
  // release it; without, the quickest way (the warm rows, between jobs).
  virtual void Release(bool wipe) { (void)wipe; }
};

// base: "http://127.0.0.1:PORT" of the reply server.
std::unique_ptr<Side> MakeControl(const Row& row, const std::string& base);
std::unique_ptr<Side> MakeCurl(const Row& row, const std::string& base);
// Null when this build has no Qt Network.
std::unique_ptr<Side> MakeQt(const Row& row, const std::string& base, int& argc, char** argv);
// A python3 process running script as a worker; null for urlencode.
std::unique_ptr<Side> MakeRequests(const Row& row, const std::string& base,
                                   const std::string& script);

// Average times of one job over row.batch jobs, each released quickly.
Times Batch(Side& side, const Row& row);

}  // namespace vizadavu::bench
