#include "tools/vizadavu/Cli.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>

#include <stdlib.h>
#include <unistd.h>

#include "tools/common/FormTools.h"
#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::cli {

const char* const kUsage = "usage: vizadavu [options] URL [NAME=VALUE ...]\n       vizadavu --demo";

namespace {

constexpr const char* kHelp =
    R"(Submits a form with the vizADAVU control and prints the server's reply.

Options:
  -g, --get            send a GET instead of the default POST
  -a, --action N       assign Action = N (1 = POST, any other value = GET)
  -p, --plain          plain HTTP, port 80 (Secure_Mode_Off); default is TLS, port 443
  -r, --read-size N    read the reply in one read of N bytes (ReceiveBufferSize)
  -f, --fields FILE    read NAME=VALUE lines from FILE ("-" = standard input);
                       empty lines and lines starting with "#" are skipped
  -o, --output FILE    write the reply to FILE instead of standard output
  -v, --verbose        report each event on standard error as it happens
      --fail           exit with 22 when the reply's HTTP status is 400 or more
      --demo           submit a sample form to a built-in loopback server
  -h, --help           show this help

A port in the URL ("host:8080") is the port connected to. Fields from --fields
come first, then those on the command line, in order. The reply is written as
the exact bytes the server sent.

Examples:
  vizadavu --plain http://127.0.0.1:8080/form name=Ada 'note=x y'
  vizadavu https://example.test/search --get q=vizadavu
  printf 'a=1\nb=2\n' | vizadavu -p -f - http://127.0.0.1:8080/form -o reply.html

Ctrl-C cancels a running transfer; an output file is then left as it was.

Exit status: 0 after EndTransfer, 1 after Error, 22 with --fail after a reply
whose HTTP status is 400 or more, 64 usage, 66 unreadable field file, 73
unwritable output file, 130 cancelled by Ctrl-C (SIGINT).
)";

Long ParseNumber(const std::string& option, const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < std::numeric_limits<Long>::min() ||
      value > std::numeric_limits<Long>::max()) {
    throw UsageError(option + ": '" + text + "' is not a whole number in -2147483648..2147483647");
  }
  return static_cast<Long>(value);
}

// Reports the characters the code page cannot carry; they are sent as "?".
void WarnUnrepresentable(const Text& text, const std::string& what, std::ostream& err) {
  if (!tools::CodePageCarries(text)) {
    err << "vizadavu: warning: " << what
        << " has characters the Windows-1252 code page cannot represent; they are sent as '?'\n";
  }
}

std::string Elapsed(std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ostringstream text;
  text << "[" << std::fixed << std::setprecision(3) << std::setw(7) << seconds << " s]";
  return text.str();
}

// The host side of the control: remembers the outcome, and in verbose mode
// reports events and, on a terminal, how much of the reply has come in.
class Host : public vizADAVUEvents, public MessageLoop {
 public:
  Host(std::ostream& err, bool verbose, bool progress)
      : err_(err), verbose_(verbose), progress_(progress) {}

  void Start() { start_ = std::chrono::steady_clock::now(); }

  void Status(Long StatusCode, const Text&) override {
    if (verbose_) err_ << "vizadavu: " << Elapsed(start_) << " Status " << StatusCode << "\n";
    receiving_ = StatusCode == status::RequestSent;
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
  // Called after every read of a chunked reply and every 20 ms of waiting,
  // among other times.
  void DoEvents() override {
    if (interrupted_ != nullptr && *interrupted_ != 0 && control_ != nullptr) control_->Cancel();
    if (!receiving_ || !progress_) return;
    ++reads_;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    err_ << "\rvizadavu: receiving, up to " << (reads_ * 2048 + 1023) / 1024 << " KiB so far"
         << std::flush;
    shown_ = true;
  }

  // The control to cancel when `interrupted` is set.
  void Watch(vizADAVU* control, const volatile std::sig_atomic_t* interrupted) {
    control_ = control;
    interrupted_ = interrupted;
  }
  bool ended() const { return ended_; }
  const std::string& error() const { return error_; }

 private:
  void EndProgress() {
    receiving_ = false;
    if (shown_) err_ << "\n";
    shown_ = false;
  }

  std::ostream& err_;
  bool verbose_;
  bool progress_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastProgress_{};
  bool receiving_ = false;
  bool shown_ = false;
  bool ended_ = false;
  std::uint64_t reads_ = 0;
  std::string error_;
  vizADAVU* control_ = nullptr;
  const volatile std::sig_atomic_t* interrupted_ = nullptr;
};

void ReadFieldFile(const std::string& path, std::istream& stdinStream,
                   std::vector<std::pair<std::string, std::string>>& fields, bool& readable) {
  std::ifstream file;
  std::istream* in = &stdinStream;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      readable = false;
      return;
    }
    in = &file;
  }
  std::string line;
  for (int number = 1; std::getline(*in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    fields.push_back(
        ParseField(line, (path == "-" ? "standard input" : path) + ":" + std::to_string(number)));
  }
  readable = !in->bad();
}

// Fills the control from the options, runs the transfer and writes the reply.
int Submit(const Options& options, const Environment& env, std::ostream& out) {
  Host host(env.err, options.verbose, options.verbose && env.errIsTerminal);
  vizADAVU control(&host, &host);
  host.Watch(&control, env.interrupted);
  control.YieldWhileWaiting = true;  // so Ctrl-C is noticed while the network is slow
  const auto count = options.fields.size();
  if (count > static_cast<std::size_t>(std::numeric_limits<Integer>::max())) {
    throw UsageError("too many fields: " + std::to_string(count) + " (at most 32767)");
  }
  control.FormVarCount(static_cast<Long>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [name, value] = options.fields[i];
    const Text textName = Utf8ToText(name);
    const Text textValue = Utf8ToText(value);
    WarnUnrepresentable(textName + textValue, "field " + std::to_string(i + 1) + " (" + name + ")",
                        env.err);
    control.FormVarNames(static_cast<Long>(i + 1), textName);
    control.FormVarValues(static_cast<Long>(i + 1), textValue);
  }
  const Text url = Utf8ToText(options.url);
  WarnUnrepresentable(url, "the URL", env.err);
  control.URL(url);
  control.Secure_Mode_Off = options.plain;
  if (options.readSize) control.ReceiveBufferSize = *options.readSize;

  host.Start();
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
  const std::string reply =
      TextToAnsi(control.ReceiveBufferSize >= 0 ? control.StringB() : control.ReceiveBuffer());
  out.write(reply.data(), static_cast<std::streamsize>(reply.size()));
  out.flush();
  control.Clear();

  if (host.ended() && options.fail && status >= 400) {
    env.err << "vizadavu: the server answered with HTTP status " << status << "\n";
    return kExitHttpError;
  }
  if (host.ended()) return kExitOk;
  const std::optional<Long> code = errors::CodeOf(Utf8ToText(host.error()));
  env.err << "vizadavu: error " << host.error() << ": "
          << (code ? errors::Describe(*code) : std::string_view("unknown error")) << "\n";
  return kExitTransferError;
}

// Writes the reply to a temporary file beside `path` and renames it over `path`
// once the transfer has ended and the write succeeded, so an interrupted or
// failed write never leaves a half-written file in its place.
int SubmitToFile(const Options& options, const Environment& env, const std::string& path) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    env.err << "vizadavu: cannot write '" << path << "': " << std::strerror(errno) << "\n";
    return kExitCannotCreate;
  }
  close(fd);
  struct RemoveUnlessKept {
    const std::string& name;
    bool keep = false;
    ~RemoveUnlessKept() {
      if (!keep) std::remove(name.c_str());
    }
  } guard{temporary};
  std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
  if (!file) {
    env.err << "vizadavu: cannot write '" << path << "': " << std::strerror(errno) << "\n";
    return kExitCannotCreate;
  }
  const int status = Submit(options, env, file);
  file.close();
  if (status == kExitInterrupted) return status;
  if (!file || std::rename(temporary.c_str(), path.c_str()) != 0) {
    env.err << "vizadavu: writing '" << path << "' failed\n";
    return kExitCannotCreate;
  }
  guard.keep = true;
  return status;
}

int Demo(const Environment& env) {
  loopback::LoopbackServer server(loopback::LoopbackServer::FormEcho());
  Options options;
  options.plain = true;
  options.verbose = true;
  options.url = tools::DemoUrl(server.HostPort());
  options.fields = tools::DemoFields();
  env.out << "A form-echo server is listening on " << server.HostPort()
          << " (loopback only).\nSubmitting " << options.fields.size() << " fields by POST to "
          << options.url << "; the last one is blank, so it is not sent.\n"
          << "Events, as the control raises them (the one-second pause comes first):\n";
  env.out.flush();
  std::ostringstream reply;
  const Environment demoEnv{env.in, env.out, env.out, false};
  const int status = Submit(options, demoEnv, reply);
  env.out << "The server received these fields:\n" << reply.str();
  return status;
}

}  // namespace

std::pair<std::string, std::string> ParseField(const std::string& text, const std::string& where) {
  try {
    return tools::SplitField(text);
  } catch (const tools::FieldError& e) {
    throw UsageError(where + ": " + e.what());
  }
}

Options ParseArguments(const std::vector<std::string>& args) {
  Options options;
  bool haveUrl = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> attached;
    if (!optionsEnded && arg.rfind("--", 0) == 0 && arg.size() > 2) {
      if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
        attached = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::string {
      if (attached) return *attached;
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    auto flag = [&] {
      if (attached) throw UsageError(arg + " takes no value");
    };
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!haveUrl) {
        options.url = arg;
        haveUrl = true;
      } else {
        options.fields.push_back(ParseField(arg, "argument " + std::to_string(i + 1)));
      }
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-g" || arg == "--get") {
      flag();
      options.action = 0;
    } else if (arg == "-a" || arg == "--action") {
      options.action = ParseNumber(arg, value());
    } else if (arg == "-p" || arg == "--plain") {
      flag();
      options.plain = true;
    } else if (arg == "-r" || arg == "--read-size") {
      options.readSize = ParseNumber(arg, value());
    } else if (arg == "-f" || arg == "--fields") {
      options.fieldsFile = value();
    } else if (arg == "-o" || arg == "--output") {
      options.output = value();
    } else if (arg == "-v" || arg == "--verbose") {
      flag();
      options.verbose = true;
    } else if (arg == "--fail") {
      flag();
      options.fail = true;
    } else if (arg == "--demo") {
      flag();
      options.demo = true;
    } else if (arg == "-h" || arg == "--help") {
      flag();
      options.help = true;
    } else {
      throw UsageError("unknown option '" + arg + "'");
    }
  }
  if (!haveUrl && !options.help && !options.demo) throw UsageError("no URL given");
  return options;
}

int Main(const std::vector<std::string>& args, const Environment& env) {
  try {
    Options options = ParseArguments(args);
    if (options.help) {
      env.out << kUsage << "\n\n" << kHelp;
      return kExitOk;
    }
    if (options.demo) return Demo(env);
    if (options.fieldsFile) {
      std::vector<std::pair<std::string, std::string>> fromFile;
      bool readable = true;
      ReadFieldFile(*options.fieldsFile, env.in, fromFile, readable);
      if (!readable) {
        env.err << "vizadavu: cannot read field file '" << *options.fieldsFile
                << "': " << std::strerror(errno) << "\n";
        return kExitNoInput;
      }
      options.fields.insert(options.fields.begin(), fromFile.begin(), fromFile.end());
    }
    if (!options.output) return Submit(options, env, env.out);
    return SubmitToFile(options, env, *options.output);
  } catch (const UsageError& e) {
    env.err << "vizadavu: " << e.what() << "\n" << kUsage << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    env.err << "vizadavu: " << e.what() << "\n";
    return kExitTransferError;
  }
}

}  // namespace vizadavu::cli
