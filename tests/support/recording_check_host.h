#pragma once
// A mail-check host with no windows: it shows nothing and keeps the text and
// title of every message box the check would have put up.

#include "mail/receive_mail.h"

#include <QStringList>

namespace lumopet::test {

class RecordingCheckHost : public MailCheckHost {
public:
    void setHelpLine(const QString&) override {}
    void showProgress(int, int) override {}
    void setAccountTexts(const QString&, const QString&) override {}
    void showIdPassForm() override {}
    void clearViewerList() override {}
    void addViewerRow(const QString&, const QString&, const QString&) override {}
    void showInViewer(const QString&, const QString&, const QString&, const QString&) override {}
    void showMessage(const QString& text, const QString& title) override {
        messages.append(text);
        titles.append(title);
    }
    QStringList messages;
    QStringList titles;
};

}  // namespace lumopet::test
