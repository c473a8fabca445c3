#pragma once
// "送信前の確認": the look at the recipients before a send (when the option
// 送信前に宛先を確認する is on). Every recipient of 宛先, CC and BCC has a tick
// box; those outside the own address's domain are marked 社外; the
// attachments are listed with their sizes. 送信 can be pressed only once
// every recipient is ticked, so that each was looked at.
//
// And the question asked before every send whose subject or body speaks of
// an attachment when none is attached.

#include "compose/send_check.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace lumopet {

class SendCheckForm : public QDialog {
    Q_OBJECT
public:
    explicit SendCheckForm(const SendCheck& check, QWidget* parent = nullptr);

    // Row i is recipient i: the tick box in column 0 with the address, its
    // kind in column 1, 社外 in column 2.
    QTableWidget* RecipientList;
    QTableWidget* AttachmentList;
    QLabel* NoAttachmentLabel;
    QPushButton* SendButton;
    QPushButton* CancelButton;

    bool everyRecipientTicked() const;

private:
    void fillRecipients(const SendCheck& check);
    void fillAttachments(const SendCheck& check);
};

// Shows the window and waits: true when the user pressed 送信.
bool ConfirmRecipients(QWidget* parent, const SendCheck& check);

// "添付ファイルについて書かれていますが、…このまま送信しますか？" with いいえ
// first: true only when the user says to send anyway.
bool AskMissingAttachment(QWidget* parent);

// A file size as the window shows it: "512 バイト", "1.5 KB", "12.3 MB".
QString AttachmentSizeText(qint64 bytes);

}  // namespace lumopet
