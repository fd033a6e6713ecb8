// The servers of an address: the shipped table first, then the provider's settings document at
// its two places, served here by a loopback stand-in; a document that cannot be used, or no
// answer, fills nothing and says why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "app/signin/ProviderLookup.h"
#include "support/CoreApplication.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr TSecurity kTLS = TSecurity::TLS, kSTARTTLS = TSecurity::StartTLS, kNone = TSecurity::None;
constexpr TAuthMethod kPassword = TAuthMethod::amPassword;
const std::string kAutoconfig = "/mail/config-v1.1.xml", kWellKnown = "/.well-known/autoconfig/mail/config-v1.1.xml";

// An IMAP server and two POP3 ones before the best, two SMTP ones; unknown elements and an
// OAuth2 the presets do not serve.
const std::string kDocument = R"(<?xml version="1.0"?>
<clientConfig version="1.1"><emailProvider id="example.test"><domain>example.test</domain>
 <incomingServer type="imap"><hostname>imap.example.test</hostname><port>993</port><socketType>SSL</socketType></incomingServer>
 <incomingServer type="pop3"><hostname>pop.example.test</hostname><port>110</port><socketType>STARTTLS</socketType>
  <username>%EMAILADDRESS%</username></incomingServer>
 <incomingServer type="pop3"><hostname>POP3.%EMAILDOMAIN%</hostname><port>1995</port><socketType>SSL</socketType>
  <username>%EMAILLOCALPART%</username><authentication>password-encrypted</authentication>
  <pop3><leaveMessagesOnServer>true</leaveMessagesOnServer></pop3></incomingServer>
 <outgoingServer type="smtp"><hostname>smtp.example.test</hostname><port>25</port><socketType>plain</socketType></outgoingServer>
 <outgoingServer type="smtp"><hostname>smtp.example.test</hostname><port>587</port><socketType>STARTTLS</socketType>
  <username>%EMAILADDRESS%</username><authentication>OAuth2</authentication></outgoingServer>
</emailProvider></clientConfig>)";

TEST(ProviderLookup, TableThenTheProvidersDocumentThenNothing) {
    EnsureCoreApplication();
    using enum TokenEndpoint::Replies;
    struct Case {
        const char* name;
        std::string address;
        std::map<std::string, std::string> documents;
        TokenEndpoint::Replies reply;
        std::optional<TProviderFill> fill;
        std::vector<std::string> asked;  // the paths requested
        std::string log;                 // in the last log line
    };
    const std::string query = kAutoconfig + "?emailaddress=ken%40example.test";
    const TProviderFill fromDocument{{"POP3.example.test:1995", "ken", kTLS, kPassword},
                                     {"smtp.example.test", "ken@example.test", kSTARTTLS, kPassword}};
    const Case cases[] = {
        {"table, challenge-response provider", "taro@nifty.com", {}, Normal,
         TProviderFill{{"pop.nifty.com", "taro", kNone, kPassword}, {"smtp.nifty.com:587", "taro", kNone, kPassword}},
         {}, "nifty.com のサーバ設定をプロバイダの一覧から入力しました"},
        {"table, Google", " Hanako@GMail.com ", {}, Normal,
         TProviderFill{{"pop.gmail.com", "Hanako@GMail.com", kTLS, TAuthMethod::amGoogle},
                       {"smtp.gmail.com", "Hanako@GMail.com", kTLS, TAuthMethod::amGoogle}},
         {}, "gmail.com"},
        {"table, Microsoft", "jiro@outlook.com", {}, Normal,
         TProviderFill{{"outlook.office365.com", "jiro@outlook.com", kTLS, TAuthMethod::amMicrosoft},
                       {"smtp-mail.outlook.com", "jiro@outlook.com", kSTARTTLS, TAuthMethod::amMicrosoft}},
         {}, "outlook.com"},
        {"autoconfig document", "ken@example.test", {{kAutoconfig, kDocument}, {kWellKnown, "<broken"}}, Normal,
         fromDocument, {query}, "example.test のサーバ設定を http://127.0.0.1:"},
        {"well-known document", "ken@example.test", {{kWellKnown, kDocument}}, Normal, fromDocument,
         {query, kWellKnown}, kWellKnown + " から入力しました"},
        {"unknown domain", "ken@example.test", {}, Normal, std::nullopt, {query, kWellKnown},
         "example.test のサーバ設定が見つかりません。サーバ名・ポート番号・暗号化を入力してください"},
        {"malformed document", "ken@example.test", {{kWellKnown, kDocument.substr(0, 400)}}, Normal, std::nullopt,
         {query, kWellKnown}, "サーバ設定が見つかりません"},
        {"huge reply", "ken@example.test", {}, Endless, std::nullopt, {query, kWellKnown}, "見つかりません"},
        {"no answer", "ken@example.test", {}, Stall, std::nullopt, {}, "見つかりません"},
        {"no address", "taro", {}, Normal, std::nullopt, {}, "メールアドレスの形ではありません: taro"},
    };
    // Each failure said on its way.
    const std::map<std::string, std::string> failures = {
        {"malformed document", "自動設定の文書を読めません(http://127.0.0.1:"},
        {"huge reply", ") reply larger than 1 MiB"},
        {"no answer", ") 応答がありません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TokenEndpoint server(TokenSigner{"k", "https://idp.test", "tarnwick-test", "k1"});
        server.Documents = c.documents;
        server.Reply = c.reply;
        server.Start();
        TProviderLookup lookup;
        lookup.TablePath = TARNWICK_PROVIDER_TABLE;
        lookup.BaseUrl = server.Url("");
        lookup.TimeoutMs = c.reply == Stall ? 300 : 60000;
        std::vector<std::string> log;
        lookup.OnLog = [&](const std::string& line) { log.push_back(line); };
        EXPECT_EQ(lookup.Lookup(c.address), c.fill);
        // A request cut by the time-out may not have reached the server yet.
        if (c.reply != Stall) {
            EXPECT_THAT(server.Gets(), ElementsAreArray(c.asked));
        }
        ASSERT_FALSE(log.empty());
        EXPECT_THAT(log.back(), HasSubstr(c.log));
        if (failures.contains(c.name)) {
            EXPECT_THAT(log.front(), HasSubstr(failures.at(c.name)));
        }
    }
}

}  // namespace
}  // namespace tarnwick::test
