// The fields with a form: full-width input folded when a field is left, a bad value framed in red
// with its reason as the tip while it is typed, and the first bad field named by 接続テスト and by
// closing the window.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include "app/settings/Settings.h"
#include "app/window/MainForm.h"
#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"
#include "platform/qt/SpinEdit.h"

namespace tarnwick {

namespace {

// The tip a field had before it was marked, kept to be put back.
constexpr char kOwnTip[] = "tarnwickOwnTip";

void Mark(QWidget* widget, const std::string& problem) {
    const bool marked = widget->property(kOwnTip).isValid();
    if (!problem.empty()) {
        if (!marked) {
            widget->setProperty(kOwnTip, widget->toolTip());
            const char* type = widget->inherits("QComboBox") ? "QComboBox" : "QLineEdit";
            widget->setStyleSheet(QStringLiteral("%1 { border: 1px solid #d00000; }").arg(QLatin1String(type)));
        }
        widget->setToolTip(ToQString(problem));
    } else if (marked) {
        widget->setToolTip(widget->property(kOwnTip).toString());
        widget->setProperty(kOwnTip, QVariant());
        widget->setStyleSheet(QString());
    }
}

}  // namespace

std::vector<Tfrm_Main::TCheckedField> Tfrm_Main::CheckedFields() const {
    // In the window's order, top to bottom.
    return {{TField::Pop3Server, edt_POP3Server, edt_POP3Server},
            {TField::SmtpServer, edt_SMTPServer, edt_SMTPServer},
            {TField::EnvelopeFrom, edt_EnvelopeFrom, edt_EnvelopeFrom},
            {TField::ForwardUser, edt_Adress, edt_Adress},
            {TField::ForwardDomain, cmb_Adress->lineEdit(), cmb_Adress},
            {TField::Interval, edt_WatchInterval, edt_WatchInterval}};
}

void Tfrm_Main::SetUpFieldChecks() {
    for (const TCheckedField& field : CheckedFields()) {
        QObject::connect(field.Edit, &QLineEdit::textChanged, this, [this, field] { CheckField(field, false); });
        QObject::connect(field.Edit, &QLineEdit::editingFinished, this, [this, field] { CheckField(field, true); });
    }
}

std::string Tfrm_Main::CheckField(const TCheckedField& field, bool fold) {
    const std::string typed = FromQString(field.Edit->text());
    const std::string folded = FoldInput(typed);
    // The interval box puts its own value in when it is left.
    if (fold && folded != typed && field.Field != TField::Interval) field.Edit->setText(ToQString(folded));
    const std::string problem = FieldProblem(field.Field, folded);
    Mark(field.Marked, problem);
    return problem;
}

std::string Tfrm_Main::FirstBadField() {
    std::string first;
    for (const TCheckedField& field : CheckedFields()) {
        const std::string problem = CheckField(field, true);
        // The interval box corrects its own value when watching starts: marked, never in the way.
        if (field.Field == TField::Interval) continue;
        if (first.empty() && !problem.empty()) {
            first = problem;
            field.Edit->setFocus();
        }
    }
    return first;
}

bool Tfrm_Main::TestRefusedForFields() {
    const std::string problem = FirstBadField();
    if (problem.empty()) return false;
    lbl_TestResult->setText(ToQString(problem));
    lbl_TestResult->setToolTip(ToQString(problem));
    return true;
}

bool Tfrm_Main::CloseHeldForFields() {
    const std::string problem = FirstBadField();
    // Said once for each problem: closing again goes on with the fields as they are.
    if (problem.empty()) closeWarned_.clear();
    if (problem.empty() || problem == closeWarned_) return false;
    closeWarned_ = problem;
    ShowMessageBox(QMessageBox::Warning, "Tarnwick", problem + "\n(もう一度閉じると、このまま閉じます)");
    return true;
}

}  // namespace tarnwick
