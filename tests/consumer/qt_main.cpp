// The consumer's form, submitted by the Qt control: a host that takes the
// library in with find_package(vizadavu COMPONENTS qt).
#include <vizadavu/qt/FormControl.h>

#include <QApplication>
#include <iostream>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::cerr << "usage: qt_consumer URL\n";
    return 64;
  }
  vizadavu::qt::FormControl control;
  control.setFormFields({QStringLiteral("a=1"), QStringLiteral("b=x y")});
  control.setSecure_Mode_Off(true);
  control.setURL(QString::fromLocal8Bit(argv[1]));
  const bool ended = control.submit(1);
  std::cout << control.ReceiveBuffer().toLatin1().toStdString();
  return ended ? 0 : 1;
}
