// 自動設定: an address whose domain the providers' table lacks fills both servers from the
// provider's settings document, here served on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QPushButton>

#include "window/FormFixture.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

TEST_F(FormTest, TheLookUpButtonFillsBothServersFromTheProvidersDocument) {
    TokenEndpoint provider(TokenSigner{"k", "https://idp.test", "tarnwick-test", "k1"});
    provider.Documents["/mail/config-v1.1.xml"] =
        "<clientConfig><emailProvider><incomingServer type=\"pop3\"><hostname>pop.example.test</hostname>"
        "<port>995</port><socketType>SSL</socketType><username>%EMAILLOCALPART%</username></incomingServer>"
        "<outgoingServer type=\"smtp\"><hostname>smtp.example.test</hostname><port>2525</port>"
        "<socketType>STARTTLS</socketType><username>%EMAILLOCALPART%</username></outgoingServer>"
        "</emailProvider></clientConfig>";
    provider.Start();
    form->ProviderLookup.BaseUrl = provider.Url("");
    form->cmb_POP3Protocol->setCurrentIndex(static_cast<int>(TReceiveProtocol::Imap));
    // Typed with a full-width at sign, as an input method may give it.
    form->edt_MailAddress->setText(QString::fromUtf8("ken\xEF\xBC\xA0" "example.test"));
    QTest::mouseClick(form->btn_LookUp, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->btn_LookUp->isEnabled(); }, 60000));
    const TServerSettings servers = form->SettingsFromFields().Servers;
    EXPECT_EQ(servers.Pop3Server, "pop.example.test");
    EXPECT_EQ(servers.Protocol, TReceiveProtocol::Pop3);
    EXPECT_EQ(servers.Pop3Access.Security, TSecurity::TLS);
    EXPECT_EQ(servers.Pop3User, "ken");
    EXPECT_EQ(servers.SmtpServer, "smtp.example.test:2525");
    EXPECT_EQ(servers.SmtpAccess.Security, TSecurity::StartTLS);
    EXPECT_EQ(servers.SmtpUser, "ken");
    EXPECT_EQ(servers.Pop3Access.Auth.Method, TAuthMethod::amPassword);
    EXPECT_THAT(LogTexts(), Contains(HasSubstr("example.test のサーバ設定を http://127.0.0.1:")));
}

}  // namespace
}  // namespace tarnwick::test
