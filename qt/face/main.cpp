// Draws the control's idle face, as vizadavu::qt::FormControl paints it, into
// PNG files on a transparent ground: the application icon of vizadavu-form.
//   usage: vizadavu-face SIZE OUTPUT.png [SIZE OUTPUT.png ...]
// Runs at build time on Qt's offscreen platform.
#include <QApplication>
#include <QImage>
#include <cstdio>

#include "vizadavu/qt/FormControl.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  if (args.isEmpty() || args.size() % 2 != 0) {
    std::fprintf(stderr, "usage: vizadavu-face SIZE OUTPUT.png [SIZE OUTPUT.png ...]\n");
    return 64;
  }
  for (qsizetype i = 0; i < args.size(); i += 2) {
    bool ok = false;
    const int size = args[i].toInt(&ok);
    if (!ok || size < 16 || size > 1024) {
      std::fprintf(stderr, "vizadavu-face: bad size %s\n", qPrintable(args[i]));
      return 64;
    }
    vizadavu::qt::FormControl face;
    face.setFixedSize(size, size);
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    face.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    if (!image.save(args[i + 1], "PNG")) {
      std::fprintf(stderr, "vizadavu-face: cannot write %s\n", qPrintable(args[i + 1]));
      return 73;
    }
  }
  return 0;
}
