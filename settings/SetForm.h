#pragma once
// "設定": the doors to the server, account and receive options windows,
// and the choice of the characters that appear for mail that names none.
// Its boxes stand for the character windows (box K for window K); they are
// shown in mood order, which is not the order of their numbers.

#include "core/moods.h"
#include "core/settings_files/character_options.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lumopet {

class WindowDirectory;
struct Program;

class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

    // Ticks the box of every enabled mood and leaves the others as they are.
    void TickEnabledMoods(const MoodFlags& enabled);
    // k is the window number 1..5.
    bool IsBoxTicked(int k) const;
    MoodFlags TickedMoods() const;
    QCheckBox* CheckOfMood(int mood) const;

    // The characters' manners as the window shows them, and back.
    void ShowCharacterOptions(const CharacterOptions& options);
    CharacterOptions ChosenCharacterOptions() const;

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command5;  // the receive options
    QPushButton* Command6;  // the account found from the mail address
    QLabel* Label7;
    QGroupBox* Frame1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label5;
    QLabel* Label6;
    std::array<QCheckBox*, kMoodCount> Check;  // Check[K - 1] is CheckK
    QLabel* Label9;
    QPushButton* Command3;
    QPushButton* Command4;
    QLabel* Label8;
    // The characters' manners (lumopet.ini's [Characters]), under what the
    // Windows version had.
    QGroupBox* MannersFrame;
    QCheckBox* HomeWhenReadCheck;
    QCheckBox* AwayFromFullScreenCheck;
    QLabel* QuietHoursLabel;
    QLineEdit* QuietHoursEdit;
    QLabel* QuietHoursNote;

protected:
    void closeEvent(QCloseEvent* event) override;  // Form_Unload

private:
    QRect place(int left, int top, int width, int height) const;

    WindowDirectory& windows_;
    Program& program_;
};

}  // namespace lumopet
