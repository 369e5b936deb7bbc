// Qt Network as a peer: QNetworkAccessManager with a local QEventLoop, the way
// Qt code submits synchronously. One manager per side, made by the first job and
// kept warm for the others. A chunked read ends with QString::fromLatin1 of the
// bytes, Qt's quickest widening (Latin-1, which differs from Windows-1252 in
// 0x80-0x9F: one table fewer than the control's mapping).
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>

#include "bench/Sides.h"

namespace vizadavu::bench {
namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class QtSide : public Side {
 public:
  QtSide(const Row& row, const std::string& base)
      : row_(row),
        url_(QString::fromStdString(base + "/" + std::to_string(row.bytes))),
        fields_(FormFields()) {}

  Times Once() override {
    const auto start = std::chrono::steady_clock::now();
    // The manager is made by the first transfer, inside its timing and its
    // memory reading, as the control's first transfer initialises libcurl.
    if (!manager_) {
      manager_ = std::make_unique<QNetworkAccessManager>();
      manager_->setProxy(QNetworkProxy::NoProxy);
    }
    QNetworkRequest request(url_);
    QNetworkReply* reply = nullptr;
    if (row_.kind == Kind::Post) {
      QByteArray body;
      for (const auto& [name, value] : fields_) {
        if (!body.isEmpty()) body += '&';
        body += QUrl::toPercentEncoding(QString::fromStdString(name)) + '=' +
                QUrl::toPercentEncoding(QString::fromStdString(value));
      }
      request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
      reply = manager_->post(request, body);
    } else {
      reply = manager_->get(request);
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    held_ = reply->readAll();
    const double bytesSeconds = Since(start);
    if (row_.kind == Kind::Chunked) text_ = QString::fromLatin1(held_);
    const double seconds = Since(start);
    const bool ok = reply->error() == QNetworkReply::NoError;
    delete reply;
    if (!ok) throw std::runtime_error("Qt Network's transfer failed");
    if (static_cast<std::size_t>(held_.size()) != row_.bytes)
      throw std::runtime_error("Qt Network's reply came back short");
    return {seconds, bytesSeconds};
  }

  std::u16string TextOnce() override {
    Once();
    std::u16string text(reinterpret_cast<const char16_t*>(text_.utf16()),
                        static_cast<std::size_t>(text_.size()));
    Release(true);
    return text;
  }

  void Release(bool) override {
    held_ = QByteArray();
    text_ = QString();
  }

 private:
  Row row_;
  QUrl url_;
  std::vector<std::pair<std::string, std::string>> fields_;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QByteArray held_;
  QString text_;
};

}  // namespace

std::unique_ptr<Side> MakeQt(const Row& row, const std::string& base, int& argc, char** argv) {
  if (row.kind == Kind::UrlEncode) return nullptr;
  static QCoreApplication app(argc, argv);
  return std::make_unique<QtSide>(row, base);
}

}  // namespace vizadavu::bench
