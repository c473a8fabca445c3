#pragma once
// Qt's own texts (the buttons of message boxes, the labels of the file
// dialogs) in Japanese like the rest of the program, whatever the language
// of the desktop: the program speaks only Japanese.

#include <QString>

class QCoreApplication;

namespace lumopet {

// Where Qt's Japanese catalogue is expected (qt6-translations-l10n).
QString QtJapaneseCatalogue();

// Loads that catalogue and installs it into the application, which owns it
// from then on. False when it is missing or unreadable: Qt's texts stay
// English, nothing else changes.
bool InstallQtJapaneseTranslation(QCoreApplication& application);

}  // namespace lumopet
