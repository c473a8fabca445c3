#pragma once
// Window and control positions are kept in twips (1/1440 inch), the unit
// they were laid out in; 15 twips make a pixel on a usual 96-dpi screen.

#include <QRect>
#include <QtMath>

namespace lumopet {

struct Twips {
    int left, top, width, height;
};

// Device-independent pixels: Qt scales them on high-dpi screens itself, so
// the device pixel ratio must not be applied again here.
inline int TwipsToPixels(int twips, qreal logicalDpi) { return qRound(twips * logicalDpi / 1440.0); }

inline QRect TwipsToPixels(const Twips& t, qreal logicalDpi) {
    return QRect(TwipsToPixels(t.left, logicalDpi), TwipsToPixels(t.top, logicalDpi),
                 TwipsToPixels(t.width, logicalDpi), TwipsToPixels(t.height, logicalDpi));
}

}  // namespace lumopet
