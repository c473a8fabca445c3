#pragma once
// The signature box of the compose and the reply window: 署名なし, 署名1 to
// 署名3. Choosing one puts it at the end of the body in place of the one
// chosen before (compose/signature_text.h); a block the user edited stays.
// The chooser remembers the text it put in, so that a signature edited in
// the signature window meanwhile still finds the old block.

#include <QObject>
#include <QString>

#include <array>
#include <functional>

class QComboBox;
class QWidget;

namespace lumopet {

class SignatureChooser : public QObject {
    Q_OBJECT
public:
    using ReadBody = std::function<QString()>;
    using WriteBody = std::function<void(const QString&)>;
    // The signatures as lumopet.ini keeps them now (Signatures[0] is 署名1):
    // read at each choice, so that one edited meanwhile goes in as edited.
    using ReadSignatures = std::function<std::array<QString, 3>()>;

    // Fills box with the four choices; a choice there puts the signature in.
    SignatureChooser(QComboBox* box, ReadBody readBody, WriteBody writeBody, ReadSignatures readSignatures);
    // Puts signature `choice` (0 for none) in, as a click in the box would.
    void choose(int choice);
    // The body holds signature `choice` already (a draft): only the box
    // follows.
    void adopt(int choice);
    int chosen() const;
    // The body without the signature the program put in (for telling
    // whether anything was typed); the body as it is when it was edited.
    QString bodyWithoutSignature() const;

private:
    void chosenInBox(int choice);
    QString signatureText(int choice) const;

    QComboBox* box_;
    ReadBody readBody_;
    WriteBody writeBody_;
    ReadSignatures readSignatures_;
    QString putIn_;  // the text of the signature in the body now
    bool settingBox_ = false;
};

}  // namespace lumopet
