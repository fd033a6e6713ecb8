// テスト送信 of the settings window: the test message goes as the connection test runs, on the
// worker thread, and its result is shown where the test's is.
#include <QLabel>
#include <QPushButton>
#include <exception>
#include <memory>

#include "app/cycle/Cycle.h"
#include "app/window/CycleWorker.h"
#include "app/window/MainForm.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

void Tfrm_Main::btn_SendTestClick() {
    if (worker_->Busy() || ending_ != TEnding::None) return;
    const TSettings settings = SettingsFromFields();
    lbl_TestResult->setText(ToQString("送信中…"));
    lbl_TestResult->setToolTip(QString());
    auto report = std::make_shared<TConnectionReport>();
    worker_->Start(
        [send = hooks_.SendTest, settings, report] {
            try {
                if (send) *report = send(settings);
            } catch (const std::exception& e) {
                report->Summary = e.what();
            }
        },
        [this, report] {
            const QString summary = ToQString(detail::OneLine(report->Summary));
            lbl_TestResult->setText(summary);
            lbl_TestResult->setToolTip(summary);
            UpdateTestButton();
            // 終了 or a cycle asked for meanwhile waited for the send.
            if (ending_ == TEnding::Waiting) StartLastCycle();
            else if (ending_ == TEnding::Aborting) FinishEnd();
            else if (cycleWanted_ && background_ != TBackground::None) ForwardNewMail(Settings);
        });
    UpdateTestButton();
}

}  // namespace tarnwick
