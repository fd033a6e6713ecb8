#include "app/settings/FieldChecks.h"

#include <QString>
#include <cctype>
#include <cstring>

#include "app/settings/ServerEndpoint.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

bool IsAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Labels of letters, digits, '-' and '_' joined by dots (one dot may end it); 253 at most.
bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > 254) return false;
    size_t start = 0;
    while (start < host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string::npos) dot = host.size();
        const size_t length = dot - start;
        if (length == 0 || length > 63) return false;
        for (size_t i = start; i < dot; ++i)
            if (!IsAsciiAlnum(host[i]) && host[i] != '-' && host[i] != '_') return false;
        if (host[start] == '-' || host[dot - 1] == '-') return false;
        start = dot + 1;
    }
    return true;
}

// Hex digits, colons and dots (an IPv4 tail), with at least two colons; a zone after '%'.
bool IsIPv6(const std::string& text) {
    const std::string address = text.substr(0, text.find('%'));
    int colons = 0;
    for (char c : address) {
        if (c == ':') ++colons;
        else if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '.') return false;
    }
    return colons >= 2;
}

// The user part of an address: anything printable but the characters that end or split one.
bool IsLocalPart(const std::string& user) {
    if (user.empty() || user.size() > 64) return false;
    for (char c : user) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || std::strchr("@<>()[]\\,;:\"", c) != nullptr) return false;
    }
    return true;
}

bool IsMailDomain(const std::string& domain) {
    if (domain.size() > 2 && domain.front() == '[' && domain.back() == ']')
        return IsIPv6(domain.substr(1, domain.size() - 2)) || IsHostName(domain.substr(1, domain.size() - 2));
    return IsHostName(domain);
}

std::string ServerProblem(TField field, const std::string& text) {
    const std::string caption = FieldCaption(field);
    const TServerEndpoint endpoint = ParseServerText(text, 0);
    const bool bareV6 = endpoint.Host == text && IsIPv6(text);
    const bool bracketed = !text.empty() && text.front() == '[';
    // The parser keeps the whole text as the host when the part after the colon is no port.
    const bool portTyped = bracketed ? text.find("]:") != std::string::npos : text.find(':') != std::string::npos;
    if (!bareV6 && endpoint.Host == text && portTyped)
        return caption + "のポート番号が正しくありません(1～65535、例: " +
               (field == TField::Pop3Server ? "pop.example.jp:995" : "smtp.example.jp:587") + ")";
    const bool good = bracketed || bareV6 ? IsIPv6(endpoint.Host) : IsHostName(endpoint.Host);
    if (!good)
        return caption + "の形式が正しくありません(例: " +
               (field == TField::Pop3Server ? "pop.example.jp" : "smtp.example.jp") + ")";
    return {};
}

}  // namespace

std::string FoldInput(const std::string& cp932) {
    const QString folded = QString::fromStdString(Cp932ToUtf8(cp932)).normalized(QString::NormalizationForm_KC);
    return Trim(Utf8ToCp932(folded.toStdString()));
}

const char* FieldCaption(TField field) {
    switch (field) {
        case TField::Pop3Server: return "POP3サーバアドレス";
        case TField::SmtpServer: return "SMTPサーバアドレス";
        case TField::ForwardUser:
        case TField::ForwardDomain: return "転送先メールアドレス";
        case TField::EnvelopeFrom: return "送信者アドレス";
        case TField::Interval: return "監視間隔";
    }
    return "";
}

std::string FieldProblem(TField field, const std::string& value) {
    if (value.empty()) return {};
    const std::string caption = FieldCaption(field);
    switch (field) {
        case TField::Pop3Server:
        case TField::SmtpServer: return ServerProblem(field, value);
        case TField::ForwardUser:
            if (IsLocalPart(value)) return {};
            return caption + "の「@」の前に、「@」や空白、記号( ) < > [ ] , ; : \\ \" は使えません";
        case TField::ForwardDomain:
            if (IsMailDomain(value)) return {};
            return caption + "の「@」の後はドメイン名にしてください(例: docomo.ne.jp)";
        case TField::EnvelopeFrom: {
            const size_t at = value.rfind('@');
            if (at != std::string::npos && IsLocalPart(value.substr(0, at)) && IsMailDomain(value.substr(at + 1)))
                return {};
            return caption + "はメールアドレスにしてください(例: taro@example.jp)";
        }
        case TField::Interval: {
            int minutes = 0;
            for (char c : value) {
                if (c < '0' || c > '9' || minutes > kMaxInterval) return caption + "は数字で入力してください";
                minutes = minutes * 10 + (c - '0');
            }
            if (minutes >= kMinInterval && minutes <= kMaxInterval) return {};
            return caption + "は" + std::to_string(kMinInterval) + "～" + std::to_string(kMaxInterval) + "分です";
        }
    }
    return {};
}

TFieldCheck CheckForwardAddress(const TSettings& settings) {
    for (auto [field, value] : {std::pair{TField::ForwardUser, &settings.MailUser},
                                std::pair{TField::ForwardDomain, &settings.MailDomain}})
        if (std::string problem = FieldProblem(field, *value); !problem.empty()) return {field, problem};
    return {};
}

}  // namespace tarnwick
