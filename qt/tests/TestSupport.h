// Shared pieces of the Qt tests: an event recorder, a port nobody listens on,
// and a main that keeps a configured proxy from rerouting loopback requests.
#pragma once

#include <QApplication>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <cstdlib>

#include "tests/support/Loopback.h"
#include "tools/loopback/LoopbackServer.h"
#include "vizadavu/qt/FormControl.h"

namespace vizadavu::qt::test {

// Records the control's signals as "Status 21", "EndTransfer", "Error 12029".
struct Recorder {
  explicit Recorder(FormControl& control) {
    QObject::connect(&control, &FormControl::Status, &control, [this](int code, const QString&) {
      events << QStringLiteral("Status %1").arg(code);
    });
    QObject::connect(&control, &FormControl::EndTransfer, &control,
                     [this] { events << QStringLiteral("EndTransfer"); });
    QObject::connect(&control, &FormControl::Error, &control,
                     [this](const QString& e) { events << QStringLiteral("Error %1").arg(e); });
    QObject::connect(&control, &FormControl::callFailed, &control,
                     [this](const QString& m) { refusals << m; });
  }
  QStringList events;
  QStringList refusals;
};

inline QString Url(const loopback::LoopbackServer& server, const char* path = "/form") {
  return QStringLiteral("http://%1%2").arg(QString::fromStdString(server.HostPort()), path);
}

using ::vizadavu::test::UnusedPort;

inline int RunTests(QObject& tests, int argc, char** argv) {
  ::vizadavu::test::ClearProxyEnvironment();
  QApplication app(argc, argv);
  return QTest::qExec(&tests, argc, argv);
}

}  // namespace vizadavu::qt::test

#define VIZADAVU_QT_TEST_MAIN(Class)                        \
  int main(int argc, char** argv) {                         \
    Class tests;                                            \
    return vizadavu::qt::test::RunTests(tests, argc, argv); \
  }
