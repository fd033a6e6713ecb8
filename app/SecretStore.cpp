#include "app/SecretStore.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

// Runs a job to its end (or the time-out) and returns its error; OtherError on time-out.
QKeychain::Error Run(QKeychain::Job& job, int timeoutMs) {
    QEventLoop loop;
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    job.start();
    if (!done) loop.exec();
    return done ? job.error() : QKeychain::OtherError;
}

// A job that did not finish may still call back: it lives until then.
template <class Job>
Job* NewJob(const std::string& service, const std::string& key) {
    auto* job = new Job(QString::fromStdString(service));
    job->setKey(ToQString(key));
    return job;
}

template <class Job>
void Release(Job* job, QKeychain::Error error) {
    if (error == QKeychain::OtherError && job->error() == QKeychain::NoError) job->setAutoDelete(true);
    else job->deleteLater();
}

}  // namespace

TSecretStore::TSecretStore(std::string service) : service_(std::move(service)) {}

void TSecretStore::Missing(bool quiet) {
    probe_ = TProbe::pNo;
    if (quiet) return;
    if (!told_ && OnLog) OnLog("キーリングが使えないため、パスワードとトークンは設定ファイルに保存します");
    told_ = true;
}

bool TSecretStore::Available(bool quiet) {
    if (probe_ == TProbe::pUnknown) {
        auto* job = NewJob<QKeychain::ReadPasswordJob>(service_, "probe");
        const QKeychain::Error error = Run(*job, TimeoutMs);
        Release(job, error);
        if (error == QKeychain::NoError || error == QKeychain::EntryNotFound) probe_ = TProbe::pYes;
        else Missing(quiet);
    } else if (probe_ == TProbe::pNo) {
        Missing(quiet);
    }
    return probe_ == TProbe::pYes;
}

bool TSecretStore::Write(const std::string& key, const std::string& secret) {
    if (!Available()) return false;
    auto* job = NewJob<QKeychain::WritePasswordJob>(service_, key);
    job->setBinaryData(QByteArray::fromStdString(secret));
    const QKeychain::Error error = Run(*job, TimeoutMs);
    Release(job, error);
    return error == QKeychain::NoError;
}

std::optional<std::string> TSecretStore::Read(const std::string& key) {
    if (!Available()) return std::nullopt;
    auto* job = NewJob<QKeychain::ReadPasswordJob>(service_, key);
    const QKeychain::Error error = Run(*job, TimeoutMs);
    std::optional<std::string> out;
    if (error == QKeychain::NoError) out = job->binaryData().toStdString();
    Release(job, error);
    return out;
}

bool TSecretStore::Remove(const std::string& key) {
    if (!Available()) return false;
    auto* job = NewJob<QKeychain::DeletePasswordJob>(service_, key);
    const QKeychain::Error error = Run(*job, TimeoutMs);
    Release(job, error);
    return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
}

}  // namespace tarnwick
