#include "FormWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeySequence>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <set>

#include "FieldTable.h"
#include "ui_FormWindow.h"  // and with it the widgets' classes
#include "vizadavu/qt/FormControl.h"
#include "vizadavu/vizADAVU.h"

#include "tools/common/FormTools.h"

namespace vizadavu::form {
namespace {

constexpr int kNameColumn = 0;
constexpr int kValueColumn = 1;
constexpr int kMaxFields = std::numeric_limits<vizadavu::Integer>::max();
// The text view shows at most this many characters of a long reply.
constexpr qsizetype kMaxShownChars = 1 << 20;

// True when every character has a code in the control's code page; the others
// are sent as "?" (in a URL's path and query as %3F).
bool Representable(const QString& text) {
  return tools::CodePageCarries(text.toStdU16String());
}

QString StatusMeaning(int code) {
  switch (code) {
    case 21:
      return QStringLiteral("sending the request");
    case 30:
      return QStringLiteral("request sent; reading the reply");
    default:
      return QStringLiteral("progress");
  }
}

void Wipe(QString& text) {
  text.fill(QChar(0));
  text.clear();
  text.squeeze();
}

}  // namespace

QString HexDump(const QByteArray& bytes, qsizetype maxBytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const qsizetype shown = std::min(bytes.size(), std::max<qsizetype>(maxBytes, 0));
  QString out;
  out.reserve((shown / 16 + 2) * 80);
  for (qsizetype line = 0; line < shown; line += 16) {
    out += QStringLiteral("%1  ").arg(line, 8, 16, QChar(u'0'));
    QString ascii;
    for (qsizetype i = line; i < line + 16; ++i) {
      if (i == line + 8) out += u' ';
      if (i < shown) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out += QChar(kDigits[byte >> 4]);
        out += QChar(kDigits[byte & 0xF]);
        out += u' ';
        ascii += (byte >= 0x20 && byte < 0x7F) ? QChar(byte) : QChar(u'.');
      } else {
        out += QStringLiteral("   ");
      }
    }
    out += u'|';
    out += ascii;
    out += QStringLiteral("|\n");
  }
  if (bytes.size() > shown) {
    out += QStringLiteral("... %1 more bytes not shown\n").arg(bytes.size() - shown);
  }
  return out;
}

FormWindow::FormWindow(bool rememberState, QWidget* parent)
    : QMainWindow(parent),
      rememberState_(rememberState),
      ui_(std::make_unique<::Ui::FormWindow>()) {
  BuildUi();
  if (rememberState_) RestoreState();
  UpdateReadMode();
  clock_.start();
}

FormWindow::~FormWindow() {
  WipeReplyCopies();
}

vizadavu::qt::FormControl* FormWindow::control() const {
  return ui_->control;
}

void FormWindow::BuildUi() {
  ui_->setupUi(this);
  // setupUi fills the splitters before it sets the texts, and a layout hidden
  // until the first show keeps the sizes it measured then, of empty labels and
  // buttons: measure again, so the splitters start from the real sizes.
  for (QLayout* layout : findChildren<QLayout*>()) layout->invalidate();
  // What FormWindow.ui cannot say: sizes that follow the font, the system's
  // fixed-width font, and the platform's own keys.
  ui_->fields->setColumnWidth(kNameColumn, 180);
  ui_->fields->verticalHeader()->setDefaultSectionSize(ui_->fields->fontMetrics().height() + 8);
  ui_->hex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  ui_->submitAction->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  ui_->quitAction->setShortcut(QKeySequence::Quit);

  // Menus and shortcuts.
  connect(ui_->submitAction, &QAction::triggered, this, &FormWindow::submit);
  connect(ui_->clearAction, &QAction::triggered, this, &FormWindow::clearReply);
  connect(ui_->quitAction, &QAction::triggered, this, &QWidget::close);
  connect(ui_->addFieldAction, &QAction::triggered, this, [this] { addField(); });
  connect(ui_->removeFieldsAction, &QAction::triggered, this, &FormWindow::RemoveSelectedFields);
  auto* insertKey = new QShortcut(QKeySequence(Qt::Key_Insert), ui_->fields, nullptr, nullptr,
                                  Qt::WidgetWithChildrenShortcut);
  connect(insertKey, &QShortcut::activated, this, [this] { addField(); });
  auto* deleteKey =
      new QShortcut(QKeySequence::Delete, ui_->fields, nullptr, nullptr, Qt::WidgetShortcut);
  connect(deleteKey, &QShortcut::activated, this, &FormWindow::RemoveSelectedFields);

  connect(ui_->addField, &QPushButton::clicked, this, [this] { addField(); });
  connect(ui_->removeField, &QPushButton::clicked, this, &FormWindow::RemoveSelectedFields);
  connect(ui_->submit, &QPushButton::clicked, this, &FormWindow::submit);
  connect(ui_->clear, &QPushButton::clicked, this, &FormWindow::clearReply);
  connect(ui_->cancel, &QPushButton::clicked, ui_->control, &vizadavu::qt::FormControl::cancel);
  auto* escapeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escapeKey, &QShortcut::activated, ui_->control, &vizadavu::qt::FormControl::cancel);
  connect(ui_->url, &QLineEdit::returnPressed, this, &FormWindow::submit);
  connect(ui_->readMode, &QComboBox::currentIndexChanged, this, &FormWindow::UpdateReadMode);
  connect(ui_->utf8, &QCheckBox::toggled, this, &FormWindow::ShowReplyText);
  connect(ui_->control, &vizadavu::qt::FormControl::busyChanged, this, [this](bool busy) {
    ui_->submitAction->setEnabled(!busy);
    ui_->clearAction->setEnabled(!busy);
  });

  // The control's events, as they arrive.
  connect(ui_->control, &vizadavu::qt::FormControl::Status, this, [this](int code, const QString&) {
    Log(QStringLiteral("Status %1: %2").arg(code).arg(StatusMeaning(code)));
  });
  connect(ui_->control, &vizadavu::qt::FormControl::EndTransfer, this,
          [this] { Log(QStringLiteral("EndTransfer: the reply is complete")); });
  connect(ui_->control, &vizadavu::qt::FormControl::Error, this, [this](const QString& message) {
    lastError_ = vizadavu::qt::FormControl::describeError(message);
    QString shown = lastError_;
    shown[0] = shown[0].toUpper();
    ui_->error->setText(shown);
    ui_->error->show();
    Log(shown);
  });
  connect(ui_->control, &vizadavu::qt::FormControl::callFailed, this,
          [this](const QString& message) { Log(tr("Refused: %1").arg(message)); });

  statusBar()->showMessage(tr("Ready"));
}

void FormWindow::apply(const Request& request) {
  ui_->url->setText(request.url);
  ui_->method->setCurrentIndex(request.get ? 1 : 0);
  ui_->plain->setChecked(request.plain);
  ui_->strictCertificates->setChecked(request.strictCertificates);
  if (request.readSize) {
    ui_->readMode->setCurrentIndex(1);
    ui_->readSize->setValue(*request.readSize);
  } else {
    ui_->readMode->setCurrentIndex(0);
  }
  ui_->fields->setRowCount(0);
  for (const auto& [name, value] : request.fields) addField(name, value);
  ui_->fields->clearSelection();
  if (request.utf8) ui_->utf8->setChecked(*request.utf8);
  UpdateReadMode();
}

QList<QPair<QString, QString>> FormWindow::fields() const {
  ui_->fields->CommitEdit();
  QList<QPair<QString, QString>> rows;
  for (int row = 0; row < ui_->fields->rowCount(); ++row) {
    const QTableWidgetItem* name = ui_->fields->item(row, kNameColumn);
    const QTableWidgetItem* value = ui_->fields->item(row, kValueColumn);
    rows.append({name ? name->text() : QString(), value ? value->text() : QString()});
  }
  return rows;
}

void FormWindow::addField(const QString& name, const QString& value) {
  const int row = ui_->fields->rowCount();
  ui_->fields->insertRow(row);
  ui_->fields->setItem(row, kNameColumn, new QTableWidgetItem(name));
  ui_->fields->setItem(row, kValueColumn, new QTableWidgetItem(value));
  ui_->fields->setCurrentCell(row, kNameColumn);
  // A row added from the keyboard or the button is for typing into at once.
  if (name.isEmpty() && value.isEmpty() && ui_->fields->isVisible()) {
    ui_->fields->setFocus();
    ui_->fields->editItem(ui_->fields->item(row, kNameColumn));
  }
}

void FormWindow::RemoveSelectedFields() {
  std::set<int> rows;
  for (const QModelIndex& index : ui_->fields->selectionModel()->selectedIndexes()) {
    rows.insert(index.row());
  }
  if (rows.empty() && ui_->fields->currentRow() >= 0) rows.insert(ui_->fields->currentRow());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) ui_->fields->removeRow(*it);
}

void FormWindow::UpdateReadMode() {
  ui_->readSize->setEnabled(ui_->readMode->currentIndex() == 1);
}

bool FormWindow::submit() {
  if (ui_->control->isBusy()) return false;
  WipeReplyCopies();
  ui_->reply->clear();
  ui_->hex->clear();
  ui_->replySummary->setText(tr("Waiting for the reply..."));
  ui_->error->hide();
  lastError_.clear();

  const QList<QPair<QString, QString>> rows = fields();
  if (rows.size() > kMaxFields) {
    ui_->error->setText(tr("Too many fields: %1 (at most %2)").arg(rows.size()).arg(kMaxFields));
    ui_->error->show();
    return false;
  }
  const QString url = ui_->url->text().trimmed();
  if (!Representable(url)) {
    Log(
        tr("Warning: the URL has characters the Windows-1252 code page cannot represent; "
           "in its path and query they are sent as %3F, in the server name as \"?\""));
  }
  ui_->control->setURL(url);
  ui_->control->setSecure_Mode_Off(ui_->plain->isChecked());
  ui_->control->setStrictCertificates(ui_->strictCertificates->isChecked());
  ui_->control->setReceiveBufferSize(ui_->readMode->currentIndex() == 1 ? ui_->readSize->value()
                                                                        : -1);
  ui_->control->setFormVarCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const auto& [name, value] = rows[i];
    ui_->control->setFormVarNames(i + 1, name);
    ui_->control->setFormVarValues(i + 1, value);
    if (!Representable(name) || !Representable(value)) {
      Log(tr("Warning: field %1 (%2) has characters the Windows-1252 code page cannot "
             "represent; they are sent as \"?\"")
              .arg(i + 1)
              .arg(name));
    }
  }

  const bool post = ui_->method->currentIndex() == 0;
  Log(tr("Submitting %1 by %2 to %3")
          .arg(rows.size() == 1 ? tr("1 field") : tr("%1 fields").arg(rows.size()))
          .arg(post ? QStringLiteral("POST") : QStringLiteral("GET"))
          .arg(url));
  ui_->httpStatus->hide();
  SetBusy(true);
  const bool ended = ui_->control->submit(post ? 1 : 0);
  SetBusy(false);
  if (const int status = ui_->control->HttpStatusCode(); status > 0) {
    ui_->httpStatus->setText(tr("HTTP %1").arg(status));
    ui_->httpStatus->show();
  }
  ShowReply();
  if (ended) statusBar()->showMessage(tr("EndTransfer: the reply is complete"));
  emit submitted(ended);
  if (closeWhenIdle_) QTimer::singleShot(0, this, &QWidget::close);
  return ended;
}

void FormWindow::clearReply() {
  if (!ui_->control->Clear()) return;  // refused while a transfer runs; callFailed logs it
  WipeReplyCopies();
  ui_->reply->clear();
  ui_->hex->clear();
  ui_->replySummary->setText(tr("The reply was wiped."));
  ui_->error->hide();
  ui_->httpStatus->hide();
  lastError_.clear();
  Log(tr("Clear: the reply is wiped from memory"));
}

void FormWindow::SetBusy(bool busy) {
  // The window stays responsive during the transfer; only what would start
  // another one, or wipe the running one, waits.
  QWidget* focus = QApplication::focusWidget();
  ui_->submit->setEnabled(!busy);
  ui_->clear->setEnabled(!busy);
  ui_->cancel->setEnabled(busy);
  if (busy) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (focus == ui_->submit || focus == ui_->clear) ui_->url->setFocus();
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void FormWindow::Log(const QString& line) {
  const QString stamped = QStringLiteral("%1 s  %2")
                              .arg(static_cast<double>(clock_.elapsed()) / 1000.0, 0, 'f', 3)
                              .arg(line);
  ui_->events->addItem(stamped);
  ui_->events->scrollToBottom();
  if (eventsOnStandardError_) std::fprintf(stderr, "vizadavu-form: %s\n", qPrintable(stamped));
  statusBar()->showMessage(line);
}

void FormWindow::ShowReply() {
  const bool single = ui_->control->ReceiveBufferSize() >= 0;
  if (single) {
    const int count = ui_->control->ReceiveBufferArraySize() + 1;
    replyText_ = ui_->control->StringB();
    replyBytes_.resize(std::max(count, 0));
    for (int i = 0; i < count; ++i) {
      replyBytes_[i] = static_cast<char>(ui_->control->ReceiveBufferB(i));
    }
  } else {
    replyText_ = ui_->control->ReceiveBuffer();
    const std::string bytes = TextToAnsi(replyText_.toStdU16String());
    replyBytes_ = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  ShowReplyText();
  QString hex = HexDump(replyBytes_);
  ui_->hex->setPlainText(hex);
  Wipe(hex);

  QString summary = single ? tr("%1 bytes from one read of %2 bytes")
                                 .arg(replyBytes_.size())
                                 .arg(ui_->control->ReceiveBufferSize())
                           : tr("%1 bytes, read in 2048-byte chunks").arg(replyBytes_.size());
  if (replyText_.size() > kMaxShownChars) {
    summary += tr("; the text view shows the first %1").arg(kMaxShownChars);
  }
  if (!lastError_.isEmpty() && !replyBytes_.isEmpty()) summary += tr(" (arrived before the error)");
  ui_->replySummary->setText(summary);
}

// The reply text as the control delivered it (one Windows-1252 character per
// byte), or its bytes decoded as UTF-8; at most kMaxShownChars of it.
void FormWindow::ShowReplyText() {
  QString shown = ui_->utf8->isChecked()
                      ? QString::fromUtf8(replyBytes_.constData(),
                                          std::min<qsizetype>(replyBytes_.size(), kMaxShownChars))
                      : replyText_.left(kMaxShownChars);
  ui_->reply->setPlainText(shown);
  Wipe(shown);
}

void FormWindow::WipeReplyCopies() {
  Wipe(replyText_);
  replyBytes_.fill('\0');
  replyBytes_.clear();
  replyBytes_.squeeze();
}

void FormWindow::closeEvent(QCloseEvent* event) {
  if (ui_->control->isBusy()) {
    // The transfer runs inside submit(); the window closes when it returns.
    closeWhenIdle_ = true;
    statusBar()->showMessage(tr("The window closes when the transfer ends"));
    event->ignore();
    return;
  }
  if (rememberState_) SaveState();
  event->accept();
}

void FormWindow::RestoreState() {
  QSettings settings;
  restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
  restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
  ui_->splitter->restoreState(settings.value(QStringLiteral("window/splitter")).toByteArray());
  ui_->url->setText(settings.value(QStringLiteral("request/url")).toString());
  ui_->method->setCurrentIndex(settings.value(QStringLiteral("request/get"), false).toBool() ? 1
                                                                                             : 0);
  ui_->plain->setChecked(settings.value(QStringLiteral("request/plain"), false).toBool());
  ui_->strictCertificates->setChecked(
      settings.value(QStringLiteral("request/strictCertificates"), false).toBool());
  ui_->readMode->setCurrentIndex(
      settings.value(QStringLiteral("request/singleRead"), false).toBool() ? 1 : 0);
  ui_->readSize->setValue(settings.value(QStringLiteral("request/readSize"), 65536).toInt());
  ui_->utf8->setChecked(settings.value(QStringLiteral("reply/utf8"), false).toBool());
}

// Field values may be secrets (passwords, tokens), so the table is not saved.
void FormWindow::SaveState() const {
  QSettings settings;
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  settings.setValue(QStringLiteral("window/state"), saveState());
  settings.setValue(QStringLiteral("window/splitter"), ui_->splitter->saveState());
  settings.setValue(QStringLiteral("request/url"), ui_->url->text());
  settings.setValue(QStringLiteral("request/get"), ui_->method->currentIndex() == 1);
  settings.setValue(QStringLiteral("request/plain"), ui_->plain->isChecked());
  settings.setValue(QStringLiteral("request/strictCertificates"),
                    ui_->strictCertificates->isChecked());
  settings.setValue(QStringLiteral("request/singleRead"), ui_->readMode->currentIndex() == 1);
  settings.setValue(QStringLiteral("request/readSize"), ui_->readSize->value());
  settings.setValue(QStringLiteral("reply/utf8"), ui_->utf8->isChecked());
}

}  // namespace vizadavu::form
