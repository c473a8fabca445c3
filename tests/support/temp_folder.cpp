#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace lumopet::test {

TempFolder::TempFolder() { EXPECT_TRUE(dir_.isValid()); }

QString TempFolder::path(const QString& name) const { return name.isEmpty() ? dir_.path() : dir_.filePath(name); }

void TempFolder::write(const QString& name, const QByteArray& bytes) const {
    // A name with folders in it ("md/new/1.x") gets its folders first.
    QDir().mkpath(QFileInfo(path(name)).absolutePath());
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
    file.write(bytes);
}

QByteArray TempFolder::read(const QString& name) const {
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}

}  // namespace lumopet::test
