#pragma once
// Sign-in through the browser (RFC 8252): the authorization code flow with PKCE S256 and a state
// check, the redirect taken by a one-shot listener on 127.0.0.1 at a random port.
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "app/signin/OAuthTokens.h"

class QTcpServer;
class QTcpSocket;

namespace tarnwick {

// PKCE: a verifier of 43 characters and its S256 challenge; and a state value.
std::string NewCodeVerifier();
std::string CodeChallenge(const std::string& verifier);

class TOAuthSignIn : public QObject {
public:
    explicit TOAuthSignIn(TOAuthProvider provider, QObject* parent = nullptr);
    ~TOAuthSignIn() override;

    static constexpr int kTimeLimitMs = 5 * 60 * 1000;
    int TimeLimitMs = kTimeLimitMs;

    // Opens the listener and returns the URL to open in the browser (empty, with the reason in
    // OnFinished, when no listener could be opened or the provider is incomplete).
    std::string Start();
    void Cancel();
    bool Running() const { return server_ != nullptr; }

    // Once, at the end: ok with the tokens, or the reason in Japanese (never a code or token).
    std::function<void(bool ok, const TOAuthTokens& tokens, const std::string& reason)> OnFinished;

private:
    void Accept();
    void Read(QTcpSocket* socket);
    void Exchange(const std::string& code);
    // Sends the page and lets the socket go: the page still reaches the browser when this object
    // is deleted by whoever it told it has finished.
    void Answer(QTcpSocket* socket, bool ok, const std::string& reason);
    void Finish(bool ok, const TOAuthTokens& tokens, const std::string& reason);

    TOAuthProvider provider_;
    QTcpServer* server_ = nullptr;
    QTimer timer_;
    std::string verifier_, state_, redirectUri_;
    // The browser's request that brought the code: answered once the code is exchanged.
    QPointer<QTcpSocket> redirect_;
};

}  // namespace tarnwick
