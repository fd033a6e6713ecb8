#pragma once
// A main window with a stand-in forwarding cycle, a test notification area and a private folder for
// its settings file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/settings/AppPaths.h"
#include "app/window/MainForm.h"
#include "window/FakeShell.h"
#include "platform/Exception.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "support/TempDir.h"
#include "platform/qt/SpinEdit.h"
#include "tray/TrayIcon.h"

namespace tarnwick::test {

struct TCycleCall {
    TServerSettings settings;
    std::string address;
};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<Tfrm_Main>([this](TForwardingCycle::TAddLog addLog) {
            Tfrm_Main::TCycleHooks hooks;
            // Runs on the worker thread; a test may hold it until it lets go or aborts.
            hooks.Run = [this, addLog](const TSettings& settings) {
                std::unique_lock<std::mutex> lock(mutex);
                cycles.push_back({settings.Servers, settings.ForwardAddress()});
                addLog("cycle");
                released.wait(lock, [this] { return !hold || aborted; });
                if (aborted) throw Exception("Connection Closed Gracefully.");
                if (!cycleError.empty()) throw Exception(cycleError);
                return cycleResult;
            };
            hooks.Test = [this, addLog](const TServerSettings& settings) {
                std::lock_guard<std::mutex> lock(mutex);
                tests.push_back(settings);
                addLog("test");
                return testReport;
            };
            hooks.Abort = [this] {
                std::lock_guard<std::mutex> lock(mutex);
                aborted = true;
                released.notify_all();
            };
            // The IMAP watch: a cycle, then a wait until a wake, a stop or an abort.
            hooks.Watch = [this, addLog](const TSettings&, const std::function<bool()>& keepGoing,
                                         const Tfrm_Main::TCycleHooks::TEach& each) {
                while (keepGoing()) {
                    addLog("watch cycle");
                    each(cycleResult);
                    std::unique_lock<std::mutex> lock(mutex);
                    ++watchCycles;
                    while (keepGoing() && !woken && !aborted) released.wait_for(lock, std::chrono::milliseconds(10));
                    woken = false;
                    if (aborted) return;
                }
            };
            hooks.Wake = [this] {
                std::lock_guard<std::mutex> lock(mutex);
                woken = true;
                released.notify_all();
            };
            return hooks;
        });
        // The settings file lives beside "the executable": here, in the private folder.
        ExePath = folder + "/";
        ExeName = "tarnwick";
        form->MessageBoxHook = [this](const std::string& caption, const std::string& text) {
            boxes.push_back(caption + "|" + text);
        };
    }
    void TearDown() override {
        Release();
        form.reset();
    }

    std::string IniPath() const { return folder + "/tarnwick.ini"; }
    void WriteIni(const std::string& text) const {
        std::ofstream out(IniPath(), std::ios::binary);
        out << text;
    }
    std::string ReadIni() const {
        std::ifstream in(IniPath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Shows the window as the program does and waits until it has the focus.
    void ShowForm() {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    // Cycles the worker runs from now on wait until released.
    void Hold() {
        std::lock_guard<std::mutex> lock(mutex);
        hold = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        hold = false;
        released.notify_all();
    }
    void SetCycleError(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        cycleError = text;
    }
    size_t CycleCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return cycles.size();
    }
    // Waits until the worker has nothing left to do and its reports have been shown.
    void WaitIdle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form->WorkerBusy(); }, 20000));
        QApplication::processEvents();
    }
    void WaitEnded() { ASSERT_TRUE(QTest::qWaitFor([this] { return form->Ended(); }, 20000)); }
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> lines;
        for (int i = 0; i < form->lsb_Log->count(); ++i) {
            const std::string line = FromQString(form->lsb_Log->item(i)->text());
            lines.push_back(line.size() > 9 ? line.substr(9) : line);
        }
        return lines;
    }
    int ClientHeight() {
        QApplication::processEvents();
        return form->height();
    }

    TFakeShell shell;
    ScratchFolder scratch{"form"};
    std::string folder = scratch.Path();
    std::unique_ptr<Tfrm_Main> form;
    std::mutex mutex;
    std::condition_variable released;
    bool hold = false;
    bool aborted = false;
    bool woken = false;
    int watchCycles = 0;
    std::vector<TCycleCall> cycles;
    std::string cycleError;
    TCycleReport cycleResult;
    std::vector<TServerSettings> tests;
    TConnectionReport testReport;
    std::vector<std::string> boxes;
};

}  // namespace tarnwick::test
