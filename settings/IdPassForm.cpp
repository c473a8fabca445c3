#include "settings/IdPassForm.h"

#include "core/program.h"
#include "core/twips.h"
#include "store/account_secrets.h"
#include "store/secret_stores.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include <memory>

namespace lumopet {

IdPassForm::IdPassForm(WindowDirectory& windows, QWidget* parent) : QWidget(parent), program_(windows.program()) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("ID,PASS"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 3015, 1770).size());

    Label1 = new QLabel(QStringLiteral("ID"), this);
    Label1->setGeometry(place(120, 120, 675, 255));
    IdText = new QLineEdit(this);
    IdText->setGeometry(place(960, 120, 1632, 264));

    Label2[0] = new QLabel(QStringLiteral("Password"), this);
    Label2[0]->setGeometry(place(120, 600, 795, 255));
    PassText = new QLineEdit(this);
    PassText->setGeometry(place(960, 600, 1632, 264));
    PassText->setEchoMode(QLineEdit::Password);
    // Stars rather than the style's bullets, and no input method: a
    // conversion window would show the password as it is typed.
    PassText->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    PassText->setAttribute(Qt::WA_InputMethodEnabled, false);
    PassText->setInputMethodHints(PassText->inputMethodHints() | Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                  Qt::ImhNoPredictiveText);

    Check1 = new QCheckBox(this);
    Check1->setGeometry(place(420, 1020, 255, 255));
    Label2[1] = new QLabel(QStringLiteral("IDパスワードを保存する"), this);
    Label2[1]->setGeometry(place(780, 1020, 1875, 255));
    // The box has no text of its own; its label takes the click for it.
    Label2[1]->installEventFilter(this);

    OKCommand = new QPushButton(QStringLiteral("OK"), this);
    OKCommand->setGeometry(place(900, 1380, 852, 312));
    CancelCommand = new QPushButton(QStringLiteral("Cancel"), this);
    CancelCommand->setGeometry(place(1860, 1380, 852, 312));
    // OK is the default button (keyPressEvent); a button with the focus
    // takes Enter for itself.
    OKCommand->setDefault(true);
    for (QPushButton* button : {OKCommand, CancelCommand}) button->setAutoDefault(true);
    connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &IdPassForm::CancelCommand_Click);
}

QRect IdPassForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void IdPassForm::Form_Load() {
    const std::unique_ptr<SecretStore> store = OpenSecretStore(program_.paths);
    AccountSecrets secrets(*store, program_.paths.path(files::AccountFile));
    const Result<Account> account = secrets.load();
    // The box says whether a password is kept (in the keyring or the
    // file): a cleared box over a password still kept would be a lie. A
    // keyring that does not answer keeps its password to itself, and the box
    // shows none; OK then says what the keyring answers.
    const QString id = account ? account.value().UserId : ReadAccount(program_.paths.path(files::AccountFile)).UserId;
    const QString password = account ? account.value().UserPassword : QString();
    SetAccountTexts(id, password);
    Check1->setChecked(!password.isEmpty());
    move(screen()->availableGeometry().center() - rect().center());
}

void IdPassForm::SetAccountTexts(const QString& id, const QString& password) {
    IdText->setText(id);
    PassText->setText(password);
}

void IdPassForm::OKCommand_Click() {
    ProgramValues& values = program_.values;
    values.UserId = IdText->text();
    values.UserPassword = PassText->text();
    const std::unique_ptr<SecretStore> store = OpenSecretStore(program_.paths);
    AccountSecrets secrets(*store, program_.paths.path(files::AccountFile));
    const Status written =
        Check1->isChecked() ? secrets.keep(values.UserId, values.UserPassword) : secrets.forget(values.UserId);
    if (!written) {
        ShowError(this, QStringLiteral("エラー"), written.error());
        return;
    }
    close();
}

void IdPassForm::CancelCommand_Click() { close(); }

void IdPassForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        OKCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool IdPassForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label2[1] && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label2[1]->rect().contains(mouse->position().toPoint())) {
            Check1->setFocus(Qt::MouseFocusReason);
            Check1->toggle();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace lumopet
