#include "app/signin/OAuthTokens.h"

#include "message/ShownText.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

#include <chrono>

#include "app/signin/HttpRequest.h"

namespace tarnwick {

namespace {

constexpr int64_t kRefreshMargin = 5 * 60;

// application/x-www-form-urlencoded; every byte outside the unreserved set is escaped (a "+"
// in a token would otherwise become a blank).
std::string Form(std::initializer_list<std::pair<const char*, std::string>> fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
        if (value.empty()) continue;
        if (!out.empty()) out += '&';
        out += name;
        out += '=';
        out += QUrl::toPercentEncoding(QByteArray::fromStdString(value)).toStdString();
    }
    return out;
}

struct TJsonAnswer {
    int Status = 0;
    QJsonObject Json;
    std::string Failure;  // transport failure, empty when an answer came
};

// One POST of a form, its answer read as a JSON object.
TJsonAnswer Post(const std::string& url, const std::string& form, int timeoutMs, const std::string& caFile) {
    const THttpAnswer http = Fetch({url, "application/json", form, timeoutMs, caFile});
    TJsonAnswer out{http.Status, {}, http.Failure};
    if (out.Failure.empty()) out.Json = QJsonDocument::fromJson(QByteArray::fromStdString(http.Body)).object();
    return out;
}

// A provider's text for the log and the terminal.
std::string Shown(const QJsonValue& value) { return ShownCp932(value.toString().toStdString()); }

// A lifetime in seconds as the provider gave it (a number, or a string of one), kept within a day:
// a hostile or broken value must not overflow, nor make a token look good for ever.
int64_t Seconds(const QJsonValue& value, int64_t fallback) {
    double seconds = value.isString() ? value.toString().toDouble() : value.toDouble(static_cast<double>(fallback));
    if (!(seconds >= 0)) seconds = 0;  // NaN too
    return static_cast<int64_t>(std::min(seconds, 86400.0));
}

TOAuthTokens ToTokens(const TJsonAnswer& http) {
    TOAuthTokens answer;
    if (!http.Failure.empty()) {
        answer.Error = http.Failure;
        return answer;
    }
    if (http.Status == 200) {
        answer.AccessToken = http.Json.value("access_token").toString().toStdString();
        answer.RefreshToken = http.Json.value("refresh_token").toString().toStdString();
        answer.ExpiresAt = UnixNow() + Seconds(http.Json.value("expires_in"), 3600);
        if (answer.AccessToken.empty()) answer.Error = "no access_token";
        return answer;
    }
    answer.Error = Shown(http.Json.value("error"));
    if (answer.Error.empty()) answer.Error = "HTTP " + std::to_string(http.Status);
    return answer;
}

// Waits ms without blocking the events of this thread.
void Sleep(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TOAuthTokenClient::TOAuthTokenClient(TOAuthProvider provider) : provider_(std::move(provider)) {}

TOAuthTokens TOAuthTokenClient::PostToken(const std::string& form) {
    return ToTokens(Post(provider_.TokenUrl, form, TimeoutMs, provider_.CAFile));
}

TOAuthTokens TOAuthTokenClient::ExchangeCode(const std::string& code, const std::string& verifier,
                                             const std::string& redirectUri) {
    return PostToken(Form({{"grant_type", "authorization_code"}, {"code", code}, {"redirect_uri", redirectUri},
                           {"client_id", provider_.ClientId}, {"code_verifier", verifier}}));
}

TOAuthTokens TOAuthTokenClient::Refresh(const std::string& refreshToken) {
    return PostToken(Form({{"grant_type", "refresh_token"}, {"refresh_token", refreshToken},
                           {"client_id", provider_.ClientId},
                           {"scope", provider_.ScopeOnRefresh ? provider_.Scopes : std::string()}}));
}

TDeviceAuthorization TOAuthTokenClient::StartDevice() {
    TDeviceAuthorization out;
    if (provider_.DeviceUrl.empty()) {
        out.Error = "device flow not offered";
        return out;
    }
    const TJsonAnswer http =
        Post(provider_.DeviceUrl, Form({{"client_id", provider_.ClientId}, {"scope", provider_.Scopes}}), TimeoutMs,
             provider_.CAFile);
    if (!http.Failure.empty() || http.Status != 200) {
        out.Error = http.Failure.empty() ? Shown(http.Json.value("error")) : http.Failure;
        if (out.Error.empty()) out.Error = "HTTP " + std::to_string(http.Status);
        return out;
    }
    out.DeviceCode = http.Json.value("device_code").toString().toStdString();
    // Shown to the user as they came, but never as terminal controls.
    out.UserCode = Shown(http.Json.value("user_code"));
    out.VerificationUri = Shown(http.Json.value("verification_uri"));
    if (out.VerificationUri.empty()) out.VerificationUri = Shown(http.Json.value("verification_url"));
    out.ExpiresIn = Seconds(http.Json.value("expires_in"), 900);
    out.Interval = std::clamp(http.Json.value("interval").toInt(5), 1, 60);
    out.Ok = !out.DeviceCode.empty() && !out.UserCode.empty() && !out.VerificationUri.empty();
    if (!out.Ok) out.Error = "incomplete device authorization";
    return out;
}

TOAuthTokens TOAuthTokenClient::PollDevice(const std::string& deviceCode) {
    return PostToken(Form({{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                           {"device_code", deviceCode}, {"client_id", provider_.ClientId}}));
}

void TOAuthTokens::Renew(const TOAuthTokens& answer) {
    AccessToken = answer.AccessToken;
    if (!answer.RefreshToken.empty()) RefreshToken = answer.RefreshToken;
    ExpiresAt = answer.ExpiresAt;
    NeedsSignIn = false;
    Error.clear();
}

TRefreshResult RefreshIfExpiring(TOAuthTokens& tokens, TOAuthTokenClient& client, int64_t now,
                                 const std::function<void(const TOAuthTokens&)>& save) {
    tokens.Error.clear();
    if (tokens.NeedsSignIn || tokens.RefreshToken.empty()) {
        if (tokens.RefreshToken.empty()) tokens.NeedsSignIn = true;
        return TRefreshResult::rrNeedsSignIn;
    }
    if (!tokens.AccessToken.empty() && tokens.ExpiresAt - now > kRefreshMargin) return TRefreshResult::rrFresh;
    const TOAuthTokens answer = client.Refresh(tokens.RefreshToken);
    if (!answer.Ok()) {
        if (answer.Error == "invalid_grant") {
            tokens.AccessToken.clear();
            tokens.NeedsSignIn = true;
            if (save) save(tokens);
            return TRefreshResult::rrNeedsSignIn;
        }
        if (!tokens.AccessToken.empty() && tokens.ExpiresAt - now >= 60) return TRefreshResult::rrKept;
        tokens.Error = answer.Error;
        return TRefreshResult::rrFailed;
    }
    tokens.Renew(answer);
    if (save) save(tokens);
    return TRefreshResult::rrRefreshed;
}

TOAuthTokens RunDeviceFlow(TOAuthTokenClient& client,
                           const std::function<void(const std::string& uri, const std::string& userCode)>& show,
                           const std::function<bool()>& cancelled) {
    TOAuthTokens answer;
    const TDeviceAuthorization device = client.StartDevice();
    if (!device.Ok) {
        answer.Error = device.Error;
        return answer;
    }
    show(device.VerificationUri, device.UserCode);
    int interval = device.Interval;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(device.ExpiresIn);
    while (std::chrono::steady_clock::now() < deadline) {
        for (int waited = 0; waited < interval * 1000; waited += 100) {
            if (cancelled && cancelled()) {
                answer.Error = "cancelled";
                return answer;
            }
            Sleep(100);
        }
        answer = client.PollDevice(device.DeviceCode);
        if (answer.Ok()) return answer;
        if (answer.Error == "slow_down") interval += 5;
        else if (answer.Error != "authorization_pending") return answer;
    }
    answer = TOAuthTokens();
    answer.Error = "expired_token";
    return answer;
}

}  // namespace tarnwick
