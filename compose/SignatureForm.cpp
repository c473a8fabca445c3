#include "compose/SignatureForm.h"

#include "core/program.h"
#include "core/settings_files/compose_options.h"
#include "core/twips.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");

QString signatureName(int index) { return QStringLiteral("署名%1").arg(index + 1); }

}  // namespace

SignatureForm::SignatureForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), program_(windows.program()) {
    // A fixed single border and a close box, as the other option windows.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("署名の編集"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 6600, 4860).size());

    SignatureTabs = new QTabWidget(this);
    SignatureTabs->setGeometry(place(120, 120, 6360, 3600));
    for (int i = 0; i < static_cast<int>(SignatureText.size()); ++i) {
        SignatureText[i] = new QPlainTextEdit;
        // A signature is laid out in lines as the user types them: no
        // wrapping here, so what lines up here lines up in the mail.
        SignatureText[i]->setLineWrapMode(QPlainTextEdit::NoWrap);
        SignatureTabs->addTab(SignatureText[i], signatureName(i) + QStringLiteral("(&%1)").arg(i + 1));
    }

    DefaultLabel = new QLabel(QStringLiteral("新規作成で入れる署名(&D):"), this);
    DefaultCombo = new QComboBox(this);
    DefaultCombo->addItem(QStringLiteral("なし"));
    for (int i = 0; i < static_cast<int>(SignatureText.size()); ++i) DefaultCombo->addItem(signatureName(i));
    DefaultLabel->setBuddy(DefaultCombo);
    DefaultLabel->adjustSize();
    const QRect comboRow = place(120, 3840, 0, 300);
    DefaultLabel->move(comboRow.left(), comboRow.center().y() - DefaultLabel->height() / 2);
    DefaultCombo->setGeometry(DefaultLabel->geometry().right() + place(0, 0, 90, 0).width(),
                              comboRow.center().y() - DefaultCombo->sizeHint().height() / 2,
                              place(0, 0, 1200, 0).width(), DefaultCombo->sizeHint().height());

    SaveCommand = new QPushButton(QStringLiteral("保存"), this);
    SaveCommand->setGeometry(place(3900, 4350, 1200, 375));
    CancelCommand = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelCommand->setGeometry(place(5280, 4350, 1200, 375));
    // As in the other option windows: Enter presses the button that has
    // the focus (in a text box it is a line break), no default button.
    for (QPushButton* button : {SaveCommand, CancelCommand}) button->setAutoDefault(true);

    connect(SaveCommand, &QPushButton::clicked, this, &SignatureForm::SaveCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &SignatureForm::CancelCommand_Click);
}

QRect SignatureForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void SignatureForm::Form_Load() {
    // What the file holds now: the signatures may have been saved since the
    // compose window read them. A file that cannot be read leaves the boxes
    // empty and stays untouched: a save then fails too, and says why.
    const Result<ComposeOptions> read = ReadComposeOptions(program_.paths.path(files::ProgramOptions));
    const ComposeOptions options = read ? read.value() : ComposeOptions{};
    for (int i = 0; i < static_cast<int>(SignatureText.size()); ++i)
        SignatureText[i]->setPlainText(options.Signatures[i]);
    DefaultCombo->setCurrentIndex(options.DefaultSignature);
    // The default one is open first, as it is the one most likely edited.
    SignatureTabs->setCurrentIndex(options.DefaultSignature > 0 ? options.DefaultSignature - 1 : 0);
    CentreOnScreen(this);
    if (!read) ShowError(this, kErrorTitle, read.error());
}

void SignatureForm::SaveCommand_Click() {
    std::array<QString, kSignatureCount> typed;
    for (int i = 0; i < kSignatureCount; ++i) {
        typed[i] = SignatureText[i]->toPlainText();
        // Cut on saving, it would be gone without a word: the user shortens
        // it instead.
        if (typed[i].size() > kMaxSignatureLength) {
            SignatureTabs->setCurrentIndex(i);
            ShowError(this, kErrorTitle,
                      QStringLiteral("%1が長すぎます。%2文字以内にしてください。").arg(signatureName(i)).arg(kMaxSignatureLength));
            return;
        }
    }
    const int chosenDefault = DefaultCombo->currentIndex();
    const Status written =
        UpdateComposeOptions(program_.paths.path(files::ProgramOptions), [&](ComposeOptions& options) {
            options.Signatures = typed;
            options.DefaultSignature = chosenDefault;
        });
    if (!written) {
        ShowError(this, kErrorTitle, written.error());
        return;
    }
    close();
}

void SignatureForm::CancelCommand_Click() { close(); }

void SignatureForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace lumopet
