#include "net/MailIMAP.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <optional>

#include "message/MailGlobal.h"
#include "message/MailMessage.h"
#include "net/ImapResponse.h"
#include "net/ImapText.h"
#include "net/MailCommandText.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

namespace {

// Uids asked for in one FETCH: the answers of one command are kept until its end.
constexpr size_t kHeaderBatch = 100;
constexpr size_t kSizeBatch = 500;
// Untagged responses one command may draw that nothing takes (unsolicited news).
constexpr int kMaxUnsolicited = 1000000;
// RFC 2177: a client re-issues IDLE at least every 29 minutes.
constexpr int kMaxIdleSeconds = 29 * 60;
// RFC 7888: LITERAL- allows non-synchronizing literals up to this size.
constexpr size_t kLiteralMinusMax = 4096;

// The value of a FETCH data item (ignoring case), nullptr when the response has none.
TImapValue* FetchItem(TImapResponse& r, std::string_view name) {
    if (r.Name != "FETCH" || r.Items.empty() || r.Items[0].Kind != TImapValue::TKind::List) return nullptr;
    std::vector<TImapValue>& items = r.Items[0].Items;
    for (size_t i = 0; i + 1 < items.size(); i += 2)
        if (items[i].IsAtom(name)) return &items[i + 1];
    return nullptr;
}

bool FetchNumber(TImapResponse& r, std::string_view name, uint64_t& value) {
    const TImapValue* v = FetchItem(r, name);
    return v != nullptr && v->Number(value);
}

bool FetchUid(TImapResponse& r, uint32_t& uid) {
    uint64_t value = 0;
    if (!FetchNumber(r, "UID", value) || value == 0 || value > UINT32_MAX) return false;
    uid = static_cast<uint32_t>(value);
    return true;
}

bool CodeNumber(const std::string& text, uint32_t& value) {
    TImapValue atom;
    atom.Text = Trim(text);
    uint64_t n = 0;
    if (!atom.Number(n) || n > UINT32_MAX) return false;
    value = static_cast<uint32_t>(n);
    return true;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string rest = Trim(text);
    while (!rest.empty()) {
        std::string word = CutToken(rest, " ");
        if (!word.empty()) words.push_back(std::move(word));
    }
    return words;
}

}  // namespace

TMailIMAP::TCommand& TMailIMAP::TCommand::Add(const std::string& text) {
    Texts.back() += text;
    return *this;
}

TMailIMAP::TCommand& TMailIMAP::TCommand::AddString(const std::string& text) {
    std::string quoted;
    if (ImapQuoted(text, quoted)) return Add(quoted);
    Literals.push_back(text);
    Texts.emplace_back();
    return *this;
}

TMailIMAP::TMailIMAP() { SetPort(143); }

TMailIMAP::~TMailIMAP() = default;

std::string TMailIMAP::NextTag() {
    char tag[16];
    std::snprintf(tag, sizeof tag, "A%04u", static_cast<unsigned>(++tagNumber_));
    return tag;
}

bool TMailIMAP::HasCapability(const std::string& name) const {
    for (const std::string& c : capabilities_)
        if (SameText(c, name)) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Responses

std::string TMailIMAP::ReadResponseLine() {
    for (int blank = 0;; ++blank) {
        if (MaxReplyLines > 0 && blank > MaxReplyLines)
            throw EMailTooManyLines("Reply longer than " + IntToStr(MaxReplyLines) + " lines.");
        std::string line = ReadLine("\n", -1, MaxResponseText);
        // A rest cut off by the close is no line.
        if (LineTimedOut()) throw EMailConnClosedGracefully();
        if (!line.empty()) return line;
    }
}

std::string TMailIMAP::ReadLiteral(int64_t count) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(std::min<int64_t>(count, 16 * 1024 * 1024)));
    TMailManagedBuffer& input = InputBuffer();
    while (static_cast<int64_t>(bytes.size()) < count) {
        if (input.Size() == 0) FillInputBuffer(true, -1, true);
        const int64_t take = std::min<int64_t>(count - static_cast<int64_t>(bytes.size()), input.Size());
        bytes.append(input.Bytes(), static_cast<size_t>(take));
        input.Remove(take);
    }
    return bytes;
}

TImapResponse TMailIMAP::ReadResponse() {
    // A response, literals and all, within the read time-out and the pace of a large transfer.
    TReadExchange exchange(*this, true);
    TImapLimits limits;
    limits.MaxText = static_cast<size_t>(std::max<int32_t>(MaxResponseText, 1));
    limits.MaxLiteral = MaxMessageSize;
    limits.MaxValues = static_cast<size_t>(std::max<int32_t>(MaxResponseValues, 1));
    TImapResponseReader reader(limits);
    int64_t count = reader.Begin(ReadResponseLine());
    while (count >= 0) {
        std::string literal = ReadLiteral(count);
        std::string line = ReadLine("\n", -1, MaxResponseText);
        if (LineTimedOut()) throw EMailConnClosedGracefully();
        count = reader.Continue(std::move(literal), std::move(line));
    }
    return reader.Finish();
}

void TMailIMAP::TakeCode(const TImapResponse& r) {
    if (r.Code == "CAPABILITY") {
        capabilities_ = Words(r.CodeText);
        ++capabilityUpdates_;
    }
    else if (r.Code == "UIDVALIDITY") CodeNumber(r.CodeText, uidValidity_);
    else if (r.Code == "UIDNEXT") CodeNumber(r.CodeText, uidNext_);
}

void TMailIMAP::TakeUntagged(TImapResponse& r) {
    if (r.Status == "BYE") {
        // The server closes now; nothing more comes from it.
        AbandonMessage();
        throw EMailException("The IMAP server ended the session: " + (r.Text.empty() ? r.Status : r.Text),
                             TMailErrorKind::ConnectionLost);
    }
    TakeCode(r);
    if (r.HasNumber) {
        if (r.Name == "EXISTS") exists_ = r.Number;
        if (r.Name == "EXPUNGE" && exists_ > 0) --exists_;
        if (r.Name == "EXISTS" || r.Name == "EXPUNGE" || r.Name == "RECENT" || r.Name == "FETCH") changed_ = true;
    } else if (r.Name == "CAPABILITY") {
        capabilities_.clear();
        for (const TImapValue& v : r.Items) capabilities_.push_back(v.Text);
        ++capabilityUpdates_;
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

bool TMailIMAP::NonSynchronizing(size_t size) const {
    if (HasCapability("LITERAL+")) return true;
    return size <= kLiteralMinusMax && (HasCapability("LITERAL-") || HasCapability("IMAP4rev2"));
}

bool TMailIMAP::AwaitContinuation(const std::string& tag, TImapResponse& answer) {
    TReadExchange exchange(*this, false);
    for (int unsolicited = 0;; ++unsolicited) {
        if (unsolicited > kMaxUnsolicited) throw EMailTooManyLines("Too many IMAP responses to one command.");
        TImapResponse r = ReadResponse();
        if (r.Type == TImapResponse::TType::Continuation) {
            answer = std::move(r);
            return true;
        }
        if (r.Type == TImapResponse::TType::Tagged) {
            if (r.Tag != tag) throw EMailIMAPSyntax("answer to a command not sent.");
            TakeCode(r);
            answer = std::move(r);
            return false;
        }
        TakeUntagged(r);
    }
}

TImapResponse TMailIMAP::ReadTagged(const std::string& tag, const TUntaggedEvent& each) {
    TReadExchange exchange(*this, true);
    for (int unsolicited = 0;; ++unsolicited) {
        if (unsolicited > kMaxUnsolicited) throw EMailTooManyLines("Too many IMAP responses to one command.");
        TImapResponse r = ReadResponse();
        if (r.Type == TImapResponse::TType::Tagged) {
            if (r.Tag != tag) throw EMailIMAPSyntax("answer to a command not sent.");
            TakeCode(r);
            return r;
        }
        if (r.Type == TImapResponse::TType::Continuation) throw EMailIMAPSyntax("continuation request not asked for.");
        if (r.Status != "BYE" && each && each(r)) {
            unsolicited = 0;
            continue;
        }
        TakeUntagged(r);
    }
}

TImapResponse TMailIMAP::SendAndRead(const std::string& tag, const TCommand& command, const TUntaggedEvent& each) {
    std::string prefix = tag + " ";
    for (size_t i = 0; i < command.Literals.size(); ++i) {
        const std::string& literal = command.Literals[i];
        const bool plus = NonSynchronizing(literal.size());
        WriteLine(prefix + command.Texts[i] + "{" + std::to_string(literal.size()) + (plus ? "+}" : "}"));
        prefix.clear();
        TImapResponse answer;
        if (!plus && !AwaitContinuation(tag, answer)) return answer;
        WriteText(literal);
    }
    WriteLine(prefix + command.Texts.back());
    return ReadTagged(tag, each);
}

TImapResponse TMailIMAP::Command(const TCommand& command, const TUntaggedEvent& each) {
    const std::string tag = NextTag();
    try {
        return SendAndRead(tag, command, each);
    } catch (...) {
        AbandonMessage();
        throw;
    }
}

TImapResponse TMailIMAP::CommandOk(const TCommand& command, const TUntaggedEvent& each) {
    TImapResponse r = Command(command, each);
    if (r.Status != "OK") RaiseRefusal(r);
    return r;
}

void TMailIMAP::RaiseRefusal(const TImapResponse& r) {
    // RFC 5530: codes of a refusal that may pass.
    const bool temporary = r.Status == "NO" && (r.Code == "UNAVAILABLE" || r.Code == "INUSE" ||
                                                r.Code == "LIMIT" || r.Code == "SERVERBUG");
    throw EMailProtocolReplyError(r.Status == "BAD" ? kBad : kNo, r.Text.empty() ? r.Status : r.Text,
                                  temporary ? TMailErrorKind::TemporaryRefusal : TMailErrorKind::PermanentRefusal);
}

// ---------------------------------------------------------------------------------------------
// Session

void TMailIMAP::Connect(int timeout) {
    CheckCommandText(Username, "user name");
    if (OAuth.Active()) CheckOAuthCredentials(Username, OAuth.AccessToken);
    else CheckCommandText(Password, "password");
    OAuth.ErrorStatus.clear();
    capabilities_.clear();
    tagNumber_ = 0;
    exists_ = uidValidity_ = uidNext_ = 0;
    changed_ = loggedIn_ = false;
    TMailMessageClient::Connect(timeout);
    try {
        TImapResponse greeting;
        try {
            greeting = ReadResponse();
        } catch (...) {
            AbandonMessage();
            throw;
        }
        if (greeting.Type != TImapResponse::TType::Untagged || !greeting.IsStatus())
            throw EMailIMAPSyntax("no greeting.");
        if (greeting.Status == "NO" || greeting.Status == "BAD") RaiseRefusal(greeting);
        TakeUntagged(greeting);
        loggedIn_ = greeting.Status == "PREAUTH";
        if (Security == TMailSecurity::msStartTLS) {
            // No name or password before TLS stands, and no way back to plain text.
            if (loggedIn_) throw EMailTLSError("The IMAP server logged in before STARTTLS.");
            const TImapResponse r = Command(TCommand().Add("STARTTLS"));
            if (r.Status != "OK") throw EMailTLSError("The IMAP server refused STARTTLS: " + r.Text);
            StartTLS();
            // What was offered in plain text may have been forged.
            capabilities_.clear();
        }
        if (capabilities_.empty()) AskCapabilities();
        if (!loggedIn_) {
            const uint32_t told = capabilityUpdates_;
            OAuth.Active() ? LoginWithToken() : Login();
            loggedIn_ = true;
            // What is offered may change with the login; the OK often says it.
            if (capabilityUpdates_ == told) AskCapabilities();
        }
    } catch (...) {
        // The login's own failure is the one to report, not a failure to say LOGOUT.
        DisconnectQuietly();
        throw;
    }
}

void TMailIMAP::Disconnect() {
    std::exception_ptr failure;
    if (IsConnected()) {
        try {
            WriteLine(NextTag() + " LOGOUT");
        } catch (...) {
            failure = std::current_exception();
        }
    }
    TMailTCPClient::Disconnect();
    loggedIn_ = false;
    if (failure) std::rethrow_exception(failure);
}

void TMailIMAP::AskCapabilities() {
    capabilities_.clear();
    CommandOk(TCommand().Add("CAPABILITY"));
}

void TMailIMAP::Login() {
    // Sent in plain text only where the server allows it.
    if (HasCapability("LOGINDISABLED"))
        throw EMailProtocolReplyError(kNo, "The IMAP server does not take LOGIN on this connection (LOGINDISABLED).",
                                      TMailErrorKind::PermanentRefusal);
    CommandOk(TCommand().Add("LOGIN ").AddString(Username).Add(" ").AddString(Password));
}

void TMailIMAP::LoginWithToken() {
    const TOAuthMechanism mechanism =
        ChooseOAuthMechanism(OAuth, HasCapability("AUTH=XOAUTH2"), HasCapability("AUTH=OAUTHBEARER"));
    const std::string response = mechanism == TOAuthMechanism::omOAuthBearer
                                     ? OAuthBearerResponse(Username, Host(), Port(), OAuth.AccessToken)
                                     : XOAuth2Response(Username, OAuth.AccessToken);
    const std::string tag = NextTag();
    TImapResponse answer;
    std::string status;
    try {
        TSaslChannel channel;
        channel.MaxCommandLine = 64 * 1024;
        bool first = true;
        channel.Send = [&](const std::string& line) {
            // The exchange speaks "AUTH <mechanism> [response]"; IMAP says AUTHENTICATE.
            WriteLine(first ? tag + " AUTHENTICATE " + line.substr(5) : line);
            first = false;
        };
        channel.Read = [&](std::string& challenge) {
            if (!AwaitContinuation(tag, answer)) return false;
            challenge = Trim(answer.Text);
            return true;
        };
        // Without SASL-IR the response waits for the server's empty challenge.
        status = RunOAuthExchange(channel, mechanism, response, OAuth.TwoStep || !HasCapability("SASL-IR"));
    } catch (...) {
        AbandonMessage();
        throw;
    }
    if (answer.Status != "OK") {
        OAuth.ErrorStatus = status;
        throw EMailOAuthRefused(kNo, answer.Text.empty() ? answer.Status : answer.Text, status,
                                TMailErrorKind::PermanentRefusal);
    }
}

// ---------------------------------------------------------------------------------------------
// Folder

TMailIMAP::TFolderStatus TMailIMAP::Examine(const std::string& folder) {
    exists_ = uidValidity_ = uidNext_ = 0;
    CommandOk(TCommand().Add("EXAMINE ").AddString(ImapFolderName(folder)));
    changed_ = false;
    return {uidValidity_, uidNext_, exists_};
}

std::vector<uint32_t> TMailIMAP::SearchAll() {
    changed_ = false;
    std::vector<uint32_t> uids;
    CommandOk(TCommand().Add("UID SEARCH ALL"), [&](TImapResponse& r) {
        if (r.Name != "SEARCH") return false;
        for (const TImapValue& v : r.Items) {
            uint64_t uid = 0;
            if (v.Number(uid) && uid > 0 && uid <= UINT32_MAX) uids.push_back(static_cast<uint32_t>(uid));
        }
        return true;
    });
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return uids;
}

std::map<uint32_t, int64_t> TMailIMAP::FetchSizes(const std::vector<uint32_t>& uids) {
    std::map<uint32_t, int64_t> sizes;
    for (size_t start = 0; start < uids.size(); start += kSizeBatch) {
        const std::vector<uint32_t> batch(uids.begin() + start, uids.begin() + std::min(uids.size(), start + kSizeBatch));
        const TImapResponse r = Command(TCommand().Add("UID FETCH " + ImapUidSet(batch) + " (UID RFC822.SIZE)"),
                                        [&](TImapResponse& response) {
                                            uint32_t uid = 0;
                                            uint64_t size = 0;
                                            if (!FetchUid(response, uid) || !FetchNumber(response, "RFC822.SIZE", size) ||
                                                std::find(batch.begin(), batch.end(), uid) == batch.end())
                                                return false;
                                            sizes[uid] = static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX));
                                            return true;
                                        });
        // NO: some of them are gone; what came is kept.
        if (r.Status == "BAD") RaiseRefusal(r);
    }
    return sizes;
}

void TMailIMAP::FetchHeaders(const std::vector<uint32_t>& uids, const THeaderEvent& each) {
    struct THeader {
        int64_t Size = -1;
        std::string Text;
    };
    TMailMessage header;
    for (size_t start = 0; start < uids.size(); start += kHeaderBatch) {
        const std::vector<uint32_t> batch(uids.begin() + start,
                                          uids.begin() + std::min(uids.size(), start + kHeaderBatch));
        std::map<uint32_t, THeader> got;
        const TImapResponse r =
            Command(TCommand().Add("UID FETCH " + ImapUidSet(batch) + " (UID RFC822.SIZE BODY.PEEK[HEADER])"),
                    [&](TImapResponse& response) {
                        uint32_t uid = 0;
                        TImapValue* text = FetchItem(response, "BODY[HEADER]");
                        if (!FetchUid(response, uid) || text == nullptr ||
                            std::find(batch.begin(), batch.end(), uid) == batch.end())
                            return false;
                        THeader& h = got[uid];
                        uint64_t size = 0;
                        if (FetchNumber(response, "RFC822.SIZE", size))
                            h.Size = static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX));
                        h.Text = std::move(text->Text);
                        return true;
                    });
        if (r.Status == "BAD") RaiseRefusal(r);
        // In the order asked for, whatever order the server answered in.
        for (size_t i = 0; i < batch.size(); ++i) {
            header.Clear();
            const auto it = got.find(batch[i]);
            if (it == got.end()) {
                each(start + i, false, -1, header);
                continue;
            }
            ReadImapMessage(it->second.Text, header, MaxMessageParts);
            each(start + i, true, it->second.Size, header);
        }
    }
}

bool TMailIMAP::FetchMessage(uint32_t uid, TMailMessage& message) {
    std::optional<std::string> body;
    const TImapResponse r =
        Command(TCommand().Add("UID FETCH " + std::to_string(uid) + " (UID BODY.PEEK[])"), [&](TImapResponse& response) {
            uint32_t got = 0;
            TImapValue* text = FetchItem(response, "BODY[]");
            if (!FetchUid(response, got) || got != uid || text == nullptr) return false;
            if (text->Kind == TImapValue::TKind::String) body = std::move(text->Text);
            return true;
        });
    if (r.Status == "BAD") RaiseRefusal(r);
    if (!body) return false;
    ReadImapMessage(*body, message, MaxMessageParts);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Waiting for news

TMailIMAP::TIdleEnd TMailIMAP::Idle(int maxSeconds) {
    if (changed_) {
        changed_ = false;
        return TIdleEnd::Changed;
    }
    if (maxSeconds <= 0 || maxSeconds > kMaxIdleSeconds) maxSeconds = kMaxIdleSeconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    const std::string tag = NextTag();
    try {
        WriteLine(tag + " IDLE");
        TImapResponse answer;
        if (!AwaitContinuation(tag, answer)) RaiseRefusal(answer);
        bool over = false;  // the server ended the IDLE itself
        while (!changed_ && !over) {
            if (InputBuffer().Size() == 0) {
                // One blocked read until the server speaks, the renewal is due or the stop
                // shuts the socket down.
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0 || FillInputBuffer(true, static_cast<int>(std::min<int64_t>(left, INT_MAX)), false) < 0)
                    break;
            }
            TImapResponse r = ReadResponse();
            if (r.Type == TImapResponse::TType::Tagged) {
                if (r.Tag != tag) throw EMailIMAPSyntax("answer to a command not sent.");
                if (r.Status != "OK") RaiseRefusal(r);
                over = true;
            } else if (r.Type == TImapResponse::TType::Untagged) {
                TakeUntagged(r);
            }
        }
        if (!over) {
            WriteLine("DONE");
            const TImapResponse done = ReadTagged(tag, {});
            if (done.Status != "OK") RaiseRefusal(done);
        }
    } catch (const EMailProtocolReplyError&) {
        throw;
    } catch (...) {
        AbandonMessage();
        throw;
    }
    const bool changed = changed_;
    changed_ = false;
    return changed ? TIdleEnd::Changed : TIdleEnd::Renew;
}

bool TMailIMAP::Noop() {
    CommandOk(TCommand().Add("NOOP"));
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

}  // namespace tarnwick
