#pragma once
// Where the history viewer's controls go, in twips, apart from the widgets
// that are put there: the places it opens with and the arithmetic it
// follows on every resize.

#include "core/twips.h"

namespace lumopet::tyaku_layout {

// The client area below the menu bar, as the window opens.
inline constexpr int kClientWidth = 9285;
inline constexpr int kClientHeight = 7050;
// The window's frame around that, counted in its outer size, which the
// resize arithmetic works on: a sizable border on each side and the caption
// above. (The menu bar is inside our window, so it is not counted here.)
inline constexpr int kBorderTwips = 60;
inline constexpr int kCaptionTwips = 360;

inline constexpr Twips Command1{120, 600, 1455, 375};
inline constexpr Twips Command3{1800, 600, 1455, 375};
inline constexpr Twips Command4{3480, 600, 1455, 375};
inline constexpr Twips Command5{5160, 600, 1455, 375};
inline constexpr Twips Label1{7320, 720, 495, 255};
inline constexpr Twips Text2{7800, 680, 495, 270};
inline constexpr Twips MailListView{0, 1080, 10515, 3495};
inline constexpr Twips Text7{0, 2880, 2295, 375};
inline constexpr Twips Text8{2280, 2880, 3255, 375};
inline constexpr Twips Text9{5520, 2880, 4575, 375};
inline constexpr Twips rtfEd{0, 4560, 10455, 3735};
inline constexpr Twips Text5{9720, 120, 975, 270};
inline constexpr Twips Text4{1800, 5400, 5535, 1215};
inline constexpr Twips Picture1{0, 0, 9180, 450};

// The search box over the list, in a row of its own: the buttons end at 975
// twips and the list starts at 1080, and there is no room beside them. The
// window is higher than the design's by the row, and the list and
// everything below it lie lower by as much; the buttons, the count and the
// band keep their places.
inline constexpr int kSearchRowTwips = 420;
inline constexpr Twips SearchBox{120, 1110, 6495, 360};
// "N / 全件数" beside it while the list is filtered.
inline constexpr Twips SearchCount{6735, 1110, 2430, 360};

// Where the load step puts the editor before the first resize (its top as
// the design has it; the search row comes on top of that).
inline constexpr int kEditorLoadLeft = 20;
inline constexpr int kEditorLoadTop = 3900;

// The places a resize gives. Single precision, as the window has always
// stored them; each is converted to pixels only when it is applied.
struct Resized {
    float listTop;
    float listWidth, listHeight;
    float fieldsTop;
    float bandWidth;
    float editorWidth, editorTop, editorHeight;
    float subjectWidth, fromWidth, dateWidth;
    float subjectLeft, fromLeft, dateLeft;
};

// outerWidth and outerHeight: the window's outer size in twips. The
// editor's left is what the load step gave it; the resize keeps it.
// rowAbove: the height of a row laid in above the list (the search box's).
// The shares of the height are taken of the window without it, and every
// top from the list down moves down by it: with the row, the window grown
// by its height is laid out as the window without it was, only lower.
inline Resized Resize(double outerWidth, double outerHeight, float editorLeft, double rowAbove) {
    const double W = outerWidth;
    const double H = outerHeight - rowAbove;
    Resized r{};
    r.listTop = static_cast<float>(MailListView.top + rowAbove);
    r.listWidth = static_cast<float>(0.99 * W);
    r.listHeight = static_cast<float>(0.35 * H);
    r.fieldsTop = static_cast<float>(static_cast<double>(r.listHeight) + 1040 + rowAbove);
    r.bandWidth = static_cast<float>(W);
    r.editorWidth = static_cast<float>(0.99 * W);
    r.editorTop = static_cast<float>(static_cast<double>(r.listHeight) + 1400 + rowAbove);
    r.editorHeight = static_cast<float>(0.38 * H);
    r.subjectWidth = static_cast<float>(0.5 * W);
    r.fromWidth = static_cast<float>(0.3 * W);
    r.dateWidth = static_cast<float>(0.2 * W);
    r.subjectLeft = editorLeft;
    r.fromLeft = static_cast<float>(0.51 * static_cast<double>(r.editorWidth));
    r.dateLeft = static_cast<float>(0.815 * static_cast<double>(r.editorWidth));
    return r;
}

// The list's three columns at load: a half, a quarter and a quarter of the
// list's width.
struct ColumnWidths {
    float subject, from, date;
};
inline ColumnWidths LoadColumnWidths(float listWidth) {
    return {listWidth / 2, listWidth / 4, listWidth / 4};
}

// The window's outer size from the size of our window (its menu bar
// included), all in twips.
inline double OuterWidth(double windowWidth) { return windowWidth + 2 * kBorderTwips; }
inline double OuterHeight(double windowHeight) { return windowHeight + 2 * kBorderTwips + kCaptionTwips; }

}  // namespace lumopet::tyaku_layout
