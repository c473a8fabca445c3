#include "settings/OptionForm.h"

#include "core/program.h"
#include "core/settings_files/server_settings.h"
#include "core/twips.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace lumopet {

OptionForm::OptionForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), program_(windows.program()) {
    // A fixed single border, a close box only, and above the other windows
    // for as long as it is open.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("サーバー設定"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 3135, 3165).size());

    // Each label's access key leads to the box below it.
    auto field = [this](QLabel*& label, const QString& caption, int labelTop, QLineEdit*& box, int boxTop) {
        label = new QLabel(caption, this);
        label->move(place(120, labelTop, 0, 0).topLeft());
        label->adjustSize();
        box = new QLineEdit(this);
        box->setGeometry(place(120, boxTop, 2652, 264));
        label->setBuddy(box);
    };
    field(Label1, QStringLiteral("SMTPサーバー名(&S)"), 120, SmtpText, 360);
    field(Label2, QStringLiteral("POP3サーバー名(&P)"), 720, Pop3Text, 960);
    field(Label3, QStringLiteral("メールアドレス(&M)"), 1320, MailText, 1560);
    // A box that takes a URL as well as a host name says so: nobody guesses
    // "pop3s://" from a label that asks for a server name.
    SmtpText->setToolTip(QStringLiteral("SMTPサーバーの書き方:\n"
                                        "  mail.example.jp（ポート 25）\n"
                                        "  mail.example.jp:587（ポートを指定）\n"
                                        "  smtps://mail.example.jp（TLS、ポート 465）\n"
                                        "  smtp://mail.example.jp:587（STARTTLS、ポート 587）"));
    Pop3Text->setToolTip(QStringLiteral("POP3サーバーの書き方:\n"
                                        "  mail.example.jp（ポート 110）\n"
                                        "  mail.example.jp:110（ポートを指定）\n"
                                        "  pop3s://mail.example.jp（TLS、ポート 995）\n"
                                        "  pop3s://mail.example.jp:995（TLS、ポートを指定）"));

    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setGeometry(place(660, 2040, 2172, 252));

    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setGeometry(place(660, 2520, 972, 372));
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setGeometry(place(1860, 2520, 912, 372));
    // Enter presses the button that has the focus; there is no default
    // button, so Enter in a box does nothing.
    for (QPushButton* button : {OkCommand, CancelCommand}) button->setAutoDefault(true);
    connect(OkCommand, &QPushButton::clicked, this, &OptionForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &OptionForm::CancelCommand_Click);
}

QRect OptionForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void OptionForm::Form_Load() {
    const ProgramValues& values = program_.values;
    SmtpText->setText(values.SmtpServer);
    Pop3Text->setText(values.Pop3Server);
    MailText->setText(values.MailAddress);
    ApopCheck->setChecked(values.ApopFlag != 0);
    move(screen()->availableGeometry().center() - rect().center());
}

void OptionForm::OkCommand_Click() {
    ProgramValues& values = program_.values;
    values.SmtpServer = SmtpText->text();
    values.Pop3Server = Pop3Text->text();
    values.MailAddress = MailText->text();
    values.ApopFlag = ApopCheck->isChecked() ? 1 : 0;
    // The values already hold in memory; the window stays open on a failed
    // write so that the user learns that the next start will not have them.
    const Status written = WriteServerSettings(program_.paths.path(files::ServerSettings), values);
    if (!written) {
        ShowError(this, QStringLiteral("エラー"), written.error());
        return;
    }
    close();
}

void OptionForm::CancelCommand_Click() { close(); }

void OptionForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace lumopet
