#include "app/InstanceDoor.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/NamedMutex.h"

namespace tarnwick {

namespace {

constexpr char kRequest[] = "show\n";
constexpr qint64 kRequestSize = sizeof kRequest - 1;
// A client that connects and says nothing is not waited for longer than this.
constexpr int kReadLimitMs = 5000;
constexpr int kConnectLimitMs = 3000;

bool SameUser(const QLocalSocket& socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

}  // namespace

std::string InstanceSocketPath(const std::string& lockName) {
    std::string path = TNamedMutex::LockPath(lockName);
    const std::string suffix = ".lock";
    if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        path.resize(path.size() - suffix.size());
    return path + ".sock";
}

TInstanceDoor::TInstanceDoor(const std::string& lockName, std::function<void()> onShow)
    : server_(new QLocalServer(this)), onShow_(std::move(onShow)) {
    const QString path = QString::fromStdString(InstanceSocketPath(lockName));
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) return;
    connect(server_, &QLocalServer::newConnection, this, [this] { Accept(); });
}

TInstanceDoor::~TInstanceDoor() { server_->close(); }

bool TInstanceDoor::Listening() const { return server_->isListening(); }

void TInstanceDoor::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!SameUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        QTimer::singleShot(kReadLimitMs, socket, [socket] { socket->abort(); socket->deleteLater(); });
        Read(socket);
    }
}

void TInstanceDoor::Read(QLocalSocket* socket) {
    if (socket->bytesAvailable() < kRequestSize) return;
    const QByteArray got = socket->read(kRequestSize);
    socket->abort();
    socket->deleteLater();
    if (got != QByteArray(kRequest, kRequestSize) || !onShow_) return;
    try {
        onShow_();
    } catch (const std::exception&) {
        // The window shows what went wrong itself; a knock at the door must not end the program.
    }
}

bool AskRunningWindowToShow(const std::string& lockName) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(InstanceSocketPath(lockName)));
    if (!socket.waitForConnected(kConnectLimitMs)) return false;
    socket.write(kRequest, kRequestSize);
    const bool sent = socket.waitForBytesWritten(kConnectLimitMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    return sent;
}

}  // namespace tarnwick
