#pragma once
// A main window with a stand-in forwarding cycle, a test notification area and a private folder for
// its settings file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/MainForm.h"
#include "gui/FakeShell.h"
#include "platform/Exception.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
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
        std::string dir = "/tmp/tarnwick-form-XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        folder = dir;
        form = std::make_unique<Tfrm_Main>([this](TForwardingCycle::TAddLog addLog) {
            return [this, addLog](const TServerSettings& settings, const std::string& address) {
                cycles.push_back({settings, address});
                addLog("cycle");
                if (!cycleError.empty()) throw Exception(cycleError);
            };
        });
        // The settings file lives beside "the executable": here, in the private folder.
        ExePath = folder + "/";
        ExeName = "tarnwick";
        form->MessageBoxHook = [this](const std::string& caption, const std::string& text) {
            boxes.push_back(caption + "|" + text);
        };
    }
    void TearDown() override {
        form.reset();
        if (std::system(("rm -rf '" + folder + "'").c_str()) != 0) {
        }
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
    std::string folder;
    std::unique_ptr<Tfrm_Main> form;
    std::vector<TCycleCall> cycles;
    std::string cycleError;
    std::vector<std::string> boxes;
};

}  // namespace tarnwick::test
