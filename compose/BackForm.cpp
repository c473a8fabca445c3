#include "compose/BackForm.h"

#include "compose/compose_window_parts.h"
#include "compose/send_runner.h"
#include "core/program.h"
#include "core/text_helpers.h"
#include "core/twips.h"
#include "mail/address_list.h"
#include "mail/message_builder.h"
#include "mail/reply_context.h"
#include "mail/server_refusal.h"
#include "ui/message_box.h"
#include "ui/window_helpers.h"

#include <QClipboard>
#include <QComboBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>

#include <algorithm>

namespace lumopet {
namespace {

// Tops and heights of the rows under the buttons; they never move. CC and
// BCC come between 宛先 and 題名, at the rows' pitch; what follows them is
// lower by both.
constexpr int kRowPitch = 360;
constexpr int kToTop = 600;
constexpr int kCcTop = kToTop + kRowPitch;
constexpr int kBccTop = kCcTop + kRowPitch;
constexpr int kSubjectTop = 960 + kReplyCopyRowsTwips;
constexpr int kAttachTop = 1320 + kReplyCopyRowsTwips;
constexpr int kBodyTop = 1680 + kReplyCopyRowsTwips;
constexpr int kRowHeight = 300;
constexpr int kBoxLeft = 1080;
constexpr int kAttachCommandWidth = 792;
constexpr int kAttachButtonWidth = 855;
constexpr int kCommandWidth = 1215;
constexpr int kAttachTextWidthAtLoad = 2800;

// The smallest client area: "取り消し" (at 0.4 W + 2940, 855 wide) still
// inside the window, and a few lines of the body under the attachment list.
constexpr int kMinClientWidth = 6405;
constexpr int kMinClientHeight = 3300 + kReplyCopyRowsTwips;

// Where the status line starts, right of the three buttons.
constexpr int kStatusLeft = 4320;

const QColor kLightGrey(0xE0, 0xE0, 0xE0);

}  // namespace

ReplyLayout LayOutReply(int outerWidth, int outerHeight) {
    const int clientWidth = outerWidth - ReplyOuterWidth(0);
    const int clientHeight = outerHeight - ReplyOuterHeight(0);
    ReplyLayout layout{};
    // 99 % of the outer width is wider than the client area below about
    // 12000 twips, and 74 % of the height runs past its bottom below about
    // 8300: the box would lose its right edge with the scroll bar, or its
    // last lines. It stops at the window's edges.
    layout.BodyWidth = std::min(qRound(outerWidth * 0.99), clientWidth);
    layout.BodyHeight =
        std::max(0, std::min(qRound((outerHeight - kReplyCopyRowsTwips) * 0.74), clientHeight - kBodyTop));
    layout.ToWidth = qRound(outerWidth * 0.7);
    layout.SubjectWidth = qRound(outerWidth * 0.7);
    layout.AttachWidth = qRound(outerWidth * 0.4);
    layout.AttachCommandLeft = layout.AttachWidth + 1240;
    layout.Command9Left = layout.AttachWidth + 2060;
    layout.Command10Left = layout.AttachWidth + 2940;
    layout.SideLeft = kBoxLeft + layout.ToWidth + 60;
    layout.SideWidth = std::clamp(clientWidth - layout.SideLeft - 60, 0, kCommandWidth);
    return layout;
}


QString ReplySubject(const QString& subject) { return QStringLiteral("Re:  ") + WithoutBlanksAround(subject).toString(); }

QString PastedReplyBody(const QString& clipboard, const QString& receivedBody) {
    // Three line ends and a lone CR: the box shows the CR as a fourth line
    // break, so three empty lines stand between the two texts.
    return clipboard + QStringLiteral("\r\n\r\n\r\n\r") + WithoutBlanksAround(receivedBody).toString();
}

BackForm::BackForm(WindowDirectory& windows, QWidget* parent) : QWidget(parent), windows_(windows) {
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("返事を書く"));
    setFont(JapaneseFont(9));
    buildControls();
    setMinimumSize(place(0, 0, kMinClientWidth, kMinClientHeight).size());
    resize(place(0, 0, kReplyClientWidth, kReplyClientHeight).size());
    Form_Resize();
    sender_ = new SendRunner(*this, windows_, StatusLabel, BodyText);
    sender_->keepEnabled(Command3);
    connect(sender_, &SendRunner::finished, this, &BackForm::sendDone);

    keeper_ = KeepDrafts(
        this, windows_.program(), [this] { return currentDraft(); }, [this] { return holdsNothingTyped(); },
        StatusLabel, [this] { return isSending(); });
    connect(this, &BackForm::contentChanged, keeper_, &DraftKeeper::contentChanged);
    completer_ = CompleteAddresses(this, windows_.program(), {ToText, CcText, BccText});
}

QRect BackForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

int BackForm::toTwips(int pixels) const { return qRound(pixels * 1440.0 / logicalDpiY()); }

void BackForm::buildControls() {
    Command2 = PlacedButton(QStringLiteral("送信"), this, place(120, 120, kCommandWidth, 375));
    Command3 = PlacedButton(QStringLiteral("送信中止"), this, place(1560, 120, kCommandWidth, 375));
    Command4 = PlacedButton(QStringLiteral("本文に貼付"), this, place(3000, 120, kCommandWidth, 375));

    StatusLabel = new QLabel(this);
    StatusLabel->setWordWrap(true);
    StatusLabel->setFont(JapaneseFont(8));

    const auto strip = [this](const QString& caption, int top) {
        QFrame* strip = new QFrame(this);
        strip->setGeometry(place(0, top, 1095, kRowHeight));
        strip->setAutoFillBackground(true);
        QPalette grey = strip->palette();
        grey.setColor(QPalette::Window, kLightGrey);
        strip->setPalette(grey);
        auto* label = new QLabel(caption, strip);
        label->setGeometry(place(90, 0, 1005, kRowHeight));
        return strip;
    };
    Picture2 = {strip(QStringLiteral("宛先"), kToTop), strip(QStringLiteral("題名"), kSubjectTop),
                strip(QStringLiteral("添付File"), kAttachTop)};
    CopyStrips = {strip(QStringLiteral("CC"), kCcTop), strip(QStringLiteral("BCC"), kBccTop)};

    // The stacking is the order made: the body at the bottom, the list of
    // attachments over it and over the box of paths, the attachment
    // buttons over the list so that they stay within reach while it shows.
    BodyText = new QTextEdit(this);
    BodyText->setAcceptRichText(false);
    BodyText->setFont(JapaneseFont(9));
    BodyText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    BodyText->setTabChangesFocus(true);

    ToText = new QLineEdit(this);
    CcText = new QLineEdit(this);
    BccText = new QLineEdit(this);
    SubjectText = new QLineEdit(this);

    // Beside 宛先, CC and BCC (placed by Form_Resize).
    DraftCommand = new QPushButton(QStringLiteral("下書き保存"), this);
    SignatureCombo = new QComboBox(this);
    signatures_ = MakeSignatureChooser(
        SignatureCombo, windows_.program(), [this] { return BodyText->toPlainText(); },
        [this](const QString& body) { BodyText->setPlainText(body); });
    SettingsCommand = new QPushButton(QStringLiteral("設定"), this);
    AddSettingsMenu(SettingsCommand, windows_);
    AttachText = new QLineEdit(this);

    List2 = new QListWidget(this);
    List2->setGeometry(place(kBoxLeft, kAttachTop, 3975, 1860));

    AttachCommand = PlacedButton(QStringLiteral("添付"), this, place(0, kAttachTop, kAttachCommandWidth, kRowHeight));
    Command9 = PlacedButton(QStringLiteral("追加"), this, place(0, kAttachTop, kAttachButtonWidth, kRowHeight));
    Command10 = PlacedButton(QStringLiteral("取り消し"), this, place(0, kAttachTop, kAttachButtonWidth, kRowHeight));
    QPalette red = Command10->palette();
    // Red while it can be clicked; greyed like the others when it cannot.
    red.setColor(QPalette::Active, QPalette::ButtonText, Qt::red);
    red.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::red);
    Command10->setPalette(red);

    // Tab order as the window reads: buttons, then the boxes top to bottom.
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, ToText);
    setTabOrder(ToText, CcText);
    setTabOrder(CcText, BccText);
    setTabOrder(BccText, SubjectText);
    setTabOrder(SubjectText, AttachText);
    setTabOrder(AttachText, AttachCommand);
    setTabOrder(AttachCommand, Command9);
    setTabOrder(Command9, Command10);
    setTabOrder(Command10, BodyText);
    setTabOrder(BodyText, DraftCommand);
    setTabOrder(DraftCommand, SignatureCombo);
    setTabOrder(SignatureCombo, SettingsCommand);

    connect(Command2, &QPushButton::clicked, this, &BackForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &BackForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &BackForm::Command4_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &BackForm::AttachCommand_Click);
    connect(Command9, &QPushButton::clicked, this, &BackForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &BackForm::Command10_Click);
    connect(DraftCommand, &QPushButton::clicked, this, &BackForm::DraftCommand_Click);

    const auto changed = [this] { Q_EMIT contentChanged(); };
    connect(ToText, &QLineEdit::textChanged, this, changed);
    connect(CcText, &QLineEdit::textChanged, this, changed);
    connect(BccText, &QLineEdit::textChanged, this, changed);
    connect(SubjectText, &QLineEdit::textChanged, this, changed);
    connect(BodyText, &QTextEdit::textChanged, this, changed);
    connect(AttachText, &QLineEdit::textChanged, this, changed);
}

void BackForm::Form_Load() {
    AttachText->resize(place(0, 0, kAttachTextWidthAtLoad, kRowHeight).size());
    List2->hide();
    CentreOnScreen(this);
}

void BackForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void BackForm::Form_Resize() {
    const int clientWidth = toTwips(width());
    const ReplyLayout layout = LayOutReply(ReplyOuterWidth(clientWidth), ReplyOuterHeight(toTwips(height())));
    BodyText->setGeometry(place(0, kBodyTop, layout.BodyWidth, layout.BodyHeight));
    ToText->setGeometry(place(kBoxLeft, kToTop, layout.ToWidth, kRowHeight));
    CcText->setGeometry(place(kBoxLeft, kCcTop, layout.ToWidth, kRowHeight));
    BccText->setGeometry(place(kBoxLeft, kBccTop, layout.ToWidth, kRowHeight));
    SubjectText->setGeometry(place(kBoxLeft, kSubjectTop, layout.SubjectWidth, kRowHeight));
    AttachText->setGeometry(place(kBoxLeft, kAttachTop, layout.AttachWidth, kRowHeight));
    AttachCommand->move(place(layout.AttachCommandLeft, kAttachTop, 0, 0).topLeft());
    Command9->move(place(layout.Command9Left, kAttachTop, 0, 0).topLeft());
    Command10->move(place(layout.Command10Left, kAttachTop, 0, 0).topLeft());
    DraftCommand->setGeometry(place(layout.SideLeft, kToTop, layout.SideWidth, kRowHeight));
    SignatureCombo->setGeometry(place(layout.SideLeft, kCcTop, layout.SideWidth, kRowHeight));
    SettingsCommand->setGeometry(place(layout.SideLeft, kBccTop, layout.SideWidth, kRowHeight));
    StatusLabel->setGeometry(place(kStatusLeft, 60, std::max(0, clientWidth - kStatusLeft - 60), 495));
}

void BackForm::FillReply(const ReplySource& reply) {
    // A reply being written stays a draft of its own: the new one does not
    // write over it.
    if (!holdsNothingTyped()) {
        keeper_->saveNow();
        keeper_->continueDraft(NewDraftId());
    }
    // What threads the reply, from the answered message's copy; without a
    // copy (or a Message-ID in it) the reply goes without.
    const mail::ReplyContext context = reply.copyPath.isEmpty() ? mail::ReplyContext{}
                                                                : mail::ReadReplyContext(reply.copyPath);
    const Result<ComposeOptions> options = CurrentComposeOptions(windows_.program());
    ToText->setText(WithoutBlanksAround(reply.from).toString());
    SubjectText->setText(ReplySubject(reply.subject));
    if (options && options.value().QuoteOnReply) {
        const mail::Mailbox sender = mail::FirstMailbox(reply.from);
        BodyText->setPlainText(mail::QuotedReply(
            context.text.isEmpty() ? reply.body : context.text, context.date,
            !context.senderName.isEmpty() ? context.senderName
                                          : (sender.name.isEmpty() ? sender.address : sender.name)));
        BodyText->moveCursor(QTextCursor::Start);
    } else {
        BodyText->setPlainText(WithoutBlanksAround(reply.body).toString());
    }
    // Copies to the last answer's people are no copies of this one; nor is
    // its signature in this body.
    CcText->clear();
    BccText->clear();
    signatures_->adopt(0);
    inReplyTo_ = context.messageId;
    references_ = context.references;
    replyCharset_ = context.charset;
    answeredPath_ = reply.copyPath;
    filled_ = currentDraft();
}

ComposeDraft BackForm::currentDraft() const {
    ComposeDraft draft;
    draft.window = DraftWindow::Reply;
    draft.to = ToText->text();
    draft.cc = CcText->text();
    draft.bcc = BccText->text();
    draft.subject = SubjectText->text();
    draft.body = BodyText->toPlainText();
    draft.attachments = AttachedFiles(AttachText->text(), attachedFiles_);
    draft.inReplyTo = inReplyTo_;
    draft.references = references_;
    draft.replyCharset = replyCharset_;
    draft.answeredPath = answeredPath_;
    draft.signature = signatures_->chosen();
    return draft;
}

void BackForm::loadDraft(const ComposeDraft& draft) {
    ToText->setText(draft.to);
    CcText->setText(draft.cc);
    BccText->setText(draft.bcc);
    SubjectText->setText(draft.subject);
    BodyText->setPlainText(draft.body);
    signatures_->adopt(draft.signature);
    attachments().SetAll(draft.attachments);
    inReplyTo_ = draft.inReplyTo;
    references_ = draft.references;
    replyCharset_ = draft.replyCharset;
    answeredPath_ = draft.answeredPath;
}

AttachmentControls BackForm::attachments() {
    return {this, AttachCommand, Command9, Command10, AttachText, List2, &attachedFiles_};
}

void BackForm::AttachCommand_Click() { attachments().AttachFirst(); }

void BackForm::Command9_Click() { attachments().AddAnother(); }

void BackForm::Command10_Click() { attachments().RemoveAll(); }

void BackForm::Command4_Click() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    BodyText->setPlainText(PastedReplyBody(clipboard->text(), windows_.program().viewer.receivedRecordBody));
    // Out to the clipboard and back as plain text: the box then holds what
    // any other program would paste from there, the lone CR turned into a
    // line break like the others, and the clipboard keeps the whole reply
    // for pasting elsewhere.
    clipboard->clear();
    clipboard->setText(BodyText->toPlainText());
    BodyText->setPlainText(WithoutBlanksAround(clipboard->text()).toString());
}

bool BackForm::isSending() const { return sender_->isRunning(); }

bool BackForm::holdsNothingTyped() const {
    ComposeDraft draft = currentDraft();
    // As it was filled from the message: nothing of the user's yet.
    if (draft == filled_) return true;
    draft.body = signatures_->bodyWithoutSignature();
    return IsBlankDraft(draft);
}

void BackForm::DraftCommand_Click() { SaveDraftNow(*keeper_, StatusLabel); }

void BackForm::Command2_Click() {
    if (isSending()) return;
    const Result<ComposeOptions> options = CurrentComposeOptions(windows_.program());
    if (!options) {
        ShowError(this, QStringLiteral("エラー"), options.error());
        return;
    }
    SendRequest request;
    request.ToText = ToText->text();
    request.CcText = CcText->text();
    request.BccText = BccText->text();
    request.SubjectText = SubjectText->text();
    request.BodyText = WithCrLf(BodyText->toPlainText());
    request.Attachments = AttachedFiles(AttachText->text(), attachedFiles_);
    // A reply is kept only in the sent Maildir unless 返信を送信履歴に残す
    // keeps it in 送信履歴 too.
    request.KeepInSentHistory = options.value().KeepReplies;
    request.WidenKana = options.value().WidenKana;
    request.WrapLines = options.value().WrapLines;
    request.InReplyTo = inReplyTo_;
    request.References = references_;
    request.ReplyCharset = replyCharset_;
    if (!LookBeforeSending(this, request, windows_.program().values.MailAddress, options.value().ConfirmRecipients))
        return;
    StatusLabel->setText(kSendingText);
    sender_->start(request);
}

void BackForm::sendDone(const SendResult& result) {
    if (result.allSent()) {
        StatusLabel->clear();
        // It went out: its draft goes.
        keeper_->discard();
        Q_EMIT sendFinished(result);
        close();
        return;
    }
    // The reply stays as it was typed, for another try; the reason has been
    // shown in its own box.
    StatusLabel->setText(result.Refused ? QString()
                         : result.Stopped ? mail::SendStoppedText()
                                          : QStringLiteral("送信できませんでした。"));
    Q_EMIT sendFinished(result);
}

void BackForm::Command3_Click() {
    // During a send it stops the send, and the reply stays as written.
    if (sender_->requestStop()) {
        StatusLabel->setText(QStringLiteral("送信を中止しています。"));
        return;
    }
    QWidget* mainWindow = windows_.MainWindow();
    if (!mainWindow) {
        hide();
        return;
    }
    ShowInPlaceOf(mainWindow, this);
}

void BackForm::closeEvent(QCloseEvent* event) {
    // A window that goes in the middle of a send would pull the controls
    // from under it.
    if (isSending()) {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace lumopet
