// vizadavu-form: a desktop form that submits its fields with the vizADAVU control.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "FormWindow.h"
#include "tools/common/FormTools.h"
#include "vizadavu/Version.h"

#ifdef VIZADAVU_FORM_DEMO_SERVER
#include "tools/loopback/LoopbackServer.h"
#endif

namespace {

constexpr int kExitUsage = 64;

int UsageError(const QCommandLineParser& parser, const QString& message) {
  std::fprintf(stderr, "vizadavu-form: %s\n\n%s", qPrintable(message),
               qPrintable(parser.helpText()));
  return kExitUsage;
}

// The window, or the whole screen where the platform cannot grab one window.
bool SaveScreenshot(QWidget& window, const QString& path) {
  QPixmap shot;
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    if (QScreen* screen = window.screen()) shot = screen->grabWindow(window.winId());
  }
  if (shot.isNull()) shot = window.grab();
  return !shot.isNull() && shot.save(path, "PNG");
}

// The command line; it needs no application object, so --help and --version
// can be answered without a display.
struct CommandLine {
  QCommandLineParser parser;
  QCommandLineOption get{{QStringLiteral("g"), QStringLiteral("get")},
                         QStringLiteral("send a GET instead of the default POST")};
  QCommandLineOption plain{{QStringLiteral("p"), QStringLiteral("plain")},
                           QStringLiteral("plain HTTP, port 80 (Secure_Mode_Off)")};
  QCommandLineOption strict{
      QStringLiteral("strict-certificates"),
      QStringLiteral("refuse an expired or misnamed server certificate (StrictCertificates)")};
  QCommandLineOption readSize{
      {QStringLiteral("r"), QStringLiteral("read-size")},
      QStringLiteral("read the reply in one read of N bytes (ReceiveBufferSize)"),
      QStringLiteral("N")};
  QCommandLineOption utf8{QStringLiteral("utf8"),
                          QStringLiteral("show the reply text decoded as UTF-8")};
  QCommandLineOption submit{QStringLiteral("submit"),
                            QStringLiteral("submit the form once the window is shown")};
  QCommandLineOption screenshot{
      QStringLiteral("screenshot"),
      QStringLiteral("submit, save a PNG of the window to FILE when the transfer is over, and quit "
                     "(exit status 0 after EndTransfer)"),
      QStringLiteral("FILE")};
  QCommandLineOption noSettings{
      QStringLiteral("no-settings"),
      QStringLiteral("neither restore nor save the window state and options")};
  QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")},
                             QStringLiteral("also report each event on standard error as it "
                                            "happens")};
  QCommandLineOption version{QStringLiteral("version"),
                             QStringLiteral("show the program's version")};
#ifdef VIZADAVU_FORM_DEMO_SERVER
  QCommandLineOption demoServer{
      QStringLiteral("demo-server"),
      QStringLiteral("start a form-echo server on loopback and fill the URL (and, without fields "
                     "on the command line, a few sample fields) for it")};
#endif

  CommandLine() {
    parser.setApplicationDescription(QStringLiteral(
        "Submits a form with the vizADAVU control and shows the server's reply and the "
        "control's events.\n\nExit status: 0, or with --screenshot 0 after EndTransfer and 1 "
        "otherwise; 64 for a bad command line."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("URL"), QStringLiteral("where the form goes"),
                                 QStringLiteral("[URL"));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"), QStringLiteral("form fields"),
                                 QStringLiteral("[NAME=VALUE ...]]"));
    parser.addOptions(
        {get, plain, strict, readSize, utf8, submit, screenshot, noSettings, verbose, version});
#ifdef VIZADAVU_FORM_DEMO_SERVER
    parser.addOption(demoServer);
#endif
  }

  // Answers --help and --version; false when the program is to go on.
  bool Inform() {
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    if (parser.isSet(version)) parser.showVersion();
    return false;
  }
};

// Whether the arguments ask only for help or the version.
bool InformationOnly(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") return false;
    if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "--help-all" ||
        arg == "--version") {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setOrganizationName(QStringLiteral("vizADAVU"));
  QCoreApplication::setApplicationName(QStringLiteral("vizadavu-form"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VIZADAVU_VERSION));
  CommandLine cli;
  QCommandLineParser& parser = cli.parser;
  if (InformationOnly(argc, argv)) {
    const QCoreApplication core(argc, argv);
    if (!parser.parse(QCoreApplication::arguments())) {
      return UsageError(parser, parser.errorText());
    }
    cli.Inform();
  }

  QApplication app(argc, argv);
  if (!parser.parse(QApplication::arguments())) return UsageError(parser, parser.errorText());
  cli.Inform();
  const QCommandLineOption& get = cli.get;
  const QCommandLineOption& plain = cli.plain;
  const QCommandLineOption& strict = cli.strict;
  const QCommandLineOption& readSize = cli.readSize;
  const QCommandLineOption& utf8 = cli.utf8;
  const QCommandLineOption& submit = cli.submit;
  const QCommandLineOption& screenshot = cli.screenshot;
  const QCommandLineOption& noSettings = cli.noSettings;
#ifdef VIZADAVU_FORM_DEMO_SERVER
  const QCommandLineOption& demoServer = cli.demoServer;
#endif

  vizadavu::form::Request request;
  const QStringList positional = parser.positionalArguments();
  bool haveRequest = !positional.isEmpty();
  if (!positional.isEmpty()) request.url = positional.first();
  for (qsizetype i = 1; i < positional.size(); ++i) {
    try {
      const auto [name, value] = vizadavu::tools::SplitField(positional[i].toStdString());
      request.fields.append({QString::fromStdString(name), QString::fromStdString(value)});
    } catch (const vizadavu::tools::FieldError& e) {
      return UsageError(parser, QString::fromStdString(e.what()));
    }
  }
  request.get = parser.isSet(get);
  request.plain = parser.isSet(plain);
  request.strictCertificates = parser.isSet(strict);
  if (parser.isSet(utf8)) request.utf8 = true;
  if (parser.isSet(readSize)) {
    bool ok = false;
    const int bytes = parser.value(readSize).toInt(&ok);
    if (!ok) {
      return UsageError(parser, QStringLiteral("--read-size: '%1' is not a whole number in "
                                               "-2147483648..2147483647")
                                    .arg(parser.value(readSize)));
    }
    if (bytes >= 0) request.readSize = bytes;  // a negative size is the chunked read
  }

#ifdef VIZADAVU_FORM_DEMO_SERVER
  std::unique_ptr<vizadavu::loopback::LoopbackServer> server;
  if (parser.isSet(demoServer)) {
    server = std::make_unique<vizadavu::loopback::LoopbackServer>(
        vizadavu::loopback::LoopbackServer::FormEcho());
    if (request.url.isEmpty()) {
      request.url = QString::fromStdString(vizadavu::tools::DemoUrl(server->HostPort()));
      request.plain = true;
    }
    if (request.fields.isEmpty()) {
      for (const auto& [name, value] : vizadavu::tools::DemoFields()) {
        request.fields.append({QString::fromStdString(name), QString::fromStdString(value)});
      }
    }
    haveRequest = true;
    std::fprintf(stderr, "vizadavu-form: a form-echo server is listening on %s (loopback only)\n",
                 server->HostPort().c_str());
  }
#endif

  vizadavu::form::FormWindow window(!parser.isSet(noSettings));
  window.setEventsOnStandardError(parser.isSet(cli.verbose));
  if (haveRequest || request.get || request.plain || request.strictCertificates ||
      request.readSize || request.utf8) {
    window.apply(request);
  }
  window.show();

  const QString shotPath = parser.value(screenshot);
  if (parser.isSet(submit) || parser.isSet(screenshot)) {
    QTimer::singleShot(300, &window, [&window, &app, shotPath] {
      const bool ended = window.submit();
      if (shotPath.isEmpty()) return;
      // Give the window a moment to repaint with the reply before the capture.
      QTimer::singleShot(500, &window, [&window, &app, shotPath, ended] {
        const bool saved = SaveScreenshot(window, shotPath);
        if (!saved) {
          std::fprintf(stderr, "vizadavu-form: cannot save the screenshot to %s\n",
                       qPrintable(shotPath));
        }
        app.exit(saved && ended ? 0 : 1);
      });
    });
  }
  return QApplication::exec();
}
