#include "viewer/print_dialog.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>

namespace lumopet {
namespace {

PrintAnswerer& answerer() {
    static PrintAnswerer installed;
    return installed;
}

// A printer that reports no margins at all would put the text on the very
// edge of the paper, where most printers cannot print.
constexpr qreal kFallbackMarginMm = 20;

bool printOneCopy(QPrinter& printer, const QString& text, const QFont& font) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    QTextDocument document;
    // Laid out in the printer's own resolution, so that the font's point
    // size means the same on paper as on the screen.
    document.documentLayout()->setPaintDevice(&printer);
    document.setDefaultFont(font);
    document.setPlainText(text);
    // A page size of the printable area makes the document paginated: it
    // breaks the text into pages itself and prints no page numbers.
    const QSizeF page = printer.pageRect(QPrinter::DevicePixel).size();
    document.setPageSize(page);
    const int pages = document.pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !printer.newPage()) return false;
        const QRectF shown(0, i * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -shown.top());
        document.drawContents(&painter, shown);
        painter.restore();
    }
    return painter.end();
}

}  // namespace

void SetPrintAnswerer(PrintAnswerer replacement) { answerer() = std::move(replacement); }

bool AskToPrint(QWidget* parent, QPrinter& printer, const PrintRequest& request) {
    printer.setPrintRange(request.selectionOffered ? QPrinter::Selection : QPrinter::AllPages);
    if (answerer()) return answerer()(printer, request);
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, request.selectionOffered);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

Status PrintTextCopies(QPrinter& printer, const QString& text, const QFont& font) {
    const QMarginsF margins = printer.pageLayout().margins(QPageLayout::Millimeter);
    if (margins.isNull())
        printer.setPageMargins(QMarginsF(kFallbackMarginMm, kFallbackMarginMm, kFallbackMarginMm, kFallbackMarginMm),
                               QPageLayout::Millimeter);
    // Each job holds one copy: left at its count, the printer (or Qt, for a
    // PDF file) would repeat the text inside every job.
    const int copies = qMax(1, printer.copyCount());
    printer.setCopyCount(1);
    bool printed = true;
    for (int copy = 0; copy < copies && printed; ++copy) printed = printOneCopy(printer, text, font);
    printer.setCopyCount(copies);
    if (!printed) return Failure{QStringLiteral("印刷できませんでした。プリンターまたは出力先を確かめてください。")};
    return success();
}

}  // namespace lumopet
