#pragma once
// "新規作成": the compose window. The user writes the recipient, subject and
// body, picks the character the recipient will see (or none), a fortune or
// bulk mode, adds attachments, and sends. An address panel on the right
// lists the address book; a click on a name fills in the recipient.
//
// The send itself runs on a worker; the window only reads its controls,
// starts it and shows how it ended.

#include "compose/attachment_controls.h"
#include "compose/write_form_rules.h"
#include "mail/draft_message.h"
#include "mail/send_mail.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace lumopet {

class AddressCompleter;
class DraftKeeper;
class SendRunner;
class SignatureChooser;
class WindowDirectory;
struct Program;

class WriteForm : public QWidget {
    Q_OBJECT
public:
    explicit WriteForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void Command1_Click();   // send
    void Command3_Click();   // close without sending
    void Command4_Click();   // open the address panel
    void Command6_Click();   // close it
    void List1_MouseDown();
    void Option1_Click();    // bulk mode off
    void Option2_Click();    // bulk mode on
    void Combo1_LostFocus();
    void AttachCommand_Click();
    void Command9_Click();
    void Command10_Click();
    void Command5_Click();
    void Command7_Click();
    void Command2_Click();
    void Command11_Click();  // clear
    void Label7_DblClick();  // hidden mode
    void Timer1_Timer();
    void DraftCommand_Click();  // 下書き保存

    bool isSending() const;
    // The list under 宛先, CC and BCC.
    AddressCompleter* completer() const { return completer_; }
    // What the window holds, as its draft keeps it; and a stored draft put
    // back into a loaded window.
    ComposeDraft currentDraft() const;
    void loadDraft(const ComposeDraft& draft);
    // The character chosen with Option3..Option7, 0 for Option8.
    int chosenMood() const;

    QPushButton* Command1;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QPushButton* Command7;
    QPushButton* Command11;
    // 下書き保存; the signature box; 設定 with the signature and the
    // sending options windows in its menu.
    QPushButton* DraftCommand;
    QComboBox* SignatureCombo;
    QPushButton* SettingsCommand;
    QLineEdit* Text2;
    QGroupBox* Frame1;
    // Moods 1 to 5, and no character.
    QRadioButton* Option3;
    QRadioButton* Option4;
    QRadioButton* Option5;
    QRadioButton* Option6;
    QRadioButton* Option7;
    QRadioButton* Option8;
    // Option3..Option7 for moods 1..5, Option8 for 0.
    QRadioButton* moodOption(int mood) const;
    QLabel* Label12;
    QPlainTextEdit* ToText;
    // Several addresses each, separated by ",", "、" or ";".
    QLineEdit* CcText;
    QLineEdit* BccText;
    QLineEdit* SubjectText;
    QComboBox* Combo1;
    QPushButton* AttachCommand;
    QPushButton* Command9;
    QPushButton* Command10;
    QLineEdit* AttachText;
    QListWidget* List2;
    QCheckBox* Check1;
    QPlainTextEdit* BodyText;
    QPlainTextEdit* Text14;
    QFrame* StatusStrip;
    QLabel* Label7;
    QFrame* AddressPanel;
    QListWidget* List1;
    QLineEdit* Text1;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QPushButton* Command2;
    QLineEdit* Text4;
    QTimer* Timer1;

    // Entry k of List1 is record AddressMap[k] of the file it was read
    // from; one spare element at the end.
    std::vector<std::int16_t> AddressMap;

Q_SIGNALS:
    // A send has ended: the window is closed when every message went out.
    void sendFinished(const lumopet::SendResult& result);
    // Anything the draft keeps was edited: a recipient box, the subject,
    // the body, the attachments, the character or the fortune.
    void contentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;
    void buildControls();
    void buildAddressPanel();
    void watchContent();
    void setOuterSize(int outerWidth, int outerHeight);
    void fillAddressList(const QString& file);
    AttachmentControls attachments();
    void setMood(int mood);
    void setListColour(bool bulk);
    void showHelp(HelpTopic topic);
    SendRequest readRequest() const;
    void sendDone(const SendResult& result);
    void emptyFields();
    // The default signature of lumopet.ini in a body without one.
    void putInDefaultSignature();
    // Nothing typed: the signature the window put in alone is nothing.
    bool holdsNothingTyped() const;
    // The message changed (or the address list, or the mode): a second
    // send goes to everyone again.
    void forgetUnsent();

    WindowDirectory& windows_;
    Program& program_;
    int outerWidth_ = kNormalWidth;
    int outerHeight_ = kNormalHeight;
    // The opening-line box: its text when it took the focus, and the line
    // it put into the body last.
    QString lineOnFocus_;
    QString lastOpeningLine_;
    SendRunner* sender_ = nullptr;
    SignatureChooser* signatures_ = nullptr;
    DraftKeeper* keeper_ = nullptr;
    AddressCompleter* completer_ = nullptr;
    // After a bulk send that left messages unsent: their recipients, what
    // the next send goes to.
    std::vector<QString> unsent_;
    // The attached files, shown joined in AttachText.
    QStringList attachedFiles_;
};

}  // namespace lumopet
