#include "compose/WriteForm.h"

#include "compose/compose_window_parts.h"
#include "compose/send_runner.h"
#include "core/program.h"
#include "core/text_helpers.h"
#include "core/twips.h"
#include "mail/message_builder.h"
#include "mail/send_stop.h"
#include "store/address_book.h"
#include "ui/limited_text_box.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

namespace lumopet {

namespace {

// How often the character, fortune and bulk choices are put in order.
constexpr int kOptionRulesInterval = 500;
constexpr int kToTextMaxLength = 60;

const QColor kPaleCyan(0xC0, 0xFF, 0xFF);
// Colours 15 (white) and 2 (green) of the 16-colour palette.
const QColor kListWhite(0xFF, 0xFF, 0xFF);
const QColor kListGreen(0x00, 0x80, 0x00);

// An option button that is switched off leaves its group with none on, as
// the window's "off" means; Qt's exclusive buttons do not allow that by
// themselves.
void setRadioChecked(QRadioButton* button, bool on) {
    if (button->isChecked() == on) return;
    if (on) {
        button->setChecked(true);
        return;
    }
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
}

QLabel* plainLabel(const QString& text, QWidget* parent, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

// The recipient box: multi-line, with a scroll bar, and at most 60
// characters typed or pasted.
QPlainTextEdit* recipientBox(QWidget* parent, const QRect& geometry) {
    auto* box = new LimitedTextEdit(kToTextMaxLength, parent);
    box->setGeometry(geometry);
    // The box is one line high (300 twips): with the usual margin a line
    // does not fit, and the box then keeps a line scrolled away, so that an
    // address typed over a long text is hidden.
    box->document()->setDocumentMargin(1);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setTabChangesFocus(true);
    return box;
}

}  // namespace

WriteForm::WriteForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), windows_(windows), program_(windows.program()) {
    // A fixed single border: no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("新規作成"));
    setFont(JapaneseFont(9));
    setMouseTracking(true);
    buildControls();
    buildAddressPanel();
    watchContent();
    setOuterSize(kNormalWidth, kNormalHeight);
    // The status line sits in its strip, which stays usable while sending.
    sender_ = new SendRunner(*this, windows_, Label7, BodyText);
    sender_->keepEnabled(Command3);
    connect(sender_, &SendRunner::finished, this, &WriteForm::sendDone);

    keeper_ = KeepDrafts(
        this, program_, [this] { return currentDraft(); }, [this] { return holdsNothingTyped(); }, Label7,
        [this] { return isSending(); });
    connect(this, &WriteForm::contentChanged, keeper_, &DraftKeeper::contentChanged);
    completer_ = CompleteAddresses(this, program_, {ToText, CcText, BccText});
}

bool WriteForm::isSending() const { return sender_->isRunning(); }

QRect WriteForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void WriteForm::buildControls() {
    Command1 = PlacedButton(QStringLiteral("送信"), this, place(240, 120, 1335, 375));
    Command3 = PlacedButton(QStringLiteral("送信中止"), this, place(240, 600, 1335, 375));
    Command4 = PlacedButton(QStringLiteral("アドレス帳"), this, place(1800, 120, 1335, 375));
    Command5 = PlacedButton(QStringLiteral("本文に貼付"), this, place(1800, 600, 1335, 375));
    Command6 = PlacedButton(QStringLiteral("元のサイズ"), this, place(3360, 120, 1335, 375));
    Command7 = PlacedButton(QStringLiteral("宛先に貼付"), this, place(3360, 600, 1335, 375));
    Command11 = PlacedButton(QStringLiteral("クリア"), this, place(4920, 120, 1335, 375));
    DraftCommand = PlacedButton(QStringLiteral("下書き保存"), this, place(4920, 600, 1335, 375));

    // The row left of the character's status line: the signature box and
    // the windows that set what the send does.
    plainLabel(QStringLiteral("署名"), this, place(240, 1080, 480, 255));
    SignatureCombo = new QComboBox(this);
    SignatureCombo->setGeometry(place(720, 1035, 1335, 300));
    signatures_ = MakeSignatureChooser(
        SignatureCombo, program_, [this] { return BodyText->toPlainText(); },
        [this](const QString& body) { BodyText->setPlainText(body); });
    SettingsCommand = PlacedButton(QStringLiteral("設定"), this, place(2160, 1035, 1080, 300));
    AddSettingsMenu(SettingsCommand, windows_);

    Text2 = new QLineEdit(this);
    Text2->setGeometry(place(3360, 1080, 3255, 270));
    Text2->setReadOnly(true);

    Frame1 = new QGroupBox(QStringLiteral("キャラ設定（数字は気分レベル・・・）"), this);
    Frame1->setGeometry(place(240, 1320, 6495, 735));
    Frame1->setMouseTracking(true);
    QRadioButton** options[] = {&Option3, &Option4, &Option5, &Option6, &Option7, &Option8};
    const QString captions[] = {QStringLiteral("レベル１"), QStringLiteral("レベル２"), QStringLiteral("レベル３"),
                                QStringLiteral("レベル４"), QStringLiteral("レベル５"), QStringLiteral("送らない")};
    for (int i = 0; i < 6; ++i) {
        QRadioButton*& option = *options[i];
        option = new QRadioButton(captions[i], Frame1);
        option->setObjectName(QStringLiteral("Option%1").arg(i + 3));
        option->setGeometry(place(120 + 1060 * i, 300, 1020, 300));
        const int mood = i < 5 ? i + 1 : 0;
        // Chosen by a click or by the option rules: either way the status
        // text follows.
        connect(option, &QRadioButton::toggled, this, [this, mood](bool on) {
            if (on) Text2->setText(CharacterStatusText(mood));
        });
    }

    Label12 = plainLabel(QStringLiteral("「キャラ送信」、「占い添付」、「一括送信」機能は同時には使用出来ません。一個選択"),
                         this, place(240, 2085, 6495, 255));
    Label12->setFont(JapaneseFont(8));

    plainLabel(QStringLiteral("宛先"), this, place(240, 2430, 1000, 255));
    ToText = recipientBox(this, place(1320, 2400, 5415, 300));
    plainLabel(QStringLiteral("CC"), this, place(240, 2790, 1000, 255));
    CcText = new QLineEdit(this);
    CcText->setGeometry(place(1320, 2760, 5415, 300));
    plainLabel(QStringLiteral("BCC"), this, place(240, 2790 + kRowPitch, 1000, 255));
    BccText = new QLineEdit(this);
    BccText->setGeometry(place(1320, 2760 + kRowPitch, 5415, 300));

    // Below the two rows: every top as before, lower by both.
    const int below = kCopyRowsHeight;
    plainLabel(QStringLiteral("件名"), this, place(240, 2790 + below, 1000, 255));
    SubjectText = new QLineEdit(this);
    SubjectText->setGeometry(place(1320, 2760 + below, 5415, 300));
    plainLabel(QStringLiteral("首記例"), this, place(240, 3150 + below, 1000, 255));
    Combo1 = new QComboBox(this);
    Combo1->setGeometry(place(1320, 3120 + below, 5415, 300));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->installEventFilter(this);
    Combo1->lineEdit()->installEventFilter(this);

    AttachCommand = PlacedButton(QStringLiteral("添付File"), this, place(240, 3480 + below, 855, 300));
    Command9 = PlacedButton(QStringLiteral("追加"), this, place(1080, 3480 + below, 855, 300));
    Command10 = PlacedButton(QStringLiteral("取り消し"), this, place(1920, 3480 + below, 855, 300));
    QPalette red = Command10->palette();
    // Red while it can be clicked; greyed like the others when it cannot.
    red.setColor(QPalette::Active, QPalette::ButtonText, Qt::red);
    red.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::red);
    Command10->setPalette(red);
    AttachText = new QLineEdit(this);
    AttachText->setGeometry(place(2760, 3480 + below, 3975, 300));

    auto* fortuneNote = plainLabel(QStringLiteral("★　親しい人に占いを添付する　★ （一括送信では使用不可）"), this,
                                   place(240, 3825 + below, 4700, 255));
    fortuneNote->setFont(JapaneseFont(8));
    plainLabel(QStringLiteral("占い添付"), this, place(5400, 3825 + below, 900, 255));
    Check1 = new QCheckBox(this);
    Check1->setGeometry(place(6360, 3795 + below, 255, 300));

    BodyText = new QPlainTextEdit(this);
    BodyText->setGeometry(place(240, 4080 + below, 6495, 3135));
    BodyText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    BodyText->viewport()->setMouseTracking(true);
    BodyText->viewport()->installEventFilter(this);

    // Above the body, so that it shows over it.
    List2 = new QListWidget(this);
    List2->setGeometry(place(2400, 3480 + below, 3975, 1860));
    Text14 = new QPlainTextEdit(this);
    Text14->setGeometry(place(960, 5280 + below, 5175, 1695));
    Text14->setReadOnly(true);
    QPalette cyan = Text14->palette();
    cyan.setColor(QPalette::Base, kPaleCyan);
    Text14->setPalette(cyan);
    Text14->hide();

    StatusStrip = new QFrame(this);
    StatusStrip->setGeometry(place(240, 7200 + below, 6495, 375));
    StatusStrip->setFrameShape(QFrame::Panel);
    StatusStrip->setFrameShadow(QFrame::Sunken);
    Label7 = new QLabel(StatusStrip);
    Label7->setGeometry(place(60, 45, 6375, 285));
    Label7->installEventFilter(this);

    Command2 = PlacedButton(QStringLiteral("貼付け"), this, place(720, 7995 + below, 855, 375));
    Text4 = new QLineEdit(this);
    Text4->setGeometry(place(1560, 7995 + below, 2295, 375));

    Timer1 = new QTimer(this);
    Timer1->setInterval(kOptionRulesInterval);
    connect(Timer1, &QTimer::timeout, this, &WriteForm::Timer1_Timer);

    connect(Command1, &QPushButton::clicked, this, &WriteForm::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &WriteForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &WriteForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &WriteForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &WriteForm::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &WriteForm::Command7_Click);
    connect(Command11, &QPushButton::clicked, this, &WriteForm::Command11_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &WriteForm::AttachCommand_Click);
    connect(Command9, &QPushButton::clicked, this, &WriteForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &WriteForm::Command10_Click);
    connect(Command2, &QPushButton::clicked, this, &WriteForm::Command2_Click);
    connect(DraftCommand, &QPushButton::clicked, this, &WriteForm::DraftCommand_Click);

    // What a second try of a bulk send goes to holds only for the message
    // that failed: another subject, body or attachment is another message.
    connect(SubjectText, &QLineEdit::textChanged, this, &WriteForm::forgetUnsent);
    connect(BodyText, &QPlainTextEdit::textChanged, this, &WriteForm::forgetUnsent);
    connect(AttachText, &QLineEdit::textChanged, this, &WriteForm::forgetUnsent);

    // The controls with a help text show it while the mouse is over them.
    for (QWidget* helped : std::initializer_list<QWidget*>{AttachCommand, Command9, Command7, Command5, Command4,
                                                           Command6, Command11, Command1, Command3, Frame1}) {
        helped->setMouseTracking(true);
        helped->installEventFilter(this);
    }
}

void WriteForm::buildAddressPanel() {
    AddressPanel = new QFrame(this);
    // It keeps its top and reaches as far down the taller window as before.
    AddressPanel->setGeometry(place(7080, 1200, 2350, 6495 + kCopyRowsHeight));
    AddressPanel->setFrameShape(QFrame::Panel);
    AddressPanel->setFrameShadow(QFrame::Raised);
    plainLabel(QStringLiteral("アドレス帳"), AddressPanel, place(120, 240, 2055, 255));

    List1 = new QListWidget(AddressPanel);
    List1->setGeometry(place(120, 600, 2055, 5100 + kCopyRowsHeight));
    List1->viewport()->installEventFilter(this);
    // The names carry their full-width padding; only the names matter here.
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List1->setTextElideMode(Qt::ElideNone);
    setListColour(false);

    plainLabel(QStringLiteral("件数"), AddressPanel, place(120, 5760 + kCopyRowsHeight, 480, 255));
    Text1 = new QLineEdit(AddressPanel);
    Text1->setGeometry(place(720, 5730 + kCopyRowsHeight, 735, 285));
    Text1->setReadOnly(true);

    auto* bulkFrame = new QGroupBox(AddressPanel);
    bulkFrame->setGeometry(place(120, 6000 + kCopyRowsHeight, 2115, 435));
    Option2 = new QRadioButton(QStringLiteral("一括送信"), bulkFrame);
    Option2->setGeometry(place(60, 90, 1080, 285));
    Option1 = new QRadioButton(QStringLiteral("取消"), bulkFrame);
    Option1->setGeometry(place(1200, 90, 855, 285));
    connect(Option2, &QRadioButton::clicked, this, &WriteForm::Option2_Click);
    connect(Option1, &QRadioButton::clicked, this, &WriteForm::Option1_Click);
    connect(Option2, &QRadioButton::toggled, this, &WriteForm::forgetUnsent);
}

void WriteForm::watchContent() {
    const auto changed = [this] { Q_EMIT contentChanged(); };
    connect(ToText, &QPlainTextEdit::textChanged, this, changed);
    connect(CcText, &QLineEdit::textChanged, this, changed);
    connect(BccText, &QLineEdit::textChanged, this, changed);
    connect(SubjectText, &QLineEdit::textChanged, this, changed);
    connect(BodyText, &QPlainTextEdit::textChanged, this, changed);
    connect(AttachText, &QLineEdit::textChanged, this, changed);
    connect(Check1, &QCheckBox::toggled, this, changed);
    // Every choice of character switches one button on: that one says it.
    for (int mood = 0; mood <= 5; ++mood)
        connect(moodOption(mood), &QRadioButton::toggled, this, [changed](bool on) {
            if (on) changed();
        });
}

QRadioButton* WriteForm::moodOption(int mood) const {
    switch (mood) {
    case 1: return Option3;
    case 2: return Option4;
    case 3: return Option5;
    case 4: return Option6;
    case 5: return Option7;
    default: return Option8;
    }
}

int WriteForm::chosenMood() const {
    for (int mood = 1; mood <= 5; ++mood)
        if (moodOption(mood)->isChecked()) return mood;
    return 0;
}

void WriteForm::setOuterSize(int outerWidth, int outerHeight) {
    outerWidth_ = outerWidth;
    outerHeight_ = outerHeight;
    setFixedSize(place(0, 0, ClientWidth(outerWidth), ClientHeight(outerHeight)).size());
}

void WriteForm::Form_Load() {
    setMood(0);
    Text2->setText(kNoCharacterYetText);
    setOuterSize(kNormalWidth, kNormalHeight);
    setRadioChecked(Option2, false);
    Command2->hide();
    Command2->setEnabled(false);
    Command9->setEnabled(false);
    List2->hide();
    Check1->setChecked(false);
    AddressMap.assign(1, 0);
    Combo1->clear();
    Combo1->addItems(OpeningPhrases());
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
    fillAddressList(AddressListPath(program_.paths));
    putInDefaultSignature();
    CentreOnScreen(this);
    Timer1->start();
}

void WriteForm::putInDefaultSignature() {
    signatures_->adopt(0);
    const Result<ComposeOptions> options = CurrentComposeOptions(program_);
    if (options) signatures_->choose(options.value().DefaultSignature);
}

bool WriteForm::holdsNothingTyped() const {
    ComposeDraft draft = currentDraft();
    draft.body = signatures_->bodyWithoutSignature();
    return IsBlankDraft(draft);
}

void WriteForm::DraftCommand_Click() { SaveDraftNow(*keeper_, Label7); }

void WriteForm::setMood(int mood) { setRadioChecked(moodOption(mood), true); }

void WriteForm::fillAddressList(const QString& file) {
    const std::vector<std::int16_t> before = AddressMap;
    QStringList names;
    AddressMap.assign(1, 0);
    const auto records = ReadAddressRecords(file);
    if (!records) {
        ShowError(this, QStringLiteral("エラー"), records.error());
    } else {
        std::int16_t n = 0;
        for (const AddressRecord& record : records.value()) {
            ++n;
            // A record marked deleted gets no mail in bulk mode: the list
            // and its count show what a bulk send goes to. AddressMap keeps
            // the record numbers of those listed.
            if (record.Live == 0) continue;
            names.append(record.EntryName);
            AddressMap.back() = n;
            AddressMap.push_back(0);
        }
    }
    QStringList shown;
    for (int row = 0; row < List1->count(); ++row) shown.append(List1->item(row)->text());
    if (names != shown || AddressMap != before) forgetUnsent();
    List1->clear();
    List1->addItems(names);
    Text1->setText(QString::number(List1->count()));
}

void WriteForm::forgetUnsent() {
    if (unsent_.empty()) return;
    unsent_.clear();
    if (isSending()) return;
    Label7->clear();
    Label7->setToolTip(QString());
}

void WriteForm::Command4_Click() {
    setOuterSize(kPanelWidth, outerHeight_);
    CentreOnScreen(this);
    fillAddressList(AddressBookPath(program_.paths));
}

void WriteForm::Command6_Click() {
    setOuterSize(kNormalWidth, outerHeight_);
    setListColour(false);
    CentreOnScreen(this);
}

void WriteForm::List1_MouseDown() {
    const int row = List1->currentRow();
    if (row < 0 || !List1->currentItem()->isSelected()) {
        ShowWarning(this, QStringLiteral("データが選択されていません"));
        List1->setFocus();
        return;
    }
    const int n = AddressMap.at(static_cast<size_t>(row));
    const auto records = ReadAddressRecords(AddressBookPath(program_.paths));
    if (!records) {
        ShowError(this, QStringLiteral("エラー"), records.error());
        return;
    }
    if (n < 1 || n > static_cast<int>(records.value().size())) return;
    ToText->setPlainText(BareEntryText(records.value()[static_cast<size_t>(n - 1)].EntryAddress).trimmed());
}

void WriteForm::setListColour(bool bulk) {
    QPalette palette = List1->palette();
    palette.setColor(QPalette::Base, bulk ? kListGreen : kListWhite);
    List1->setPalette(palette);
}

void WriteForm::Option2_Click() { setListColour(true); }

void WriteForm::Option1_Click() {
    ToText->clear();
    setListColour(false);
}

void WriteForm::Timer1_Timer() {
    const SendOptions now{Option2->isChecked(), chosenMood(), Check1->isChecked()};
    const SendOptions ordered = ApplyOptionRules(now);
    if (ordered == now) return;
    Check1->setChecked(ordered.fortune);
    setMood(ordered.mood);
    setRadioChecked(Option2, ordered.bulk);
}

void WriteForm::Combo1_LostFocus() {
    const QString line = Combo1->currentText();
    const QString body = BodyText->toPlainText();
    const QString next = BodyAfterOpeningLine(body, line, lastOpeningLine_, line != lineOnFocus_);
    if (next != body) {
        BodyText->setPlainText(next);
        lastOpeningLine_ = line;
    }
    lineOnFocus_ = line;
}

AttachmentControls WriteForm::attachments() {
    return {this, AttachCommand, Command9, Command10, AttachText, List2, &attachedFiles_};
}

void WriteForm::AttachCommand_Click() { attachments().AttachFirst(); }

void WriteForm::Command9_Click() { attachments().AddAnother(); }

void WriteForm::Command10_Click() { attachments().RemoveAll(); }

void WriteForm::Command5_Click() {
    BodyText->setPlainText(BodyText->toPlainText() + QGuiApplication::clipboard()->text());
}

void WriteForm::Command7_Click() { ToText->setPlainText(QGuiApplication::clipboard()->text()); }

void WriteForm::Command2_Click() { Text4->setText(QGuiApplication::clipboard()->text()); }

void WriteForm::Command11_Click() {
    emptyFields();
    putInDefaultSignature();
    setRadioChecked(Option2, false);
    List2->clear();
    List2->hide();
    Command9->setEnabled(false);
    Command10->setEnabled(false);
    AttachCommand->setEnabled(true);
    Check1->setChecked(false);
    setListColour(false);
}

void WriteForm::emptyFields() {
    ToText->clear();
    CcText->clear();
    BccText->clear();
    SubjectText->clear();
    BodyText->clear();
    AttachText->clear();
    attachedFiles_.clear();
}

void WriteForm::Label7_DblClick() {
    if (ToText->toPlainText() != kHiddenModeWord) return;
    setOuterSize(outerWidth_, kHiddenModeHeight);
    Command2->show();
    Command2->setEnabled(true);
}

void WriteForm::Command3_Click() {
    // During a send it stops the send; the window stays with what was
    // written.
    if (sender_->requestStop()) {
        Label7->setText(QStringLiteral("送信を中止しています。送信中のメールが終わるまでお待ち下さい。"));
        return;
    }
    close();
}

void WriteForm::showHelp(HelpTopic topic) {
    const QString text = HelpText(topic);
    if (Text14->toPlainText() != text) Text14->setPlainText(text);
    Text14->show();
    Text14->raise();
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseMove || type == QEvent::Enter) {
        const std::pair<QObject*, HelpTopic> topics[] = {
            {AttachCommand, HelpTopic::AttachCommand}, {Command9, HelpTopic::Command9},
            {Command7, HelpTopic::Command7},           {Command5, HelpTopic::Command5},
            {Command4, HelpTopic::Command4},           {Command6, HelpTopic::Command6},
            {Command11, HelpTopic::Command11},         {Command1, HelpTopic::Command1},
            {Command3, HelpTopic::Command3},           {Frame1, HelpTopic::Frame1}};
        for (const auto& [control, topic] : topics) {
            if (watched == control) {
                showHelp(topic);
                return false;
            }
        }
        if (watched == BodyText->viewport()) Text14->hide();
        return false;
    }
    if (watched == Label7 && type == QEvent::MouseButtonDblClick) {
        Label7_DblClick();
        return true;
    }
    if (watched == List1->viewport() && type == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton) {
            if (QListWidgetItem* item = List1->itemAt(press->position().toPoint())) {
                List1->setCurrentItem(item);
                item->setSelected(true);
            }
            List1_MouseDown();
            return true;
        }
    }
    if (watched == Combo1 || watched == Combo1->lineEdit()) {
        if (type == QEvent::FocusIn) lineOnFocus_ = Combo1->currentText();
        // Moving between the box and its own edit line is not leaving it.
        if (type == QEvent::FocusOut && !Combo1->isAncestorOf(QApplication::focusWidget()) &&
            QApplication::focusWidget() != Combo1 && !Combo1->view()->isVisible())
            Combo1_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void WriteForm::mouseMoveEvent(QMouseEvent* event) {
    // Over the bare window the help text goes. A move that a button passed
    // up to the window is over the button, not over the window.
    if (!childAt(event->position().toPoint())) Text14->hide();
    QWidget::mouseMoveEvent(event);
}

SendRequest WriteForm::readRequest() const {
    SendRequest request;
    request.ToText = WithCrLf(ToText->toPlainText());
    request.CcText = CcText->text();
    request.BccText = BccText->text();
    request.SubjectText = SubjectText->text();
    request.BodyText = WithCrLf(BodyText->toPlainText());
    request.Attachments = AttachedFiles(AttachText->text(), attachedFiles_);
    request.Fortune = Check1->isChecked();
    request.Mood = chosenMood();
    request.Bulk = Option2->isChecked();
    if (request.Bulk) request.BulkRetry = unsent_;
    return request;
}

ComposeDraft WriteForm::currentDraft() const {
    ComposeDraft draft;
    draft.window = DraftWindow::Compose;
    draft.to = ToText->toPlainText();
    draft.cc = CcText->text();
    draft.bcc = BccText->text();
    draft.subject = SubjectText->text();
    draft.body = BodyText->toPlainText();
    draft.attachments = AttachedFiles(AttachText->text(), attachedFiles_);
    draft.mood = chosenMood();
    draft.fortune = Check1->isChecked();
    draft.bulk = Option2->isChecked();
    draft.signature = signatures_->chosen();
    return draft;
}

void WriteForm::loadDraft(const ComposeDraft& draft) {
    ToText->setPlainText(draft.to);
    CcText->setText(draft.cc);
    BccText->setText(draft.bcc);
    SubjectText->setText(draft.subject);
    BodyText->setPlainText(draft.body);
    signatures_->adopt(draft.signature);
    attachments().SetAll(draft.attachments);
    // The rules tick puts a draft's choices in order like typed ones.
    setMood(draft.mood);
    Check1->setChecked(draft.fortune);
    setRadioChecked(Option2, draft.bulk);
    setListColour(draft.bulk);
}

void WriteForm::Command1_Click() {
    if (isSending()) return;
    const Result<ComposeOptions> options = CurrentComposeOptions(program_);
    if (!options) {
        ShowError(this, QStringLiteral("エラー"), options.error());
        return;
    }
    SendRequest request = readRequest();
    request.WidenKana = options.value().WidenKana;
    request.WrapLines = options.value().WrapLines;
    if (!LookBeforeSending(this, request, program_.values.MailAddress, options.value().ConfirmRecipients)) return;
    Command9->setEnabled(false);
    List2->hide();
    AttachCommand->setEnabled(true);
    const QString note = request.BulkRetry.empty()
                             ? QString()
                             : QStringLiteral("送信できなかった %1 件に送信します").arg(request.BulkRetry.size());
    Label7->setText(note.isEmpty() ? kSendingText : note);
    Label7->setToolTip(QString());
    sender_->setProgressNote(note);
    Timer1->stop();
    sender_->start(request);
}

void WriteForm::sendDone(const SendResult& result) {
    Timer1->start();
    if (result.allSent()) {
        Label7->setText(kSendDoneText);
        emptyFields();
        Check1->setChecked(false);
        setRadioChecked(Option2, false);
        Command2->hide();
        // It went out: its draft goes.
        keeper_->discard();
        Q_EMIT sendFinished(result);
        close();
        return;
    }
    // Nothing the user wrote is lost: the window stays, and the sender has
    // put back the body as it was typed.
    QString summary = SendSummary(result);
    if (Option2->isChecked() && !result.Refused && !result.Unsent.empty()) {
        // A second 送信 goes to these alone: who got the message does not
        // get it twice.
        unsent_ = result.Unsent;
        if (!result.Stopped) summary += QStringLiteral("次の送信はその %1 件だけです。").arg(unsent_.size());
        QStringList addresses;
        for (const QString& address : unsent_) addresses.append(address);
        Label7->setToolTip(QStringLiteral("送信できなかった宛先：\n") + addresses.join(u'\n'));
    }
    Label7->setText(summary);
    Q_EMIT sendFinished(result);
}

void WriteForm::closeEvent(QCloseEvent* event) {
    // A window that goes in the middle of a send would pull the controls
    // from under it.
    if (isSending()) {
        event->ignore();
        return;
    }
    Timer1->stop();
    event->accept();
}

}  // namespace lumopet
