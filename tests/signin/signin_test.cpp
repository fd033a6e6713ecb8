// Sign-in against the stand-in provider: the browser redirect to the loopback listener (the test
// fetches the authorization URL in place of the browser), the device flow, refresh before expiry
// with the rotated refresh token saved, invalid_grant, and a token the local Dovecot takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include "app/HeadlessSignIn.h"
#include "app/signin/OAuthProvider.h"
#include "app/signin/OAuthSignIn.h"
#include "app/signin/OAuthTokens.h"
#include "net/MailPOP3.h"
#include "support/CoreApplication.h"
#include "support/MailServers.h"
#include "support/TempDir.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

const bool tempDirReady = !ProcessTempDir().empty();

// The servers' key when they run (so Dovecot takes the tokens), else one of our own.
TokenSigner Signer() {
    if (auto s = TokenSigner::FromEnvironment()) return *s;
    return TokenSigner{"test-key-not-used-by-any-server", "https://idp.test", "tarnwick-test", "k1"};
}

struct Fetched {
    int status = 0;
    QByteArray body;
    QUrl redirect;
};

// What a browser does with one URL, without following redirects.
Fetched Fetch(const QUrl& url) {
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    Fetched out{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl()};
    reply->deleteLater();
    return out;
}

class SignIn : public ::testing::Test {
protected:
    SignIn() : idp_(Signer()) { EnsureCoreApplication(); }
    void SetUp() override {
        idp_.Start();
        provider_.AuthorizationUrl = idp_.Url("/authorize");
        provider_.TokenUrl = idp_.Url("/token");
        provider_.DeviceUrl = idp_.Url("/devicecode");
        provider_.Scopes = "mail offline_access";
        provider_.ClientId = "tarnwick-test";
    }
    // Runs a sign-in: the browser step is given the authorization URL.
    void RunSignIn(const std::function<void(const QUrl&)>& browser) {
        TOAuthSignIn signIn(provider_);
        bool finished = false;
        QEventLoop loop;
        signIn.OnFinished = [&](bool ok, const TOAuthTokens& tokens, const std::string& reason) {
            finished = true;
            ok_ = ok;
            tokens_ = tokens;
            reason_ = reason;
            loop.quit();
        };
        const std::string url = signIn.Start();
        ASSERT_FALSE(url.empty()) << reason_;
        browser(QUrl(QString::fromStdString(url)));
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (!finished) loop.exec();
        ASSERT_TRUE(finished);
        EXPECT_FALSE(signIn.Running());
    }

    TokenEndpoint idp_;
    TOAuthProvider provider_;
    bool ok_ = false;
    TOAuthTokens tokens_;
    std::string reason_;
};

TEST_F(SignIn, TheBrowserRedirectDeliversTheCodeToTheLoopbackListener) {
    Fetched page;
    QUrl authorization;
    RunSignIn([&](const QUrl& url) {
        authorization = url;
        const Fetched provider = Fetch(url);
        ASSERT_EQ(provider.status, 302);
        EXPECT_EQ(provider.redirect.host(), "127.0.0.1");
        page = Fetch(provider.redirect);
    });
    ASSERT_TRUE(ok_) << reason_;
    EXPECT_EQ(page.status, 200);
    // The page is UTF-8, as browsers read it.
    EXPECT_TRUE(QString::fromUtf8(page.body).contains(QStringLiteral(u"サインインしました")));
    EXPECT_EQ(tokens_.RefreshToken, idp_.LastRefreshTokenIssued());
    EXPECT_FALSE(tokens_.AccessToken.empty());
    EXPECT_GT(tokens_.ExpiresAt, UnixNow() + 3000);
    // PKCE S256 and a state of its own; the verifier only ever goes to the token endpoint.
    const QUrlQuery query(authorization);
    EXPECT_EQ(query.queryItemValue("code_challenge_method"), "S256");
    EXPECT_GE(query.queryItemValue("state").size(), 40);
    EXPECT_EQ(query.queryItemValue("scope", QUrl::FullyDecoded), "mail offline_access");
    EXPECT_EQ(idp_.LastForm()["code_verifier"].size(), 43u);
    EXPECT_EQ(authorization.toString().indexOf(QString::fromStdString(idp_.LastForm()["code_verifier"])), -1);
    EXPECT_EQ(idp_.Requests("authorization_code"), 1);
}

TEST_F(SignIn, StrangersAreIgnoredAndTheBrowserHearsTheOutcomeOfTheExchange) {
    // A favicon request or a redirect with another state leaves the listener waiting; the
    // provider's own redirect then goes through. A refused exchange is told on the page.
    for (const bool exchangeFails : {false, true}) {
        idp_.TokenFailure = exchangeFails ? 500 : 0;
        Fetched page;
        RunSignIn([&](const QUrl& url) {
            const QUrl listener(QUrlQuery(url).queryItemValue("redirect_uri", QUrl::FullyDecoded));
            EXPECT_EQ(Fetch(listener.resolved(QUrl("/favicon.ico"))).status, 404);
            EXPECT_EQ(Fetch(QUrl(listener.toString() + "?code=stolen&state=other")).status, 400);
            page = Fetch(Fetch(url).redirect);
        });
        EXPECT_EQ(ok_, !exchangeFails) << reason_;
        EXPECT_EQ(page.status, exchangeFails ? 400 : 200);
        EXPECT_EQ(QString::fromUtf8(page.body).contains(QStringLiteral(u"トークンを取得できませんでした")), exchangeFails);
        EXPECT_EQ(idp_.Requests("authorization_code"), exchangeFails ? 2 : 1);
    }

    TOAuthSignIn signIn(provider_);
    std::string reason;
    signIn.OnFinished = [&](bool, const TOAuthTokens&, const std::string& why) { reason = why; };
    const QUrl url(QString::fromStdString(signIn.Start()));
    const QUrl listener(QUrlQuery(url).queryItemValue("redirect_uri", QUrl::FullyDecoded));
    signIn.Cancel();
    EXPECT_EQ(reason, "サインインを取り消しました");
    QTcpSocket probe;
    probe.connectToHost("127.0.0.1", static_cast<quint16>(listener.port()));
    EXPECT_FALSE(probe.waitForConnected(5000));
}

TEST_F(SignIn, TheTimeLimitEndsAWaitingSignIn) {
    TOAuthSignIn signIn(provider_);
    signIn.TimeLimitMs = 1;
    QEventLoop loop;
    std::string reason;
    signIn.OnFinished = [&](bool, const TOAuthTokens&, const std::string& why) {
        reason = why;
        loop.quit();
    };
    ASSERT_FALSE(signIn.Start().empty());
    loop.exec();
    EXPECT_EQ(reason, "サインインが時間内に終わりませんでした");
}

TEST_F(SignIn, TheDeviceFlowPollsUntilGranted) {
    idp_.PendingPolls = 1;
    TOAuthTokenClient client(provider_);
    std::string shownUri, shownCode;
    const TOAuthTokens answer = RunDeviceFlow(
        client, [&](const std::string& uri, const std::string& code) { shownUri = uri, shownCode = code; }, nullptr);
    ASSERT_TRUE(answer.Ok()) << answer.Error;
    EXPECT_EQ(shownCode, "ABCD-EFGH");
    EXPECT_EQ(shownUri, "https://idp.test/device");
    EXPECT_EQ(idp_.Requests("device_code"), 2);
    // Cancelled before the first poll: nothing is granted.
    const TOAuthTokens cancelled = RunDeviceFlow(client, [](const std::string&, const std::string&) {}, [] { return true; });
    EXPECT_EQ(cancelled.Error, "cancelled");
}

TEST_F(SignIn, RefreshOnlyNearExpiryRotatedTokenSavedAndInvalidGrantStopsAsking) {
    TOAuthTokenClient client(provider_);
    TOAuthTokens tokens = client.PollDevice("none");  // an error answer: nothing usable
    EXPECT_FALSE(tokens.Ok());
    ASSERT_TRUE(RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr).Ok());
    tokens.RefreshToken = idp_.LastRefreshTokenIssued();
    tokens.AccessToken = "held";
    const int64_t now = UnixNow();
    std::vector<TOAuthTokens> saved;
    auto save = [&](const TOAuthTokens& t) { saved.push_back(t); };

    tokens.ExpiresAt = now + 301;
    EXPECT_EQ(RefreshIfExpiring(tokens, client, now, save), TRefreshResult::rrFresh);
    EXPECT_EQ(idp_.Requests("refresh_token"), 0);

    const std::string old = tokens.RefreshToken;
    tokens.ExpiresAt = now + 299;
    EXPECT_EQ(RefreshIfExpiring(tokens, client, now, save), TRefreshResult::rrRefreshed);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_NE(saved[0].RefreshToken, old);
    EXPECT_EQ(saved[0].RefreshToken, idp_.LastRefreshTokenIssued());
    EXPECT_NE(tokens.AccessToken, "held");
    EXPECT_EQ(idp_.LastForm()["scope"], "");  // only where the provider wants it again
    provider_.ScopeOnRefresh = true;
    TOAuthTokenClient scoped(provider_);
    tokens.ExpiresAt = now;
    EXPECT_EQ(RefreshIfExpiring(tokens, scoped, now, save), TRefreshResult::rrRefreshed);
    EXPECT_EQ(idp_.LastForm()["scope"], "mail offline_access");

    // A lifetime beyond reason is held to a day.
    idp_.AccessLifetime = 1000000000000L;
    tokens.ExpiresAt = now;
    EXPECT_EQ(RefreshIfExpiring(tokens, client, now, save), TRefreshResult::rrRefreshed);
    EXPECT_GE(tokens.ExpiresAt, now + 86400);
    EXPECT_LE(tokens.ExpiresAt, UnixNow() + 86400);

    idp_.Revoke();
    tokens.ExpiresAt = now;
    EXPECT_EQ(RefreshIfExpiring(tokens, client, now, save), TRefreshResult::rrNeedsSignIn);
    EXPECT_TRUE(saved.back().NeedsSignIn);
    EXPECT_TRUE(saved.back().AccessToken.empty());
    const int asked = idp_.Requests("refresh_token");
    EXPECT_EQ(RefreshIfExpiring(tokens, client, now + 3600, save), TRefreshResult::rrNeedsSignIn);
    EXPECT_EQ(idp_.Requests("refresh_token"), asked);
}

TEST_F(SignIn, TheWindowsCycleThreadRefreshesToo) {
    TOAuthTokenClient client(provider_);
    ASSERT_TRUE(RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr).Ok());
    TOAuthTokens tokens;
    tokens.RefreshToken = idp_.LastRefreshTokenIssued();
    TRefreshResult result = TRefreshResult::rrFailed;
    // A plain thread, as the window runs its cycles on, with the main thread blocked meanwhile.
    std::thread cycle([&] {
        TOAuthTokenClient own(provider_);
        result = RefreshIfExpiring(tokens, own, UnixNow(), nullptr);
    });
    cycle.join();
    EXPECT_EQ(result, TRefreshResult::rrRefreshed);
    EXPECT_FALSE(tokens.AccessToken.empty());
}

TEST_F(SignIn, ATokenFromTheProviderLogsIntoTheLocalDovecot) {
    auto servers = MailServers::Acquire();
    if (!servers || !TokenSigner::FromEnvironment()) GTEST_SKIP() << "local mail servers not configured";
    TOAuthTokenClient client(provider_);
    const TOAuthTokens answer = RunDeviceFlow(client, [](const std::string&, const std::string&) {}, nullptr);
    ASSERT_TRUE(answer.Ok());
    TMailPOP3 pop3;
    pop3.SetHost(servers->pop3Host);
    pop3.SetPort(servers->pop3Port);
    pop3.Username = servers->pop3User;
    pop3.OAuth.Mechanism = TOAuthMechanism::omAuto;
    pop3.OAuth.AccessToken = answer.AccessToken;
    pop3.Connect(10000);
    pop3.Disconnect();
}

TEST(OAuthProviders, PresetsAndReachableEndpoints) {
    TOAuthSettings ms;
    ms.Method = TAuthMethod::amMicrosoft;
    ms.ClientId = "id";
    TOAuthProvider p = ProviderFor(ms);
    EXPECT_EQ(p.TokenUrl, "https://login.microsoftonline.com/common/oauth2/v2.0/token");
    EXPECT_TRUE(p.PreferXOAuth2 && p.TwoStepPop3 && p.ScopeOnRefresh);
    EXPECT_THAT(p.Scopes, ::testing::HasSubstr("offline_access"));
    ms.Tenant = "../evil";
    EXPECT_EQ(ProviderFor(ms).DeviceUrl, "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode");
    ms.Tenant = "consumers";
    EXPECT_EQ(ProviderFor(ms).DeviceUrl, "https://login.microsoftonline.com/consumers/oauth2/v2.0/devicecode");
    // Reading through IMAP asks for IMAP's scope instead of POP3's.
    TServerAccount imap;
    imap.Access.Auth = ms;
    imap.Protocol = TReceiveProtocol::Imap;
    EXPECT_EQ(ProviderFor(imap).Scopes,
              "https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/SMTP.Send offline_access");
    TOAuthSettings google;
    google.Method = TAuthMethod::amGoogle;
    p = ProviderFor(google);
    EXPECT_TRUE(p.DeviceUrl.empty());
    EXPECT_EQ(p.Scopes, "https://mail.google.com/");
    EXPECT_EQ(p.ClientId, BuiltInClientId(TAuthMethod::amGoogle));

    for (const char* url : {"https://idp.example/token", "http://127.0.0.1:8080/token", "http://[::1]:1/t"})
        EXPECT_TRUE(EndpointAllowed(url)) << url;
    for (const char* url : {"http://idp.example/token", "http://localhost.evil/t", "ftp://127.0.0.1/",
                            "https://user:pw@idp.example/", "not a url", "", "http://10.0.0.1/t"})
        EXPECT_FALSE(EndpointAllowed(url)) << url;
    // Nothing is sent where it may not go.
    EnsureCoreApplication();
    TOAuthProvider plain;
    plain.TokenUrl = "http://idp.example/token";
    TOAuthTokenClient client(plain);
    EXPECT_THAT(client.Refresh("r").Error, ::testing::HasSubstr("接続しません"));
}

}  // namespace
}  // namespace tarnwick::test

namespace tarnwick::test {
namespace {

class WithoutDisplay : public ::testing::Test {
protected:
    WithoutDisplay() : idp_(Signer()) { EnsureCoreApplication(); }
    void SetUp() override {
        idp_.Start();
        provider_.AuthorizationUrl = idp_.Url("/authorize");
        provider_.TokenUrl = idp_.Url("/token");
        provider_.Scopes = "mail";
        provider_.ClientId = "tarnwick-test";
    }
    TokenEndpoint idp_;
    TOAuthProvider provider_;
    std::vector<std::string> printed_;
};

TEST_F(WithoutDisplay, DeviceFlowWhereOfferedElseThePrintedUrlAndTheListener) {
    provider_.DeviceUrl = idp_.Url("/devicecode");
    TOAuthTokens tokens;
    ASSERT_TRUE(SignInWithoutDisplay(provider_, [&](const std::string& line) { printed_.push_back(line); }, nullptr,
                                     tokens));
    EXPECT_EQ(tokens.RefreshToken, idp_.LastRefreshTokenIssued());
    EXPECT_THAT(printed_, ::testing::Contains("コード: ABCD-EFGH"));

    // Without a device endpoint: the printed URL, opened here in place of a browser.
    provider_.DeviceUrl.clear();
    printed_.clear();
    TOAuthTokens second;
    const bool ok = SignInWithoutDisplay(
        provider_,
        [&](const std::string& line) {
            printed_.push_back(line);
            if (line.rfind("http://", 0) == 0) {
                // Fetched once the listener waits: from the event loop, as a browser would come.
                QTimer::singleShot(0, [line] {
                    const Fetched step = Fetch(QUrl(QString::fromStdString(line)));
                    Fetch(step.redirect);
                });
            }
        },
        nullptr, second);
    ASSERT_TRUE(ok);
    EXPECT_EQ(second.RefreshToken, idp_.LastRefreshTokenIssued());
    EXPECT_NE(second.RefreshToken, tokens.RefreshToken);
    for (const std::string& line : printed_) EXPECT_EQ(line.find(second.AccessToken), std::string::npos);
}

TEST_F(WithoutDisplay, WithoutAClientIdNothingIsAsked) {
    provider_.ClientId.clear();
    TOAuthTokens tokens;
    EXPECT_FALSE(SignInWithoutDisplay(provider_, [&](const std::string& line) { printed_.push_back(line); }, nullptr,
                                      tokens));
    EXPECT_THAT(printed_, ::testing::ElementsAre("クライアントIDが設定されていません"));
    EXPECT_EQ(idp_.Requests("authorization_code") + idp_.Requests("device_code"), 0);
}

}  // namespace
}  // namespace tarnwick::test
