#pragma once
// The controls that show a message read from its copy, over the place of
// the viewer's text box: a line of notes (what could not be shown, the
// remote pictures held back and the button that fetches them), the strip of
// attachments, and the HTML view. The plain text stays in the text box,
// which is also the editor.
//
// The HTML view never reaches anything outside the message: its document
// gets only the resources the window adds (the message's own pictures, and
// remote ones the user asked for), and a link is handed to the window, not
// followed.

#include "mail/mime/message_view.h"

#include <QListWidget>
#include <QTextBrowser>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;

namespace lumopet {

class HtmlMessageView : public QTextBrowser {
    Q_OBJECT
public:
    explicit HtmlMessageView(QWidget* parent = nullptr);

protected:
    // Only what the window put into the document is shown: no file, no
    // network, no resource of the program's own.
    QVariant loadResource(int type, const QUrl& name) override;
};

// One entry a file: its name and size, an icon by its type. Its accessible
// name is the whole file name, for screen readers.
class AttachmentStrip : public QListWidget {
    Q_OBJECT
public:
    explicit AttachmentStrip(QWidget* parent = nullptr);
    void setAttachments(const std::vector<mail::ViewedPart>& parts);
    // The place (from 0) of the chosen entry; -1 for none.
    int chosen() const;

Q_SIGNALS:
    void openRequested(int index);
    void saveRequested(int index);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// "1.2 MB", "340 KB", "12 バイト".
QString SizeText(qint64 bytes);

class MessageNotesBar : public QWidget {
    Q_OBJECT
public:
    explicit MessageNotesBar(QWidget* parent = nullptr);
    // Notes, and the number of remote pictures held back (0: no button).
    void setNotes(const QStringList& notes, int heldBackImages);
    bool hasContent() const { return hasContent_; }
    QPushButton* loadImagesButton() const { return loadImages_; }
    QLabel* label() const { return label_; }

Q_SIGNALS:
    void loadImagesRequested();

private:
    QLabel* label_;
    QPushButton* loadImages_;
    bool hasContent_ = false;
};

}  // namespace lumopet
