// Saves the whole X screen to a PNG file: qt/designer-screenshot.sh takes its
// picture of Qt Designer with it under Xvfb.
//   usage: vizadavu-screen-grab OUTPUT.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vizadavu-screen-grab OUTPUT.png\n");
    return 64;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  const QPixmap shot = screen != nullptr ? screen->grabWindow(0) : QPixmap();
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "vizadavu-screen-grab: cannot grab the screen into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
