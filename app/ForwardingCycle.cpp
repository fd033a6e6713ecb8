#include "app/ForwardingCycle.h"

#include <deque>
#include <functional>
#include <string_view>
#include <vector>

#include "app/Ledger.h"
#include "app/ServerEndpoint.h"
#include "message/MailMessage.h"
#include "message/MessageReader.h"
#include "net/MailAbort.h"
#include "net/MailCommandText.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "platform/Exception.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace tarnwick {

namespace {

constexpr int kConnectTimeoutMs = 2000;
// A server that stops answering ends the cycle with "Read Timeout" instead of freezing the window.
constexpr int32_t kReadTimeoutMs = 120000;
// Long HTML lines are common enough in real mail; they pass whole, but stay bounded. The reader
// counts the CR before the LF as part of the line: one byte more lets 16 MiB of text through.
constexpr int32_t kContentLineLimit = 16 * 1024 * 1024 + 1;

// One log line per failure: the error's lines joined.
std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r') continue;
        out += c == '\n' ? ' ' : c;
    }
    return Trim(out);  // a POP3 reason keeps the blank after "-ERR"
}

// The reason a login failed, after a blank: the server's refusal, a certificate that was not
// accepted, a time-out.
std::string Because(const std::exception& e) {
    const std::string reason = OneLine(e.what());
    return reason.empty() ? std::string() : " " + reason;
}

// Closes a client whatever state it is in; errors on the way are of no interest any more.
void ForceClose(TMailTCPClient& client) {
    try {
        client.Disconnect();
    } catch (...) {
    }
}

TMailSecurity ClientSecurity(TSecurity security) {
    switch (security) {
        case TSecurity::StartTLS: return TMailSecurity::msStartTLS;
        case TSecurity::TLS: return TMailSecurity::msTLS;
        case TSecurity::None: break;
    }
    return TMailSecurity::msNone;
}

// Host and port of the server as typed (the standard port of its encryption when none is typed),
// encryption, extra authority and credentials.
void Aim(TMailTCPClient& client, const std::string& server, int defaultPort, TSecurity security,
         const std::string& caFile, const std::string& user, const std::string& password) {
    const TServerEndpoint endpoint = ParseServerText(server, defaultPort);
    client.SetHost(endpoint.Host);
    client.SetPort(endpoint.Port);
    client.Security = ClientSecurity(security);
    client.CAFile = caFile;
    client.Username = user;
    client.Password = password;
}

// A refusal the server means for good (5xx): the message is skipped, the next one may pass.
bool IsPermanentRefusal(const EMailProtocolReplyError& e) { return e.ReplyCode >= 500 && e.ReplyCode <= 599; }

// A message number from the listing; 0 when the listing gave none.
int NumberOrZero(const std::string& text) {
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return 0;
    }
}

// The settings a cycle cannot do without, by their captions in the window; empty when all are there.
std::string MissingSettings(const TServerSettings& settings, const std::string& forwardAddress) {
    std::string missing;
    auto need = [&](bool present, const char* caption) {
        if (present) return;
        if (!missing.empty()) missing += "、";
        missing += caption;
    };
    need(!Trim(settings.Pop3Server).empty(), "POP3サーバアドレス");
    need(!Trim(settings.SmtpServer).empty(), "SMTPサーバアドレス");
    // The address is the user part, "@" and the domain; either half missing leads nowhere.
    need(!forwardAddress.empty() && forwardAddress.front() != '@' && forwardAddress.back() != '@',
         "転送先メールアドレス");
    return missing;
}

// What the cycle was doing with which server (as typed), put in front of an error that ends it:
// a bare "Read Timeout" does not say whether the POP3 or the SMTP server went quiet.
std::string Doing(const char* server, const std::string& shown, const std::string& step) {
    return std::string(server) + "サーバ(" + shown + ")で" + step + "中に失敗: ";
}

}  // namespace

struct TForwardingCycle::Impl {
    // The transports outlive the clients that use them.
    TMailAbort Abort;
    TMailIOHandlerAbortable Pop3Transport{Abort};
    TMailIOHandlerAbortable SmtpTransport{Abort};
    TMailPOP3 MailPOP3;
    TMailSMTP MailSMTP;
    // The server fields as typed at the last login, for the log-off lines ("host:port" in
    // builds that take a port).
    std::string Pop3Shown, SmtpShown;
    // What the last incomplete-settings line named, so it is not repeated every interval.
    std::string MissingShown;

    Impl() {
        for (TMailMessageClient* client : {static_cast<TMailMessageClient*>(&MailPOP3),
                                           static_cast<TMailMessageClient*>(&MailSMTP)}) {
            client->MaxLineAction = TMailMaxLineAction::maException;
            client->ReadTimeout = kReadTimeoutMs;
            client->MaxContentLineLength = kContentLineLimit;
        }
        // Commands always leave whole, so Nagle's algorithm would only hold the last piece back.
        Pop3Transport.UseNagle = false;
        SmtpTransport.UseNagle = false;
        MailPOP3.SetIOHandler(&Pop3Transport);
        MailSMTP.SetIOHandler(&SmtpTransport);
        MailPOP3.SetPort(110);
        MailSMTP.SetPort(25);
    }
};

TForwardingCycle::TForwardingCycle(TAddLog addLog) : addLog_(std::move(addLog)), impl_(std::make_unique<Impl>()) {
    // The message still goes out (From unchanged); a bounce then has nowhere to go.
    impl_->MailSMTP.OnNullSender = [this](const std::string& address, const std::string& problem) {
        AddLog("送信者アドレス不正のため<>で送信(" + OneLine(address) + ") " + problem);
    };
}
TForwardingCycle::~TForwardingCycle() = default;

TMailPOP3& TForwardingCycle::MailPOP3() { return impl_->MailPOP3; }
TMailSMTP& TForwardingCycle::MailSMTP() { return impl_->MailSMTP; }

void TForwardingCycle::Abort() { impl_->Abort.Abort(); }

void TForwardingCycle::PreparePop3(const TServerSettings& settings) {
    Aim(impl_->MailPOP3, settings.Pop3Server, DefaultPop3Port(settings.Pop3Security), settings.Pop3Security,
        settings.Pop3CAFile, settings.Pop3User, settings.Pop3Pass);
}

void TForwardingCycle::PrepareSmtp(const TServerSettings& settings) {
    TMailSMTP& smtp = impl_->MailSMTP;
    Aim(smtp, settings.SmtpServer, DefaultSmtpPort(settings.SmtpSecurity), settings.SmtpSecurity,
        settings.SmtpCAFile, settings.SmtpUser, settings.SmtpPass);
    smtp.EnvelopeFrom = settings.EnvelopeFrom;
    // With a user name the client logs in whenever the server offers AUTH: PLAIN, else LOGIN.
    smtp.SetAuthenticationType(settings.SmtpUser.empty() ? TAuthenticationType::atNone : TAuthenticationType::atAuto);
}

void TForwardingCycle::AddLog(const std::string& text) {
    if (addLog_) addLog_(text);
}

bool TForwardingCycle::LoginPop3(const TServerSettings& settings) {
    TMailPOP3& pop3 = impl_->MailPOP3;
    try {
        impl_->Pop3Shown = settings.Pop3Server;
        PreparePop3(settings);
        pop3.Connect(kConnectTimeoutMs);
        AddLog("POP3サーバにログイン(" + settings.Pop3Server + ")");
        return true;
    } catch (const std::exception& e) {
        ForceClose(pop3);
        outcome_.LoginFailed = true;
        AddLog("POP3サーバにログイン失敗(" + settings.Pop3Server + ")" + Because(e));
        return false;
    }
}

bool TForwardingCycle::LoginSmtp(const TServerSettings& settings) {
    TMailSMTP& smtp = impl_->MailSMTP;
    try {
        impl_->SmtpShown = settings.SmtpServer;
        PrepareSmtp(settings);
        AddLog("SMTPサーバにログイン(" + settings.SmtpServer + ")");
        smtp.Connect(kConnectTimeoutMs);
        // Before the first MAIL: a refused password is a failed login, and nothing is sent.
        if (smtp.AuthenticationType() != TAuthenticationType::atNone &&
            smtp.AuthSchemeOffered(smtp.AuthenticationType()))
            smtp.Authenticate();
        return true;
    } catch (const std::exception& e) {
        ForceClose(smtp);
        outcome_.LoginFailed = true;
        AddLog("SMTPサーバにログイン失敗(" + settings.SmtpServer + ")" + Because(e));
        return false;
    }
}

bool TForwardingCycle::LogoffPop3() {
    TMailPOP3& pop3 = impl_->MailPOP3;
    try {
        pop3.Disconnect();
        AddLog("POP3サーバからログオフ(" + impl_->Pop3Shown + ")");
        return true;
    } catch (const std::exception&) {
        ForceClose(pop3);
        AddLog("POP3サーバからログオフ失敗(" + impl_->Pop3Shown + ")");
        return false;
    }
}

bool TForwardingCycle::LogoffSmtp() {
    TMailSMTP& smtp = impl_->MailSMTP;
    try {
        smtp.Disconnect();
        AddLog("SMTPサーバからログオフ(" + impl_->SmtpShown + ")");
        return true;
    } catch (const std::exception&) {
        ForceClose(smtp);
        AddLog("SMTPサーバからログオフ失敗(" + impl_->SmtpShown + ")");
        return false;
    }
}

void TForwardingCycle::SkipMessage(const std::string& subject, const std::string& id, const std::string& reason) {
    ++outcome_.Skipped;
    AddLog("メール転送失敗(" + subject + ") " + OneLine(reason) + " [" + id + "]");
}

TCycleResult TForwardingCycle::ForwardNewMail(const TServerSettings& settings, const std::string& forwardAddress) {
    TCycleResult result;
    TStringList listing, allIds, ledger, newIds, newNumbers;
    TMailMessage message;
    TMailPOP3& pop3 = impl_->MailPOP3;
    TMailSMTP& smtp = impl_->MailSMTP;
    outcome_ = TCycleOutcome{};

    // Incomplete settings are said once, not as a failed login every interval.
    if (std::string missing = MissingSettings(settings, forwardAddress); !missing.empty()) {
        if (missing != impl_->MissingShown) AddLog("設定が不完全です(" + missing + "が未入力)");
        impl_->MissingShown = missing;
        result.Login = TCycleResult::TLogin::Pop3Failed;
        return result;
    }
    impl_->MissingShown.clear();

    if (!LoginPop3(settings)) {
        result.Login = TCycleResult::TLogin::Pop3Failed;
        return result;
    }
    std::string doing;  // the step under way, for the error that may end the cycle
    try {
        doing = Doing("POP3", settings.Pop3Server, "メールリストの取得");
        pop3.ListUniqueIds(listing);
        AddLog("メールリストを取得");
        allIds.Assign(listing);
        StripNumbers(allIds);
        doing = "転送済みIDの読み込み中に失敗: ";
        if (settings.SkipExisting && !FileExists(LedgerFileName(forwardAddress))) {
            // A first run for this address: the mailbox may hold years of mail the phone must not
            // receive. The file is written even when empty, so the next cycle forwards as usual.
            ledger.Assign(allIds);
            TLedgerWriter(forwardAddress).SaveLedger(ledger);
            AddLog("既存のメール " + IntToStr(allIds.Count()) + "件を転送済みとして記録しました");
        } else {
            LoadLedger(forwardAddress, ledger);
        }
        PruneLedger(ledger, allIds);
        SelectNewIds(allIds, ledger, newIds);
        MapIdsToNumbers(listing, newIds, newNumbers);
        const int count = newNumbers.Count();
        outcome_.NewCount = count;
        AddLog("新規メール " + IntToStr(count) + "件");

        TLedgerWriter writer(forwardAddress);
        if (count >= 1) {
            // A ledger that cannot record what is sent would send the same message every cycle.
            try {
                writer.Reserve(ledger, newIds);
            } catch (const EStreamError& e) {
                AddLog(OneLine(e.Message()));
                LogoffPop3();
                result.LedgerUnwritable = true;
                return result;
            }
        }
        if (count >= 1 && !LoginSmtp(settings)) {
            LogoffPop3();
            result.Login = TCycleResult::TLogin::SmtpFailed;
            return result;
        }

        // Where the server pipelines, the sizes come in batches, and each message is asked for
        // while the one before it is being sent on, so a slow link costs a round trip less per
        // message. Without it, one command at a time.
        const bool pipelined = count >= 2 && pop3.Pipelining();
        std::vector<int> numbers;
        std::vector<int64_t> sizes;
        if (pipelined) {
            doing = Doing("POP3", settings.Pop3Server, "メールサイズの取得");
            for (int i = 0; i < count; ++i) numbers.push_back(NumberOrZero(newNumbers[i]));
            std::vector<int> listed;
            for (int number : numbers)
                if (number > 0) listed.push_back(number);
            const std::vector<int64_t> listedSizes = pop3.ListSizes(listed);
            for (size_t i = 0, k = 0; i < numbers.size(); ++i) sizes.push_back(numbers[i] > 0 ? listedSizes[k++] : -1);
        }
        // The next message worth asking for after index i, -1 when none.
        auto nextToRetrieve = [&](int i) {
            for (int j = i + 1; j < count; ++j)
                if (numbers[j] > 0 && !(pop3.MaxMessageSize > 0 && sizes[j] > pop3.MaxMessageSize)) return j;
            return -1;
        };
        int inFlight = -1;  // the message whose RETR went out and whose answer is still unread

        // An accepted message is logged and recorded, in server order, before the next one.
        auto record = [&](const std::string& subject, const std::string& id) {
            AddLog("メール転送(" + subject + ")");
            ledger.Add(id);
            doing = "転送済みIDの保存中に失敗: ";
            writer.SaveLedger(ledger);
            ++result.Forwarded;
            ++outcome_.Forwarded;
        };
        struct TSentOn {
            std::string Id, Number, Subject;
        };
        std::deque<TSentOn> sentOn;  // queued to the SMTP server, replies not read yet
        // The oldest message sent on: recorded when accepted, skipped when refused for good.
        std::function<void()> settle = [&] {
            const TSentOn sent = sentOn.front();
            sentOn.pop_front();
            doing = Doing("SMTP", settings.SmtpServer, "メール" + sent.Number + "(" + sent.Subject + ")の送信");
            try {
                smtp.FinishMail();
            } catch (const EMailProtocolReplyError& e) {
                if (IsPermanentRefusal(e)) {
                    SkipMessage(sent.Subject, sent.Id, e.Message());
                    return;
                }
                // The cycle ends; what went after this message may have been accepted all the
                // same, and is recorded so that it does not go twice.
                const std::string ending = doing;
                try {
                    while (!sentOn.empty()) settle();
                } catch (...) {
                }
                doing = ending;
                throw;
            }
            record(sent.Subject, sent.Id);
        };
        auto settleAll = [&] {
            while (!sentOn.empty()) settle();
        };

        for (int i = 0; i < count; ++i) {
            if (StopRequested && StopRequested()) {
                outcome_.Stopped = true;
                AddLog("終了要求のため転送を中断");
                break;
            }
            const std::string& id = newIds[i];
            message.Clear();
            message.NoEncode = true;
            // Body lines pass through unchanged; decoding would drop encoded content from what
            // is sent on. The subject is decoded from the header all the same.
            message.NoDecode = true;
            // One text for the body rather than a string per line.
            message.KeepBodyText = true;

            // A message that cannot be had is logged and left for the next cycle; a lost
            // connection ends the cycle.
            try {
                const int number = StrToInt(newNumbers[i]);
                doing = Doing("POP3", settings.Pop3Server, "メール" + newNumbers[i] + "の受信");
                // A message announced over the limit is never downloaded.
                const int64_t size = pipelined ? sizes[i] : pop3.ListSize(number);
                if (pop3.MaxMessageSize > 0 && size > pop3.MaxMessageSize) {
                    SkipMessage(message.Subject, id, EMailMessageTooLarge(size, pop3.MaxMessageSize).Message());
                    continue;
                }
                // Room for it at once (the limit bounds what is trusted); no copy on growing.
                if (size > 0 && pop3.MaxMessageSize > 0) message.BodyText.reserve(static_cast<size_t>(size));
                bool retrieved;
                if (pipelined) {
                    if (inFlight != i) pop3.SendRetrieve(number);
                    inFlight = -1;
                    retrieved = pop3.ReadRetrieved(message);
                    const std::string refusal = pop3.LastReply.Text.Text();
                    if (int next = nextToRetrieve(i); next >= 0) {
                        pop3.SendRetrieve(numbers[static_cast<size_t>(next)]);
                        inFlight = next;
                    }
                    if (!retrieved) {
                        SkipMessage(message.Subject, id, refusal);
                        continue;
                    }
                } else if (!pop3.RetrieveMessage(number, message)) {
                    SkipMessage(message.Subject, id, pop3.LastReply.Text.Text());
                    continue;
                }
            } catch (const EConvertError& e) {
                SkipMessage(message.Subject, id, e.Message());
                continue;
            } catch (const EMailException& e) {
                if (!dynamic_cast<const EMailReadLnMaxLineLengthExceeded*>(&e) &&
                    !dynamic_cast<const EMailMessageTooLarge*>(&e) && !dynamic_cast<const EMailHeaderTooLarge*>(&e))
                    throw;
                // The rest of the message (or of an over-long status line) is still on its way:
                // close and log in again.
                SkipMessage(message.Subject, id, e.Message());
                ForceClose(pop3);
                inFlight = -1;
                if (!LoginPop3(settings)) {
                    LogoffSmtp();
                    result.Login = TCycleResult::TLogin::Pop3Failed;
                    return result;
                }
                continue;
            }

            message.Recipients.Clear();
            message.CCList.Clear();
            message.Recipients.ParseAddresses(forwardAddress);

            const std::string sending =
                Doing("SMTP", settings.SmtpServer, "メール" + newNumbers[i] + "(" + message.Subject + ")の送信");
            doing = sending;
            // Where the server allows it, the message goes without waiting for its replies,
            // which are read once the next one is on its way.
            if (smtp.QueueMail(message)) {
                sentOn.push_back({id, newNumbers[i], message.Subject});
                while (sentOn.size() > 1) settle();
                continue;
            }
            settleAll();
            doing = sending;
            try {
                smtp.SendMail(message);
            } catch (const EMailProtocolReplyError& e) {
                if (!IsPermanentRefusal(e)) throw;
                SkipMessage(message.Subject, id, e.Message());
                continue;
            }
            record(message.Subject, id);
        }
        settleAll();
    } catch (Exception& e) {
        // Leave no half-open session behind: the next cycle logs in afresh.
        ForceClose(pop3);
        ForceClose(smtp);
        e.SetContext(doing);
        throw;
    } catch (...) {
        ForceClose(pop3);
        ForceClose(smtp);
        throw;
    }
    LogoffPop3();
    LogoffSmtp();
    return result;
}

}  // namespace tarnwick
