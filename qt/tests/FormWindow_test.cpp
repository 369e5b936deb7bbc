// The vizadavu-form window against a loopback form server: what the table holds
// is what the server receives, and events, reply, errors and Clear show up.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "FormWindow.h"
#include "TestSupport.h"

namespace vizadavu::qt::test {

using form::FormWindow;
using loopback::DecodeFormBytes;
using loopback::LoopbackServer;
using Fields = std::vector<std::pair<std::string, std::string>>;

class FormWindowTest : public QObject {
  Q_OBJECT

  template <class T>
  static T* Child(const FormWindow& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) qFatal("no child widget %s", name);
    return child;
  }

  static QStringList Events(const FormWindow& window) {
    QStringList lines;
    const auto* list = Child<QListWidget>(window, "events");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text().section(u' ', 3);
    return lines;
  }

 private slots:
  void theServerReceivesExactlyTheTableFields() {
    LoopbackServer server(LoopbackServer::FormEcho());
    FormWindow window(false);
    form::Request request;
    request.url = Url(server);
    request.plain = true;
    request.fields = {{"name", "Zoë"},  {"note", "a&b=c d%+"}, {"blank", "   "},
                      {"", "nameless"}, {"city", "Zürich"},    {"crlf", "one\r\ntwo"}};
    window.apply(request);
    // Edited in the table after it was filled, and a row added and removed.
    auto* table = Child<QTableWidget>(window, "fields");
    table->item(0, 1)->setText(QStringLiteral("Zoë Q"));
    window.addField(QStringLiteral("gone"), QStringLiteral("x"));
    table->selectRow(table->rowCount() - 1);
    Child<QPushButton>(window, "removeField")->click();
    QCOMPARE(table->rowCount(), 6);
    // A cell still being edited when Submit is pressed is sent as typed.
    table->editItem(table->item(4, 1));
    auto* editor = qobject_cast<QLineEdit*>(table->indexWidget(table->model()->index(4, 1)));
    QVERIFY(editor != nullptr);
    editor->setText(QStringLiteral("Zürich 8001"));
    QSignalSpy submitted(&window, &FormWindow::submitted);

    Child<QPushButton>(window, "submit")->click();
    QCOMPARE(submitted.count(), 1);
    QCOMPARE(submitted.first().first().toBool(), true);
    const auto requests = server.Requests();
    QCOMPARE(requests.size(), 1u);
    QCOMPARE(requests[0].method, std::string("POST"));
    // The bytes as sent, in Windows-1252.
    QCOMPARE(DecodeFormBytes(requests[0].body), Fields({{"name", "Zo\xEB Q"},
                                                        {"note", "a&b=c d%+"},
                                                        {"city", "Z\xFCrich 8001"},
                                                        {"crlf", "one\r\ntwo"}}));
    QCOMPARE(Events(window).mid(1), QStringList({"Status 21: sending the request",
                                                 "Status 30: request sent; reading the reply",
                                                 "EndTransfer: the reply is complete"}));
    QVERIFY(Child<QPlainTextEdit>(window, "reply")->toPlainText().startsWith("name = Zo"));
    QVERIFY(Child<QPlainTextEdit>(window, "hex")
                ->toPlainText()
                .startsWith("00000000  6e 61 6d 65 20 3d 20 5a"));
    QVERIFY(window.lastError().isEmpty());
    Child<QCheckBox>(window, "utf8")->setChecked(true);
    QVERIFY(Child<QPlainTextEdit>(window, "reply")->toPlainText().startsWith("name = Zoë Q\n"));

    Child<QPushButton>(window, "clear")->click();
    QCOMPARE(window.control()->ReceiveBuffer(), QString());
    QVERIFY(Child<QPlainTextEdit>(window, "reply")->toPlainText().isEmpty());
    QVERIFY(Child<QPlainTextEdit>(window, "hex")->toPlainText().isEmpty());
    QCOMPARE(window.fields().size(), 6);  // Clear keeps the form

    // A single read of 4 bytes, by GET, to a refused port: the error with its meaning.
    request.url = QStringLiteral("http://127.0.0.1:%1/").arg(UnusedPort());
    request.get = true;
    request.readSize = 4;
    window.apply(request);
    Child<QPushButton>(window, "submit")->click();
    QCOMPARE(submitted.count(), 2);
    QCOMPARE(submitted.last().first().toBool(), false);
    QCOMPARE(window.lastError(), QStringLiteral("error 12029: cannot connect to the server"));
    QCOMPARE(Child<QLabel>(window, "error")->text(),
             QStringLiteral("Error 12029: cannot connect to the server"));
    QCOMPARE(Events(window).last(), QStringLiteral("Error 12029: cannot connect to the server"));
    // Every line is stamped in the order it happened, across both submissions.
    const auto* list = Child<QListWidget>(window, "events");
    for (int i = 1; i < list->count(); ++i) {
      QVERIFY2(list->item(i - 1)->text().section(u' ', 0, 0).toDouble() <=
                   list->item(i)->text().section(u' ', 0, 0).toDouble(),
               qPrintable(list->item(i)->text()));
    }
  }

  // Cancel is enabled only while a transfer runs (Submit then is not) and
  // stops it; the reply's HTTP status shows beside the result.
  void cancelStopsASubmissionAndTheStatusShows() {
    LoopbackServer server([](loopback::Connection& c) {
      loopback::ReceivedRequest request;
      if (!c.ReadRequest(request)) return;
      c.Write("HTTP/1.0 403 Forbidden\r\nContent-Length: 50\r\n\r\nno");
      c.ReadSome(1, std::chrono::seconds(10));  // stalls until the client goes
    });
    FormWindow window(false);
    auto* cancel = Child<QPushButton>(window, "cancel");
    auto* submit = Child<QPushButton>(window, "submit");
    QVERIFY(!cancel->isEnabled());
    form::Request request;
    request.url = Url(server);
    request.plain = true;
    window.apply(request);
    bool enabledDuring = false, submitDisabledDuring = false;
    connect(window.control(), &FormControl::Status, &window, [&](int code) {
      if (code != 30) return;
      QTimer::singleShot(200, &window, [&] {
        enabledDuring = cancel->isEnabled();
        submitDisabledDuring = !submit->isEnabled();
        cancel->click();
      });
    });
    QVERIFY(!window.submit());
    QVERIFY(enabledDuring);
    QVERIFY(submitDisabledDuring);
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(window.lastError(), QStringLiteral("error 12017: the operation was cancelled"));
    QCOMPARE(Child<QLabel>(window, "httpStatus")->text(), QStringLiteral("HTTP 403"));
  }

  // Geometry and options come back in the next window; field values, which may
  // be secrets, are never written to the settings.
  void windowStateIsRemembered() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("vizADAVU-test"));
    QCoreApplication::setApplicationName(QStringLiteral("vizadavu-form-test"));
    {
      FormWindow window(true);
      form::Request request;
      request.url = QStringLiteral("http://form.test/submit");
      request.plain = true;
      request.get = true;
      request.readSize = 123;
      request.fields = {{"password", "hunter2"}};
      window.apply(request);
      window.resize(700, 520);
      window.show();
      QVERIFY(window.close());
    }
    FormWindow window(true);
    QCOMPARE(Child<QLineEdit>(window, "url")->text(), QStringLiteral("http://form.test/submit"));
    QVERIFY(Child<QCheckBox>(window, "plain")->isChecked());
    QCOMPARE(Child<QComboBox>(window, "method")->currentIndex(), 1);
    QCOMPARE(Child<QComboBox>(window, "readMode")->currentIndex(), 1);
    QCOMPARE(Child<QSpinBox>(window, "readSize")->value(), 123);
    QCOMPARE(window.size(), QSize(700, 520));
    QVERIFY(window.fields().isEmpty());
    QSettings settings;
    QFile file(settings.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("hunter2"));
  }
};

}  // namespace vizadavu::qt::test

VIZADAVU_QT_TEST_MAIN(vizadavu::qt::test::FormWindowTest)
#include "FormWindow_test.moc"
