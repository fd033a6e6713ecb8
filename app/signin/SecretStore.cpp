#include "app/signin/SecretStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "net/MailAbort.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {

enum class TOp { Read, Write, Remove };

struct TResult {
    QKeychain::Error Error = QKeychain::OtherError;  // also for a call that did not finish in time
    QByteArray Data;
    bool Stopped = false;  // the run was stopped: says nothing about the keyring
};

// What the caller and the job share: the caller may give up (time-out, stop) before the job ends.
struct TShared {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    bool Stopped = false;
    QEventLoop* Loop = nullptr;  // the job's wait while it runs (set and cleared under Mutex)
    TResult Result;

    // Any thread: the run was stopped; the job's wait and the caller's end now.
    void Stop() {
        std::lock_guard lock(Mutex);
        Stopped = true;
        if (Loop) QMetaObject::invokeMethod(Loop, &QEventLoop::quit, Qt::QueuedConnection);
        Done.notify_all();
    }
};

// Runs a job to its end (or the time-out, or a stop) on this thread.
TResult RunJob(const std::string& service, TOp op, const std::string& key, const std::string& data, int timeoutMs,
               TShared& shared) {
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
    {
        std::lock_guard lock(shared.Mutex);
        if (shared.Stopped) {
            delete job;
            TResult stopped;
            stopped.Stopped = true;
            return stopped;
        }
        shared.Loop = &loop;
    }
    job->start();
    if (!done) loop.exec();
    TResult result;
    {
        std::lock_guard lock(shared.Mutex);
        shared.Loop = nullptr;
        result.Stopped = !done && shared.Stopped;
    }
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
// busy or blocked window turns into "no keyring" rather than a hang. A stop of the run (the abort
// of this thread's scope) ends the wait, and the job's wait too, at once.
TResult Call(const std::string& service, TOp op, const std::string& key, const std::string& data, int timeoutMs) {
    auto shared = std::make_shared<TShared>();
    TMailAbort::TListener listener;
    if (TMailAbort* stop = TAbortScope::Current()) listener = stop->Listen([shared] { shared->Stop(); });
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread())
        return RunJob(service, op, key, data, timeoutMs, *shared);
    QMetaObject::invokeMethod(
        app,
        [shared, service, op, key, data, timeoutMs] {
            TResult result = RunJob(service, op, key, data, timeoutMs, *shared);
            std::lock_guard lock(shared->Mutex);
            shared->Result = std::move(result);
            shared->Finished = true;
            shared->Done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared->Mutex);
    if (!shared->Done.wait_for(lock, std::chrono::milliseconds(timeoutMs + 1000),
                               [&] { return shared->Finished || shared->Stopped; }))
        return {};
    if (shared->Finished) return shared->Result;
    TResult result;
    result.Stopped = shared->Stopped;
    return result;
}

// Whether a session bus can be reached without starting one: its address in the environment, or
// the user's bus socket. Without either, D-Bus would launch a bus of its own for the display
// (dbus-x11), which outlives the program and leaves every keyring call waiting.
bool SessionBusThere() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') return false;
    struct stat st {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
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
    if (probe_ == TProbe::pUnknown && !SessionBusThere()) {
        Missing(quiet);
    } else if (probe_ == TProbe::pUnknown) {
        const TResult probe = Call(service_, TOp::Read, "probe", {}, TimeoutMs);
        const QKeychain::Error error = probe.Error;
        if (probe.Stopped) return false;  // asked again, should the program go on
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
