#include "viewer/editor_icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>
#include <map>

namespace lumopet {
namespace {

// The drawings are made on a grid of 16 by 16 and scaled to the size asked.
using Drawing = std::function<void(QPainter&)>;

const QColor kInk(0x30, 0x30, 0x30);
const QColor kPaper(0xFF, 0xFF, 0xFF);
const QColor kFolder(0xF2, 0xC2, 0x4B);
const QColor kDisk(0x3A, 0x6E, 0xC4);
const QColor kMetal(0x9A, 0xA0, 0xA6);
const QColor kBoard(0xB0, 0x7A, 0x3C);
const QColor kGlass(0xCF, 0xE8, 0xFF);

QPen ink(qreal width = 1.0) {
    QPen pen(kInk, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

void page(QPainter& p, const QRectF& r, qreal fold) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(ink());
    p.setBrush(kPaper);
    p.drawPath(path);
    if (fold > 0) p.drawPolyline(QPolygonF{{r.right() - fold, r.top()}, {r.right() - fold, r.top() + fold}, {r.right(), r.top() + fold}});
}

void textLines(QPainter& p, qreal left, qreal right, qreal top, int count) {
    p.setPen(QPen(kMetal, 0.8));
    for (int i = 0; i < count; ++i) p.drawLine(QPointF(left, top + 2 * i), QPointF(right, top + 2 * i));
}

void letter(QPainter& p, const QString& text, bool bold, bool italic, bool underline) {
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(13);
    font.setBold(bold);
    font.setItalic(italic);
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(QRectF(0, -1, 16, 15), Qt::AlignCenter, text);
    if (underline) {
        p.setPen(ink(1.2));
        p.drawLine(QPointF(3.5, 14.5), QPointF(12.5, 14.5));
    }
}

const std::map<QString, std::pair<QString, Drawing>>& drawings() {
    static const std::map<QString, std::pair<QString, Drawing>> all{
        {QStringLiteral("New"), {QStringLiteral("document-new"), [](QPainter& p) {
             page(p, QRectF(3, 1.5, 10, 13), 3.5);
             // A small star: the page is new.
             p.setPen(QPen(QColor(0xE0, 0x9A, 0x00), 1.2));
             p.drawLine(QPointF(4.5, 12.5), QPointF(8.5, 8.5));
             p.drawLine(QPointF(4.5, 8.5), QPointF(8.5, 12.5));
             p.drawLine(QPointF(6.5, 7.7), QPointF(6.5, 13.3));
         }}},
        {QStringLiteral("Open"), {QStringLiteral("document-open"), [](QPainter& p) {
             p.setPen(ink());
             p.setBrush(kFolder.darker(115));
             p.drawPolygon(QPolygonF{{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {13.5, 5}, {13.5, 13.5}, {1.5, 13.5}});
             p.setBrush(kFolder);
             p.drawPolygon(QPolygonF{{3.5, 7.5}, {15, 7.5}, {13.5, 13.5}, {1.5, 13.5}});
         }}},
        {QStringLiteral("Save"), {QStringLiteral("document-save-as"), [](QPainter& p) {
             p.setPen(ink());
             p.setBrush(kDisk);
             p.drawPolygon(QPolygonF{{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}});
             p.setBrush(kPaper);
             p.drawRect(QRectF(4, 1.5, 8, 5));
             p.setBrush(kMetal);
             p.drawRect(QRectF(4, 9.5, 8, 5));
             p.setPen(Qt::NoPen);
             p.setBrush(kDisk);
             p.drawRect(QRectF(9.5, 2.5, 1.5, 3));
         }}},
        {QStringLiteral("Print"), {QStringLiteral("document-print"), [](QPainter& p) {
             p.setPen(ink());
             p.setBrush(kPaper);
             p.drawRect(QRectF(4.5, 1.5, 7, 5));
             p.setBrush(kMetal);
             p.drawRoundedRect(QRectF(1.5, 6, 13, 6), 1.2, 1.2);
             p.setBrush(kPaper);
             p.drawRect(QRectF(4.5, 9.5, 7, 5));
             textLines(p, 6, 10, 11.5, 2);
         }}},
        {QStringLiteral("Cut"), {QStringLiteral("edit-cut"), [](QPainter& p) {
             p.setPen(ink(1.3));
             p.drawLine(QPointF(5, 1.5), QPointF(10.5, 10));
             p.drawLine(QPointF(11, 1.5), QPointF(5.5, 10));
             p.setBrush(Qt::NoBrush);
             p.setPen(QPen(QColor(0xC0, 0x30, 0x30), 1.4));
             p.drawEllipse(QPointF(4.5, 12), 2.3, 2.3);
             p.drawEllipse(QPointF(11.5, 12), 2.3, 2.3);
         }}},
        {QStringLiteral("Copy"), {QStringLiteral("edit-copy"), [](QPainter& p) {
             page(p, QRectF(1.5, 1.5, 8.5, 10), 0);
             textLines(p, 3.5, 8, 4, 3);
             page(p, QRectF(6, 5, 8.5, 10), 0);
             textLines(p, 8, 12.5, 7.5, 4);
         }}},
        {QStringLiteral("Paste"), {QStringLiteral("edit-paste"), [](QPainter& p) {
             p.setPen(ink());
             p.setBrush(kBoard);
             p.drawRoundedRect(QRectF(2, 2.5, 11, 12.5), 1, 1);
             p.setBrush(kPaper);
             p.drawRect(QRectF(4, 5, 7, 8.5));
             p.setBrush(kMetal);
             p.drawRoundedRect(QRectF(5, 1, 5, 3), 1, 1);
             textLines(p, 5.5, 9.5, 7.5, 3);
         }}},
        {QStringLiteral("Bold"), {QStringLiteral("format-text-bold"),
                                  [](QPainter& p) { letter(p, QStringLiteral("B"), true, false, false); }}},
        {QStringLiteral("Italic"), {QStringLiteral("format-text-italic"),
                                    [](QPainter& p) { letter(p, QStringLiteral("I"), false, true, false); }}},
        {QStringLiteral("Underline"), {QStringLiteral("format-text-underline"),
                                       [](QPainter& p) { letter(p, QStringLiteral("U"), false, false, true); }}},
        {QStringLiteral("Search"), {QStringLiteral("edit-find"), [](QPainter& p) {
             p.setPen(ink(1.4));
             p.setBrush(kGlass);
             p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
             p.setPen(ink(2.4));
             p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
         }}},
    };
    return all;
}

}  // namespace

QIcon DrawnEditorIcon(const QString& key) {
    const auto found = drawings().find(key);
    if (found == drawings().end()) return {};
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.scale(size / 16.0, size / 16.0);
        found->second.second(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon EditorIcon(const QString& key) {
    const auto found = drawings().find(key);
    if (found == drawings().end()) return {};
    return QIcon::fromTheme(found->second.first, DrawnEditorIcon(key));
}

}  // namespace lumopet
