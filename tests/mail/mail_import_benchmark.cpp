// What taking an mbox into the received history costs. Not a test: it
// prints the figures. Run by scripts/benchmark_import.sh, which writes the
// mbox and times a plain copy of it beside.
//   mail_import_benchmark MBOX [rounds]   (default 3)
// Goal: at least 2,000 small messages a second with the mbox in the page
// cache.
//
// Each round imports into a fresh program folder beside the mbox (the same
// file system), then imports the same mbox again, where every message is
// skipped. Last, the start of an import into a full history: every record
// read for its fingerprint, and every message counted as not taken. And
// once as the user does it: 着信履歴 open on an empty history, its File
// menu's メールの取り込み..., the mbox set and 取り込み clicked, timed until
// the window says it is done and the viewer lists every new record.

#include "core/program_paths.h"
#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "store/history_file.h"
#include "tests/support/fake_windows.h"
#include "tests/support/history_bench.h"
#include "viewer/TyakuForm.h"
#include "viewer/mail_import_window.h"
#include "viewer/viewer_editor.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace lumopet;
using namespace lumopet::bench;

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Timed {
    double seconds;
    MailImportResult result;
};

Timed importInto(const ProgramPaths& paths, const QString& mbox) {
    MailImportRequest request;
    request.kind = MailSourceKind::Mbox;
    request.paths = {mbox};
    const double start = now();
    MailImportResult result = ImportMail(paths, request);
    const double seconds = now() - start;
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", result.error.toLocal8Bit().constData());
        fail("the import failed");
    }
    return {seconds, std::move(result)};
}

ProgramPaths freshFolder(const QString& root, const QString& name) {
    const QString folder = root + u'/' + name;
    QDir().mkpath(folder);
    ProgramPaths paths(folder);
    if (!paths.createFolders()) fail("cannot make the program folder");
    return paths;
}

// Through the viewer's menu and the import window, into a fresh folder.
double importThroughTheWindows(const ProgramPaths& paths, const QString& mbox, int expected) {
    Program program{paths};
    FakeWindows windows(program);
    TyakuForm form(windows);
    form.Form_Load();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) fail("the viewer did not show");
    form.LoadHistory(History::Received);
    double seconds = -1;
    QTimer::singleShot(0, [&] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000))
            fail("the import window did not open");
        auto* window = qobject_cast<MailImportWindow*>(QApplication::activeModalWidget());
        if (!window) fail("another window opened");
        window->setSource(MailSourceKind::Mbox, {mbox});
        QSignalSpy done(window, &MailImportWindow::importFinished);
        const double start = now();
        QTest::mouseClick(window->startButton, Qt::LeftButton);
        if (!done.wait(600000)) fail("the import did not end");
        QCoreApplication::processEvents();
        seconds = now() - start;
        if (window->lastResult().taken != expected) fail("the window took another count");
        QTest::mouseClick(window->cancelButton, Qt::LeftButton);
    });
    form.editor().mimport->trigger();
    if (form.Text2->text().toInt() != expected) fail("the viewer does not list what came in");
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    programName = "mail_import_benchmark";
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MBOX [rounds]\n", argv[0]);
        return 2;
    }
    const QString mbox = QFile::decodeName(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    NMailInitializeWinSock();

    QTemporaryDir scratch(QFileInfo(mbox).absolutePath() + QStringLiteral("/import-bench-XXXXXX"));
    if (!scratch.isValid()) fail("cannot make a scratch folder");
    scratchFolder = scratch.path();

    const qint64 bytes = QFileInfo(mbox).size();
    std::vector<double> first, again;
    int messages = 0;
    for (int round = 1; round <= rounds; ++round) {
        const ProgramPaths paths = freshFolder(scratch.path(), QStringLiteral("round%1").arg(round));
        const Timed taken = importInto(paths, mbox);
        const Timed skipped = importInto(paths, mbox);
        if (taken.result.taken == 0 || skipped.result.taken != 0 || skipped.result.skipped != taken.result.taken)
            fail("the second import did not skip exactly what the first took");
        messages = taken.result.taken;
        first.push_back(taken.seconds);
        again.push_back(skipped.seconds);
        std::printf("round %d: %d messages taken in %.3f s (%.0f/s), the same again skipped in %.3f s (%.0f/s)\n", round,
                    messages, taken.seconds, messages / taken.seconds, skipped.seconds, messages / skipped.seconds);
        // Kept until the end: ext4 looks long for a free inode right after
        // thousands were freed, and the next round's deliveries would pay
        // for this round's removal.
    }
    std::printf("import of %d messages (%.1f MB), median of %d: %.3f s, %.0f messages/s, %.1f MB/s\n", messages,
                static_cast<double>(bytes) / 1e6, rounds, median(first), messages / median(first),
                static_cast<double>(bytes) / 1e6 / median(first));
    std::printf("second import (all skipped), median: %.3f s, %.0f messages/s\n", median(again),
                messages / median(again));

    const double windowed = importThroughTheWindows(freshFolder(scratch.path(), QStringLiteral("window")), mbox, messages);
    std::printf("the same through 着信履歴's menu and the import window, until the list shows them: %.3f s, %.0f messages/s\n",
                windowed, messages / windowed);

    const ProgramPaths full = freshFolder(scratch.path(), QStringLiteral("full"));
    writeHistory(HistoryPath(full, History::Received));
    const Timed limited = importInto(full, mbox);
    if (limited.result.taken != 0 || limited.result.notTaken != messages) fail("a full history took messages");
    std::printf("into a full history (%d records read for their fingerprints, %d counted as not taken): %.3f s\n",
                kRecords, limited.result.notTaken, limited.seconds);
    std::printf("peak memory of the process: %.1f MB\n", static_cast<double>(peakKilobytes()) / 1024);
    NMailEndWinSock();
    return 0;
}
