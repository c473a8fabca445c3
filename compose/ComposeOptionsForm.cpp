#include "compose/ComposeOptionsForm.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

namespace lumopet {

ComposeOptionsForm::ComposeOptionsForm(WindowDirectory& windows, QWidget* parent)
    : ComposeSettingsWindow(windows, QStringLiteral("送信の設定"), 5400, 3450, parent) {
    auto box = [this](const QString& text, QGroupBox* frame, int top) {
        auto* made = new QCheckBox(text, frame);
        made->move(place(180, top, 0, 0).topLeft());
        made->adjustSize();
        return made;
    };
    SendFrame = new QGroupBox(QStringLiteral("送信"), this);
    SendFrame->setGeometry(place(120, 60, 5160, 1560));
    ConfirmCheck = box(QStringLiteral("送信前に宛先を確認する"), SendFrame, 360);
    WidenKanaCheck = box(QStringLiteral("半角カナを全角にして送信する"), SendFrame, 750);
    WrapCheck = box(QStringLiteral("72桁を超える行を折り返して送信する"), SendFrame, 1140);

    ReplyFrame = new QGroupBox(QStringLiteral("返信"), this);
    ReplyFrame->setGeometry(place(120, 1710, 5160, 1170));
    QuoteCheck = box(QStringLiteral("返信時に元のメールを引用する"), ReplyFrame, 360);
    KeepRepliesCheck = box(QStringLiteral("返信を送信履歴に残す"), ReplyFrame, 750);

    OkCommand = addButtons(QStringLiteral("OK"), 2970);
    connect(OkCommand, &QPushButton::clicked, this, &ComposeOptionsForm::OkCommand_Click);
    ShowOptions(ComposeOptions{});
}

void ComposeOptionsForm::Form_Load() {
    showStoredOptions([this](const ComposeOptions& options) { ShowOptions(options); });
}

void ComposeOptionsForm::ShowOptions(const ComposeOptions& options) {
    ConfirmCheck->setChecked(options.ConfirmRecipients);
    WidenKanaCheck->setChecked(options.WidenKana);
    WrapCheck->setChecked(options.WrapLines);
    QuoteCheck->setChecked(options.QuoteOnReply);
    KeepRepliesCheck->setChecked(options.KeepReplies);
}

ComposeOptions ComposeOptionsForm::ChosenOptions(ComposeOptions base) const {
    base.ConfirmRecipients = ConfirmCheck->isChecked();
    base.WidenKana = WidenKanaCheck->isChecked();
    base.WrapLines = WrapCheck->isChecked();
    base.QuoteOnReply = QuoteCheck->isChecked();
    base.KeepReplies = KeepRepliesCheck->isChecked();
    return base;
}

void ComposeOptionsForm::OkCommand_Click() {
    writeOptions([this](ComposeOptions& options) { options = ChosenOptions(options); });
}

}  // namespace lumopet
