#include "app/signin/OAuthSignIn.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

std::string Base64Url(const unsigned char* bytes, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size))
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

std::string RandomText() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes");
    return Base64Url(bytes, sizeof bytes);
}

constexpr qsizetype kMaxRequest = 16 * 1024;

// The page the browser shows after the redirect (UTF-8; the source is UTF-8), with what failed.
QByteArray Page(bool ok, const std::string& reason) {
    QString text = ok ? QStringLiteral(u"サインインしました。このページを閉じて Tarnwick に戻ってください。")
                      : QStringLiteral(u"サインインできませんでした。");
    if (!ok && !reason.empty()) text += ToQString(reason).toHtmlEscaped();
    const QByteArray body = "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\"><title>Tarnwick</title>"
                            "</head><body><p>" + text.toUtf8() + "</p></body></html>";
    return "HTTP/1.1 " + QByteArray(ok ? "200 OK" : "400 Bad Request") +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

std::string NewCodeVerifier() { return RandomText(); }

std::string CodeChallenge(const std::string& verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return Base64Url(digest, sizeof digest);
}

TOAuthSignIn::TOAuthSignIn(TOAuthProvider provider, QObject* parent) : QObject(parent), provider_(std::move(provider)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { Finish(false, {}, "サインインが時間内に終わりませんでした"); });
}

TOAuthSignIn::~TOAuthSignIn() { OnFinished = nullptr; }

std::string TOAuthSignIn::Start() {
    if (provider_.ClientId.empty()) {
        Finish(false, {}, "クライアントIDが設定されていません");
        return {};
    }
    if (!EndpointAllowed(provider_.AuthorizationUrl) || !EndpointAllowed(provider_.TokenUrl)) {
        Finish(false, {}, "認証URLまたはトークンURLが正しくありません");
        return {};
    }
    server_ = new QTcpServer(this);
    // Only this machine may deliver the code.
    if (!server_->listen(QHostAddress::LocalHost, 0)) {
        delete server_;
        server_ = nullptr;
        Finish(false, {}, "リダイレクトを受ける待ち受けを開けませんでした");
        return {};
    }
    connect(server_, &QTcpServer::newConnection, this, &TOAuthSignIn::Accept);
    verifier_ = NewCodeVerifier();
    state_ = RandomText();
    redirectUri_ = "http://127.0.0.1:" + std::to_string(server_->serverPort()) + "/";
    QUrl url(QString::fromStdString(provider_.AuthorizationUrl));
    QUrlQuery query(url);
    query.addQueryItem("response_type", "code");
    query.addQueryItem("client_id", QString::fromStdString(provider_.ClientId));
    query.addQueryItem("redirect_uri", QString::fromStdString(redirectUri_));
    query.addQueryItem("scope", ToQString(provider_.Scopes));
    query.addQueryItem("state", QString::fromStdString(state_));
    query.addQueryItem("code_challenge", QString::fromStdString(CodeChallenge(verifier_)));
    query.addQueryItem("code_challenge_method", "S256");
    url.setQuery(query);
    timer_.start(TimeLimitMs);
    return url.toString(QUrl::FullyEncoded).toStdString();
}

void TOAuthSignIn::Cancel() {
    if (Running()) Finish(false, {}, "サインインを取り消しました");
}

void TOAuthSignIn::Accept() {
    while (server_ != nullptr && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        // The server goes when the code is in; the socket still has its page to send.
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
    }
}

void TOAuthSignIn::Read(QTcpSocket* socket) {
    if (!Running()) return;
    if (socket->bytesAvailable() + socket->property("got").toByteArray().size() > kMaxRequest) {
        socket->abort();
        return;
    }
    QByteArray got = socket->property("got").toByteArray() + socket->readAll();
    socket->setProperty("got", got);
    const qsizetype end = got.indexOf("\r\n\r\n");
    if (end < 0) return;
    // "GET /?code=...&state=... HTTP/1.1"
    const QList<QByteArray> parts = got.left(got.indexOf("\r\n")).split(' ');
    const QUrl target(parts.size() == 3 ? QString::fromLatin1(parts[1]) : QString());
    const QUrlQuery query(target);
    if (parts.value(0) != "GET" || target.path() != "/" ||
        (!query.hasQueryItem("code") && !query.hasQueryItem("error"))) {
        // Not the redirect (a favicon, say): the listener keeps waiting.
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    // A request without this sign-in's state is not the provider's answer to it (another tab, a
    // stranger): it is refused and the sign-in goes on waiting.
    if (query.queryItemValue("state", QUrl::FullyDecoded).toStdString() != state_ || redirect_) {
        Answer(socket, false, "サインインの応答が一致しません");
        return;
    }
    const std::string code = query.queryItemValue("code", QUrl::FullyDecoded).toStdString();
    if (code.empty() || query.hasQueryItem("error")) {
        const std::string reason =
            "サインインが拒否されました(" + FromQString(query.queryItemValue("error").left(64)) + ")";
        Answer(socket, false, reason);
        Finish(false, {}, reason);
        return;
    }
    redirect_ = socket;
    server_->close();
    // The exchange waits for the provider: not inside this socket's own signal.
    QTimer::singleShot(0, this, [this, code] { Exchange(code); });
}

void TOAuthSignIn::Exchange(const std::string& code) {
    if (!Running()) return;
    TOAuthTokenClient client(provider_);
    const TOAuthTokens tokens = client.ExchangeCode(code, verifier_, redirectUri_);
    if (!tokens.Ok()) {
        Finish(false, {}, "トークンを取得できませんでした(" + tokens.Error + ")");
        return;
    }
    Finish(true, tokens, {});
}

void TOAuthSignIn::Answer(QTcpSocket* socket, bool ok, const std::string& reason) {
    socket->write(Page(ok, reason));
    socket->disconnectFromHost();
    socket->setParent(nullptr);
    // A browser that never closes its side must not keep the socket for good.
    QTimer::singleShot(30000, socket, &QObject::deleteLater);
}

void TOAuthSignIn::Finish(bool ok, const TOAuthTokens& tokens, const std::string& reason) {
    timer_.stop();
    if (server_ != nullptr) {
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
    verifier_.clear();
    state_.clear();
    // The browser learns the outcome only now that the code has been exchanged (or not).
    if (redirect_) Answer(redirect_, ok, reason);
    redirect_.clear();
    auto done = OnFinished;
    if (done) done(ok, tokens, reason);
}

}  // namespace tarnwick
