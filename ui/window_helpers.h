#pragma once

#include <QFont>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QWidget>

namespace lumopet {

// Moves the first window to the second's place, shows it and hides the
// second, so that one window seems to turn into the other.
inline void ShowInPlaceOf(QWidget* toShow, QWidget* toHide) {
    toShow->move(toHide->pos());
    toShow->show();
    toHide->hide();
}

// A push button at its place that does not take Enter for itself: the
// windows have no default button.
inline QPushButton* PlacedButton(const QString& caption, QWidget* parent, const QRect& geometry) {
    auto* made = new QPushButton(caption, parent);
    made->setGeometry(geometry);
    made->setAutoDefault(false);
    return made;
}

// Centres the window, frame and all, on the screen it is on.
inline void CentreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    const QSize outer = window->frameGeometry().size().expandedTo(window->size());
    window->move(available.left() + (available.width() - outer.width()) / 2,
                 available.top() + (available.height() - outer.height()) / 2);
}

// The windows' fonts. The families the layout was drawn with come first;
// the free fonts that the program installs stand in for them, named
// explicitly so that fontconfig does not pick whatever CJK font it finds.
inline QFont JapaneseFont(qreal points) {
    QFont font;
    // Colour emoji after them: left to fontconfig, an emoji that a
    // black-and-white font also has comes out in black and white.
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("Noto Color Emoji")});
    font.setPointSizeF(points);
    return font;
}

// The same in fixed pitch (a full-width character two half-widths), for
// lists whose columns are made of blanks.
inline QFont JapaneseFixedFont(qreal points) {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(points);
    return font;
}

inline QFont SerifTitleFont(qreal points) {
    QFont font;
    font.setFamilies({QStringLiteral("Book Antiqua"), QStringLiteral("P052"), QStringLiteral("TeX Gyre Pagella"),
                      QStringLiteral("DejaVu Serif")});
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

}  // namespace lumopet
