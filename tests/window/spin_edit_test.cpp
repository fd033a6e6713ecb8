// The interval box: typing, reading, clamping on leaving, stepping and the held button.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <vector>

#include "platform/qt/SpinEdit.h"

namespace tarnwick::test {
namespace {

class SpinEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        spin = new TSpinEdit(&window);
        other = new QLineEdit(&window);
        layout->addWidget(spin);
        layout->addWidget(other);
        spin->SetRange(1, 120);
        spin->setMaxLength(3);
        spin->SetValue(5);
        spin->OnBeep = [this] { ++beeps; };
        spin->OnExit = [this] { ++exits; };
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        spin->setFocus();
        spin->selectAll();
    }
    void Type(const char* keys) { QTest::keyClicks(spin, QString::fromLatin1(keys)); }
    void Leave() {
        other->setFocus();
        QApplication::processEvents();
    }

    QWidget window;
    TSpinEdit* spin = nullptr;
    QLineEdit* other = nullptr;
    int beeps = 0;
    int exits = 0;
};

TEST_F(SpinEditTest, TypedValuesReadAsTypedUntilTheFocusLeaves) {
    Type("999");
    EXPECT_EQ(spin->Value(), 999);
    Leave();
    EXPECT_EQ(spin->text(), "120");
    EXPECT_EQ(exits, 1);

    spin->setFocus();
    spin->selectAll();
    Type("0");
    EXPECT_EQ(spin->Value(), 0);
    Leave();
    EXPECT_EQ(spin->text(), "1");

    spin->setFocus();
    spin->selectAll();
    Type("42");
    Leave();
    EXPECT_EQ(spin->text(), "42");
}

TEST_F(SpinEditTest, AFourthCharacterCannotBeTyped) {
    Type("5000");
    EXPECT_EQ(spin->text(), "500");
    Leave();
    EXPECT_EQ(spin->text(), "120");
}

TEST_F(SpinEditTest, LettersAndEnterBeepAndChangeNothing) {
    Type("7");
    Type("a");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(spin->text(), "7");
    EXPECT_EQ(beeps, 2);
    // Signs and the decimal separator are accepted as keys, but such text is not an integer.
    Type("-");
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(spin->text(), "7-");
    EXPECT_EQ(spin->Value(), 1);
}

TEST_F(SpinEditTest, ComposedTextIsFilteredLikeKeys) {
    QInputMethodEvent digits(QString(), {});
    digits.setCommitString(QStringLiteral("12"));
    QApplication::sendEvent(spin, &digits);
    EXPECT_EQ(spin->text(), "12");
    QInputMethodEvent kanji(QString(), {});
    kanji.setCommitString(QString::fromUtf8(u8"五"));
    QApplication::sendEvent(spin, &kanji);
    EXPECT_EQ(spin->text(), "12");
    EXPECT_EQ(beeps, 1);
    // Full-width digits from a Japanese input method are taken as the ASCII ones.
    QInputMethodEvent wide(QString(), {});
    wide.setCommitString(QString::fromUtf8(u8"３"));
    QApplication::sendEvent(spin, &wide);
    EXPECT_EQ(spin->text(), "123");
    EXPECT_EQ(beeps, 1);
}

TEST_F(SpinEditTest, EmptyOrNonIntegerTextReadsAsTheMinimumAndIsLeftAlone) {
    spin->clear();
    EXPECT_EQ(spin->Value(), 1);
    Leave();
    EXPECT_EQ(spin->text(), "");
    spin->setText(QStringLiteral("1.5"));
    EXPECT_EQ(spin->Value(), 1);
}

TEST_F(SpinEditTest, ArrowKeysStepAndClamp) {
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "6");
    QTest::keyClick(spin, Qt::Key_Down);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "4");
    spin->SetValue(120);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "120");
    spin->SetValue(1);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "1");
    spin->setText(QStringLiteral("999"));  // steps from the value read, then clamps
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "120");
    spin->SetValue(-40);
    EXPECT_EQ(spin->text(), "1");
}

TEST_F(SpinEditTest, LosingTheWholeWindowIsNotLeavingTheBox) {
    Type("999");
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(spin, &deactivated);
    EXPECT_EQ(spin->text(), "999");
    EXPECT_EQ(exits, 0);
}

TEST_F(SpinEditTest, HeldButtonRepeatsAfter400ThenEvery100) {
    std::vector<qint64> steps;
    QElapsedTimer clock;
    QObject::connect(spin, &QLineEdit::textChanged, spin, [&] { steps.push_back(clock.elapsed()); });
    TSpinButton* button = spin->Button();
    const QPoint upper(button->width() / 2, 2);
    clock.start();
    QTest::mousePress(button, Qt::LeftButton, {}, upper);
    EXPECT_EQ(steps.size(), 1u);  // the press itself steps at once
    EXPECT_EQ(button->NextRepeatPause(), 400);
    // Held until four steps were made; a busy machine may run the timer late, never early.
    while (steps.size() < 4 && clock.elapsed() < 30000) QTest::qWait(5);
    EXPECT_EQ(button->NextRepeatPause(), 100);
    QTest::mouseRelease(button, Qt::LeftButton, {}, upper);
    EXPECT_EQ(button->NextRepeatPause(), 0);
    const size_t count = steps.size();
    QTest::qWait(250);
    EXPECT_EQ(steps.size(), count);  // nothing after the release
    ASSERT_GE(steps.size(), 4u);
    // A late timer is caught up at its next period, so single gaps may be short on a busy machine;
    // the repeats as a whole are never early.
    // The press steps before its timer starts, so both bounds are measured from it (less 1 ms of
    // clock rounding).
    EXPECT_GE(steps[1] - steps[0], 399);
    EXPECT_GE(steps.back() - steps[0], 399 + 100 * static_cast<qint64>(steps.size() - 2));
    EXPECT_EQ(spin->Value(), 5 + static_cast<int>(steps.size()));

    const int before = spin->Value();
    const QPoint lower(button->width() / 2, button->height() - 2);
    QTest::mouseClick(button, Qt::LeftButton, {}, lower);
    EXPECT_EQ(spin->Value(), before - 1);
}

}  // namespace
}  // namespace tarnwick::test
