// The two sides of each side-by-side comparison: the control and one peer (raw
// libcurl, Qt Network, Python requests), each doing the same job against the
// same loopback server and bytes. A side times one job itself, from its start
// until the host holds the result, and frees the result afterwards, untimed.
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

class Side {
 public:
  virtual ~Side() = default;
  // Runs one job; seconds from its start until the host holds the result.
  // Throws std::runtime_error when the job failed or the result is wrong.
  virtual double Once() = 0;
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

// Average seconds of one job over row.batch jobs, each released quickly.
double Batch(Side& side, const Row& row);

}  // namespace vizadavu::bench
