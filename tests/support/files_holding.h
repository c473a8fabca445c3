#pragma once
// Where a secret may have been left: the files under a folder whose bytes
// hold a text, in UTF-8 or in CP932 (the settings files' encoding).

#include "core/cp932.h"

#include <QDirIterator>
#include <QFile>
#include <QStringList>

namespace lumopet::test {

inline QStringList FilesHolding(const QString& root, const QString& text) {
    QStringList found;
    const QByteArray utf8 = text.toUtf8();
    const QByteArray shiftJis = cp932::encode(text);
    QDirIterator files(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = file.readAll();
        if (bytes.contains(utf8) || (!shiftJis.isEmpty() && bytes.contains(shiftJis))) found << file.fileName();
    }
    return found;
}

}  // namespace lumopet::test
