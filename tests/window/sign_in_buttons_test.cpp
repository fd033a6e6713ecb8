// The サインイン buttons: the browser sign-in of a server against the stand-in provider (the test
// fetches the page in place of the browser), its tokens in the settings file, and キャンセル.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTimer>

#include "window/FormFixture.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;

// A browser that follows the provider's redirect to the loopback listener.
void Browse(const std::string& url) {
    QNetworkAccessManager manager;
    QUrl next(QString::fromStdString(url));
    for (int hop = 0; hop < 2 && next.isValid(); ++hop) {
        QNetworkRequest request(next);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = manager.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished()) loop.exec();
        next = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        reply->deleteLater();
    }
}

class SignInButtons : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        idp_.Start();
        WriteIni("[POP3]\nServer=pop.example.jp\nUser=taro\nAuth=Other\nClientId=tarnwick-test\nAuthUrl=" +
                 idp_.Url("/authorize") + "\nTokenUrl=" + idp_.Url("/token") + "\nScopes=mail\n" +
                 "[Common]\nKeyringSecrets=0\n");
        form->LoadSettings();
    }
    TokenEndpoint idp_{TokenSigner{"k", "https://idp.test", "tarnwick-test", "k1"}};
};

TEST_F(SignInButtons, TheBrowserSignInKeepsTheTokensAndTheButtonTurnsBack) {
    EXPECT_TRUE(form->btn_POP3SignIn->isEnabled());
    EXPECT_FALSE(form->btn_SMTPSignIn->isEnabled());  // SMTP signs in with its password
    form->OpenBrowser = [](const std::string& url) { QTimer::singleShot(0, [url] { Browse(url); }); };
    QTest::mouseClick(form->btn_POP3SignIn, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return ReadIni().find("OAuthRefreshToken=refresh-") != std::string::npos; }, 30000));
    QApplication::processEvents();
    EXPECT_THAT(LogTexts(), Contains("POP3サーバにサインインしました"));
    EXPECT_EQ(FromQString(form->btn_POP3SignIn->text()), "サインイン");
    // Nothing of the tokens reaches the log.
    for (const std::string& line : LogTexts()) EXPECT_EQ(line.find("refresh-"), std::string::npos) << line;
}

TEST_F(SignInButtons, CancelEndsAWaitingSignIn) {
    std::string opened;
    form->OpenBrowser = [&](const std::string& url) { opened = url; };
    QTest::mouseClick(form->btn_POP3SignIn, Qt::LeftButton);
    EXPECT_THAT(opened, ::testing::StartsWith(idp_.Url("/authorize?")));
    EXPECT_EQ(FromQString(form->btn_POP3SignIn->text()), "キャンセル");
    QTest::mouseClick(form->btn_POP3SignIn, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_THAT(LogTexts(), Contains("POP3サーバのサインイン失敗 サインインを取り消しました"));
    EXPECT_EQ(FromQString(form->btn_POP3SignIn->text()), "サインイン");
    EXPECT_EQ(ReadIni().find("OAuthRefreshToken"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
