#include "compose/signature_chooser.h"

#include "compose/signature_text.h"

#include <QComboBox>

namespace lumopet {

SignatureChooser::SignatureChooser(QComboBox* box, ReadBody readBody, WriteBody writeBody,
                                   ReadSignatures readSignatures)
    : QObject(box), box_(box), readBody_(std::move(readBody)), writeBody_(std::move(writeBody)),
      readSignatures_(std::move(readSignatures)) {
    box_->addItems({QStringLiteral("署名なし"), QStringLiteral("署名1"), QStringLiteral("署名2"), QStringLiteral("署名3")});
    box_->setCurrentIndex(0);
    connect(box_, &QComboBox::currentIndexChanged, this, &SignatureChooser::chosenInBox);
}

QString SignatureChooser::signatureText(int choice) const {
    if (choice < 1 || choice > 3) return QString();
    return readSignatures_()[static_cast<size_t>(choice - 1)];
}

void SignatureChooser::choose(int choice) {
    if (choice == box_->currentIndex()) {
        chosenInBox(choice);
        return;
    }
    box_->setCurrentIndex(choice);  // chosenInBox follows
}

void SignatureChooser::chosenInBox(int choice) {
    if (settingBox_) return;
    const QString next = signatureText(choice);
    const SignedBody signedBody = BodyWithSignature(readBody_(), putIn_, next);
    if (signedBody.body != readBody_()) writeBody_(signedBody.body);
    putIn_ = next;
}

void SignatureChooser::adopt(int choice) {
    settingBox_ = true;
    box_->setCurrentIndex(choice >= 0 && choice < box_->count() ? choice : 0);
    settingBox_ = false;
    putIn_ = signatureText(box_->currentIndex());
}

int SignatureChooser::chosen() const { return box_->currentIndex(); }

QString SignatureChooser::bodyWithoutSignature() const {
    if (putIn_.isEmpty()) return readBody_();
    return BodyWithSignature(readBody_(), putIn_, QString()).body;
}

}  // namespace lumopet
