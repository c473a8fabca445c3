#pragma once
// "返事を書く": the reply window. The history viewer fills it from a
// received message; the user edits recipient, subject and body, may attach
// files, and sends. It carries no character, no fortune and no address
// book, and the sent history keeps no copy of a reply. Sending goes the
// same way as from the compose window, on a worker.

#include "compose/attachment_controls.h"
#include "mail/draft_message.h"
#include "mail/send_mail.h"
#include "ui/window_directory.h"

#include <QString>
#include <QWidget>

#include <array>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTextEdit;

namespace lumopet {

class AddressCompleter;
class DraftKeeper;
class SendRunner;
class SignatureChooser;

// The window's outer size in twips, around its client area: a sizable
// border on each side and the caption.
inline constexpr int kReplyBorderTwips = 60;
inline constexpr int kReplyCaptionTwips = 360;
inline constexpr int ReplyOuterWidth(int clientWidth) { return clientWidth + 2 * kReplyBorderTwips; }
inline constexpr int ReplyOuterHeight(int clientHeight) { return clientHeight + 2 * kReplyBorderTwips + kReplyCaptionTwips; }
// The CC and BCC rows under 宛先, each as high as the pitch of the rows
// around them: what is below them sits lower by both.
inline constexpr int kReplyCopyRowsTwips = 2 * 360;
// The client area as the window opens: taller by the two rows.
inline constexpr int kReplyClientWidth = 7710;
inline constexpr int kReplyClientHeight = 7965 + kReplyCopyRowsTwips;

// What follows the window's size (twips). The body grows with the window,
// the recipient (宛先, CC and BCC: ToWidth), subject and attachment boxes
// take a share of its width, and the three attachment buttons stay to the
// right of their box. The body's share is of the window without the CC and
// BCC rows, so that it opens as high as it did before they came.
//
// 下書き保存, the signature box and 設定 stand in a column right of the
// 宛先, CC and BCC boxes, as wide as the window leaves them (at most as
// wide as the buttons above).
struct ReplyLayout {
    int BodyWidth, BodyHeight;
    int ToWidth, SubjectWidth, AttachWidth;
    int AttachCommandLeft, Command9Left, Command10Left;
    int SideLeft, SideWidth;
    bool operator==(const ReplyLayout&) const = default;
};
ReplyLayout LayOutReply(int outerWidth, int outerHeight);

// The subject of a reply: "Re:", two blanks, the subject without the blanks
// around it.
QString ReplySubject(const QString& subject);

// What "本文に貼付" puts into the body: the clipboard text, three line ends
// and a lone CR, then the body of the received message read or stored last
// without the blanks around it.
QString PastedReplyBody(const QString& clipboard, const QString& receivedBody);

class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    // Recipient, subject and body from the message answered; the
    // attachments stay as they are.
    void FillReply(const ReplySource& reply);

    void Form_Resize();
    void AttachCommand_Click();  // the first attachment
    void Command9_Click();       // a further attachment
    void Command10_Click();      // no attachments
    void Command4_Click();       // paste into the body
    void Command2_Click();       // send
    void Command3_Click();       // step back to the main window
    void DraftCommand_Click();   // 下書き保存

    bool isSending() const;
    // The list under 宛先, CC and BCC.
    AddressCompleter* completer() const { return completer_; }
    // What the window holds, as its draft keeps it (with what the reply
    // answers); and a stored draft put back into a loaded window.
    ComposeDraft currentDraft() const;
    void loadDraft(const ComposeDraft& draft);

    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    // 下書き保存; the signature box; 設定 with the signature and the
    // sending options windows in its menu.
    QPushButton* DraftCommand;
    QComboBox* SignatureCombo;
    QPushButton* SettingsCommand;
    // The light grey strips that carry the labels 宛先, 題名 and 添付File.
    std::array<QFrame*, 3> Picture2;
    // The strips of the rows between them: CC and BCC.
    std::array<QFrame*, 2> CopyStrips;
    QLineEdit* ToText;
    // Several addresses each, separated by ",", "、" or ";".
    QLineEdit* CcText;
    QLineEdit* BccText;
    QLineEdit* SubjectText;
    QLineEdit* AttachText;
    QPushButton* AttachCommand;
    QPushButton* Command9;
    QPushButton* Command10;
    QListWidget* List2;
    QTextEdit* BodyText;
    // How a send goes; empty otherwise.
    QLabel* StatusLabel;

Q_SIGNALS:
    // A send has ended: the window is closed when the reply went out.
    void sendFinished(const lumopet::SendResult& result);
    // Anything the draft keeps was edited: a recipient box, the subject,
    // the body or the attachments.
    void contentChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;
    int toTwips(int pixels) const;
    void buildControls();
    // A file from the open dialog; empty when cancelled.
    AttachmentControls attachments();
    void sendDone(const SendResult& result);
    bool holdsNothingTyped() const;

    WindowDirectory& windows_;
    SendRunner* sender_ = nullptr;
    SignatureChooser* signatures_ = nullptr;
    DraftKeeper* keeper_ = nullptr;
    AddressCompleter* completer_ = nullptr;
    // What the reply answers, from the message it was filled from or from
    // its draft.
    QString inReplyTo_;
    QString references_;
    QByteArray replyCharset_;
    QString answeredPath_;
    // The reply as FillReply made it, before the user typed anything.
    ComposeDraft filled_;
    // The attached files, shown joined in AttachText.
    QStringList attachedFiles_;
};

}  // namespace lumopet
