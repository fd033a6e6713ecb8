// The サインイン buttons: the browser sign-in of a server against the stand-in provider (the test
// fetches the page in place of the browser), its tokens in the settings file, and キャンセル.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTimer>

#include "app/settings/SettingsFile.h"
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

// Per 認証方式: the password field, which sign-in rows show, and サインイン without a client ID.
TEST_F(FormTest, EachAuthMethodShowsItsSignInFieldsAndDisablesThePassword) {
    const struct {
        TAuthMethod method;
        bool password, clientId, tenant, urls;
    } cases[] = {
        {TAuthMethod::amPassword, true, false, false, false},
        {TAuthMethod::amMicrosoft, false, true, true, false},
        {TAuthMethod::amGoogle, false, true, false, false},
        {TAuthMethod::amOther, false, true, false, true},
    };
    const int plain = form->height();
    for (const auto& c : cases) {
        form->cmb_SMTPAuth->setCurrentIndex(static_cast<int>(c.method));
        const int method = static_cast<int>(c.method);
        EXPECT_EQ(form->edt_SMTPPass->isEnabled(), c.password) << method;
        EXPECT_EQ(form->edt_SMTPClientId->isVisibleTo(form.get()), c.clientId) << method;
        EXPECT_EQ(form->edt_SMTPTenant->isVisibleTo(form.get()), c.tenant) << method;
        for (QWidget* url : {form->edt_SMTPAuthUrl, form->edt_SMTPTokenUrl, form->edt_SMTPDeviceUrl, form->edt_SMTPScopes})
            EXPECT_EQ(url->isVisibleTo(form.get()), c.urls) << method;
        EXPECT_EQ(form->height() > plain, c.clientId) << "the window grows for the rows " << method;
        EXPECT_TRUE(form->edt_POP3Pass->isEnabled());
    }
    // No client ID of its own (this build has none built in): サインイン says where to get one.
    form->cmb_POP3Auth->setCurrentIndex(static_cast<int>(TAuthMethod::amOther));
    form->btn_SignInClick(false);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Signing in with Microsoft or Google (OAuth 2.0)"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("share/doc/tarnwick/README.md"), std::string::npos) << boxes[0];
}

// The sign-in settings go between the fields and the file both ways.
TEST_F(FormTest, SignInSettingsRoundTripThroughTheFields) {
    WriteIni("[POP3]\nAuth=Microsoft\nClientId=id-1\nTenant=consumers\nProtocol=IMAP\nFolder=Archive\n[SMTP]\nAuth=Other\nClientId=id-2\n"
             "AuthUrl=https://a.test/auth\nTokenUrl=https://a.test/token\nDeviceUrl=https://a.test/dev\nScopes=mail x\n");
    form->LoadSettings();
    EXPECT_EQ(form->edt_POP3ClientId->text(), "id-1");
    EXPECT_EQ(form->edt_POP3Tenant->text(), "consumers");
    EXPECT_EQ(form->edt_SMTPScopes->text(), "mail x");
    EXPECT_EQ(form->edt_ImapFolder->text(), "Archive");
    const TSettings loaded = ReadSettingsFile(IniPath());
    EXPECT_EQ(form->SettingsFromFields().Servers, loaded.Servers);
    form->edt_POP3Tenant->clear();
    form->edt_SMTPTokenUrl->setText(QStringLiteral("https://b.test/token"));
    form->SaveSettings();
    const TSettings saved = ReadSettingsFile(IniPath());
    EXPECT_EQ(saved.Servers.Pop3Access.Auth.Tenant, "common");
    EXPECT_EQ(saved.Servers.SmtpAccess.Auth.TokenUrl, "https://b.test/token");
    EXPECT_EQ(saved.Servers.SmtpAccess.Auth.AuthorizationUrl, "https://a.test/auth");
}

}  // namespace
}  // namespace tarnwick::test
