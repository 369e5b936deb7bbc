#include "tools/vizadavu/Cli.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>

#include "tools/common/FormTools.h"
#include "tools/vizadavu/System.h"
#include "vizadavu/Version.h"

namespace vizadavu::cli {

const char* const kUsage = "usage: vizadavu [options] URL [NAME=VALUE ...]\n       vizadavu --demo";

const char* const kHelp =
    R"(Submits a form with the vizADAVU control and prints the server's reply.

Options:
  -g, --get            send a GET instead of the default POST
  -a, --action N       assign Action = N (1 = POST, any other value = GET)
  -q, --query          put the fields in the URL's query string (encoded as the
                       body would be) and send no body; a GET unless --action
  -p, --plain          plain HTTP, port 80 (Secure_Mode_Off); default is TLS,
                       port 443, whatever the URL's scheme says
      --strict-certificates
                       refuse a server certificate outside its validity period
                       (error 12037) or not naming the server (error 12038);
                       by default only its chain is checked (StrictCertificates)
  -r, --read-size N    read the reply in one read of N bytes (ReceiveBufferSize);
                       -1 reads it in 2048-byte chunks as 16-bit text. Default:
                       one read as large as memory allows (exit 63 if filled)
  -f, --fields FILE    read NAME=VALUE lines from FILE ("-" = standard input),
                       UTF-8; empty lines and lines starting with "#" are skipped
  -o, --output FILE    write the reply to FILE instead of standard output
  -v, --verbose        report each event on standard error as it happens
      --fail           exit with 22 when the reply's HTTP status is 400 or more
      --demo           submit a sample form to a built-in loopback server
                       (not in the Windows build, which has no such server)
  -h, --help           show this help
      --version        show the program's version

A port in the URL ("host:8080") is the port connected to; the fragment ("#top")
is not sent, and user names or passwords in the URL are refused. Fields from
--fields come first, then those on the command line, in order. The reply is
written as the exact bytes the server sent. While a reply of more than 1 MiB
comes in, a progress line is shown on standard error when that is a terminal.
Proxies come from http_proxy, https_proxy, all_proxy and no_proxy, as for curl.

Examples:
  vizadavu --plain http://127.0.0.1:8080/form name=Ada 'note=x y'
  vizadavu --query https://example.test/search q=vizadavu
  printf 'a=1\nb=2\n' | vizadavu -p -f - http://127.0.0.1:8080/form -o reply.html

Ctrl-C cancels a running transfer; an output file is then left as it was.

Exit status:
  0   the transfer ended with EndTransfer
  1   the transfer ended with Error (the message names the code)
  22  with --fail: the reply's HTTP status was 400 or more
  63  without -r: the reply filled the largest read (half the memory, at most
      2 GiB - 1 bytes), so any more of it was not fetched
  64  bad command line or field file line
  66  the field file cannot be read
  73  the output file cannot be created
  74  the reply cannot be written (disk full, output closed)
  130 cancelled by Ctrl-C (SIGINT)
)";

namespace {

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

// Writes the reply to a temporary file beside `path` and renames it over `path`
// once the transfer has ended and the write succeeded, so an interrupted or
// failed write never leaves a half-written file in its place.
int SubmitToFile(const Options& options, const Environment& env, const std::string& path) {
  std::string why;
  const std::string temporary = CreateFileBeside(path, why);
  if (temporary.empty()) {
    env.err << "vizadavu: cannot write '" << path << "': " << why << "\n";
    return kExitCannotCreate;
  }
  struct RemoveUnlessKept {
    const std::string& name;
    bool keep = false;
    ~RemoveUnlessKept() {
      std::error_code ignored;
      if (!keep) std::filesystem::remove(PathOf(name), ignored);
    }
  } guard{temporary};
  std::ofstream file(PathOf(temporary), std::ios::binary | std::ios::trunc);
  if (!file) {
    env.err << "vizadavu: cannot write '" << path << "': " << std::strerror(errno) << "\n";
    return kExitCannotCreate;
  }
  const int status = Submit(options, env, file);
  if (status == kExitInterrupted || status == kExitIoError) return status;
  file.close();
  if (!file) {
    env.err << "vizadavu: writing '" << path << "' failed\n";
    return kExitIoError;
  }
  if (!MoveOver(temporary, path, why)) {
    env.err << "vizadavu: cannot write '" << path << "': " << why << "\n";
    return kExitCannotCreate;
  }
  guard.keep = true;
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
      options.actionGiven = true;
    } else if (arg == "-a" || arg == "--action") {
      options.action = ParseNumber(arg, value());
      options.actionGiven = true;
    } else if (arg == "-q" || arg == "--query") {
      flag();
      options.query = true;
    } else if (arg == "-p" || arg == "--plain") {
      flag();
      options.plain = true;
    } else if (arg == "--strict-certificates") {
      flag();
      options.strictCertificates = true;
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
    } else if (arg == "--version") {
      flag();
      options.version = true;
    } else {
      throw UsageError("unknown option '" + arg + "'");
    }
  }
  if (!haveUrl && !options.help && !options.demo && !options.version) {
    throw UsageError("no URL given");
  }
  if (options.query && !options.actionGiven) options.action = 0;
  return options;
}

int Main(const std::vector<std::string>& args, const Environment& env) {
  try {
    Options options = ParseArguments(args);
    if (options.help || options.version) {
      if (options.help) {
        env.out << kUsage << "\n\n" << kHelp;
      } else {
        env.out << "vizadavu " << VIZADAVU_VERSION << "\n";
      }
      env.out.flush();
      if (env.out) return kExitOk;
      env.err << "vizadavu: cannot write to standard output\n";
      return kExitIoError;
    }
    if (options.demo) return Demo(env);
    if (options.fieldsFile) {
      std::vector<std::pair<std::string, std::string>> fromFile;
      const std::string& path = *options.fieldsFile;
      std::ifstream file;
      if (path != "-") file.open(PathOf(path), std::ios::binary);
      if ((path != "-" && !file) || !ReadFields(path == "-" ? env.in : file,
                                                path == "-" ? "standard input" : path, fromFile)) {
        env.err << "vizadavu: cannot read field file '" << path << "': " << std::strerror(errno)
                << "\n";
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
