#include "app/mail_check_host.h"

#include "app/MainForm.h"
#include "core/program.h"
#include "app/program_windows.h"
#include "ui/message_box.h"
#include "settings/IdPassForm.h"

#include <QLabel>
#include <QThread>

namespace lumopet {
namespace {

// Runs f on the window thread and waits for it: the check goes on only
// after what it showed is there (and a message box has been answered).
template <class F>
void onWindowThread(QObject& context, F f) {
    if (QThread::currentThread() == context.thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(&context, f, Qt::BlockingQueuedConnection);
}

}  // namespace

void WindowMailCheckHost::setHelpLine(const QString& text) {
    MainForm& form = windows_.mainForm();
    onWindowThread(form, [&form, text] { form.ShowHelp(text); });
}

void WindowMailCheckHost::showProgress(int number, int count) {
    setHelpLine(kCheckingText + QStringLiteral("（%1／%2 通目）").arg(number).arg(count));
}

void WindowMailCheckHost::setAccountTexts(const QString& id, const QString& password) {
    onWindowThread(windows_.mainForm(), [this, id, password] { windows_.idPassForm().SetAccountTexts(id, password); });
}

void WindowMailCheckHost::showIdPassForm() {
    onWindowThread(windows_.mainForm(), [this] { windows_.ShowIdPassForm(); });
}

void WindowMailCheckHost::clearViewerList() {
    onWindowThread(windows_.mainForm(), [this] { windows_.program().viewer.rows.clear(); });
}

void WindowMailCheckHost::addViewerRow(const QString& subject, const QString& from, const QString& date) {
    onWindowThread(windows_.mainForm(), [this, subject, from, date] {
        windows_.program().viewer.rows.push_back({subject, from, date});
    });
}

void WindowMailCheckHost::showInViewer(const QString& subject, const QString& date, const QString& from,
                                       const QString& body) {
    onWindowThread(windows_.mainForm(), [this, subject, date, from, body] {
        ViewerData& viewer = windows_.program().viewer;
        viewer.subject = subject;
        viewer.date = date;
        viewer.from = from;
        viewer.body = body;
    });
}

void WindowMailCheckHost::showMessage(const QString& text, const QString& title) {
    MainForm& form = windows_.mainForm();
    onWindowThread(form, [&form, text, title] {
        ShowMessage(&form, {title.isEmpty() ? MessageKind::Notice : MessageKind::Error, text, title});
    });
}

}  // namespace lumopet
