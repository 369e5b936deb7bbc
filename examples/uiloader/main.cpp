// vizadavu-uiloader: shows examples/form.ui, built at run time by QUiLoader with
// the vizADAVU Designer plugin, and submits its fields with the control.
//   usage: vizadavu-uiloader [FORM.ui [PLUGIN_DIR]]
// The defaults are the example form and the plugin of the build tree.
#include <QApplication>
#include <cstdio>

#include "SubmitForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  const QString ui = args.value(1, QStringLiteral(VIZADAVU_EXAMPLE_UI));
  const QString plugins = args.value(2, QStringLiteral(VIZADAVU_PLUGIN_DIR));
  QString error;
  QWidget* form = vizadavu::example::LoadSubmitForm(ui, plugins, &error);
  if (form == nullptr) {
    std::fprintf(stderr, "vizadavu-uiloader: %s\n", qPrintable(error));
    return 1;
  }
  form->show();
  const int status = QApplication::exec();
  delete form;
  return status;
}
