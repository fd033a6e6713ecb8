#include "app/signin/ProviderLookup.h"

#include <QUrl>

#include "app/signin/HttpRequest.h"
#include "message/ShownText.h"
#include "net/MailAbort.h"

namespace tarnwick {

void TProviderLookup::Log(const std::string& line) const {
    if (OnLog) OnLog(line);
}

std::optional<TProviderSettings> TProviderLookup::FromTable(const std::string& domain) {
    if (!tableRead_) {
        tableRead_ = true;
        const std::string path = TablePath.empty() ? ProviderTablePath() : TablePath;
        table_ = TMailProviderTable::Load(path);
        // Not fatal: the providers' own documents are still asked.
        if (!table_) Log("プロバイダの一覧を読めません(" + ShownCp932(path) + ")");
    }
    return table_ ? table_->Find(domain) : std::nullopt;
}

std::optional<TProviderFill> TProviderLookup::Lookup(const std::string& address) {
    const std::string domain = MailDomain(address);
    if (domain.empty()) {
        Log("メールアドレスの形ではありません: " + ShownCp932(address));
        return std::nullopt;
    }
    if (const std::optional<TProviderSettings> provider = FromTable(domain)) {
        Log(domain + " のサーバ設定をプロバイダの一覧から入力しました");
        return FillFor(*provider, address);
    }
    const std::string query =
        "?emailaddress=" + QUrl::toPercentEncoding(QByteArray::fromStdString(address)).toStdString();
    const std::string urls[] = {
        (BaseUrl.empty() ? "https://autoconfig." + domain : BaseUrl) + "/mail/config-v1.1.xml" + query,
        (BaseUrl.empty() ? "https://" + domain : BaseUrl) + "/.well-known/autoconfig/mail/config-v1.1.xml",
    };
    for (const std::string& url : urls) {
        const THttpAnswer answer = Fetch({url, "application/xml, text/xml", std::nullopt, TimeoutMs, {}});
        if (answer.Failure == "Aborted.") return std::nullopt;
        if (!answer.Failure.empty()) {
            Log("自動設定の問い合わせ失敗(" + ShownCp932(url) + ") " +
                (answer.TimedOut ? std::string("応答がありません") : ShownCp932(answer.Failure)));
            continue;
        }
        if (answer.Status != 200) continue;  // no document there
        std::string error;
        if (const std::optional<TProviderSettings> provider = ParseAutoconfig(answer.Body, error)) {
            Log(domain + " のサーバ設定を " + ShownCp932(url) + " から入力しました");
            return FillFor(*provider, address);
        }
        Log("自動設定の文書を読めません(" + ShownCp932(url) + ") " + error);
    }
    Log(domain + " のサーバ設定が見つかりません。サーバ名・ポート番号・暗号化を入力してください");
    return std::nullopt;
}

TProviderLookupTask::TProviderLookupTask(TProviderLookup lookup, std::string address, TDone done)
    : abort_(std::make_unique<TMailAbort>()),
      thread_([this, lookup = std::move(lookup), address = std::move(address), done = std::move(done)]() mutable {
          std::optional<TProviderFill> fill;
          {
              TAbortScope scope(*abort_);
              fill = lookup.Lookup(address);
          }
          if (done) done(fill);
          finished_ = true;
      }) {}

TProviderLookupTask::~TProviderLookupTask() {
    abort_->Abort();
    thread_.join();
}

}  // namespace tarnwick
