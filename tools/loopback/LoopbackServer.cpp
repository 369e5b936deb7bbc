// The loopback servers' lifecycle: the listening socket, one accept thread, one
// thread per connection running the handler, and a stop that wakes and joins them all.
#include "tools/loopback/LoopbackServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <list>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "tools/loopback/SocketConnection.h"

namespace vizadavu::loopback {

using namespace std::chrono_literals;

struct LoopbackServer::Impl {
  Handler handler;
  ServerContext tls;
  int listenFd = -1;
  int wakeFd = -1;
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};
  std::atomic<int> connections{0};
  std::atomic<int> tlsFailures{0};

  mutable std::mutex mutex;  // guards requests and workers
  std::vector<ReceivedRequest> requests;
  std::list<std::unique_ptr<Worker>> workers;
  std::thread acceptThread;

  ServerSide side{stopping,
                  [this](const ReceivedRequest& request) {
                    std::lock_guard lock(mutex);
                    requests.push_back(request);
                  },
                  [this] {
                    if (!stopping) ++tlsFailures;
                  }};

  ~Impl() {
    if (listenFd >= 0) ::close(listenFd);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void AcceptLoop();
  void Serve(Worker& worker);
  void ReapFinished();  // requires mutex
  void Stop();
};

void LoopbackServer::Impl::AcceptLoop() {
  while (!stopping) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = ::poll(fds, 2, 200);
    if (stopping) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++connections;
        std::lock_guard lock(mutex);
        Worker& worker = *workers.emplace_back(std::make_unique<Worker>());
        worker.fd = fd;
        try {
          worker.thread = std::thread([this, &worker] { Serve(worker); });
        } catch (const std::system_error& e) {
          Diagnose(std::string("cannot start a connection thread: ") + e.what());
          ::close(fd);
          workers.pop_back();
        }
      } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(10ms);
      }
    }
    std::lock_guard lock(mutex);
    ReapFinished();
  }
}

void LoopbackServer::Impl::ReapFinished() {
  for (auto it = workers.begin(); it != workers.end();) {
    if ((*it)->finished) {
      (*it)->thread.join();  // the thread is past its last use of shared state
      it = workers.erase(it);
    } else {
      ++it;
    }
  }
}

void LoopbackServer::Impl::Serve(Worker& worker) {
  try {
    std::unique_ptr<SocketConnection> connection =
        tls ? AcceptTls(side, worker, tls.get()) : MakePlainConnection(side, worker);
    if (connection) {
      try {
        handler(*connection);
      } catch (const std::exception& e) {
        Diagnose(std::string("handler threw: ") + e.what());
      } catch (...) {
        Diagnose("handler threw a non-standard exception");
      }
      connection->Close();  // no-op when the handler already closed or reset
    }
  } catch (const std::exception& e) {
    Diagnose(std::string("connection failed: ") + e.what());
    std::lock_guard lock(worker.fdMutex);
    if (worker.fd >= 0) ::close(worker.fd);
    worker.fd = -1;
  }
  worker.finished = true;
}

void LoopbackServer::Impl::Stop() {
  stopping = true;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakeFd, &one, sizeof one);
  if (acceptThread.joinable()) acceptThread.join();
  ::close(listenFd);  // new connection attempts are refused from here on
  listenFd = -1;

  std::list<std::unique_ptr<Worker>> remaining;
  {
    std::lock_guard lock(mutex);
    for (auto& worker : workers) {
      std::lock_guard fdLock(worker->fdMutex);
      if (worker->fd >= 0) ::shutdown(worker->fd, SHUT_RDWR);  // wakes blocked reads/writes
    }
    remaining.swap(workers);
  }
  for (auto& worker : remaining) worker->thread.join();
}

LoopbackServer::LoopbackServer(Handler handler, std::optional<TlsIdentity> tls)
    : impl_(std::make_unique<Impl>()) {
  if (!handler) throw std::invalid_argument("LoopbackServer: empty handler");
  impl_->handler = std::move(handler);
  if (tls) impl_->tls = MakeServerContext(*tls);

  auto fail = [](const char* what) {
    throw std::system_error(errno, std::system_category(), what);
  };
  impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->wakeFd < 0) fail("LoopbackServer: eventfd");
  impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (impl_->listenFd < 0) fail("LoopbackServer: socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (::bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    fail("LoopbackServer: bind");
  }
  if (::listen(impl_->listenFd, 128) != 0) fail("LoopbackServer: listen");
  if (::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    fail("LoopbackServer: getsockname");
  }
  impl_->port = ntohs(address.sin_port);
  impl_->acceptThread = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  impl_->Stop();
}

std::uint16_t LoopbackServer::Port() const {
  return impl_->port;
}

std::string LoopbackServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(impl_->port);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

int LoopbackServer::Connections() const {
  return impl_->connections;
}

int LoopbackServer::TlsHandshakeFailures() const {
  return impl_->tlsFailures;
}

}  // namespace vizadavu::loopback
