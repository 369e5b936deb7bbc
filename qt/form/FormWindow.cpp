#include "FormWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <set>

#include "FieldTable.h"
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
// are sent as "?".
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
    : QMainWindow(parent), rememberState_(rememberState) {
  setWindowTitle(QStringLiteral("vizADAVU form"));
  BuildUi();
  resize(920, 680);
  if (rememberState_) RestoreState();
  UpdateReadMode();
  clock_.start();
}

FormWindow::~FormWindow() {
  WipeReplyCopies();
}

void FormWindow::BuildUi() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  // The request.
  auto* request = new QGroupBox(tr("Request"), central);
  auto* form = new QFormLayout(request);
  url_ = new QLineEdit(request);
  url_->setObjectName(QStringLiteral("url"));
  url_->setPlaceholderText(QStringLiteral("https://example.test/form"));
  url_->setClearButtonEnabled(true);
  auto* urlLabel = new QLabel(tr("&URL:"), request);
  urlLabel->setBuddy(url_);
  form->addRow(urlLabel, url_);

  auto* methodRow = new QHBoxLayout;
  method_ = new QComboBox(request);
  method_->setObjectName(QStringLiteral("method"));
  method_->addItem(tr("POST (Action 1)"));
  method_->addItem(tr("GET (Action 0)"));
  plain_ = new QCheckBox(tr("&Plain HTTP (port 80, no TLS)"), request);
  plain_->setObjectName(QStringLiteral("plain"));
  plain_->setToolTip(
      tr("Secure_Mode_Off: plain HTTP to port 80 instead of TLS to port 443; "
         "a port written in the URL wins"));
  methodRow->addWidget(method_);
  methodRow->addSpacing(12);
  methodRow->addWidget(plain_);
  methodRow->addStretch();
  auto* methodLabel = new QLabel(tr("&Method:"), request);
  methodLabel->setBuddy(method_);
  form->addRow(methodLabel, methodRow);

  auto* readRow = new QHBoxLayout;
  readMode_ = new QComboBox(request);
  readMode_->setObjectName(QStringLiteral("readMode"));
  readMode_->addItem(tr("in 2048-byte chunks, as text"));
  readMode_->addItem(tr("in one read of"));
  readMode_->setToolTip(tr("ReceiveBufferSize: chunked (-1) or a single read of N bytes"));
  readSize_ = new QSpinBox(request);
  readSize_->setObjectName(QStringLiteral("readSize"));
  readSize_->setRange(0, std::numeric_limits<int>::max());
  readSize_->setValue(65536);
  readSize_->setSuffix(tr(" bytes"));
  readSize_->setGroupSeparatorShown(true);
  readSize_->setAccelerated(true);
  readRow->addWidget(readMode_);
  readRow->addWidget(readSize_);
  readRow->addStretch();
  auto* readLabel = new QLabel(tr("&Read the reply:"), request);
  readLabel->setBuddy(readMode_);
  form->addRow(readLabel, readRow);
  layout->addWidget(request);

  // The form fields.
  auto* fieldsBox = new QGroupBox(tr("Form fields"), central);
  auto* fieldsLayout = new QVBoxLayout(fieldsBox);
  auto* fieldsLabel = new QLabel(
      tr("Fiel&ds (sent when the name is set and the value is not blank; Insert adds a row, "
         "Delete removes the selected rows, F2 edits):"),
      fieldsBox);
  fieldsLabel->setWordWrap(true);
  table_ = new FieldTable(0, 2, fieldsBox);
  table_->setObjectName(QStringLiteral("fields"));
  table_->setHorizontalHeaderLabels({tr("Name"), tr("Value")});
  table_->horizontalHeader()->setSectionResizeMode(kNameColumn, QHeaderView::Interactive);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(kNameColumn, 180);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
  // Tab leaves the table; the arrow keys move between cells.
  table_->setTabKeyNavigation(false);
  fieldsLabel->setBuddy(table_);
  auto* fieldButtons = new QHBoxLayout;
  add_ = new QPushButton(tr("&Add field"), fieldsBox);
  add_->setObjectName(QStringLiteral("addField"));
  remove_ = new QPushButton(tr("R&emove field"), fieldsBox);
  remove_->setObjectName(QStringLiteral("removeField"));
  fieldButtons->addWidget(add_);
  fieldButtons->addWidget(remove_);
  fieldButtons->addStretch();
  fieldsLayout->addWidget(fieldsLabel);
  fieldsLayout->addWidget(table_);
  fieldsLayout->addLayout(fieldButtons);

  // Submit, Clear, the control's face and the last error.
  auto* actions = new QHBoxLayout;
  control_ = new vizadavu::qt::FormControl(central);
  control_->setObjectName(QStringLiteral("control"));
  submit_ = new QPushButton(tr("&Submit"), central);
  submit_->setObjectName(QStringLiteral("submit"));
  submit_->setToolTip(tr("Submit the form (Ctrl+Return)"));
  clear_ = new QPushButton(tr("C&lear"), central);
  clear_->setObjectName(QStringLiteral("clear"));
  clear_->setToolTip(tr("Wipe the reply from memory"));
  cancel_ = new QPushButton(tr("Cancel"), central);
  cancel_->setObjectName(QStringLiteral("cancel"));
  cancel_->setToolTip(tr("Stop the running submission (Esc)"));
  cancel_->setEnabled(false);
  httpStatus_ = new QLabel(central);
  httpStatus_->setObjectName(QStringLiteral("httpStatus"));
  httpStatus_->setToolTip(tr("The HTTP status of the last reply"));
  httpStatus_->hide();
  error_ = new QLabel(central);
  error_->setObjectName(QStringLiteral("error"));
  error_->setStyleSheet(QStringLiteral("QLabel { color: #b3261e; font-weight: bold; }"));
  error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  error_->hide();
  actions->addWidget(control_);
  actions->addWidget(submit_);
  actions->addWidget(clear_);
  actions->addWidget(cancel_);
  actions->addSpacing(8);
  actions->addWidget(httpStatus_);
  actions->addWidget(error_);
  actions->addStretch(1);

  // The reply and the events.
  auto* replyBox = new QWidget(central);
  auto* replyLayout = new QVBoxLayout(replyBox);
  replyLayout->setContentsMargins(0, 0, 0, 0);
  replySummary_ = new QLabel(tr("No reply yet."), replyBox);
  replySummary_->setObjectName(QStringLiteral("replySummary"));
  utf8_ = new QCheckBox(tr("Decode the text as UTF-&8"), replyBox);
  utf8_->setObjectName(QStringLiteral("utf8"));
  utf8_->setToolTip(
      tr("The control turns each reply byte into one Windows-1252 character; "
         "show the text view decoded as UTF-8 instead"));
  auto* summaryRow = new QHBoxLayout;
  summaryRow->addWidget(replySummary_, 1);
  summaryRow->addWidget(utf8_);
  replyTabs_ = new QTabWidget(replyBox);
  replyView_ = new QPlainTextEdit(replyTabs_);
  replyView_->setObjectName(QStringLiteral("reply"));
  replyView_->setReadOnly(true);
  replyView_->setTabChangesFocus(true);
  hexView_ = new QPlainTextEdit(replyTabs_);
  hexView_->setObjectName(QStringLiteral("hex"));
  hexView_->setReadOnly(true);
  hexView_->setTabChangesFocus(true);
  hexView_->setLineWrapMode(QPlainTextEdit::NoWrap);
  hexView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  replyTabs_->addTab(replyView_, tr("Reply as &text"));
  replyTabs_->addTab(hexView_, tr("Reply as &bytes (hex)"));
  replyLayout->addLayout(summaryRow);
  replyLayout->addWidget(replyTabs_);

  auto* eventsBox = new QWidget(central);
  auto* eventsLayout = new QVBoxLayout(eventsBox);
  eventsLayout->setContentsMargins(0, 0, 0, 0);
  auto* eventsLabel = new QLabel(tr("E&vents:"), eventsBox);
  events_ = new QListWidget(eventsBox);
  events_->setObjectName(QStringLiteral("events"));
  events_->setWordWrap(true);
  eventsLabel->setBuddy(events_);
  eventsLayout->addWidget(eventsLabel);
  eventsLayout->addWidget(events_);

  auto* replySplitter = new QSplitter(Qt::Horizontal, central);
  replySplitter->addWidget(replyBox);
  replySplitter->addWidget(eventsBox);
  replySplitter->setStretchFactor(0, 3);
  replySplitter->setStretchFactor(1, 2);

  auto* top = new QWidget(central);
  auto* topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->addWidget(fieldsBox);
  topLayout->addLayout(actions);

  splitter_ = new QSplitter(Qt::Vertical, central);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(top);
  splitter_->addWidget(replySplitter);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 1);
  layout->addWidget(splitter_, 1);
  setCentralWidget(central);

  setTabOrder(url_, method_);
  setTabOrder(method_, plain_);
  setTabOrder(plain_, readMode_);
  setTabOrder(readMode_, readSize_);
  setTabOrder(readSize_, table_);
  setTabOrder(table_, add_);
  setTabOrder(add_, remove_);
  setTabOrder(remove_, submit_);
  setTabOrder(submit_, clear_);
  setTabOrder(clear_, utf8_);
  setTabOrder(utf8_, replyTabs_);
  setTabOrder(replyTabs_, replyView_);
  setTabOrder(replyView_, hexView_);
  setTabOrder(hexView_, events_);

  // Menus and shortcuts.
  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* submitAction = file->addAction(tr("&Submit"), this, &FormWindow::submit);
  submitAction->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  QAction* clearAction = file->addAction(tr("&Clear reply"), this, &FormWindow::clearReply);
  file->addSeparator();
  QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
  quit->setShortcut(QKeySequence::Quit);
  QMenu* fieldsMenu = menuBar()->addMenu(tr("F&ields"));
  fieldsMenu->addAction(tr("&Add field"), this, [this] { addField(); });
  fieldsMenu->addAction(tr("&Remove selected fields"), this, &FormWindow::RemoveSelectedFields);
  auto* insertKey = new QShortcut(QKeySequence(Qt::Key_Insert), table_, nullptr, nullptr,
                                  Qt::WidgetWithChildrenShortcut);
  connect(insertKey, &QShortcut::activated, this, [this] { addField(); });
  auto* deleteKey =
      new QShortcut(QKeySequence::Delete, table_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(deleteKey, &QShortcut::activated, this, &FormWindow::RemoveSelectedFields);

  connect(add_, &QPushButton::clicked, this, [this] { addField(); });
  connect(remove_, &QPushButton::clicked, this, &FormWindow::RemoveSelectedFields);
  connect(submit_, &QPushButton::clicked, this, &FormWindow::submit);
  connect(clear_, &QPushButton::clicked, this, &FormWindow::clearReply);
  connect(cancel_, &QPushButton::clicked, control_, &vizadavu::qt::FormControl::cancel);
  auto* escapeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escapeKey, &QShortcut::activated, control_, &vizadavu::qt::FormControl::cancel);
  connect(url_, &QLineEdit::returnPressed, this, &FormWindow::submit);
  connect(readMode_, &QComboBox::currentIndexChanged, this, &FormWindow::UpdateReadMode);
  connect(utf8_, &QCheckBox::toggled, this, &FormWindow::ShowReplyText);
  connect(control_, &vizadavu::qt::FormControl::busyChanged, this,
          [submitAction, clearAction](bool busy) {
            submitAction->setEnabled(!busy);
            clearAction->setEnabled(!busy);
          });

  // The control's events, as they arrive.
  connect(control_, &vizadavu::qt::FormControl::Status, this, [this](int code, const QString&) {
    Log(QStringLiteral("Status %1: %2").arg(code).arg(StatusMeaning(code)));
  });
  connect(control_, &vizadavu::qt::FormControl::EndTransfer, this,
          [this] { Log(QStringLiteral("EndTransfer: the reply is complete")); });
  connect(control_, &vizadavu::qt::FormControl::Error, this, [this](const QString& message) {
    lastError_ = vizadavu::qt::FormControl::describeError(message);
    QString shown = lastError_;
    shown[0] = shown[0].toUpper();
    error_->setText(shown);
    error_->show();
    Log(shown);
  });
  connect(control_, &vizadavu::qt::FormControl::callFailed, this,
          [this](const QString& message) { Log(tr("Refused: %1").arg(message)); });

  statusBar()->showMessage(tr("Ready"));
}

void FormWindow::apply(const Request& request) {
  url_->setText(request.url);
  method_->setCurrentIndex(request.get ? 1 : 0);
  plain_->setChecked(request.plain);
  if (request.readSize) {
    readMode_->setCurrentIndex(1);
    readSize_->setValue(*request.readSize);
  } else {
    readMode_->setCurrentIndex(0);
  }
  table_->setRowCount(0);
  for (const auto& [name, value] : request.fields) addField(name, value);
  table_->clearSelection();
  if (request.utf8) utf8_->setChecked(*request.utf8);
  UpdateReadMode();
}

QList<QPair<QString, QString>> FormWindow::fields() const {
  static_cast<FieldTable*>(table_)->CommitEdit();
  QList<QPair<QString, QString>> rows;
  for (int row = 0; row < table_->rowCount(); ++row) {
    const QTableWidgetItem* name = table_->item(row, kNameColumn);
    const QTableWidgetItem* value = table_->item(row, kValueColumn);
    rows.append({name ? name->text() : QString(), value ? value->text() : QString()});
  }
  return rows;
}

void FormWindow::addField(const QString& name, const QString& value) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  table_->setItem(row, kNameColumn, new QTableWidgetItem(name));
  table_->setItem(row, kValueColumn, new QTableWidgetItem(value));
  table_->setCurrentCell(row, kNameColumn);
  // A row added from the keyboard or the button is for typing into at once.
  if (name.isEmpty() && value.isEmpty() && table_->isVisible()) {
    table_->setFocus();
    table_->editItem(table_->item(row, kNameColumn));
  }
}

void FormWindow::RemoveSelectedFields() {
  std::set<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedIndexes()) {
    rows.insert(index.row());
  }
  if (rows.empty() && table_->currentRow() >= 0) rows.insert(table_->currentRow());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) table_->removeRow(*it);
}

void FormWindow::UpdateReadMode() {
  readSize_->setEnabled(readMode_->currentIndex() == 1);
}

bool FormWindow::submit() {
  if (control_->isBusy()) return false;
  WipeReplyCopies();
  replyView_->clear();
  hexView_->clear();
  replySummary_->setText(tr("Waiting for the reply..."));
  error_->hide();
  lastError_.clear();

  const QList<QPair<QString, QString>> rows = fields();
  if (rows.size() > kMaxFields) {
    error_->setText(tr("Too many fields: %1 (at most %2)").arg(rows.size()).arg(kMaxFields));
    error_->show();
    return false;
  }
  const QString url = url_->text().trimmed();
  if (!Representable(url)) {
    Log(
        tr("Warning: the URL has characters the Windows-1252 code page cannot represent; "
           "they are sent as \"?\""));
  }
  control_->setURL(url);
  control_->setSecure_Mode_Off(plain_->isChecked());
  control_->setReceiveBufferSize(readMode_->currentIndex() == 1 ? readSize_->value() : -1);
  control_->setFormVarCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const auto& [name, value] = rows[i];
    control_->setFormVarNames(i + 1, name);
    control_->setFormVarValues(i + 1, value);
    if (!Representable(name) || !Representable(value)) {
      Log(tr("Warning: field %1 (%2) has characters the Windows-1252 code page cannot "
             "represent; they are sent as \"?\"")
              .arg(i + 1)
              .arg(name));
    }
  }

  const bool post = method_->currentIndex() == 0;
  Log(tr("Submitting %1 by %2 to %3")
          .arg(rows.size() == 1 ? tr("1 field") : tr("%1 fields").arg(rows.size()))
          .arg(post ? QStringLiteral("POST") : QStringLiteral("GET"))
          .arg(url));
  httpStatus_->hide();
  SetBusy(true);
  const bool ended = control_->submit(post ? 1 : 0);
  SetBusy(false);
  if (const int status = control_->HttpStatusCode(); status > 0) {
    httpStatus_->setText(tr("HTTP %1").arg(status));
    httpStatus_->show();
  }
  ShowReply();
  if (ended) statusBar()->showMessage(tr("EndTransfer: the reply is complete"));
  emit submitted(ended);
  if (closeWhenIdle_) QTimer::singleShot(0, this, &QWidget::close);
  return ended;
}

void FormWindow::clearReply() {
  if (!control_->Clear()) return;  // refused while a transfer runs; callFailed logs it
  WipeReplyCopies();
  replyView_->clear();
  hexView_->clear();
  replySummary_->setText(tr("The reply was wiped."));
  error_->hide();
  httpStatus_->hide();
  lastError_.clear();
  Log(tr("Clear: the reply is wiped from memory"));
}

void FormWindow::SetBusy(bool busy) {
  // The window stays responsive during the transfer; only what would start
  // another one, or wipe the running one, waits.
  QWidget* focus = QApplication::focusWidget();
  submit_->setEnabled(!busy);
  clear_->setEnabled(!busy);
  cancel_->setEnabled(busy);
  if (busy) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (focus == submit_ || focus == clear_) url_->setFocus();
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void FormWindow::Log(const QString& line) {
  const QString stamped = QStringLiteral("%1 s  %2")
                              .arg(static_cast<double>(clock_.elapsed()) / 1000.0, 0, 'f', 3)
                              .arg(line);
  events_->addItem(stamped);
  events_->scrollToBottom();
  if (eventsOnStandardError_) std::fprintf(stderr, "vizadavu-form: %s\n", qPrintable(stamped));
  statusBar()->showMessage(line);
}

void FormWindow::ShowReply() {
  const bool single = control_->ReceiveBufferSize() >= 0;
  if (single) {
    const int count = control_->ReceiveBufferArraySize() + 1;
    replyText_ = control_->StringB();
    replyBytes_.resize(std::max(count, 0));
    for (int i = 0; i < count; ++i) {
      replyBytes_[i] = static_cast<char>(control_->ReceiveBufferB(i));
    }
  } else {
    replyText_ = control_->ReceiveBuffer();
    const std::string bytes = TextToAnsi(replyText_.toStdU16String());
    replyBytes_ = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  ShowReplyText();
  QString hex = HexDump(replyBytes_);
  hexView_->setPlainText(hex);
  Wipe(hex);

  QString summary = single ? tr("%1 bytes from one read of %2 bytes")
                                 .arg(replyBytes_.size())
                                 .arg(control_->ReceiveBufferSize())
                           : tr("%1 bytes, read in 2048-byte chunks").arg(replyBytes_.size());
  if (replyText_.size() > kMaxShownChars) {
    summary += tr("; the text view shows the first %1").arg(kMaxShownChars);
  }
  if (!lastError_.isEmpty() && !replyBytes_.isEmpty()) summary += tr(" (arrived before the error)");
  replySummary_->setText(summary);
}

// The reply text as the control delivered it (one Windows-1252 character per
// byte), or its bytes decoded as UTF-8; at most kMaxShownChars of it.
void FormWindow::ShowReplyText() {
  QString shown = utf8_->isChecked()
                      ? QString::fromUtf8(replyBytes_.constData(),
                                          std::min<qsizetype>(replyBytes_.size(), kMaxShownChars))
                      : replyText_.left(kMaxShownChars);
  replyView_->setPlainText(shown);
  Wipe(shown);
}

void FormWindow::WipeReplyCopies() {
  Wipe(replyText_);
  replyBytes_.fill('\0');
  replyBytes_.clear();
  replyBytes_.squeeze();
}

void FormWindow::closeEvent(QCloseEvent* event) {
  if (control_->isBusy()) {
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
  splitter_->restoreState(settings.value(QStringLiteral("window/splitter")).toByteArray());
  url_->setText(settings.value(QStringLiteral("request/url")).toString());
  method_->setCurrentIndex(settings.value(QStringLiteral("request/get"), false).toBool() ? 1 : 0);
  plain_->setChecked(settings.value(QStringLiteral("request/plain"), false).toBool());
  readMode_->setCurrentIndex(
      settings.value(QStringLiteral("request/singleRead"), false).toBool() ? 1 : 0);
  readSize_->setValue(settings.value(QStringLiteral("request/readSize"), 65536).toInt());
  utf8_->setChecked(settings.value(QStringLiteral("reply/utf8"), false).toBool());
}

// Field values may be secrets (passwords, tokens), so the table is not saved.
void FormWindow::SaveState() const {
  QSettings settings;
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  settings.setValue(QStringLiteral("window/state"), saveState());
  settings.setValue(QStringLiteral("window/splitter"), splitter_->saveState());
  settings.setValue(QStringLiteral("request/url"), url_->text());
  settings.setValue(QStringLiteral("request/get"), method_->currentIndex() == 1);
  settings.setValue(QStringLiteral("request/plain"), plain_->isChecked());
  settings.setValue(QStringLiteral("request/singleRead"), readMode_->currentIndex() == 1);
  settings.setValue(QStringLiteral("request/readSize"), readSize_->value());
  settings.setValue(QStringLiteral("reply/utf8"), utf8_->isChecked());
}

}  // namespace vizadavu::form
