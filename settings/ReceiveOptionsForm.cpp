#include "settings/ReceiveOptionsForm.h"

#include "core/program.h"
#include "core/twips.h"
#include "settings/JunkTrainingForm.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include <algorithm>

namespace lumopet {
namespace {

// Blank space between a box's text and the number after it.
constexpr int kGapBeforeNumber = 60;

QSpinBox* numberBox(QWidget* parent, int highest) {
    auto* box = new QSpinBox(parent);
    box->setRange(1, highest);
    box->setAlignment(Qt::AlignRight);
    return box;
}

}  // namespace

ReceiveOptionsForm::ReceiveOptionsForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), windows_(windows), program_(windows.program()) {
    // A fixed single border and a close box, as the server window has.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("受信の設定"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 5400, 6240).size());

    Frame1 = new QGroupBox(QStringLiteral("受信"), this);
    Frame1->setGeometry(place(120, 60, 5160, 2040));
    AutoCheck = new QCheckBox(QStringLiteral("自動受信する(&A)"), Frame1);
    AutoCheck->move(place(180, 360, 0, 0).topLeft());
    AutoCheck->adjustSize();
    AutoMinutes = numberBox(Frame1, kMaxAutoCheckMinutes);
    AutoMinutesLabel = new QLabel(QStringLiteral("分ごと"), Frame1);

    LeaveCheck = new QCheckBox(QStringLiteral("サーバーにメールを残す(&L)"), Frame1);
    LeaveCheck->move(place(180, 810, 0, 0).topLeft());
    LeaveCheck->adjustSize();
    // The two options of mail left on the server stand indented under it.
    DeleteAfterCheck = new QCheckBox(QStringLiteral("受信から(&D)"), Frame1);
    DeleteAfterCheck->move(place(540, 1230, 0, 0).topLeft());
    DeleteAfterCheck->adjustSize();
    DeleteAfterDays = numberBox(Frame1, kMaxDeleteAfterDays);
    DeleteAfterLabel = new QLabel(QStringLiteral("日後にサーバーから削除"), Frame1);
    DeleteWithHistoryCheck = new QCheckBox(QStringLiteral("履歴から削除したメールをサーバーからも削除(&H)"), Frame1);
    DeleteWithHistoryCheck->move(place(540, 1650, 0, 0).topLeft());
    DeleteWithHistoryCheck->adjustSize();

    // Both number boxes start where the longer of their boxes' texts ends,
    // whatever the font makes of them, and stand one above the other.
    const int numberLeft =
        std::max(AutoCheck->geometry().right(), DeleteAfterCheck->geometry().right()) + place(0, 0, kGapBeforeNumber, 0).width();
    const QSize numberSize(std::max(place(0, 0, 900, 0).width(), AutoMinutes->sizeHint().width()),
                           AutoMinutes->sizeHint().height());
    auto besideBox = [&](QCheckBox* box, QSpinBox* number, QLabel* unit) {
        number->setGeometry(
            QRect(QPoint(numberLeft, box->geometry().center().y() - numberSize.height() / 2), numberSize));
        unit->adjustSize();
        unit->move(number->geometry().right() + place(0, 0, kGapBeforeNumber, 0).width(),
                   number->geometry().center().y() - unit->height() / 2);
    };
    besideBox(AutoCheck, AutoMinutes, AutoMinutesLabel);
    besideBox(DeleteAfterCheck, DeleteAfterDays, DeleteAfterLabel);

    Frame2 = new QGroupBox(QStringLiteral("お知らせ"), this);
    Frame2->setGeometry(place(120, 2190, 5160, 1140));
    TrayCheck = new QCheckBox(QStringLiteral("タスクトレイにアイコンを表示(&T)"), Frame2);
    TrayCheck->move(place(180, 360, 0, 0).topLeft());
    TrayCheck->adjustSize();
    NotifyCheck = new QCheckBox(QStringLiteral("新着メールをデスクトップに通知(&N)"), Frame2);
    NotifyCheck->move(place(180, 750, 0, 0).topLeft());
    NotifyCheck->adjustSize();

    Frame3 = new QGroupBox(QStringLiteral("迷惑メール"), this);
    Frame3->setGeometry(place(120, 3420, 5160, 750));
    JunkCheck = new QCheckBox(QStringLiteral("迷惑メールを振り分ける(&J)"), Frame3);
    JunkCheck->move(place(180, 360, 0, 0).topLeft());
    JunkCheck->adjustSize();

    // The help line: what the control under the mouse does.
    HelpLabel = new QLabel(this);
    HelpLabel->setGeometry(place(120, 4290, 5160, 1440));
    HelpLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    HelpLabel->setWordWrap(true);
    HelpLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    HelpLabel->setMargin(place(0, 0, 45, 0).width());

    SaveCommand = new QPushButton(QStringLiteral("保存"), this);
    SaveCommand->setGeometry(place(2700, 5760, 1200, 375));
    CancelCommand = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelCommand->setGeometry(place(4080, 5760, 1200, 375));
    // As in the server window: Enter presses the button that has the focus,
    // and there is no default button.
    for (QPushButton* button : {SaveCommand, CancelCommand}) button->setAutoDefault(true);

    for (QCheckBox* box : {AutoCheck, LeaveCheck, DeleteAfterCheck})
        connect(box, &QCheckBox::toggled, this, &ReceiveOptionsForm::enableDependents);
    connect(SaveCommand, &QPushButton::clicked, this, &ReceiveOptionsForm::SaveCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &ReceiveOptionsForm::CancelCommand_Click);
    // clicked, not toggled: showing the file's tick offers nothing.
    connect(JunkCheck, &QCheckBox::clicked, this, &ReceiveOptionsForm::JunkCheck_Click);

    // A number box and the words around it are one option.
    helpOver(AutoCheck, ReceiveOptionsTopic::AutoCheck);
    helpOver(AutoMinutes, ReceiveOptionsTopic::AutoCheck);
    helpOver(AutoMinutesLabel, ReceiveOptionsTopic::AutoCheck);
    helpOver(LeaveCheck, ReceiveOptionsTopic::LeaveOnServer);
    helpOver(DeleteAfterCheck, ReceiveOptionsTopic::DeleteAfterDays);
    helpOver(DeleteAfterDays, ReceiveOptionsTopic::DeleteAfterDays);
    helpOver(DeleteAfterLabel, ReceiveOptionsTopic::DeleteAfterDays);
    helpOver(DeleteWithHistoryCheck, ReceiveOptionsTopic::DeleteWithHistory);
    helpOver(TrayCheck, ReceiveOptionsTopic::Tray);
    helpOver(NotifyCheck, ReceiveOptionsTopic::Notify);
    helpOver(JunkCheck, ReceiveOptionsTopic::JunkFilter);
    helpOver(SaveCommand, ReceiveOptionsTopic::Save);
    helpOver(CancelCommand, ReceiveOptionsTopic::Cancel);
    // Every widget reports the mouse, so that the bare parts of the window
    // and of its frames take the help text away too.
    setMouseTracking(true);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setMouseTracking(true);
        child->installEventFilter(this);
    }

    ShowOptions(ReceiveOptions{});
    showHelp(ReceiveOptionsTopic::None);
}

QRect ReceiveOptionsForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void ReceiveOptionsForm::Form_Load() {
    // What the file holds, not what the program took at start: the file may
    // have been fixed since. One that cannot be read leaves the defaults
    // here, and stays untouched unless the user saves.
    const Result<ReceiveOptions> read = ReadReceiveOptions(program_.paths.path(files::ProgramOptions));
    if (read) {
        ShowOptions(read.value());
    } else {
        ShowOptions(ReceiveOptions{});
        ShowError(this, QStringLiteral("エラー"), read.error());
    }
    showHelp(ReceiveOptionsTopic::None);
    move(screen()->availableGeometry().center() - rect().center());
}

void ReceiveOptionsForm::ShowOptions(const ReceiveOptions& options) {
    AutoCheck->setChecked(options.AutoCheckMinutes > 0);
    AutoMinutes->setValue(options.AutoCheckMinutes > 0 ? options.AutoCheckMinutes : kSuggestedAutoCheckMinutes);
    LeaveCheck->setChecked(options.LeaveOnServer);
    DeleteAfterCheck->setChecked(options.DeleteAfterDays > 0);
    DeleteAfterDays->setValue(options.DeleteAfterDays > 0 ? options.DeleteAfterDays : kSuggestedDeleteAfterDays);
    DeleteWithHistoryCheck->setChecked(options.DeleteWithHistory);
    TrayCheck->setChecked(options.Tray);
    NotifyCheck->setChecked(options.Notify);
    JunkCheck->setChecked(options.JunkFilter);
    enableDependents();
}

ReceiveOptions ReceiveOptionsForm::ChosenOptions() const {
    // The options of mail left on the server keep their ticks while it is
    // off (the boxes only grey), so that ticking it again brings them back;
    // without it they do nothing. What the window does not show (the size
    // limit) stays as the file has it.
    ReceiveOptions options = program_.receive;
    options.AutoCheckMinutes = AutoCheck->isChecked() ? AutoMinutes->value() : 0;
    options.LeaveOnServer = LeaveCheck->isChecked();
    options.DeleteAfterDays = DeleteAfterCheck->isChecked() ? DeleteAfterDays->value() : 0;
    options.DeleteWithHistory = DeleteWithHistoryCheck->isChecked();
    options.Tray = TrayCheck->isChecked();
    options.Notify = NotifyCheck->isChecked();
    options.JunkFilter = JunkCheck->isChecked();
    return options;
}

void ReceiveOptionsForm::enableDependents() {
    const bool leave = LeaveCheck->isChecked();
    AutoMinutes->setEnabled(AutoCheck->isChecked());
    AutoMinutesLabel->setEnabled(AutoCheck->isChecked());
    for (QWidget* dependent : std::initializer_list<QWidget*>{DeleteAfterCheck, DeleteAfterLabel, DeleteWithHistoryCheck})
        dependent->setEnabled(leave);
    DeleteAfterDays->setEnabled(leave && DeleteAfterCheck->isChecked());
}

void ReceiveOptionsForm::SaveCommand_Click() {
    // A number being typed counts as typed.
    AutoMinutes->interpretText();
    DeleteAfterDays->interpretText();
    const ReceiveOptions chosen = ChosenOptions();
    // On a failed write the program goes on as the file says, and the
    // window stays with the user's choice to try again or to cancel.
    const Status written = WriteReceiveOptions(program_.paths.path(files::ProgramOptions), chosen);
    if (!written) {
        ShowError(this, QStringLiteral("エラー"), written.error());
        return;
    }
    program_.receive = chosen;
    windows_.ReceiveOptionsChanged();
    close();
}

void ReceiveOptionsForm::CancelCommand_Click() { close(); }

void ReceiveOptionsForm::JunkCheck_Click(bool checked) {
    // A filter that has learnt nothing calls hardly anything junk, so the
    // first tick offers to teach it the mail the user already has. Training
    // writes the word list a check reads: never while a check runs.
    if (!checked || TrainingForm || windows_.IsCommandRunning()) return;
    TrainingForm = new JunkTrainingForm(program_, this);
    TrainingForm->setAttribute(Qt::WA_DeleteOnClose);
    TrainingForm->show();
}

void ReceiveOptionsForm::showHelp(ReceiveOptionsTopic topic) {
    const QString text = ReceiveOptionsHelpText(topic);
    if (HelpLabel->text() != text) HelpLabel->setText(text);
}

void ReceiveOptionsForm::helpOver(QWidget* control, ReceiveOptionsTopic topic) { topics_.emplace_back(control, topic); }

bool ReceiveOptionsForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseMove || type == QEvent::Enter) && watched->isWidgetType()) {
        // The widget under the mouse, or the nearest one above it that has
        // a help text; a disabled box reports the mouse here as well, so a
        // greyed option still says what it does and why it is grey.
        auto* widget = static_cast<QWidget*>(watched);
        if (type == QEvent::MouseMove) {
            if (QWidget* inner = widget->childAt(static_cast<QMouseEvent*>(event)->position().toPoint())) widget = inner;
        }
        ReceiveOptionsTopic topic = ReceiveOptionsTopic::None;
        for (QWidget* w = widget; w && w != this && topic == ReceiveOptionsTopic::None; w = w->parentWidget()) {
            const auto found = std::find_if(topics_.begin(), topics_.end(), [w](const auto& t) { return t.first == w; });
            if (found != topics_.end()) topic = found->second;
        }
        // Entering a frame or the help line from a control says nothing by
        // itself: the move that follows tells where the mouse is.
        if (type == QEvent::MouseMove || topic != ReceiveOptionsTopic::None) showHelp(topic);
    }
    return QWidget::eventFilter(watched, event);
}

void ReceiveOptionsForm::mouseMoveEvent(QMouseEvent* event) {
    // Over the bare window the general text comes back. A move that a
    // control passed up is over that control, not over the window.
    if (!childAt(event->position().toPoint())) showHelp(ReceiveOptionsTopic::None);
    QWidget::mouseMoveEvent(event);
}

void ReceiveOptionsForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace lumopet
