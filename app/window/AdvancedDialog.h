#pragma once
// The 詳細設定 dialog: the size limit, what becomes of a message above it, the rules for mail
// that is not forwarded, and 今すぐ再送 for messages waiting after a refusal.
#include <QDialog>
#include <functional>

#include "app/settings/Settings.h"

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace tarnwick {

class TEdit;

class Tdlg_Advanced : public QDialog {
public:
    explicit Tdlg_Advanced(QWidget* parent = nullptr);

    // The fields from a filter and back.
    void SetFilter(const TForwardFilter& filter);
    TForwardFilter Filter() const;

    // 今すぐ再送: every refused message is offered again in the next cycle.
    std::function<void()> OnResendNow;

    QSpinBox* edt_MaxSize;
    QCheckBox* chk_SizeNotice;
    // Two columns: header name, text.
    QTreeWidget* lsv_Rules;
    TEdit* edt_RuleHeader;
    TEdit* edt_RuleText;
    QPushButton* btn_AddRule;
    QPushButton* btn_RemoveRule;
    QPushButton* btn_ResendNow;
    QLabel* lbl_Resend;
    QDialogButtonBox* btn_Box;

    void btn_AddRuleClick();
    void btn_RemoveRuleClick();
    void btn_ResendNowClick();

private:
    void AddRuleRow(const TForwardRule& rule);
    void UpdateButtons();
};

}  // namespace tarnwick
