#include "app/mail_check_host.h"

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "core/program.h"
#include "settings/IdPassForm.h"
#include "ui/message_box.h"
#include "ui/window_thread.h"

#include <QLabel>

namespace lumopet {

void WindowMailCheckHost::setHelpLine(const QString& text) {
    MainForm& form = windows_.mainForm();
    OnWindowThread(form, [&form, text] { form.ShowHelp(text); });
}

void WindowMailCheckHost::showProgress(int number, int count) {
    setHelpLine(kCheckingText + QStringLiteral("（%1／%2 通目）").arg(number).arg(count));
}

void WindowMailCheckHost::setAccountTexts(const QString& id, const QString& password) {
    OnWindowThread(windows_.mainForm(), [this, id, password] { windows_.idPassForm().SetAccountTexts(id, password); });
}

void WindowMailCheckHost::showIdPassForm() {
    OnWindowThread(windows_.mainForm(), [this] { windows_.ShowIdPassForm(); });
}

void WindowMailCheckHost::clearViewerList() {
    OnWindowThread(windows_.mainForm(), [this] {
        ViewerData& viewer = windows_.program().viewer;
        viewer.rows.clear();
        ++viewer.listedChecks;
    });
}

void WindowMailCheckHost::addViewerRow(const QString& subject, const QString& from, const QString& date) {
    OnWindowThread(windows_.mainForm(), [this, subject, from, date] {
        windows_.program().viewer.rows.push_back({subject, from, date});
    });
}

void WindowMailCheckHost::showInViewer(const QString& subject, const QString& date, const QString& from,
                                       const QString& body) {
    OnWindowThread(windows_.mainForm(), [this, subject, date, from, body] {
        ViewerData& viewer = windows_.program().viewer;
        viewer.subject = subject;
        viewer.date = date;
        viewer.from = from;
        viewer.body = body;
        viewer.receivedRecordBody = body;
    });
}

void WindowMailCheckHost::showMessage(const QString& text, const QString& title) {
    MainForm& form = windows_.mainForm();
    OnWindowThread(form, [&form, text, title] {
        ShowMessage(&form, {title.isEmpty() ? MessageKind::Notice : MessageKind::Error, text, title});
    });
}

}  // namespace lumopet
