// The transfer side of the program: the control's host, the reply written
// straight from the control's views, and the messages around the transfer.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>

#include "tools/common/FormTools.h"
#include "tools/vizadavu/Cli.h"

namespace vizadavu::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Reports the characters the code page cannot carry; they are sent as "?" (in
// the URL's path and query as "%3F").
void WarnUnrepresentable(const Text& text, const std::string& what, std::ostream& err,
                         const char* sentAs = "'?'") {
  if (!tools::CodePageCarries(text)) {
    err << "vizadavu: warning: " << what
        << " has characters the Windows-1252 code page cannot represent; they are sent as "
        << sentAs << "\n";
  }
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The scheme does not choose the mode; say so when they disagree.
void WarnSchemeMismatch(const Options& options, std::ostream& err) {
  if (!options.plain && StartsWithNoCase(options.url, "http://")) {
    err << "vizadavu: warning: the URL says http:// but TLS is on; add --plain\n";
  } else if (options.plain && StartsWithNoCase(options.url, "https://")) {
    err << "vizadavu: warning: the URL says https:// but --plain is on; drop --plain\n";
  }
}

// The server part of the URL ("user@host:port"), as the control splits it.
std::string Authority(const std::string& url) {
  std::size_t start = url.find("//");
  start = start == std::string::npos || start > url.find_first_of("?#") ? 0 : start + 2;
  const std::size_t end = url.find_first_of("/?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string HostOf(const std::string& authority) {
  if (!authority.empty() && authority.front() == '[') {
    return authority.substr(0, authority.find(']') + 1);
  }
  const std::size_t colon = authority.find(':');
  if (colon != std::string::npos && authority.find(':', colon + 1) == std::string::npos) {
    return authority.substr(0, colon);
  }
  return authority;
}

std::string Elapsed(Clock::time_point start) {
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::ostringstream text;
  text << "[" << std::fixed << std::setprecision(3) << std::setw(7) << seconds << " s]";
  return text.str();
}

// The host side of the control: remembers the outcome, reports events in
// verbose mode, and on a terminal shows how much of a big reply has come in.
class Host : public vizADAVUEvents, public MessageLoop {
 public:
  Host(std::ostream& err, bool verbose, bool progress)
      : err_(err), verbose_(verbose), progress_(progress) {}

  // The control to report on, and to cancel when `interrupted` is set.
  void Start(vizADAVU& control, const volatile std::sig_atomic_t* interrupted) {
    control_ = &control;
    interrupted_ = interrupted;
    start_ = Clock::now();
  }

  void Status(Long StatusCode, const Text&) override {
    if (verbose_) err_ << "vizadavu: " << Elapsed(start_) << " Status " << StatusCode << "\n";
    if (StatusCode == status::RequestSent) receiving_ = Clock::now();
  }
  void EndTransfer() override {
    EndProgress();
    ended_ = true;
    if (verbose_) err_ << "vizadavu: " << Elapsed(start_) << " EndTransfer\n";
  }
  void Error(const Text& ErrorMessage) override {
    EndProgress();
    error_ = TextToUtf8(ErrorMessage);
    if (verbose_) err_ << "vizadavu: " << Elapsed(start_) << " Error " << error_ << "\n";
  }
  // Runs after every read of a chunked reply and every 20 ms of waiting,
  // among other times.
  void DoEvents() override {
    if (interrupted_ != nullptr && *interrupted_ != 0 && control_ != nullptr) control_->Cancel();
    if (!progress_ || !receiving_ || control_ == nullptr) return;
    const std::uint64_t bytes = control_->BytesReceived();
    const auto now = Clock::now();
    if (bytes <= kProgressFrom || now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    const double seconds = std::max(1e-3, std::chrono::duration<double>(now - *receiving_).count());
    std::ostringstream line;
    line << "\rvizadavu: " << std::fixed << std::setprecision(1)
         << static_cast<double>(bytes) / (1 << 20) << " MiB received, "
         << static_cast<double>(bytes) / (1 << 20) / seconds << " MiB/s\x1b[K";
    err_ << line.str() << std::flush;
    shown_ = true;
  }

  bool ended() const { return ended_; }
  const std::string& error() const { return error_; }

 private:
  static constexpr std::uint64_t kProgressFrom = 1 << 20;

  // Erases the progress line, so what follows starts on a clean line.
  void EndProgress() {
    receiving_.reset();
    if (shown_) err_ << "\r\x1b[K" << std::flush;
    shown_ = false;
  }

  std::ostream& err_;
  bool verbose_;
  bool progress_;
  vizADAVU* control_ = nullptr;
  const volatile std::sig_atomic_t* interrupted_ = nullptr;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_{};
  std::optional<Clock::time_point> receiving_;
  bool shown_ = false;
  bool ended_ = false;
  std::string error_;
};

// Writes the reply as the bytes the server sent, from the control's own
// storage: the single read's bytes as they are, the text narrowed back to its
// code-page bytes a bounded piece at a time. False when out fails.
bool WriteReply(const vizADAVU& control, std::ostream& out) {
  if (control.ReceiveBufferSize >= 0) {
    // In pieces of 256 KiB: one write of a 300 MiB reply into a file took the
    // program 0.7-1.3 s on the development VM, the same bytes in 1 MiB writes
    // about 0.2 s; on a later kernel (6.18, ext4) 1 MiB and 512 KiB writes of
    // 300 MiB took 0.1 s or 0.4-0.9 s by turns, 64-256 KiB writes 0.09-0.11 s
    // every time (bench/README.md).
    const vizADAVU::ByteView bytes = control.StringBView();
    constexpr std::size_t kPiece = std::size_t{256} << 10;
    for (std::size_t done = 0; done < bytes.size && out;) {
      const std::size_t count = std::min(kPiece, bytes.size - done);
      out.write(reinterpret_cast<const char*>(bytes.data + done),
                static_cast<std::streamsize>(count));
      done += count;
    }
  } else {
    // Pieces small enough that the allocator reuses the same blocks for each:
    // with pieces near its trim threshold (128 KiB) every piece made the heap
    // grow and shrink, and its fresh pages cost more than the narrowing itself.
    const std::u16string_view text = control.ReceiveBufferView();
    constexpr std::size_t kPiece = 1 << 13;
    Text piece;
    piece.reserve(kPiece);
    for (std::size_t done = 0; done < text.size() && out;) {
      const std::size_t count = std::min(kPiece, text.size() - done);
      piece.assign(text.substr(done, count));
      const std::string bytes = TextToAnsi(piece);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      done += count;
    }
  }
  out.flush();
  return static_cast<bool>(out);
}

int Run(const Options& options, const Environment& env, std::ostream& out, bool demo) {
  Host host(env.err, options.verbose, env.errIsTerminal);
  vizADAVU control(&host, &host);
  control.YieldWhileWaiting = true;  // so Ctrl-C is noticed while the network is slow
  const auto& fields =
      options.query ? std::vector<std::pair<std::string, std::string>>{} : options.fields;
  const auto count = fields.size();
  if (count > static_cast<std::size_t>(std::numeric_limits<Integer>::max())) {
    throw UsageError("too many fields: " + std::to_string(count) + " (at most 32767)");
  }
  control.FormVarCount(static_cast<Long>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [name, value] = fields[i];
    const Text textName = Utf8ToText(name);
    const Text textValue = Utf8ToText(value);
    WarnUnrepresentable(textName + textValue, "field " + std::to_string(i + 1) + " (" + name + ")",
                        env.err);
    control.FormVarNames(static_cast<Long>(i + 1), textName);
    control.FormVarValues(static_cast<Long>(i + 1), textValue);
  }
  const std::string urlText = options.query ? WithQuery(options.url, options.fields) : options.url;
  const Text url = Utf8ToText(urlText);
  WarnUnrepresentable(url, "the URL", env.err, "%3F");
  if (!demo) WarnSchemeMismatch(options, env.err);
  control.URL(url);
  control.Secure_Mode_Off = options.plain;
  control.StrictCertificates = options.strictCertificates;
  if (options.readSize) {
    control.ReceiveBufferSize = *options.readSize;
  } else {
    control.ReceiveBufferSize = env.defaultReadSize ? *env.defaultReadSize : MachineReadSize();
  }

  host.Start(control, env.interrupted);
  try {
    control.Action(options.action);
  } catch (const std::overflow_error&) {
    throw UsageError("--action: " + std::to_string(options.action) + " is outside -32768..32767");
  }
  if (host.error() == std::to_string(errors::Cancelled)) {
    control.Clear();
    env.err << "vizadavu: cancelled\n";
    return kExitInterrupted;
  }
  // Whatever arrived is written, also after an error, as the bytes the server sent.
  const Long status = control.HttpStatusCode();
  // A single read that filled its buffer may have left part of the reply unread.
  const Long readSize = control.ReceiveBufferSize;
  const bool filled =
      readSize > 0 && control.StringBView().size == static_cast<std::size_t>(readSize);
  errno = 0;
  const bool written = WriteReply(control, out);
  const int writeErrno = errno;
  // The reply is wiped as the control is destroyed, on the way out: zeros, not
  // Clear's random bytes and then zeros, which took 0.1 s more for 300 MiB.
  if (!written) {
    env.err << "vizadavu: cannot write the reply: "
            << (writeErrno != 0 ? std::strerror(writeErrno) : "output error") << "\n";
    return kExitIoError;
  }
  if (filled && options.readSize) {
    env.err << "vizadavu: warning: the reply filled the " << readSize
            << "-byte read; anything beyond it was not fetched\n";
  } else if (filled) {
    env.err << "vizadavu: the reply filled the largest read (" << readSize
            << " bytes); anything beyond it was not fetched (-r -1 reads any size in chunks)\n";
    return kExitTooLarge;
  }
  if (host.ended() && options.fail && status >= 400) {
    env.err << "vizadavu: the server answered with HTTP status " << status << "\n";
    return kExitHttpError;
  }
  if (host.ended()) return kExitOk;

  Long code = 0;
  std::from_chars(host.error().data(), host.error().data() + host.error().size(), code);
  env.err << "vizadavu: error " << host.error() << ": " << errors::Describe(code);
  const std::string authority = Authority(urlText);
  if (code == errors::InvalidUrl && authority.find('@') != std::string::npos) {
    env.err << " (credentials in URLs are not supported)";
  }
  const std::string proxy =
      demo ? std::string() : EnvironmentProxy(HostOf(authority), options.plain);
  if (!proxy.empty()) env.err << " (through the proxy " << proxy << " from the environment)";
  env.err << "\n";
  return kExitTransferError;
}

constexpr std::uint64_t kSmallestDefaultRead = std::uint64_t{1} << 20;

}  // namespace

Long DefaultReadSize(int overcommitPolicy, std::uint64_t physicalMemory,
                     std::uint64_t addressSpaceLimit) {
  if (overcommitPolicy == 2) return -1;
  std::uint64_t size = static_cast<std::uint64_t>(std::numeric_limits<Long>::max());
  if (physicalMemory > 0) size = std::min(size, physicalMemory / 2);
  size = std::min(size, addressSpaceLimit / 2);
  // Under a limit that tight a single read would cut most replies: chunks.
  return size < kSmallestDefaultRead ? -1 : static_cast<Long>(size);
}

int Submit(const Options& options, const Environment& env, std::ostream& out, bool demo) {
  return Run(options, env, out, demo);
}

}  // namespace vizadavu::cli
