// The Designer plugin through QUiLoader: examples/form.ui builds the control with
// the properties the form gives it, and its Submit button sends exactly the
// form's fields to a loopback server.
#include <QMetaMethod>
#include <QPluginLoader>
#include <QTemporaryDir>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <memory>

#include "TestSupport.h"
#include "examples/uiloader/SubmitForm.h"

namespace vizadavu::qt::test {

using loopback::LoopbackServer;

class UiLoaderTest : public QObject {
  Q_OBJECT

  static std::unique_ptr<QWidget> Load() {
    QString error;
    std::unique_ptr<QWidget> form(
        example::LoadSubmitForm(VIZADAVU_EXAMPLE_UI, VIZADAVU_PLUGIN_DIR, &error));
    if (!form) qWarning("%s", qPrintable(error));
    return form;
  }
  template <class W>
  static W* Child(QWidget& form, const char* name) {
    return form.findChild<W*>(QLatin1String(name));
  }

 private slots:
  // What Designer shows: the group, a tool tip, the face as icon, the header,
  // and a control with the signals the signal/slot editor offers.
  void pluginDescribesTheControl() {
    QPluginLoader loader(QStringLiteral(VIZADAVU_PLUGIN_DIR "/libvizadavu-designer.so"));
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
    QVERIFY2(plugin != nullptr, qPrintable(loader.errorString()));
    QCOMPARE(plugin->name(), QStringLiteral("vizadavu::qt::FormControl"));
    QCOMPARE(plugin->group(), QStringLiteral("vizADAVU"));
    QVERIFY(!plugin->toolTip().isEmpty());
    QCOMPARE(plugin->includeFile(), QStringLiteral("vizadavu/qt/FormControl.h"));
    QVERIFY(!plugin->icon().pixmap(32, 32).isNull());
    QVERIFY(plugin->domXml().contains("class=\"vizadavu::qt::FormControl\""));
    std::unique_ptr<QWidget> control(plugin->createWidget(nullptr));
    const QMetaObject* meta = control->metaObject();
    for (const char* signal : {"EndTransfer()", "Status(int,QString)", "Error(QString)"}) {
      QVERIFY2(meta->indexOfSignal(signal) >= 0, signal);
    }
    for (const char* name : {"URL", "Secure_Mode_Off", "ReceiveBufferSize", "YieldWhileWaiting",
                             "StrictCertificates", "FormFields"}) {
      const QMetaProperty property = meta->property(meta->indexOfProperty(name));
      QVERIFY2(property.isWritable() && property.isDesignable(), name);
    }
    QVERIFY(!meta->property(meta->indexOfProperty("FormVarCount")).isDesignable());
  }

  void formBuildsTheControlWithItsProperties() {
    const auto form = Load();
    QVERIFY(form);
    auto* control = Child<QWidget>(*form, "control");
    QCOMPARE(control->property("URL").toString(), QStringLiteral("http://127.0.0.1:8080/form"));
    QCOMPARE(control->property("Secure_Mode_Off").toBool(), true);
    QCOMPARE(control->property("ReceiveBufferSize").toInt(), -1);
    QCOMPARE(control->property("FormFields").toStringList(), QStringList({"name=Ada", "note=x y"}));
    QCOMPARE(control->property("FormVarCount").toInt(), 2);
    QCOMPARE(Child<QLineEdit>(*form, "url")->text(), QStringLiteral("http://127.0.0.1:8080/form"));
    QCOMPARE(Child<QLineEdit>(*form, "name")->text(), QStringLiteral("Ada"));
    QCOMPARE(Child<QLineEdit>(*form, "note")->text(), QStringLiteral("x y"));
  }

  void submitSendsExactlyTheFormsFields() {
    LoopbackServer server(LoopbackServer::FormEcho());
    const auto form = Load();
    QVERIFY(form);
    Child<QLineEdit>(*form, "url")->setText(Url(server, "/submit"));
    Child<QLineEdit>(*form, "note")->setText(QStringLiteral("Zoë & co"));
    Child<QPushButton>(*form, "submit")->click();

    const auto requests = server.Requests();
    QCOMPARE(requests.size(), 1u);
    QCOMPARE(requests[0].method, std::string("POST"));
    QCOMPARE(requests[0].target, std::string("/submit"));
    QCOMPARE(requests[0].body, std::string("name=Ada&note=Zo%EB+%26+co"));
    // The reply is shown as the control keeps it, one character per byte (UTF-8 here).
    QCOMPARE(Child<QPlainTextEdit>(*form, "reply")->toPlainText(),
             QString::fromLatin1("name = Ada\nnote = Zo\xC3\xAB & co\n"));

    Child<QLineEdit>(*form, "url")
        ->setText(QStringLiteral("http://127.0.0.1:%1/").arg(UnusedPort()));
    Child<QPushButton>(*form, "submit")->click();
    QCOMPARE(Child<QPlainTextEdit>(*form, "reply")->toPlainText(), QStringLiteral("12029"));
  }

  void missingPluginIsReported() {
    QString error;
    QTemporaryDir empty;
    QWidget* form = example::LoadSubmitForm(VIZADAVU_EXAMPLE_UI, empty.path(), &error);
    QVERIFY(form == nullptr);
    QCOMPARE(error, QStringLiteral("the vizADAVU Designer plugin was not found"));
  }
};

}  // namespace vizadavu::qt::test

VIZADAVU_QT_TEST_MAIN(vizadavu::qt::test::UiLoaderTest)
#include "UiLoader_test.moc"
