// CPU per submission with the real one-second pause in a Qt application: the
// Qt control, whose loop waits in Qt's event dispatcher, beside the control
// serviced by processEvents alone (what the Qt control's loop did before it
// could wait), interleaved round by round: the CPU time of a submission with
// an idle host, and how long an event posted during the pause waited for the
// host's loop at most. Prints one JSON line for bench/table.py.
// Usage: vizadavu_bench_qt_loop SERVER [ROUNDS]
#include <sys/resource.h>

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "vizadavu/qt/FormControl.h"
#include "vizadavu/vizADAVU.h"

namespace {

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// An event posted from another thread, stamped when posted.
struct Probe : QEvent {
  Probe() : QEvent(QEvent::User), posted(std::chrono::steady_clock::now()) {}
  std::chrono::steady_clock::time_point posted;
};

// Notes how long each probe waited for the host's loop during the pause.
struct ProbeReceiver : QObject {
  bool pausing = false;
  std::chrono::nanoseconds longest{0};
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    const auto waited = std::chrono::steady_clock::now() - static_cast<Probe*>(e)->posted;
    if (pausing) longest = std::max(longest, waited);
    return true;
  }
};

using Submit = std::function<bool(const std::function<void()>& sending)>;

// Runs `submit`, which must call `sending` when Status 21 comes (the pause is
// over then). Without probes: the CPU time of the whole submission, with an
// idle host. With them: the longest time a probe, posted every 10 ms by
// another thread, waited for the loop during the pause, in ms.
double Measure(const Submit& submit, bool probes) {
  ProbeReceiver receiver;
  std::atomic<bool> done{false};
  std::thread poster;
  if (probes) {
    poster = std::thread([&] {
      while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QCoreApplication::postEvent(&receiver, new Probe);
      }
    });
  }
  receiver.pausing = true;
  const double before = CpuMs();
  if (!submit([&] { receiver.pausing = false; })) {
    std::fprintf(stderr, "vizadavu_bench_qt_loop: the submission failed\n");
    std::exit(1);
  }
  const double cpu = CpuMs() - before;
  done = true;
  if (poster.joinable()) poster.join();
  QCoreApplication::removePostedEvents(&receiver);
  return probes ? static_cast<double>(receiver.longest.count()) / 1e6 : cpu;
}

// The control serviced by processEvents on every pass, without waiting.
struct PlainSide : vizadavu::vizADAVUEvents, vizadavu::MessageLoop {
  std::function<void()> sending;
  bool ended = false;
  void Status(vizadavu::Long StatusCode, const vizadavu::Text&) override {
    if (StatusCode == vizadavu::status::SendingRequest) sending();
  }
  void EndTransfer() override { ended = true; }
  void DoEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
};

std::string Json(const char* name, const std::vector<double>& values) {
  std::string out = std::string("\"") + name + "\": [";
  for (std::size_t i = 0; i < values.size(); ++i) {
    out += (i > 0 ? ", " : "") + std::to_string(values[i]);
  }
  return out + "]";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vizadavu_bench_qt_loop SERVER [ROUNDS]\n");
    return 64;
  }
  const QString url = QString::fromUtf8(argv[1]) + QStringLiteral("/0");
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  // Each side sets its control up before each submission: Clear resets it.
  vizadavu::qt::FormControl control;
  PlainSide plain;
  vizadavu::vizADAVU bare(&plain, &plain);

  const auto qtSide = [&](const std::function<void()>& sending) {
    control.setSecure_Mode_Off(true);
    control.setURL(url);
    const auto connection =
        QObject::connect(&control, &vizadavu::qt::FormControl::Status, [&](int code) {
          if (code == vizadavu::status::SendingRequest) sending();
        });
    const bool ended = control.submit(1) && control.Clear();
    QObject::disconnect(connection);
    return ended;
  };
  const auto plainSide = [&](const std::function<void()>& sending) {
    bare.Secure_Mode_Off = true;
    bare.YieldWhileWaiting = true;  // as the Qt control's
    bare.URL(url.toStdU16String());
    plain.sending = sending;
    plain.ended = false;
    bare.Action(1);
    bare.Clear();
    return plain.ended;
  };
  Measure(qtSide, false);  // warm both
  Measure(plainSide, false);
  std::vector<double> qtCpu, qtWait, plainCpu, plainWait;
  for (int round = 0; round < rounds; ++round) {
    for (int side = 0; side < 2; ++side) {
      const bool qt = (side == 0) == (round % 2 == 0);  // alternate which goes first
      const Submit& submit = qt ? Submit(qtSide) : Submit(plainSide);
      (qt ? qtCpu : plainCpu).push_back(Measure(submit, false));
      (qt ? qtWait : plainWait).push_back(Measure(submit, true));
    }
  }
  std::printf("{\"row\": \"loop/qt\", %s, %s, %s, %s}\n", Json("qt_cpu_ms", qtCpu).c_str(),
              Json("qt_wait_ms", qtWait).c_str(), Json("plain_cpu_ms", plainCpu).c_str(),
              Json("plain_wait_ms", plainWait).c_str());
  return 0;
}
