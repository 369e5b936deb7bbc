// vizadavu::qt::FormControl: the vizADAVU control as a Qt Widgets control.
//
// The widget owns one vizadavu::vizADAVU and shows the control's 32 x 32 face,
// which also tells the state of the last transfer (idle, pausing, sending,
// receiving, done, failed). The control's members are Qt properties, slots and
// invokable methods with QString in place of Text (both are UTF-16, one unit per
// character, so nothing is converted); its three events are the signals
// EndTransfer(), Status(int, QString) and Error(QString), emitted synchronously
// from inside submit() on the caller's thread.
//
// While a transfer runs, submit() keeps the application's event loop turning
// (QCoreApplication::processEvents on every pass of the one-second pause, after
// every read and, with YieldWhileWaiting on as it is by default, every 20 ms or
// sooner while the network keeps it waiting), so windows repaint, timers fire
// and input is handled; cancel() from a slot ends the transfer (Error 12017).
//
// Nothing a slot or an invokable method does throws. Where the control would
// throw (std::out_of_range, std::overflow_error, std::logic_error for a submit
// or Clear while a transfer runs), the call changes what the control changes,
// returns false / an empty string / -1 as described below, and emits
// callFailed() with the reason. A submit() refused because a transfer runs
// leaves the running transfer alone: it goes on and ends normally.
//
// An exception thrown by a slot connected to Status, EndTransfer or Error ends
// the transfer (the control closes its handles) without a further event;
// submit() then returns false and emits callFailed() with the exception's text.
//
// The widget may be destroyed while its transfer runs: by a plain delete in a
// slot connected to its signals, or by deleteLater (also through closing a window
// with Qt::WA_DeleteOnClose) once the deferred deletion runs in the event loop
// submit() keeps turning; a deleteLater from a slot of its own signals usually
// runs only after submit() has returned. The transfer then stops there: its
// handles close, nothing more is sent or read, no further signal is emitted,
// the reply is wiped with the control, and submit() returns (false, unless
// EndTransfer was already emitted) without touching the dead widget.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::qt {

class FormControl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString URL READ URL WRITE setURL)
  // Not shown in Qt Designer: FormFields below carries the count with the table.
  Q_PROPERTY(int FormVarCount READ FormVarCount WRITE setFormVarCount DESIGNABLE false)
  Q_PROPERTY(QStringList FormFields READ FormFields WRITE setFormFields)
  Q_PROPERTY(bool Secure_Mode_Off READ Secure_Mode_Off WRITE setSecure_Mode_Off)
  Q_PROPERTY(int SecurityFlags READ SecurityFlags WRITE setSecurityFlags)
  Q_PROPERTY(int ReceiveBufferSize READ ReceiveBufferSize WRITE setReceiveBufferSize)
  Q_PROPERTY(bool YieldWhileWaiting READ YieldWhileWaiting WRITE setYieldWhileWaiting)
  Q_PROPERTY(bool StrictCertificates READ StrictCertificates WRITE setStrictCertificates)
  Q_PROPERTY(int HttpStatusCode READ HttpStatusCode)
  Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)
  Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)

 public:
  // What the face shows: the state of the current or last transfer.
  enum class Phase {
    Idle,       // no transfer yet, or Clear since
    Pausing,    // a transfer started and is in its one-second pause
    Sending,    // Status 21: the request is going out
    Receiving,  // Status 30: the reply is being read
    Done,       // EndTransfer
    Failed,     // Error
  };
  Q_ENUM(Phase)

  explicit FormControl(QWidget* parent = nullptr);
  ~FormControl() override;
  FormControl(const FormControl&) = delete;
  FormControl& operator=(const FormControl&) = delete;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // Properties. A refused value (FormVarCount outside -32768..32767, or negative,
  // which the control stores and then refuses) emits callFailed().
  QString URL() const;
  void setURL(const QString& url);
  int FormVarCount() const;
  void setFormVarCount(int count);
  bool Secure_Mode_Off() const;
  void setSecure_Mode_Off(bool off);
  int SecurityFlags() const;
  void setSecurityFlags(int flags);
  int ReceiveBufferSize() const;
  void setReceiveBufferSize(int bytes);
  // True by default (the bare control's default is false): the window stays
  // live while the server is slow or silent. Clear restores true.
  bool YieldWhileWaiting() const;
  void setYieldWhileWaiting(bool yield);
  // False by default, as on the bare control: over TLS the server certificate
  // must also be within its validity period (else Error 12037) and name the
  // server (else Error 12038). Clear restores false.
  bool StrictCertificates() const;
  void setStrictCertificates(bool strict);
  // The last reply's status code; 0 before any reply, without a status line,
  // after Clear. The control never acts on it.
  int HttpStatusCode() const;

  // The whole form table as NAME=VALUE lines, one per field in table order, for
  // Qt Designer's property editor and .ui files. Writing sets FormVarCount to the
  // number of lines and splits each line at its first '=' (a line without one is
  // a name with an empty value), so a name cannot itself contain '='. A list of
  // more than 32767 lines, or a table the control refuses, is refused whole
  // (callFailed) and the table is left as it was.
  QStringList FormFields() const;
  void setFormFields(const QStringList& fields);

  bool isBusy() const;
  Phase phase() const;

  // The form table. Getters return an empty string and setters false for an
  // index outside the table (or with no table); both emit callFailed().
  Q_INVOKABLE QString FormVarNames(int index) const;
  Q_INVOKABLE bool setFormVarNames(int index, const QString& name);
  Q_INVOKABLE QString FormVarValues(int index) const;
  Q_INVOKABLE bool setFormVarValues(int index, const QString& value);

  // The reply. ReceiveBufferB returns the byte (0..255), or -1 with callFailed()
  // for an index outside the byte buffer or with no buffer.
  Q_INVOKABLE QString ReceiveBuffer() const;
  Q_INVOKABLE QString StringB() const;
  Q_INVOKABLE int ReceiveBufferB(int byteNum) const;
  Q_INVOKABLE int ReceiveBufferArraySize() const;
  Q_INVOKABLE QString URLEncode(const QString& raw) const;

  // "error 12029: cannot connect to the server" for the text of an Error signal.
  static QString describeError(const QString& errorMessage);

  // The wrapped control, for reading; changing it goes through the widget.
  const vizadavu::vizADAVU& control() const;

 public slots:
  // Runs one transfer (1 = POST, anything else = GET) and returns when it is
  // over. True when it ended in EndTransfer; false after Error, or when it was
  // refused (callFailed: action outside -32768..32767, a transfer already
  // running) or ended by an exception from a connected slot.
  bool submit(int action);
  // The control's Action member: submit(action), result ignored.
  void setAction(int action);
  // Wipes the reply and resets every member but URL. False (and callFailed)
  // while a transfer runs; nothing is wiped then.
  bool Clear();
  // Ends the running transfer at the control's next chance: Error 12017, what
  // arrived stays readable. Does nothing when no transfer runs. Like the
  // control's Cancel, the one member that may also be called straight from
  // another thread, as long as the widget outlives the call.
  void cancel();

 signals:
  void EndTransfer();
  void Status(int StatusCode, const QString& Description);
  void Error(const QString& ErrorMessage);
  // A call was refused or ended by an exception; message says why.
  void callFailed(const QString& message);
  void busyChanged(bool busy);
  void phaseChanged(vizadavu::qt::FormControl::Phase phase);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Core;
  friend struct Core;

  void SetPhase(Phase phase);
  void Refuse(const QString& message) const;
  // Runs a call into the control; when the control throws, reports the refusal
  // through callFailed and returns `refused` instead.
  template <class Call, class Result>
  Result Attempt(Call call, Result refused) const;

  std::shared_ptr<Core> core_;
  Phase phase_ = Phase::Idle;
};

}  // namespace vizadavu::qt
