#include "app/window/AdvancedDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/qt/Edit.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

Tdlg_Advanced::Tdlg_Advanced(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ToQString("詳細設定"));
    auto* layout = new QVBoxLayout(this);

    auto* size = new QHBoxLayout;
    size->addWidget(new QLabel(ToQString("最大サイズ"), this));
    edt_MaxSize = new QSpinBox(this);
    edt_MaxSize->setRange(0, TForwardFilter::MaxSizeKBLimit);
    edt_MaxSize->setSuffix(QStringLiteral(" KB"));
    edt_MaxSize->setSpecialValueText(ToQString("制限なし"));
    size->addWidget(edt_MaxSize);
    size->addWidget(new QLabel(ToQString("(0 = 制限なし)"), this));
    size->addStretch();
    layout->addLayout(size);

    chk_SizeNotice = new QCheckBox(ToQString("大きいメールは通知だけ送る"), this);
    chk_SizeNotice->setChecked(true);
    layout->addWidget(chk_SizeNotice);

    auto* group = new QGroupBox(ToQString("転送しない条件"), this);
    auto* rules = new QGridLayout(group);
    lsv_Rules = new QTreeWidget(group);
    lsv_Rules->setColumnCount(2);
    lsv_Rules->setHeaderLabels({ToQString("ヘッダ名"), ToQString("含む文字列")});
    lsv_Rules->setRootIsDecorated(false);
    lsv_Rules->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    lsv_Rules->setMinimumHeight(100);
    rules->addWidget(lsv_Rules, 0, 0, 1, 3);
    edt_RuleHeader = new TEdit(group);
    edt_RuleHeader->setPlaceholderText(QStringLiteral("X-Spam-Flag"));
    edt_RuleText = new TEdit(group);
    edt_RuleText->setPlaceholderText(QStringLiteral("YES"));
    btn_AddRule = new QPushButton(ToQString("追加"), group);
    rules->addWidget(edt_RuleHeader, 1, 0);
    rules->addWidget(edt_RuleText, 1, 1);
    rules->addWidget(btn_AddRule, 1, 2);
    btn_RemoveRule = new QPushButton(ToQString("削除"), group);
    rules->addWidget(btn_RemoveRule, 2, 2);
    rules->addWidget(new QLabel(ToQString("ヘッダにこの文字列を含むメールは転送しません (大文字小文字は区別しません)"), group),
                     2, 0, 1, 2);
    layout->addWidget(group);

    auto* resend = new QHBoxLayout;
    btn_ResendNow = new QPushButton(ToQString("今すぐ再送"), this);
    lbl_Resend = new QLabel(this);
    resend->addWidget(btn_ResendNow);
    resend->addWidget(lbl_Resend, 1);
    layout->addLayout(resend);

    btn_Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(btn_Box);

    connect(btn_Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(btn_Box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(btn_AddRule, &QPushButton::clicked, this, [this] { btn_AddRuleClick(); });
    connect(btn_RemoveRule, &QPushButton::clicked, this, [this] { btn_RemoveRuleClick(); });
    connect(btn_ResendNow, &QPushButton::clicked, this, [this] { btn_ResendNowClick(); });
    connect(edt_RuleHeader, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
    connect(edt_RuleText, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
    connect(edt_RuleText, &QLineEdit::returnPressed, this, [this] {
        if (btn_AddRule->isEnabled()) btn_AddRuleClick();
    });
    connect(lsv_Rules, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    UpdateButtons();
}

void Tdlg_Advanced::SetFilter(const TForwardFilter& filter) {
    edt_MaxSize->setValue(filter.MaxSizeKB);
    chk_SizeNotice->setChecked(filter.SizeNotice);
    lsv_Rules->clear();
    for (const TForwardRule& rule : filter.Rules.Items) AddRuleRow(rule);
    UpdateButtons();
}

TForwardFilter Tdlg_Advanced::Filter() const {
    TForwardFilter filter;
    filter.MaxSizeKB = edt_MaxSize->value();
    filter.SizeNotice = chk_SizeNotice->isChecked();
    for (int i = 0; i < lsv_Rules->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lsv_Rules->topLevelItem(i);
        filter.Rules.Items.push_back({FromQString(item->text(0)), FromQString(item->text(1))});
    }
    return filter;
}

void Tdlg_Advanced::AddRuleRow(const TForwardRule& rule) {
    new QTreeWidgetItem(lsv_Rules, {ToQString(rule.Header), ToQString(rule.Text)});
}

void Tdlg_Advanced::btn_AddRuleClick() {
    // The rule goes through its text form, so only a rule the settings file can hold is added.
    const auto rule = TForwardRule::Make(FromQString(edt_RuleHeader->text()), FromQString(edt_RuleText->text()));
    if (!rule) return;
    AddRuleRow(*rule);
    edt_RuleHeader->clear();
    edt_RuleText->clear();
    edt_RuleHeader->setFocus();
}

void Tdlg_Advanced::btn_RemoveRuleClick() {
    for (QTreeWidgetItem* item : lsv_Rules->selectedItems()) delete item;
    UpdateButtons();
}

void Tdlg_Advanced::btn_ResendNowClick() {
    if (OnResendNow) OnResendNow();
    lbl_Resend->setText(ToQString("次の監視で送り直します"));
}

void Tdlg_Advanced::UpdateButtons() {
    // No more rules than the settings file keeps.
    btn_AddRule->setEnabled(
        lsv_Rules->topLevelItemCount() < TForwardFilter::MaxRules &&
        TForwardRule::Make(FromQString(edt_RuleHeader->text()), FromQString(edt_RuleText->text())).has_value());
    btn_RemoveRule->setEnabled(!lsv_Rules->selectedItems().isEmpty());
}

}  // namespace tarnwick
