#include "app/signin/HttpRequest.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdlib>

#include "app/signin/OAuthProvider.h"
#include "net/MailAbort.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

// The authorities a request trusts: the system's, SSL_CERT_FILE as OpenSSL (and so the mail
// connections) honour it, and the server's own CAFile.
QSslConfiguration Trust(const std::string& caFile) {
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    const char* env = std::getenv("SSL_CERT_FILE");
    for (const std::string& file : {std::string(env != nullptr ? env : ""), caFile})
        if (!file.empty()) ssl.addCaCertificates(QString::fromStdString(file));
    return ssl;
}

}  // namespace

THttpAnswer Fetch(const THttpRequest& http) {
    THttpAnswer out;
    if (!EndpointAllowed(http.Url)) {
        out.Failure = "このアドレスには接続しません: " + http.Url;
        return out;
    }
    TMailAbort* stop = TAbortScope::Current();
    if (stop != nullptr && stop->Aborted()) {
        out.Failure = "Aborted.";
        return out;
    }
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QString::fromStdString(http.Url)));
    if (!http.Accept.empty()) request.setRawHeader("Accept", QByteArray::fromStdString(http.Accept));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (request.url().scheme() == QStringLiteral("https")) request.setSslConfiguration(Trust(http.CAFile));
    QNetworkReply* reply = nullptr;
    if (http.Form) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        reply = manager.post(request, QByteArray::fromStdString(*http.Form));
    } else {
        reply = manager.get(request);
    }
    // Read as it comes, and no further ahead than that, so the bound holds while reading.
    reply->setReadBufferSize(64 * 1024);
    QByteArray body;
    bool tooLarge = false;
    std::atomic<bool> stopped{false};
    auto take = [&] {
        body += reply->read(kMaxHttpReply + 1 - body.size());
        if (body.size() > kMaxHttpReply && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    };
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, reply, [&] {
        out.TimedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    TMailAbort::TListener listener;
    if (stop != nullptr) {
        // Any thread: the abort is carried out on the request's own thread.
        listener = stop->Listen([&stopped, reply] {
            stopped = true;
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        });
    }
    timer.start(http.TimeoutMs);
    if (!reply->isFinished()) loop.exec();
    listener = TMailAbort::TListener();
    if (!tooLarge && reply->isOpen()) take();
    out.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (stopped) out.Failure = "Aborted.";
    else if (tooLarge) out.Failure = "reply larger than 1 MiB";
    // A reply cut by the time-out is no answer, even where its status line had come.
    else if (out.Status == 0 || out.TimedOut) out.Failure = FromQString(reply->errorString());
    else out.Body = body.toStdString();
    out.TimedOut = out.TimedOut && !stopped && !tooLarge;
    reply->deleteLater();
    return out;
}

}  // namespace tarnwick
