// The main window of vizadavu-form: a URL, a table of form fields, the request
// options, Submit and Clear, the reply as text and as bytes, and the events of
// the control as they arrive.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QString>
#include <memory>
#include <optional>

namespace vizadavu::qt {
class FormControl;
}

namespace Ui {
class FormWindow;  // the window's layout, from FormWindow.ui
}

namespace vizadavu::form {

// What the command line (or a test) fills in before the window is shown.
struct Request {
  QString url;
  QList<QPair<QString, QString>> fields;
  bool get = false;
  bool plain = false;
  bool strictCertificates = false;
  std::optional<int> readSize;  // a single read of this many bytes; chunked without
  std::optional<bool> utf8;     // show the reply text decoded as UTF-8; unchanged without
};

class FormWindow : public QMainWindow {
  Q_OBJECT

 public:
  // rememberState: restore and save the window's geometry and options with
  // QSettings (organization "vizADAVU", application "vizadavu-form").
  explicit FormWindow(bool rememberState = true, QWidget* parent = nullptr);
  ~FormWindow() override;

  void apply(const Request& request);
  // Also writes every line of the events list to standard error as it is added.
  void setEventsOnStandardError(bool on) { eventsOnStandardError_ = on; }
  QList<QPair<QString, QString>> fields() const;  // the table's rows, in order
  void addField(const QString& name = {}, const QString& value = {});

  vizadavu::qt::FormControl* control() const;
  QString lastError() const { return lastError_; }  // "error 12029: ...", or empty

 public slots:
  // Fills the control from the window and runs the transfer. True when it ended
  // in EndTransfer.
  bool submit();
  // Wipes the reply in the control and in the window; keeps the URL, the
  // options and the fields.
  void clearReply();

 signals:
  // After each submit(), once the reply is shown.
  void submitted(bool ended);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildUi();
  void RemoveSelectedFields();
  void UpdateReadMode();
  void SetBusy(bool busy);
  void Log(const QString& line);
  void ShowReply();
  void ShowReplyText();
  void WipeReplyCopies();
  void RestoreState();
  void SaveState() const;

  bool rememberState_;
  bool closeWhenIdle_ = false;
  QElapsedTimer clock_;
  bool eventsOnStandardError_ = false;
  QString lastError_;
  QString replyText_;  // the window's own copies of the reply, wiped on Clear
  QByteArray replyBytes_;

  // The widgets, by the object names FormWindow.ui gives them (the tests find
  // them by these names too).
  std::unique_ptr<::Ui::FormWindow> ui_;
};

// A hex dump: offset, 16 bytes in hex, and the printable ASCII; at most
// maxBytes bytes, with a last line telling how many more there are.
QString HexDump(const QByteArray& bytes, qsizetype maxBytes = 64 * 1024);

}  // namespace vizadavu::form
