// The forwarding cycle end to end with the real clients, against the local Dovecot (POP3) and
// Postfix (SMTP) instances: what arrives, the ledger, and the log.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <thread>

#include "app/cycle/Ledger.h"
#include "cycle/CycleFixture.h"
#include "net/MailPOP3.h"
#include "platform/StringList.h"
#include "support/MailServers.h"
#include "support/VariedMailbox.h"

namespace tarnwick::test {
namespace {

using ::testing::ElementsAreArray;

class CycleWithServers : public CycleTest {
protected:
    void SetUp() override {
        CycleTest::SetUp();
        servers_ = MailServers::Acquire();
        if (!servers_) GTEST_SKIP() << "local mail servers not configured (scripts/servers start)";
        pop3Text_ = servers_->pop3Host + ":" + std::to_string(servers_->pop3Port);
        smtpText_ = servers_->smtpHost + ":" + std::to_string(servers_->smtpPort);
        settings_ = TServerSettings{};
        settings_.Pop3User = servers_->pop3User;
        settings_.Pop3Pass = servers_->pop3Pass;
        settings_.Pop3Server = pop3Text_;
        settings_.SmtpServer = smtpText_;
    }

    void Run() { cycle_.ForwardNewMail(settings_, forwardAddress_); }

    // The server's own UIDL listing, ids only, in server order.
    std::vector<std::string> ServerIds() {
        TMailPOP3 pop3;
        pop3.SetHost(servers_->pop3Host);
        pop3.SetPort(servers_->pop3Port);
        pop3.Username = servers_->pop3User;
        pop3.Password = servers_->pop3Pass;
        pop3.Connect(2000);
        TStringList listing;
        EXPECT_TRUE(pop3.ListUniqueIds(listing));
        pop3.Disconnect();
        std::vector<std::string> ids;
        for (const TListedMessage& entry : ParseListing(listing)) ids.push_back(entry.Id);
        return ids;
    }

    std::vector<std::string> LedgerIds() {
        TStringList ledger;
        LoadLedger(forwardAddress_, ledger);
        return Items(ledger);
    }

    std::vector<std::string> EndLines() {
        return {"POP3サーバからログオフ(" + pop3Text_ + ")", "SMTPサーバからログオフ(" + smtpText_ + ")"};
    }

    // Removes a dropped message from the mailbox, wherever Dovecot moved it.
    void RemoveFromMailbox(const std::string& name) {
        for (const char* sub : {"/new/", "/cur/"})
            for (const std::string& file : NamesIn(servers_->pop3Maildir + sub))
                if (file.rfind(name, 0) == 0) ::unlink((servers_->pop3Maildir + sub + file).c_str());
    }

    std::unique_ptr<MailServers> servers_;
    std::string pop3Text_, smtpText_;
    TServerSettings settings_;
};

TEST_F(CycleWithServers, FirstCycleForwardsEveryKindOfMessageUnchangedToTheForwardingAddressOnly) {
    const auto mailbox = VariedMailbox();
    std::map<std::string, std::string> sent;  // subject -> message as the server holds it (CR LF)
    for (const auto& [subject, bytes] : mailbox) {
        servers_->DropPop3Message(bytes);
        std::string raw = bytes.substr(bytes.find("Subject: ") + 9);
        sent[raw.substr(0, raw.find('\n'))] = ToCrLf(bytes);
    }

    Run();

    std::vector<std::string> expected = {"POP3サーバにログイン(" + pop3Text_ + ")", "メールリストを取得",
                                         "新規メール 11件", "SMTPサーバにログイン(" + smtpText_ + ")"};
    for (const auto& [subject, bytes] : mailbox) expected.push_back("メール転送(" + subject + ")");
    for (const std::string& line : EndLines()) expected.push_back(line);
    EXPECT_THAT(TakeLog(), ElementsAreArray(expected));

    std::vector<DeliveredMessage> got = servers_->WaitForDelivered(mailbox.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything extra would show now
    got = servers_->Delivered();
    ASSERT_EQ(got.size(), mailbox.size());
    for (const DeliveredMessage& m : got) {
        std::string subject = SubjectOf(m);
        ASSERT_EQ(sent.count(subject), 1u) << "unexpected delivery: " << m.content.substr(0, 300);
        EXPECT_EQ(m.OriginalTo(), forwardAddress_) << subject;
        EXPECT_EQ(m.ReturnPath(), "sender@example.jp") << subject;
        auto [wantHead, wantBody] = SplitMessage(sent[subject]);
        auto [gotHead, gotBody] = SplitMessage(m.SentCrLf());
        EXPECT_EQ(gotHead, wantHead) << subject;
        EXPECT_EQ(gotBody, wantBody) << subject;
        sent.erase(subject);
    }

    // Every id, in server order.
    EXPECT_EQ(LedgerIds(), ServerIds());
    EXPECT_EQ(ServerIds().size(), mailbox.size());
}

TEST_F(CycleWithServers, LaterCyclesForwardOnlyNewMailAndWriteTheLedgerOnlyWhenTheyForward) {
    std::string first = servers_->DropPop3Message("From: a@example.jp\nSubject: one\n\n1\n");
    servers_->DropPop3Message("From: a@example.jp\nSubject: two\n\n2\n");
    Run();
    ASSERT_EQ(servers_->WaitForDelivered(2).size(), 2u);
    servers_->ClearDelivered();
    TakeLog();
    const std::vector<std::string> firstIds = ServerIds();
    ASSERT_EQ(LedgerIds(), firstIds);

    // Nothing new: no SMTP session, and the ledger file stays the very same file.
    const FileStamp before = StampOf(ledgerFile_);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Run();
    std::vector<std::string> quiet = {"POP3サーバにログイン(" + pop3Text_ + ")", "メールリストを取得", "新規メール 0件"};
    for (const std::string& line : EndLines()) quiet.push_back(line);
    EXPECT_THAT(TakeLog(), ElementsAreArray(quiet));
    EXPECT_TRUE(StampOf(ledgerFile_) == before);

    // One new message: forwarded alone, appended to the ledger.
    servers_->DropPop3Message("From: b@example.jp\nSubject: three\n\n3\n");
    Run();
    std::vector<std::string> log = TakeLog();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[2], "新規メール 1件");
    EXPECT_EQ(log[4], "メール転送(three)");
    std::vector<DeliveredMessage> got = servers_->WaitForDelivered(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    got = servers_->Delivered();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(SubjectOf(got[0]), "three");
    EXPECT_EQ(LedgerIds(), ServerIds());
    servers_->ClearDelivered();

    // A message gone from the server: its id stays in the file until the next save...
    RemoveFromMailbox(first);
    ASSERT_EQ(ServerIds().size(), 2u);
    const FileStamp kept = StampOf(ledgerFile_);
    Run();
    EXPECT_TRUE(StampOf(ledgerFile_) == kept);
    EXPECT_EQ(LedgerIds().size(), 3u);
    // ...and leaves it there.
    servers_->DropPop3Message("From: c@example.jp\nSubject: four\n\n4\n");
    Run();
    EXPECT_EQ(LedgerIds(), ServerIds());
    EXPECT_EQ(LedgerIds()[0], firstIds[1]);
    EXPECT_EQ(servers_->WaitForDelivered(1).size(), 1u);
}

}  // namespace
}  // namespace tarnwick::test
