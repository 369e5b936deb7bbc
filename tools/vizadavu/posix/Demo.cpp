// The demonstration (--demo): a sample form submitted to a loopback form-echo
// server in this process, which needs the POSIX loopback server.
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include "tools/common/FormTools.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/vizadavu/Cli.h"

namespace vizadavu::cli {
namespace {

// Sets no_proxy for one scope, so that the built-in internet service reaches
// the demonstration's loopback server directly, whatever the environment says.
class DirectToLoopback {
 public:
  DirectToLoopback() {
    if (const char* old = std::getenv("no_proxy")) old_ = old;
    setenv("no_proxy", "127.0.0.1", 1);
  }
  ~DirectToLoopback() { old_ ? setenv("no_proxy", old_->c_str(), 1) : unsetenv("no_proxy"); }
  DirectToLoopback(const DirectToLoopback&) = delete;
  DirectToLoopback& operator=(const DirectToLoopback&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace

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
  const Environment demoEnv{env.in, env.out, env.out, false, env.interrupted, env.defaultReadSize};
  const DirectToLoopback direct;
  const int status = Submit(options, demoEnv, reply, true);
  env.out << "The server received these fields:\n" << reply.str();
  env.out.flush();
  return env.out ? status : kExitIoError;
}

}  // namespace vizadavu::cli
