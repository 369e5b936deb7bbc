// Builds the window of examples/form.ui at run time with QUiLoader and wires it
// up. The control comes from the vizADAVU Designer plugin; the program needs
// neither the control's headers nor its library, only the plugin, and talks to
// the control through its properties, invokable methods and signals.
#pragma once

#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUiLoader>
#include <QWidget>

namespace vizadavu::example {

// Loads the form from uiPath, with the Designer plugins of pluginDir (empty: Qt's
// plugin path). Returns null, with the reason in *error, when the file cannot be
// read or the control's plugin is not found.
inline QWidget* LoadSubmitForm(const QString& uiPath, const QString& pluginDir, QString* error,
                               QWidget* parent = nullptr) {
  QUiLoader loader;
  if (!pluginDir.isEmpty()) {
    loader.clearPluginPaths();
    loader.addPluginPath(pluginDir);
  }
  QFile file(uiPath);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("cannot read %1: %2").arg(uiPath, file.errorString());
    return nullptr;
  }
  QWidget* form = loader.load(&file, parent);
  QWidget* control = form ? form->findChild<QWidget*>(QStringLiteral("control")) : nullptr;
  if (control == nullptr ||
      QLatin1String(control->metaObject()->className()) != "vizadavu::qt::FormControl") {
    *error =
        form ? QStringLiteral("the vizADAVU Designer plugin was not found") : loader.errorString();
    delete form;
    return nullptr;
  }

  auto* url = form->findChild<QLineEdit*>(QStringLiteral("url"));
  auto* fields = form->findChild<QGroupBox*>(QStringLiteral("fields"));
  auto* reply = form->findChild<QPlainTextEdit*>(QStringLiteral("reply"));
  auto* submit = form->findChild<QPushButton*>(QStringLiteral("submit"));
  // The boxes start with what the form's designer gave the control; each field
  // box is named after its field.
  url->setText(control->property("URL").toString());
  for (const QString& line : control->property("FormFields").toStringList()) {
    if (auto* box = fields->findChild<QLineEdit*>(line.section(QLatin1Char('='), 0, 0))) {
      box->setText(line.section(QLatin1Char('='), 1));
    }
  }
  // An error shows its number in the reply view.
  QObject::connect(control, SIGNAL(Error(QString)), reply, SLOT(setPlainText(QString)));
  QObject::connect(submit, &QPushButton::clicked, control, [=] {
    QStringList table;
    for (const QLineEdit* box : fields->findChildren<QLineEdit*>()) {
      table << box->objectName() + QLatin1Char('=') + box->text();
    }
    control->setProperty("URL", url->text());
    control->setProperty("FormFields", table);
    bool ended = false;  // submit(1) posts and returns when the transfer is over
    QMetaObject::invokeMethod(control, "submit", Q_RETURN_ARG(bool, ended), Q_ARG(int, 1));
    QString text;
    QMetaObject::invokeMethod(control, "ReceiveBuffer", Q_RETURN_ARG(QString, text));
    if (ended) reply->setPlainText(text);
  });
  return form;
}

}  // namespace vizadavu::example
