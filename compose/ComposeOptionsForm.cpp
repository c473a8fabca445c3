#include "compose/ComposeOptionsForm.h"

#include "core/program.h"
#include "core/twips.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");

}  // namespace

ComposeOptionsForm::ComposeOptionsForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), program_(windows.program()) {
    // A fixed single border and a close box, as the other option windows.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("送信の設定"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 5400, 3450).size());

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

    OkCommand = new QPushButton(QStringLiteral("OK"), this);
    OkCommand->setGeometry(place(2700, 2970, 1200, 375));
    CancelCommand = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelCommand->setGeometry(place(4080, 2970, 1200, 375));
    for (QPushButton* button : {OkCommand, CancelCommand}) button->setAutoDefault(true);

    connect(OkCommand, &QPushButton::clicked, this, &ComposeOptionsForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &ComposeOptionsForm::CancelCommand_Click);
    ShowOptions(ComposeOptions{});
}

QRect ComposeOptionsForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void ComposeOptionsForm::Form_Load() {
    // What the file holds now. One that cannot be read shows the defaults
    // and stays untouched: OK then fails too, and says why.
    const Result<ComposeOptions> read = ReadComposeOptions(program_.paths.path(files::ProgramOptions));
    ShowOptions(read ? read.value() : ComposeOptions{});
    CentreOnScreen(this);
    if (!read) ShowError(this, kErrorTitle, read.error());
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
    const Status written = UpdateComposeOptions(program_.paths.path(files::ProgramOptions),
                                                [this](ComposeOptions& options) { options = ChosenOptions(options); });
    if (!written) {
        ShowError(this, kErrorTitle, written.error());
        return;
    }
    close();
}

void ComposeOptionsForm::CancelCommand_Click() { close(); }

void ComposeOptionsForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace lumopet
