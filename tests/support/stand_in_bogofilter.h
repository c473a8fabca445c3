#pragma once
// bogofilter in the tests: a shell script that stands in for it where the
// real one cannot be made to go wrong on request, and what the real one's
// word list has learnt, as bogoutil prints it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

namespace lumopet::test {

// A /bin/sh script with body at path, executable by its owner; returns path.
inline QString WriteStandInBogofilter(const QString& path, const QByteArray& body) {
    QDir().mkpath(QFileInfo(path).path());
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    script.write("#!/bin/sh\n" + body + "\n");
    script.close();
    EXPECT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    return path;
}

// The word list's counts in folder, word by word ("spam ham", without the
// dates bogoutil adds); empty before the list exists. bogoutil failing on a
// list that exists fails the test.
inline QMap<QByteArray, QByteArray> WordListCounts(const QString& folder) {
    QMap<QByteArray, QByteArray> counts;
    const QString list = QDir(folder).filePath(QStringLiteral("wordlist.db"));
    if (!QFileInfo::exists(list)) return counts;
    QProcess dump;
    dump.start(QStringLiteral("bogoutil"), {QStringLiteral("-d"), list});
    if (!dump.waitForFinished(10'000) || dump.exitStatus() != QProcess::NormalExit || dump.exitCode() != 0) {
        ADD_FAILURE() << "bogoutil -d " << list.toStdString() << ": " << dump.readAllStandardError().toStdString();
        return counts;
    }
    for (const QByteArray& line : dump.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 3) counts.insert(fields[0], fields[1] + ' ' + fields[2]);
    }
    return counts;
}

// How many messages the list learnt as spam and as ham ("0 0" before any).
inline QByteArray LearntMessageCounts(const QString& folder) {
    return WordListCounts(folder).value(".MSG_COUNT", "0 0");
}

}  // namespace lumopet::test
