#pragma once
// What the compose window shows and how its choices hang together, apart
// from the widgets: the phrases, the status and help texts, the sizes, the
// rule that keeps character, fortune and bulk mode apart, and the opening
// line.

#include "core/twips.h"

#include <QString>
#include <QStringList>

#include <array>

namespace lumopet {

// The opening-line phrases of Combo1, in order.
const QStringList& OpeningPhrases();

// Text2 after Option3..Option7 (moods 1..5) and Option8 (index 0).
QString CharacterStatusText(int mood);
inline const QString kNoCharacterYetText = QStringLiteral("キャラは送らないが選択されています");

// The CC and BCC rows under 宛先, each as high as the pitch of the rows
// around them: everything below them sits lower by both, and the window is
// taller by both.
inline constexpr int kRowPitch = 360;
inline constexpr int kCopyRowsHeight = 2 * kRowPitch;

// The window's outer sizes in twips; the client area is what is left inside
// a fixed single border and its caption.
inline constexpr int kNormalWidth = 7100;
inline constexpr int kPanelWidth = 9700;
inline constexpr int kNormalHeight = 8200 + kCopyRowsHeight;
inline constexpr int kHiddenModeHeight = 8955 + kCopyRowsHeight;
inline constexpr int kBorderTwips = 60;    // each side
inline constexpr int kCaptionTwips = 360;  // the title bar
inline constexpr int ClientWidth(int outerWidth) { return outerWidth - 2 * kBorderTwips; }
inline constexpr int ClientHeight(int outerHeight) { return outerHeight - 2 * kBorderTwips - kCaptionTwips; }

// What "kobu" in the recipient box opens: the bottom row with the paste box.
inline const QString kHiddenModeWord = QStringLiteral("kobu");

// The help texts of the controls that have one.
enum class HelpTopic { AttachCommand, Command9, Command7, Command5, Command4, Command6, Command11, Command1, Command3, Frame1 };
QString HelpText(HelpTopic topic);

// Character (mood 1..5, 0 for none), fortune and bulk mode cannot go
// together. Every 500 ms the window puts them in order: bulk mode wins over
// a character, a character over the fortune.
struct SendOptions {
    bool bulk = false;
    int mood = 0;
    bool fortune = false;
    bool operator==(const SendOptions&) const = default;
};
SendOptions ApplyOptionRules(SendOptions options);

// The body after the opening-line box loses the focus. Nothing changes when
// the box's text did not change while it had the focus, or when it is
// empty. A line replaces a body that is empty or holds nothing but an
// earlier opening line (one of the phrases, or the line the box put in
// last); in front of typed text it goes in as the first line, so that
// leaving the box never throws away what the user wrote.
QString BodyAfterOpeningLine(const QString& body, const QString& lineText, const QString& lastLine,
                             bool changedWhileFocused);

}  // namespace lumopet
