#include "vizadavu/qt/FormControl.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <stdexcept>

namespace vizadavu::qt {
namespace {

// QString and Text are both UTF-16 with one unit per character.
Text ToText(const QString& text) {
  return text.toStdU16String();
}
QString ToQString(const Text& text) {
  return QString::fromStdU16String(text);
}

QString WhatOf(const std::exception& e) {
  return QString::fromUtf8(e.what());
}

QString PhaseTip(FormControl::Phase phase) {
  switch (phase) {
    case FormControl::Phase::Idle:
      return QStringLiteral("vizADAVU form submission: idle");
    case FormControl::Phase::Pausing:
      return QStringLiteral("vizADAVU form submission: starting");
    case FormControl::Phase::Sending:
      return QStringLiteral("vizADAVU form submission: sending the request");
    case FormControl::Phase::Receiving:
      return QStringLiteral("vizADAVU form submission: reading the reply");
    case FormControl::Phase::Done:
      return QStringLiteral("vizADAVU form submission: reply received");
    case FormControl::Phase::Failed:
      return QStringLiteral("vizADAVU form submission: failed");
  }
  return {};
}

}  // namespace

// The control and the widget's side of it. It lives on the heap, shared between
// the widget and a running submit(), so that submit() can tell when a slot
// destroyed the widget in the middle of a transfer: the widget's destructor
// destroys the control too, which stops its transfer there, and sets `widget`
// to null, so that nothing of the dead widget is touched again.
struct FormControl::Core final : vizADAVUEvents, MessageLoop {
  explicit Core(FormControl* owner) : widget(owner) {
    control.emplace(this, this);
    control->YieldWhileWaiting = true;
  }

  void Status(Long StatusCode, const Text& Description) override {
    if (widget == nullptr) return;
    widget->SetPhase(StatusCode == vizadavu::status::SendingRequest ? Phase::Sending
                                                                    : Phase::Receiving);
    if (widget != nullptr) emit widget->Status(StatusCode, ToQString(Description));
  }
  void EndTransfer() override {
    ended = true;
    if (widget == nullptr) return;
    widget->SetPhase(Phase::Done);
    if (widget != nullptr) emit widget->EndTransfer();
  }
  void Error(const Text& ErrorMessage) override {
    if (widget == nullptr) return;
    widget->SetPhase(Phase::Failed);
    if (widget != nullptr) emit widget->Error(ToQString(ErrorMessage));
  }

  // The control calls this on every pass of its one-second pause (which rests
  // a millisecond between passes), after each Status event, after every read
  // and, with YieldWhileWaiting, every 20 ms or sooner while it waits on the
  // network.
  void DoEvents() override {
    if (QCoreApplication::instance() == nullptr) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  // The pause sleeps in Qt's event dispatcher until an event comes, handles
  // it, and returns; a single-shot timer ends a wait that sees none.
  bool WaitForEvents(std::chrono::milliseconds timeout) override {
    if (QCoreApplication::instance() == nullptr) return false;
    if (!wake) {
      wake.emplace();
      wake->setSingleShot(true);
      wake->setTimerType(Qt::PreciseTimer);
    }
    wake->start(timeout);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake->stop();
    return true;
  }

  FormControl* widget;
  bool running = false;
  bool ended = false;
  std::optional<vizADAVU> control;
  std::optional<QTimer> wake;
};

FormControl::FormControl(QWidget* parent) : QWidget(parent), core_(std::make_shared<Core>(this)) {
  setFixedSize(vizADAVU::Width(), vizADAVU::Height());
  setToolTip(PhaseTip(phase_));
  setAccessibleName(QStringLiteral("vizADAVU form submission control"));
  setAccessibleDescription(PhaseTip(phase_));
}

FormControl::~FormControl() {
  // During a transfer (a slot deleted the widget, or deleteLater ran in the
  // event loop the control keeps turning): the transfer stops without another
  // signal, and the running submit() keeps the core until it returns.
  core_->widget = nullptr;
  core_->control.reset();
}

template <class Call, class Result>
Result FormControl::Attempt(Call call, Result refused) const {
  try {
    return call();
  } catch (const std::exception& e) {
    Refuse(WhatOf(e));
    return refused;
  }
}

QSize FormControl::sizeHint() const {
  return {vizADAVU::Width(), vizADAVU::Height()};
}
QSize FormControl::minimumSizeHint() const {
  return sizeHint();
}

QString FormControl::URL() const {
  return ToQString(core_->control->URL());
}
void FormControl::setURL(const QString& url) {
  core_->control->URL(ToText(url));
}

int FormControl::FormVarCount() const {
  return core_->control->FormVarCount();
}
void FormControl::setFormVarCount(int count) {
  Attempt([&] { return (core_->control->FormVarCount(count), true); }, false);
}

bool FormControl::Secure_Mode_Off() const {
  return core_->control->Secure_Mode_Off;
}
void FormControl::setSecure_Mode_Off(bool off) {
  core_->control->Secure_Mode_Off = off;
}
int FormControl::SecurityFlags() const {
  return core_->control->SecurityFlags;
}
void FormControl::setSecurityFlags(int flags) {
  core_->control->SecurityFlags = flags;
}
int FormControl::ReceiveBufferSize() const {
  return core_->control->ReceiveBufferSize;
}
void FormControl::setReceiveBufferSize(int bytes) {
  core_->control->ReceiveBufferSize = bytes;
}

QStringList FormControl::FormFields() const {
  QStringList fields;
  const int count = core_->control->FormVarCount();
  for (int index = 1; index <= count; ++index) {
    fields << FormVarNames(index) + QLatin1Char('=') + FormVarValues(index);
  }
  return fields;
}

void FormControl::setFormFields(const QStringList& fields) {
  if (core_->running) {
    Refuse(QStringLiteral("FormFields: a transfer is running on this control; the table is kept"));
    return;
  }
  if (fields.size() > std::numeric_limits<Integer>::max()) {
    Refuse(QStringLiteral("FormFields: %1 fields are more than the table holds (32767)")
               .arg(fields.size()));
    return;
  }
  const int count = static_cast<int>(fields.size());
  Attempt(
      [&] {
        core_->control->FormVarCount(count);
        for (int index = 1; index <= count; ++index) {
          const QString& line = fields[index - 1];
          const qsizetype equals = line.indexOf(QLatin1Char('='));
          core_->control->FormVarNames(index, ToText(equals < 0 ? line : line.left(equals)));
          core_->control->FormVarValues(index,
                                        ToText(equals < 0 ? QString() : line.mid(equals + 1)));
        }
        return true;
      },
      false);
}

bool FormControl::isBusy() const {
  return core_->running;
}
FormControl::Phase FormControl::phase() const {
  return phase_;
}

QString FormControl::FormVarNames(int index) const {
  return Attempt([&] { return ToQString(core_->control->FormVarNames(index)); }, QString());
}
bool FormControl::setFormVarNames(int index, const QString& name) {
  return Attempt([&] { return (core_->control->FormVarNames(index, ToText(name)), true); }, false);
}
QString FormControl::FormVarValues(int index) const {
  return Attempt([&] { return ToQString(core_->control->FormVarValues(index)); }, QString());
}
bool FormControl::setFormVarValues(int index, const QString& value) {
  return Attempt([&] { return (core_->control->FormVarValues(index, ToText(value)), true); },
                 false);
}

QString FormControl::ReceiveBuffer() const {
  return ToQString(core_->control->ReceiveBuffer());
}
QString FormControl::StringB() const {
  return Attempt([&] { return ToQString(core_->control->StringB()); }, QString());
}
int FormControl::ReceiveBufferB(int byteNum) const {
  return Attempt([&] { return static_cast<int>(core_->control->ReceiveBufferB(byteNum)); }, -1);
}
int FormControl::ReceiveBufferArraySize() const {
  return core_->control->ReceiveBufferArraySize();
}
QString FormControl::URLEncode(const QString& raw) const {
  return ToQString(core_->control->URLEncode(ToText(raw)));
}

QString FormControl::describeError(const QString& errorMessage) {
  const std::optional<Long> code = vizadavu::errors::CodeOf(ToText(errorMessage.trimmed()));
  const std::string_view meaning =
      code ? vizadavu::errors::Describe(*code) : std::string_view("unknown error");
  return QStringLiteral("error %1: %2")
      .arg(errorMessage.trimmed(),
           QString::fromUtf8(meaning.data(), static_cast<qsizetype>(meaning.size())));
}

const vizadavu::vizADAVU& FormControl::control() const {
  return *core_->control;
}

bool FormControl::YieldWhileWaiting() const {
  return core_->control->YieldWhileWaiting;
}
void FormControl::setYieldWhileWaiting(bool yield) {
  core_->control->YieldWhileWaiting = yield;
}

bool FormControl::StrictCertificates() const {
  return core_->control->StrictCertificates;
}
void FormControl::setStrictCertificates(bool strict) {
  core_->control->StrictCertificates = strict;
}

int FormControl::HttpStatusCode() const {
  return core_->control->HttpStatusCode();
}

void FormControl::cancel() {
  core_->control->Cancel();
}

bool FormControl::submit(int action) {
  // Held for the whole transfer: if a slot destroys this widget meanwhile, the
  // transfer stops, Action returns, and neither `this` nor the control is
  // touched again.
  const std::shared_ptr<Core> core = core_;
  if (core->running) {
    Refuse(QStringLiteral("submit: a transfer is already running on this control; it goes on"));
    return false;
  }
  if (action < std::numeric_limits<Integer>::min() ||
      action > std::numeric_limits<Integer>::max()) {
    Refuse(QStringLiteral("submit: action %1 is outside -32768..32767").arg(action));
    return false;
  }
  core->running = true;
  core->ended = false;
  SetPhase(Phase::Pausing);
  if (core->widget != nullptr) emit busyChanged(true);

  std::optional<QString> failure;
  try {
    core->control->Action(action);
  } catch (const std::exception& e) {
    failure = QStringLiteral("submit: the transfer was ended by an exception: %1").arg(WhatOf(e));
  } catch (...) {
    failure = QStringLiteral("submit: the transfer was ended by an exception");
  }
  core->running = false;
  const bool ended = core->ended && !failure;

  // Each step below may run slots that destroy the widget; look again each time.
  if (failure && core->widget != nullptr) core->widget->SetPhase(Phase::Failed);
  if (failure && core->widget != nullptr) core->widget->Refuse(*failure);
  if (core->widget != nullptr) emit core->widget->busyChanged(false);
  return ended;
}

void FormControl::setAction(int action) {
  submit(action);
}

bool FormControl::Clear() {
  if (core_->running) {
    Refuse(QStringLiteral("Clear: a transfer is running on this control; nothing was wiped"));
    return false;
  }
  if (!Attempt([&] { return (core_->control->Clear(), true); }, false)) return false;
  core_->control->YieldWhileWaiting = true;  // the widget's default
  SetPhase(Phase::Idle);
  return true;
}

void FormControl::SetPhase(Phase phase) {
  if (phase == phase_) return;
  phase_ = phase;
  setToolTip(PhaseTip(phase));
  setAccessibleDescription(PhaseTip(phase));
  update();
  emit phaseChanged(phase);
}

void FormControl::Refuse(const QString& message) const {
  emit const_cast<FormControl*>(this)->callFailed(message);
}

}  // namespace vizadavu::qt
