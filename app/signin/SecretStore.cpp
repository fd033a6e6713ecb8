#include "app/signin/SecretStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

enum class TOp { Read, Write, Remove };

struct TResult {
    QKeychain::Error Error = QKeychain::OtherError;  // also for a call that did not finish in time
    QByteArray Data;
};

// Runs a job to its end (or the time-out) on this thread.
TResult RunJob(const std::string& service, TOp op, const std::string& key, const std::string& data, int timeoutMs) {
    QKeychain::Job* job = nullptr;
    const QString name = QString::fromStdString(service);
    if (op == TOp::Read) job = new QKeychain::ReadPasswordJob(name);
    else if (op == TOp::Write) job = new QKeychain::WritePasswordJob(name);
    else job = new QKeychain::DeletePasswordJob(name);
    job->setKey(ToQString(key));
    if (op == TOp::Write) static_cast<QKeychain::WritePasswordJob*>(job)->setBinaryData(QByteArray::fromStdString(data));
    // The keyring never gets a plain-text stand-in: without one, the caller keeps its file.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    QEventLoop loop;
    bool done = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!done) loop.exec();
    TResult result;
    if (done) {
        result.Error = job->error();
        if (op == TOp::Read && result.Error == QKeychain::NoError)
            result.Data = static_cast<QKeychain::ReadPasswordJob*>(job)->binaryData();
        job->deleteLater();
    } else {
        job->setAutoDelete(true);  // it goes once it ends
    }
    return result;
}

// The keyring's D-Bus calls answer on the application's thread: a call from another thread (the
// window's cycle) is handed over there and waited for, never longer than the time-out, so a
// busy or blocked window turns into "no keyring" rather than a hang.
TResult Call(const std::string& service, TOp op, const std::string& key, const std::string& data, int timeoutMs) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) return RunJob(service, op, key, data, timeoutMs);
    struct TShared {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Finished = false;
        TResult Result;
    };
    auto shared = std::make_shared<TShared>();
    QMetaObject::invokeMethod(
        app,
        [shared, service, op, key, data, timeoutMs] {
            TResult result = RunJob(service, op, key, data, timeoutMs);
            std::lock_guard lock(shared->Mutex);
            shared->Result = std::move(result);
            shared->Finished = true;
            shared->Done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared->Mutex);
    if (!shared->Done.wait_for(lock, std::chrono::milliseconds(timeoutMs + 1000), [&] { return shared->Finished; }))
        return {};
    return shared->Result;
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
        const QKeychain::Error error = Call(service_, TOp::Read, "probe", {}, TimeoutMs).Error;
        if (error == QKeychain::NoError || error == QKeychain::EntryNotFound) probe_ = TProbe::pYes;
        else Missing(quiet);
    } else if (probe_ == TProbe::pNo) {
        Missing(quiet);
    }
    return probe_ == TProbe::pYes;
}

bool TSecretStore::Write(const std::string& key, const std::string& secret) {
    if (!Available()) return false;
    return Call(service_, TOp::Write, key, secret, TimeoutMs).Error == QKeychain::NoError;
}

std::optional<std::string> TSecretStore::Read(const std::string& key) {
    if (!Available()) return std::nullopt;
    const TResult result = Call(service_, TOp::Read, key, {}, TimeoutMs);
    if (result.Error != QKeychain::NoError) return std::nullopt;
    return result.Data.toStdString();
}

bool TSecretStore::Remove(const std::string& key) {
    if (!Available()) return false;
    const QKeychain::Error error = Call(service_, TOp::Remove, key, {}, TimeoutMs).Error;
    return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
}

}  // namespace tarnwick
