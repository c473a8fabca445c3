#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace lumopet {

QString QtJapaneseCatalogue() {
    return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath(QStringLiteral("qtbase_ja.qm"));
}

bool InstallQtJapaneseTranslation(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    // By its full name, not by the desktop's locale: a session in English
    // (or with no LANG at all, as under a bare environment) gets Japanese
    // buttons too.
    if (!translator->load(QtJapaneseCatalogue()) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

}  // namespace lumopet
