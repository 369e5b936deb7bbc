#include "FormControlPlugin.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "vizadavu/qt/FormControl.h"

namespace vizadavu::qt {

FormControlPlugin::FormControlPlugin(QObject* parent) : QObject(parent) {}

QString FormControlPlugin::name() const {
  return QStringLiteral("vizadavu::qt::FormControl");
}
QString FormControlPlugin::group() const {
  return QStringLiteral("vizADAVU");
}
QString FormControlPlugin::toolTip() const {
  return QStringLiteral("vizADAVU form submission control");
}
QString FormControlPlugin::whatsThis() const {
  return QStringLiteral(
      "Submits a form (the FormFields table, NAME=VALUE lines) to URL as a POST or a GET, "
      "synchronously, and keeps the reply. Call submit(1) to post; connect EndTransfer, "
      "Status and Error to follow the transfer.");
}
QString FormControlPlugin::includeFile() const {
  return QStringLiteral("vizadavu/qt/FormControl.h");
}

// The control's own face, drawn at 64 x 64 on a transparent ground.
QIcon FormControlPlugin::icon() const {
  FormControl face;
  face.setFixedSize(64, 64);
  QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  face.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return QIcon(QPixmap::fromImage(image));
}

bool FormControlPlugin::isContainer() const {
  return false;
}
QWidget* FormControlPlugin::createWidget(QWidget* parent) {
  return new FormControl(parent);
}
bool FormControlPlugin::isInitialized() const {
  return initialized_;
}
void FormControlPlugin::initialize(QDesignerFormEditorInterface*) {
  initialized_ = true;
}

// What a new control dropped on a form starts with: a name, a plain-HTTP
// setting left at its default, and an empty form table.
QString FormControlPlugin::domXml() const {
  return QStringLiteral(R"(<ui language="c++">
  <widget class="vizadavu::qt::FormControl" name="formControl">
    <property name="toolTip">
      <string>vizADAVU form submission control</string>
    </property>
    <property name="YieldWhileWaiting">
      <bool>true</bool>
    </property>
  </widget>
  <customwidgets>
    <customwidget>
      <class>vizadavu::qt::FormControl</class>
      <extends>QWidget</extends>
      <header>vizadavu/qt/FormControl.h</header>
    </customwidget>
  </customwidgets>
</ui>
)");
}

}  // namespace vizadavu::qt
