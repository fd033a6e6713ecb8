// The cycle reading an IMAP folder (scripted IMAP and SMTP servers): ids "<UIDVALIDITY>.<UID>" in
// the ledger, a folder whose UIDVALIDITY changed (or a ledger kept through POP3) recorded without
// sending, and the bytes of BODY.PEEK[] going out unchanged.
#include <gmock/gmock.h>

#include "cycle/CycleFixture.h"
#include "net/MailIMAP.h"

namespace tarnwick::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

TEST_F(CycleTest, ImapFolderIdsAndRenewedUidValidity) {
    const std::string message = "From: a@example.jp\r\nSubject: s2\r\n\r\n.leading dot\r\n\r\nend  \r\n";
    struct Case {
        const char* name;
        std::string ledger;  // before
        std::string uids;    // the folder
        bool sends;          // uid 2 goes
        std::string after;
        std::string renewed;  // the log line, when the ids were renewed
    } const cases[] = {
        {"known folder", "7.1\n", "1 2", true, "7.1\r\n7.2\r\n", ""},
        {"uidvalidity changed", "6.1\n6.2\n", "1 2", false, "7.1\r\n7.2\r\n",
         "メールのIDが変わったため(UIDVALIDITY 6→7)、既存のメール 2件を転送済みとして記録しました"},
        {"ledger of POP3", "0000000158f1c9a2\n", "2", false, "7.2\r\n",
         "メールのIDが変わったため(UIDVALIDITY →7)、既存のメール 1件を転送済みとして記録しました"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile(ledgerFile_, c.ledger);
        ScriptedServer imap, smtp;
        imap.SendLine("* OK [CAPABILITY IMAP4rev1 IDLE] hi").Expect("A0001 LOGIN \"u\" \"p\"");
        imap.SendLine("A0001 OK [CAPABILITY IMAP4rev1 IDLE] in").Expect("A0002 EXAMINE \"INBOX\"");
        imap.SendLine("* 2 EXISTS").SendLine("* OK [UIDVALIDITY 7] ids").SendLine("A0002 OK [READ-ONLY] done");
        imap.Expect("A0003 UID SEARCH ALL").SendLine("* SEARCH " + c.uids).SendLine("A0003 OK done");
        if (c.sends) {
            smtp.SendLine("220 hi").Expect("EHLO tester").SendLine("250 ok");
            imap.Expect("A0004 UID FETCH 2 (UID RFC822.SIZE)").SendLine("* 2 FETCH (UID 2 RFC822.SIZE 60)");
            imap.SendLine("A0004 OK done").Expect("A0005 UID FETCH 2 (UID BODY.PEEK[])");
            imap.Send("* 2 FETCH (UID 2 BODY[] {" + std::to_string(message.size()) + "}\r\n" + message + ")\r\n");
            imap.SendLine("A0005 OK done");
            smtp.Expect("RSET").SendLine("250 ok").Expect("MAIL FROM:<a@example.jp>").SendLine("250 ok");
            smtp.Expect("RCPT TO:<taro@docomo.ne.jp>").SendLine("250 ok").Expect("DATA").SendLine("354 go");
            smtp.ExpectUntil(".").SendLine("250 ok").Expect("QUIT");
        }
        imap.Expect(c.sends ? "A0006 LOGOUT" : "A0004 LOGOUT");
        imap.Start();
        smtp.Start();
        TServerSettings servers;
        servers.Protocol = TReceiveProtocol::Imap;
        servers.Pop3User = "u";
        servers.Pop3Pass = "p";
        servers.Pop3Server = "127.0.0.1:" + std::to_string(imap.Port());
        servers.SmtpServer = "127.0.0.1:" + std::to_string(smtp.Port());
        cycle_.MailSMTP().HeloName = "tester";
        const TCycleReport report = cycle_.ForwardNewMail(servers, forwardAddress_);

        EXPECT_TRUE(imap.Finish());
        EXPECT_TRUE(!c.sends || smtp.Finish());
        EXPECT_TRUE(imap.Mismatches().empty()) << ::testing::PrintToString(imap.Mismatches());
        EXPECT_TRUE(smtp.Mismatches().empty()) << ::testing::PrintToString(smtp.Mismatches());
        EXPECT_EQ(report.Forwarded, c.sends ? 1 : 0);
        EXPECT_EQ(Ledger(), c.after);
        const std::vector<std::string> log = TakeLog();
        EXPECT_THAT(log, Contains("IMAPサーバにログイン(" + servers.Pop3Server + ")"));
        if (!c.renewed.empty()) {
            EXPECT_THAT(log, Contains(c.renewed));
        }
        // The message as the folder holds it, dot-stuffed for DATA only.
        if (c.sends) {
            EXPECT_THAT(smtp.Received(),
                        HasSubstr("DATA\r\nFrom: a@example.jp\r\nSubject: s2\r\n\r\n..leading dot\r\n\r\nend  \r\n.\r\n"));
        }
    }
}

}  // namespace
}  // namespace tarnwick::test
