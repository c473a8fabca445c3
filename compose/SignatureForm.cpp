#include "compose/SignatureForm.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

namespace lumopet {
namespace {

QString signatureName(int index) { return QStringLiteral("署名%1").arg(index + 1); }

}  // namespace

SignatureForm::SignatureForm(WindowDirectory& windows, QWidget* parent)
    : ComposeSettingsWindow(windows, QStringLiteral("署名の編集"), 6600, 4860, parent) {
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

    SaveCommand = addButtons(QStringLiteral("保存"), 4350);
    connect(SaveCommand, &QPushButton::clicked, this, &SignatureForm::SaveCommand_Click);
}

void SignatureForm::Form_Load() {
    showStoredOptions([this](const ComposeOptions& options) {
        for (int i = 0; i < static_cast<int>(SignatureText.size()); ++i)
            SignatureText[i]->setPlainText(options.Signatures[i]);
        DefaultCombo->setCurrentIndex(options.DefaultSignature);
        // The default one is open first, as it is the one most likely edited.
        SignatureTabs->setCurrentIndex(options.DefaultSignature > 0 ? options.DefaultSignature - 1 : 0);
    });
}

void SignatureForm::SaveCommand_Click() {
    std::array<QString, kSignatureCount> typed;
    for (int i = 0; i < kSignatureCount; ++i) {
        typed[i] = SignatureText[i]->toPlainText();
        // Cut on saving, it would be gone without a word: the user shortens
        // it instead.
        if (typed[i].size() > kMaxSignatureLength) {
            SignatureTabs->setCurrentIndex(i);
            showProblem(
                QStringLiteral("%1が長すぎます。%2文字以内にしてください。").arg(signatureName(i)).arg(kMaxSignatureLength));
            return;
        }
    }
    const int chosenDefault = DefaultCombo->currentIndex();
    writeOptions([&](ComposeOptions& options) {
        options.Signatures = typed;
        options.DefaultSignature = chosenDefault;
    });
}

}  // namespace lumopet
