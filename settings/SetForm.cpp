#include "settings/SetForm.h"

#include "core/program.h"
#include "core/settings_files/character_flags.h"
#include "core/twips.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace lumopet {
namespace {

// How often the preview walks the characters while it runs.
constexpr int kPreviewInterval = 500;

// The sentences start on lines of their own. Runs of blanks would push them
// there only in one font at one width; line breaks do it in any.
QString explanationText() {
    return QStringLiteral("　新着メールがあった場合のキャラの設定。複数選べます。メールチェック以外でも確認可能。\n"
                          "この設定は「キャラ設定」ボタンをクリックすると保存されます。\n"
                          "相手がキャラを送信して来たときは、それが優先されます。\n"
                          "キャラの確認を行いたい場合は、１～５（複数、全部でも良い）をチェックし、"
                          "「キャラを見る」をクリックして下さい。");
}

QLabel* wrappedLabel(const QString& text, QWidget* parent, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

SetForm::SetForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), windows_(windows), program_(windows.program()) {
    // A sizable border with a minimise button and a close box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("設定"));
    setFont(JapaneseFont(9));
    // Taller than the Windows version's window by the characters' manners
    // at the bottom; everything above stays where it was.
    resize(place(0, 0, 4860, 7620).size());

    Command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
    Command1->setGeometry(place(960, 120, 1455, 375));
    Command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
    Command2->setGeometry(place(2400, 120, 1455, 375));
    // The options this program has beyond the Windows version's: their own
    // doors, under the two above.
    Command6 = new QPushButton(QStringLiteral("アカウント設定"), this);
    Command6->setGeometry(place(960, 600, 1455, 375));
    Command5 = new QPushButton(QStringLiteral("受信の設定"), this);
    Command5->setGeometry(place(2400, 600, 1455, 375));

    Label7 = wrappedLabel(explanationText(), this, place(120, 1680, 4335, 1575));

    Frame1 = new QGroupBox(this);
    Frame1->setGeometry(place(0, 3360, 4815, 975));
    // The boxes stand left to right in mood order; each is named by the
    // character window it stands for.
    constexpr int kBoxTop = 600;
    constexpr int kNumberAboveBox = 360;
    constexpr int kBoxStep = 480;
    QLabel** numbers[kMoodCount] = {&Label1, &Label2, &Label3, &Label5, &Label6};
    for (int mood = 1; mood <= kMoodCount; ++mood) {
        const int left = 180 + kBoxStep * (mood - 1);
        QLabel*& number = *numbers[mood - 1];
        number = new QLabel(QString::number(mood), Frame1);
        number->move(place(left, kBoxTop - kNumberAboveBox, 0, 0).topLeft());
        number->adjustSize();

        const int window = LinkOfMood(mood).window;
        QCheckBox*& box = Check[window - 1];
        box = new QCheckBox(Frame1);
        box->setObjectName(QStringLiteral("Check%1").arg(window));
        box->setGeometry(place(left, kBoxTop, 255, 255));
    }
    // The blanks take the whole first line, so the text starts beside the
    // boxes. Its three lines below need more than the 735 twips the label
    // had in the old font: the free font's lines are a pixel taller.
    Label9 = wrappedLabel(QString(18, QChar(0x3000)) +
                              QStringLiteral("１～５の番号は「気分レベル」です。１はグレイ、５は気分もっとも快適です。"),
                          Frame1, place(2520, 120, 2175, 810));

    Command3 = new QPushButton(QStringLiteral("キャラ設定"), this);
    Command3->setGeometry(place(1080, 4440, 1455, 375));
    Command4 = new QPushButton(QStringLiteral("キャラを見る"), this);
    Command4->setGeometry(place(2520, 4440, 1335, 375));

    Label8 = wrappedLabel(QStringLiteral("出現させたキャラを消滅させたい場合は、この「設定」フォームを終了させて下さい。"), this,
                          place(120, 4920, 4695, 615));

    MannersFrame = new QGroupBox(QStringLiteral("キャラのマナー"), this);
    MannersFrame->setGeometry(place(0, 5520, 4815, 1950));
    HomeWhenReadCheck = new QCheckBox(QStringLiteral("着信履歴を開いたらキャラクターを帰す"), MannersFrame);
    HomeWhenReadCheck->setGeometry(place(180, 300, 4515, 300));
    AwayFromFullScreenCheck =
        new QCheckBox(QStringLiteral("全画面のウィンドウがあるときはキャラクターを隠す"), MannersFrame);
    AwayFromFullScreenCheck->setGeometry(place(180, 660, 4515, 300));
    QuietHoursLabel = new QLabel(QStringLiteral("静かな時間帯"), MannersFrame);
    QuietHoursLabel->setGeometry(place(180, 1050, 1200, 300));
    QuietHoursEdit = new QLineEdit(MannersFrame);
    QuietHoursEdit->setGeometry(place(1380, 1020, 1695, 345));
    QuietHoursEdit->setPlaceholderText(QStringLiteral("例 22:00-07:00"));
    QuietHoursEdit->setMaxLength(64);
    QuietHoursLabel->setBuddy(QuietHoursEdit);
    QuietHoursNote = wrappedLabel(QStringLiteral("この時間帯に届いたメールでは、キャラも通知も出ません（メールは受信されます）。"),
                                  MannersFrame, place(180, 1440, 4515, 450));

    // The boxes are checked in mood order by tab as well.
    for (int mood = 1; mood < kMoodCount; ++mood) setTabOrder(CheckOfMood(mood), CheckOfMood(mood + 1));

    connect(Command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &SetForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &SetForm::Command6_Click);
    connect(Command3, &QPushButton::clicked, this, &SetForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &SetForm::Command4_Click);
}

QRect SetForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void SetForm::Form_Load() {
    ShowCharacterOptions(program_.characters);
    move(screen()->availableGeometry().center() - rect().center());
}

void SetForm::ShowCharacterOptions(const CharacterOptions& options) {
    HomeWhenReadCheck->setChecked(options.HomeWhenRead);
    AwayFromFullScreenCheck->setChecked(options.AwayFromFullScreen);
    QuietHoursEdit->setText(options.QuietHours);
}

CharacterOptions SetForm::ChosenCharacterOptions() const {
    return {HomeWhenReadCheck->isChecked(), AwayFromFullScreenCheck->isChecked(), QuietHoursEdit->text().trimmed()};
}

QCheckBox* SetForm::CheckOfMood(int mood) const { return Check[LinkOfMood(mood).window - 1]; }

void SetForm::TickEnabledMoods(const MoodFlags& enabled) {
    for (int mood = 1; mood <= kMoodCount; ++mood)
        if (enabled[mood - 1]) CheckOfMood(mood)->setChecked(true);
}

bool SetForm::IsBoxTicked(int k) const { return k >= 1 && k <= kMoodCount && Check[k - 1]->isChecked(); }

MoodFlags SetForm::TickedMoods() const {
    MoodFlags ticked{};
    for (int mood = 1; mood <= kMoodCount; ++mood) ticked[mood - 1] = CheckOfMood(mood)->isChecked();
    return ticked;
}

void SetForm::Command1_Click() { windows_.ShowIdPassForm(); }

void SetForm::Command2_Click() { windows_.ShowOptionForm(); }

void SetForm::Command5_Click() { windows_.ShowReceiveOptionsForm(); }

void SetForm::Command6_Click() { windows_.ShowAccountSetupForm(); }

void SetForm::Command3_Click() {
    // A span that cannot be read would silence nothing: nothing is saved
    // until the user writes it as one.
    const CharacterOptions manners = ChosenCharacterOptions();
    if (!manners.QuietHours.isEmpty() && !ParseQuietHours(manners.QuietHours)) {
        ShowWarning(this, RefusedQuietHoursText(manners.QuietHours));
        QuietHoursEdit->setFocus();
        QuietHoursEdit->selectAll();
        return;
    }
    // The manners are lumopet.ini's, written when they changed. On a failed
    // write the program goes on as before, and the window keeps the user's
    // choice to try again.
    if (manners != program_.characters) {
        const Status written = WriteCharacterOptions(program_.paths.path(files::ProgramOptions), manners);
        if (written) {
            program_.characters = manners;
            windows_.CharacterOptionsChanged();
        } else {
            ShowError(this, QStringLiteral("エラー"), written.error());
        }
    }

    // A failed write goes unreported: reading the file back puts on the
    // boxes and the indicators what the next start will really see.
    const QString path = program_.paths.path(files::CharacterFile);
    WriteCharacterFlags(path, TickedMoods());
    windows_.ShowEnabledMoods(MoodFlags{});
    const MoodFlags saved = ReadCharacterFlags(path);
    TickEnabledMoods(saved);
    windows_.ShowEnabledMoods(saved);
}

void SetForm::Command4_Click() { windows_.SetPreviewInterval(kPreviewInterval); }

void SetForm::closeEvent(QCloseEvent* event) {
    // The preview stops; characters already walking stay where they are.
    windows_.SetPreviewInterval(0);
    event->accept();
}

}  // namespace lumopet
