#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace lumopet::test {

// A fresh folder that is removed when the test ends.
class TempFolder {
public:
    TempFolder();
    QString path(const QString& name = QString()) const;
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir dir_;
};

}  // namespace lumopet::test
