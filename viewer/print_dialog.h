#pragma once
// Printing from the viewer's editor: the print dialog, which tests answer
// in its place, and the print jobs.

#include "core/result.h"

#include <QString>

#include <functional>

class QFont;
class QPrinter;
class QWidget;

namespace lumopet {

struct PrintRequest {
    // The editor has a selection: the dialog offers "selection" and starts
    // with it chosen. Without one, it offers only the whole text.
    bool selectionOffered = false;
};

// Gets the printer as the dialog would show it, may set it up as a user
// would (a printer or output file, the copies, selection or all) and
// returns false for Cancel.
using PrintAnswerer = std::function<bool(QPrinter& printer, const PrintRequest& request)>;

// An empty answerer brings back the real dialog.
void SetPrintAnswerer(PrintAnswerer answerer);

bool AskToPrint(QWidget* parent, QPrinter& printer, const PrintRequest& request);

// Prints the plain text in the font, one print job for each copy the
// printer was asked for, as the text has always come out: no header, no
// page numbers. Page ranges are not used: the text is short, and the
// dialog does not offer them.
Status PrintTextCopies(QPrinter& printer, const QString& text, const QFont& font);

}  // namespace lumopet
