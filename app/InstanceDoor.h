#pragma once
// A second start of the window brings the running window forward: the running instance listens on
// a local socket beside its single-instance lock, and the second start knocks there once.
#include <QObject>
#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace tarnwick {

// Beside the lock file of that name, in the same folder only the user can enter.
std::string InstanceSocketPath(const std::string& lockName);

// Made by the instance that holds the lock. Calls onShow for each request of the same user; any
// other connection, or a request that is not the one expected, is closed unanswered. A socket
// file left by an instance that was killed is replaced: holding the lock, no one else listens there.
class TInstanceDoor : public QObject {
public:
    TInstanceDoor(const std::string& lockName, std::function<void()> onShow);
    ~TInstanceDoor() override;
    TInstanceDoor(const TInstanceDoor&) = delete;
    TInstanceDoor& operator=(const TInstanceDoor&) = delete;

    // False when the socket could not be made (a path too long, say): a second start then only ends.
    bool Listening() const;

private:
    void Accept();
    void Read(QLocalSocket* socket);

    QLocalServer* server_;
    std::function<void()> onShow_;
};

// The second start: asks the window holding lockName to come forward. False when no one listens
// (no window runs, or a --watch instance holds the lock) or the request could not be handed over.
bool AskRunningWindowToShow(const std::string& lockName);

}  // namespace tarnwick
