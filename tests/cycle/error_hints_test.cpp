// The Japanese hint put before what a server or the socket said, for each kind of failure.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/cycle/Cycle.h"
#include "net/MailAbort.h"
#include "net/MailExceptions.h"
#include "net/MailIOHandlerSSL.h"
#include "net/MailSASL.h"

namespace tarnwick {
namespace {

using enum TFailedStep;

template <class E, class... Args>
std::function<void()> Raise(Args... args) {
    return [=] { throw E(args...); };
}

TEST(ErrorHints, EachFailureGetsItsHintBeforeItsOwnText) {
    struct Row {
        std::function<void()> raise;
        TFailedStep step;
        const char* shown;  // "【hint】 " + the text, or the text alone
    };
    const Row rows[] = {
        {Raise<EMailSocketError>(10061, std::string("Socket Error # 10061\r\nConnection refused.")), Login,
         "【接続が拒否されました。サーバ名とポート番号を確認してください】 x"},
        // A connect under a time-out keeps only the socket's text.
        {Raise<EMailConnectException>(std::string("Socket Error # 10061\r\nConnection refused.")), Transfer,
         "【接続が拒否されました。サーバ名とポート番号を確認してください】 x"},
        {Raise<EMailConnectException>(std::string("Socket Error # 11001\r\nHost not found.")), Login,
         "【サーバが見つかりません。サーバ名を確認してください】 x"},
        {Raise<EMailSocketError>(10065, std::string("No route")), Login,
         "【サーバに届きません。ネットワークの接続とサーバ名を確認してください】 x"},
        {Raise<EMailConnectTimeout>(), Login,
         "【サーバから応答がありません。サーバ名・ポート番号とネットワークを確認してください】 x"},
        {Raise<EMailReadTimeout>(), Login,
         "【ログイン中にサーバが応答しなくなりました。ポート番号と暗号化の方式を確認してください】 x"},
        {Raise<EMailReadTimeout>(), Transfer, "【サーバの応答が止まりました。しばらくしてからもう一度試してください】 x"},
        {Raise<EMailTLSError>(std::string("TLS handshake failed: wrong version number")), Login,
         "【暗号化の方式を確認してください: SSL/TLS か STARTTLS】 x"},
        {Raise<EMailCertificateError>(std::string("Certificate verification failed: IP address mismatch")), Login,
         "【サーバ名が証明書の名前と違います。証明書にあるサーバ名を入力してください】 x"},
        {Raise<EMailCertificateError>(std::string("Certificate verification failed: certificate has expired")), Login,
         "【サーバの証明書を信頼できません(期限切れ・自己署名など)。サーバの案内を確認してください】 x"},
        // POP3 numbers "-ERR" as 2.
        {Raise<EMailProtocolReplyError>(2, std::string("[AUTH] Authentication failed.")), Login,
         "【ユーザ名またはパスワードが違います】 x"},
        {Raise<EMailProtocolReplyError>(2, std::string("[IN-USE] locked")), Login,
         "【メールボックスが使用中です。ほかのメールソフトが受信中でないか確認してください】 x"},
        {Raise<EMailProtocolReplyError>(535, std::string("5.7.8 failed")), Login, "【ユーザ名またはパスワードが違います】 x"},
        {Raise<EMailProtocolReplyError>(534, std::string("5.7.9 Application-specific password required")), Login,
         "【アプリパスワードかサインイン(OAuth2)が必要です。認証方式を確認してください】 x"},
        {Raise<EMailProtocolReplyError>(421, std::string("busy")), Login,
         "【サーバが一時的に受け付けていません。しばらくしてからもう一度試してください】 x"},
        {Raise<EMailProtocolReplyError>(554, std::string("go away")), Login,
         "【サーバに拒否されました。サーバ名・ユーザ名・暗号化の方式を確認してください】 x"},
        {Raise<EMailProtocolReplyError>(451, std::string("later")), Transfer,
         "【サーバが一時的に受け付けていません。しばらくしてからもう一度試してください】 x"},
        {Raise<EMailOAuthRefused>(535, std::string("refused"), std::string("invalid_token")), Login,
         "【サインインが拒否されました。もう一度サインインしてください】 x"},
        {Raise<EMailException>(std::string("The SMTP server offers neither XOAUTH2 nor OAUTHBEARER.")), Login,
         "【サーバがこの認証方式に対応していません。認証方式と暗号化の方式を確認してください】 x"},
        // No hint: a message refused for good (its own line says so), a stop, a local limit, the rest.
        {Raise<EMailProtocolReplyError>(550, std::string("no such user")), Transfer, "x"},
        {Raise<EMailAborted>(), Login, "x"},
        {Raise<EMailReadLnMaxLineLengthExceeded>(), Transfer, "x"},
        {Raise<std::runtime_error>("再サインインが必要です"), Login, "x"},
    };
    for (const Row& row : rows) {
        try {
            row.raise();
            FAIL();
        } catch (const std::exception& e) {
            EXPECT_EQ(WithHint(e, row.step, "x"), row.shown) << e.what();
        }
    }

    // A failed login's notice carries its hint.
    TCycleReport report;
    report.End = TCycleReport::TEnd::SmtpLoginFailed;
    report.Hint = "ユーザ名またはパスワードが違います";
    EXPECT_EQ(StatusOf(report, "12:00").Notice, "SMTPサーバにログインできません: ユーザ名またはパスワードが違います");
}

}  // namespace
}  // namespace tarnwick
