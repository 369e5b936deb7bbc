// The control and raw libcurl sides, and the row names.
#include "bench/Sides.h"

#include <curl/curl.h>

#include <array>
#include <charconv>
#include <chrono>

#include "bench/BenchSupport.h"
#include "control/Testing.h"
#include "platform/CodePage.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::bench {
namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Jobs of a few milliseconds or more; smaller ones are repeated within a batch.
int BatchFor(std::size_t bytes) {
  return bytes >= 64 * kMiB ? 1 : static_cast<int>(std::min<std::size_t>(20, 64 * kMiB / bytes));
}

struct Events : vizADAVUEvents {
  bool ended = false;
  void EndTransfer() override { ended = true; }
};

// The control, its pause skipped by a clock that moves 100 ms per reading.
class ControlSide : public Side {
 public:
  ControlSide(const Row& row, const std::string& base)
      : row_(row), url_(Utf8ToText(base + "/" + std::to_string(row.bytes))) {}

  Times Once() override {
    const auto start = std::chrono::steady_clock::now();
    std::size_t held = 0;
    if (row_.kind == Kind::UrlEncode) {
      if (!control_) control_ = New();
      held = control_->URLEncode(MixedText()).size();
      const double seconds = Since(start);
      if (held < kMiB) throw std::runtime_error("URLEncode came back short");
      return {seconds, seconds};
    }
    events_.ended = false;
    control_ = New();
    control_->Secure_Mode_Off = true;
    control_->URL(url_);
    if (row_.kind == Kind::Post) {
      control_->FormVarCount(10);
      Long i = 1;
      for (const auto& [name, value] : FormFields()) {
        control_->FormVarNames(i, Utf8ToText(name));
        control_->FormVarValues(i++, Utf8ToText(value));
      }
    } else {
      control_->ReceiveBufferSize = row_.kind == Kind::Chunked ? -1 : static_cast<Long>(row_.bytes);
    }
    control_->Action(row_.kind == Kind::Post ? 1 : 0);
    held = row_.kind == Kind::Single ? control_->StringBView().size
                                     : control_->ReceiveBufferView().size();
    const double seconds = Since(start);
    if (!events_.ended) throw std::runtime_error("the control's transfer failed");
    // A single read's view also holds the terminating byte after the reply.
    if (held < row_.bytes || held > row_.bytes + 1)
      throw std::runtime_error("the control holds " + std::to_string(held) + " bytes");
    return {seconds, seconds};
  }

  std::u16string TextOnce() override {
    Once();
    std::u16string text(control_->ReceiveBufferView());
    Release(true);
    return text;
  }

  void Release(bool wipe) override {
    if (!control_ || row_.kind == Kind::UrlEncode) return;
    if (!wipe) control_->ReceiveBufferSize = -1;  // release without the random overwrite
    control_->Clear();
    control_.reset();
  }

 private:
  std::unique_ptr<vizADAVU> New() {
    return detail::Testing::New(&events_, nullptr, platform::Services{nullptr, &clock_});
  }

  Row row_;
  Text url_;
  test::FakeClock clock_;
  Events events_;
  std::unique_ptr<vizADAVU> control_;
};

// The control's own character of every byte, for a libcurl host to widen its
// std::string with one table load per byte.
const std::array<char16_t, 256>& WideningTable() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (std::size_t b = 0; b < t.size(); ++b)
      t[b] = platform::AnsiToChar(static_cast<std::uint8_t>(b));
    return t;
  }();
  return table;
}

std::size_t AppendToString(char* data, std::size_t, std::size_t size, void* out) {
  static_cast<std::string*>(out)->append(data, size);
  return size;
}

// Raw libcurl: one easy transfer into a std::string per job; a POST body built
// with curl_easy_escape from the same fields, as a libcurl host would. A
// chunked read then widens the string into a std::u16string sized once.
class CurlSide : public Side {
 public:
  CurlSide(const Row& row, const std::string& base)
      : row_(row), url_(base + "/" + std::to_string(row.bytes)) {
    // Only the URLEncode row gets its handle up front: any other row's first
    // transfer initialises libcurl inside its timing and its memory, as the
    // control's first transfer does.
    if (row.kind == Kind::UrlEncode) {
      ansi_ = TextToAnsi(MixedText());
      escaper_ = curl_easy_init();
    }
    WideningTable();  // built once, before any timing
  }
  ~CurlSide() override { curl_easy_cleanup(escaper_); }

  Times Once() override {
    const auto start = std::chrono::steady_clock::now();
    if (row_.kind == Kind::UrlEncode) {
      const double seconds = Escape(start);
      return {seconds, seconds};
    }
    CURL* easy = curl_easy_init();
    std::string body;
    if (row_.kind == Kind::Post) {
      for (const auto& [name, value] : FormFields()) {
        if (!body.empty()) body += '&';
        Append(body, easy, name);
        body += '=';
        Append(body, easy, value);
      }
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, AppendToString);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply_);
    const CURLcode rc = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    const double bytesSeconds = Since(start);
    if (row_.kind == Kind::Chunked) {
      const std::array<char16_t, 256>& table = WideningTable();
      text_.resize(reply_.size());
      char16_t* out = text_.data();
      for (const char c : reply_) *out++ = table[static_cast<unsigned char>(c)];
    }
    const double seconds = Since(start);
    if (rc != CURLE_OK) throw std::runtime_error(curl_easy_strerror(rc));
    if (reply_.size() != row_.bytes) throw std::runtime_error("libcurl's reply came back short");
    return {seconds, bytesSeconds};
  }

  std::u16string TextOnce() override {
    Once();
    std::u16string text = text_;
    Release(true);
    return text;
  }

  void Release(bool) override {
    std::string().swap(reply_);
    std::u16string().swap(text_);
  }

 private:
  static void Append(std::string& out, CURL* easy, const std::string& text) {
    char* escaped = curl_easy_escape(easy, text.data(), static_cast<int>(text.size()));
    out += escaped;
    curl_free(escaped);
  }

  double Escape(std::chrono::steady_clock::time_point start) {
    char* escaped = curl_easy_escape(escaper_, ansi_.data(), static_cast<int>(ansi_.size()));
    const double seconds = Since(start);
    const bool ok = escaped != nullptr && std::char_traits<char>::length(escaped) >= ansi_.size();
    curl_free(escaped);
    if (!ok) throw std::runtime_error("curl_easy_escape failed");
    return seconds;
  }

  Row row_;
  std::string url_;
  std::string ansi_;
  std::string reply_;
  std::u16string text_;
  CURL* escaper_ = nullptr;
};

}  // namespace

std::optional<Row> ParseRow(std::string_view name) {
  Row row;
  row.name = std::string(name);
  if (name == "post" || name == "urlencode") {
    row.kind = name == "post" ? Kind::Post : Kind::UrlEncode;
    row.batch = name == "post" ? 20 : 10;
    return row;
  }
  const std::size_t slash = name.find('/');
  const std::string_view kind = name.substr(0, slash);
  if (slash == std::string_view::npos || (kind != "chunked" && kind != "single"))
    return std::nullopt;
  std::size_t mib = 0;
  const char* end = name.data() + name.size();
  const auto [stop, error] = std::from_chars(name.data() + slash + 1, end, mib);
  if (error != std::errc() || stop != end || mib == 0 || mib > 4096) return std::nullopt;
  row.kind = kind == "chunked" ? Kind::Chunked : Kind::Single;
  row.bytes = mib * kMiB;
  row.batch = BatchFor(row.bytes);
  return row;
}

std::vector<std::pair<std::string, std::string>> FormFields() {
  std::vector<std::pair<std::string, std::string>> fields;
  for (int i = 1; i <= 10; ++i)
    fields.emplace_back("field" + std::to_string(i % 10), "value with spaces & symbols");
  return fields;
}

std::unique_ptr<Side> MakeControl(const Row& row, const std::string& base) {
  return std::make_unique<ControlSide>(row, base);
}

std::unique_ptr<Side> MakeCurl(const Row& row, const std::string& base) {
  return std::make_unique<CurlSide>(row, base);
}

Times Batch(Side& side, const Row& row) {
  Times total;
  for (int i = 0; i < row.batch; ++i) {
    const Times job = side.Once();
    total.result += job.result;
    total.bytes += job.bytes;
    side.Release(false);
  }
  return {total.result / row.batch, total.bytes / row.batch};
}

}  // namespace vizadavu::bench
