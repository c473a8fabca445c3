// The history viewer's side that shows a message read whole from its
// Maildir copy: the whole text in any script, HTML made safe, the
// attachment strip, remote pictures on request, the charset chosen by the
// user, the header and the source. The record stays what the list and the
// buttons count by; the copy is what the user reads.

#include "viewer/TyakuForm.h"

#include "core/program.h"
#include "mail/mail_export.h"
#include "mail/mime/message_view.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"
#include "viewer/attachment_actions.h"
#include "viewer/copy_reader.h"
#include "viewer/history_view.h"
#include "viewer/history_list_model.h"
#include "viewer/message_pane.h"
#include "viewer/message_text_window.h"
#include "viewer/remote_images.h"
#include "viewer/viewer_editor.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>
#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");
// A source shown whole would keep the window busy for seconds; its start
// holds the header and the text, and the window says what was left out.
constexpr qint64 kShownSourceBytes = 4 * 1024 * 1024;
const QString kNoCopy = QStringLiteral("このメールは元のメールが保存されていないため、%1できません。");

// The charsets 文字コード指定 offers: the Japanese ones first, then those a
// sender abroad most often declares wrongly.
struct CharsetChoice {
    const char* caption;
    const char* label;
};
constexpr CharsetChoice kCharsets[] = {
    {"自動", ""},
    {"日本語 (ISO-2022-JP)", "ISO-2022-JP"},
    {"日本語 (Shift_JIS)", "Shift_JIS"},
    {"日本語 (EUC-JP)", "EUC-JP"},
    {"Unicode (UTF-8)", "UTF-8"},
    {"西ヨーロッパ言語 (ISO-8859-1)", "ISO-8859-1"},
    {"西ヨーロッパ言語 (Windows-1252)", "windows-1252"},
    {"中国語簡体字 (GB18030)", "GB18030"},
    {"中国語繁体字 (Big5)", "Big5"},
    {"韓国語 (EUC-KR)", "EUC-KR"},
};

// The private folder of this run where attachments without a saved file
// are written to be opened: mode 0700, gone when the program ends.
QString privateFolder() {
    static QTemporaryDir folder(QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                                    .filePath(QStringLiteral("lumopet-XXXXXX")));
    return folder.isValid() ? folder.path() : QString();
}

bool openWithDesktop(const QUrl& url, const QString&) { return QDesktopServices::openUrl(url); }

// What a link's text and target are shown as in the question: a control
// character or a direction override in either could disguise it.
QString plainForQuestion(const QString& text) {
    QString plain;
    for (const QChar c : text) {
        const bool hidden = c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        plain += hidden ? QChar(u'\uFFFD') : c;
    }
    return plain.size() > 300 ? plain.first(300) + QStringLiteral("…") : plain;
}

}  // namespace

void TyakuForm::buildViewMenu() {
    open_ = openWithDesktop;
    QMenuBar* bar = editor_->menuBar();
    if (!bar) return;
    QMenu* view = bar->addMenu(QStringLiteral("表示(&V)"));
    view->setObjectName(QStringLiteral("mview"));
    auto* forms = new QActionGroup(this);
    mtext = view->addAction(QStringLiteral("テキスト"));
    mhtml = view->addAction(QStringLiteral("HTML"));
    mtext->setObjectName(QStringLiteral("mtext"));
    mhtml->setObjectName(QStringLiteral("mhtml"));
    for (QAction* form : {mtext, mhtml}) {
        form->setCheckable(true);
        forms->addAction(form);
    }
    (options_.ShowHtml ? mhtml : mtext)->setChecked(true);
    connect(mtext, &QAction::triggered, this, [this] { SetShowHtml(false); });
    connect(mhtml, &QAction::triggered, this, [this] { SetShowHtml(true); });
    view->addSeparator();

    QMenu* charsets = view->addMenu(QStringLiteral("文字コード指定"));
    charsets->setObjectName(QStringLiteral("mcharset"));
    charsetGroup = new QActionGroup(this);
    for (const CharsetChoice& choice : kCharsets) {
        QAction* action = charsets->addAction(QString::fromUtf8(choice.caption));
        action->setCheckable(true);
        action->setData(QByteArray(choice.label));
        action->setChecked(*choice.label == '\0');
        charsetGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, label = QByteArray(choice.label)] { SetCharset(label); });
    }
    view->addSeparator();
    mheaders = view->addAction(QStringLiteral("ヘッダーを表示"));
    mheaders->setObjectName(QStringLiteral("mheaders"));
    connect(mheaders, &QAction::triggered, this, &TyakuForm::ShowHeaders);
    msource = view->addAction(QStringLiteral("ソースを表示"));
    msource->setObjectName(QStringLiteral("msource"));
    connect(msource, &QAction::triggered, this, &TyakuForm::ShowSource);

    connect(htmlView, &QTextBrowser::highlighted, this, [this](const QUrl& url) {
        // The real target, whatever the link's text says.
        const qsizetype i = url.scheme() == QStringLiteral("link") ? url.path().toLongLong() : -1;
        if (shown_ && i >= 0 && i < static_cast<qsizetype>(shown_->links.size()))
            QToolTip::showText(QCursor::pos(), plainForQuestion(shown_->links[static_cast<size_t>(i)].target), htmlView);
        else
            QToolTip::hideText();
    });
    connect(remoteImages_, &RemoteImageFetcher::imageArrived, this, [this](int index, const QImage& image) {
        QTextDocument* document = htmlView->document();
        document->addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("remote-image:%1").arg(index)), image);
        document->markContentsDirty(0, document->characterCount());
    });
    connect(remoteImages_, &RemoteImageFetcher::finished, this, [this](int failed) {
        if (!shown_ || failed == 0) return;
        notesBar->setNotes(shown_->notes + QStringList{QStringLiteral("外部の画像 %1 件を読み込めませんでした。").arg(failed)}, 0);
        placeMessageArea();
    });
}

void TyakuForm::placeEditor(const QRect& area) {
    editorArea_ = area;
    placeMessageArea();
}

void TyakuForm::placeMessageArea() {
    QRect area = editorArea_;
    const auto takeTop = [&area](QWidget* bar, int height) {
        bar->setGeometry(area.left(), area.top(), area.width(), height);
        area.setTop(area.top() + height);
    };
    if (notesBar->hasContent() && shown_) {
        notesBar->show();
        takeTop(notesBar, std::min(notesBar->heightForWidth(area.width()) > 0 ? notesBar->heightForWidth(area.width())
                                                                               : notesBar->sizeHint().height(),
                                   area.height() / 3));
    } else {
        notesBar->hide();
    }
    if (shown_ && !shown_->listed.empty()) {
        attachmentStrip->show();
        takeTop(attachmentStrip, fontMetrics().height() + 2 * attachmentStrip->frameWidth() + 14);
    } else {
        attachmentStrip->hide();
    }
    rtfEd->setGeometry(area);
    htmlView->setGeometry(area);
    // Over the text, under the help box.
    notesBar->raise();
    attachmentStrip->raise();
    Text4->raise();
}

bool TyakuForm::ReadingPending() const { return reader_->readingPending() || reader_->sourcesPending(); }

std::optional<QString> TyakuForm::copyOfRecord(const HistoryRecord& record, int n) const {
    if (reader_->history() != viewerMode_) return std::nullopt;
    // A received or a junk record is known by itself, also while the list
    // shows a mail check's rows.
    if (viewerMode_ != History::Sent) return reader_->copyOf(record);
    // A sent record goes in just before its message: the message's date
    // lies between this record's clock and the next one's.
    if (!listIsHistory_) return std::nullopt;
    const auto& rows = model_->rows();
    const std::optional<QDateTime> next =
        n < static_cast<int>(rows.size()) ? mail::ParseRecordDate(rows[static_cast<size_t>(n)].from) : std::nullopt;
    return reader_->copyOf(record, mail::ParseRecordDate(record.Column2), next);
}

void TyakuForm::readCopyOf(const HistoryRecord& record, int n) {
    clearShownMessage();
    charset_.clear();
    if (charsetGroup && !charsetGroup->actions().isEmpty()) charsetGroup->actions().front()->setChecked(true);
    // The sent history shows what was typed, as it always has; its copy
    // is there for ソースを表示.
    if (viewerMode_ == History::Sent) return;
    const std::optional<QString> copy = copyOfRecord(record, n);
    if (!copy) return;
    shownCopy_ = *copy;
    readShownCopy(false);
}

void TyakuForm::readShownCopy(bool loadRemoteImages) {
    if (shownCopy_.isEmpty() || shownRecord_ < 1) return;
    MessageReading request;
    request.copyPath = shownCopy_;
    request.charset = charset_;
    request.preferHtml = options_.ShowHtml;
    request.loadRemoteImages = loadRemoteImages;
    request.font = rtfEd->font();
    request.documentThread = thread();
    reader_->read(shownRecord_, request);
}

void TyakuForm::takeReading(int n, const ShownMessage& shown) {
    // Another record was shown since: this answer is no one's.
    if (n != shownRecord_ || shownCopy_.isEmpty()) return;
    const bool remoteWanted = shown.html.contains(QStringLiteral("remote-image:"));
    remoteImages_->stop();
    // The view takes the new document before the old one goes with the
    // message it belonged to.
    htmlShown_ = shown.document != nullptr;
    htmlView->setDocument(htmlShown_ ? shown.document.get() : blankDocument_);
    shown_ = shown;
    const auto field = [](QLineEdit* box, const QString& text) {
        box->setText(text);
        box->setCursorPosition(0);
    };
    field(Text7, shown.subject);
    field(Text8, shown.from);
    field(Text9, shown.date);
    // The reply window pastes the received message read last: all of it.
    program_.viewer.receivedRecordBody = QString(shown.text).replace(u'\n', QStringLiteral("\r\n"));

    if (htmlShown_) {
        htmlView->show();
        rtfEd->hide();
        // The clipboard at once; the hidden text box, which the editor's
        // commands and the reply read, in a moment of its own, so that a
        // large message never holds the window for both.
        QGuiApplication::clipboard()->setText(EditorText(shown.text));
        const int generation = ++textGeneration_;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == textGeneration_ && shown_) ShowMessageText(shown_->text);
        });
    } else {
        htmlView->hide();
        rtfEd->show();
        ShowMessageText(shown.text);
    }
    std::vector<mail::ViewedPart> listed;
    for (const int i : shown.listed) listed.push_back(shown.attachments[static_cast<size_t>(i)]);
    attachmentStrip->setAttachments(listed);
    notesBar->setNotes(shown.notes, remoteWanted ? 0 : static_cast<int>(shown.remoteImages.size()));
    placeMessageArea();
    if (remoteWanted) remoteImages_->fetch(shown.remoteImages);
}

void TyakuForm::clearShownMessage() {
    reader_->forget();
    remoteImages_->stop();
    shownCopy_.clear();
    ++textGeneration_;
    htmlView->setDocument(blankDocument_);
    shown_.reset();
    if (htmlShown_) {
        htmlView->hide();
        rtfEd->show();
        htmlShown_ = false;
    }
    attachmentStrip->clear();
    notesBar->setNotes({}, 0);
    placeMessageArea();
}

void TyakuForm::showRowsFromCopies() {
    if (!listIsHistory_ || viewerMode_ == History::Sent || reader_->history() != viewerMode_ ||
        !reader_->sourcesReady())
        return;
    // A row differs from its copy where the code page lost or changed a
    // character ('?' for 🍣, ～ for 〜) or cut a long subject.
    const std::vector<ViewerRow>& rows = model_->rows();
    std::vector<std::pair<int, ViewerRow>> whole;
    for (size_t i = 0; i < rows.size() && i < fingerprints_.size(); ++i) {
        if (fingerprints_[i].isEmpty()) continue;
        std::optional<ViewerRow> copy = reader_->rowOfFingerprint(fingerprints_[i]);
        if (!copy) continue;
        const ViewerRow& row = rows[i];
        if (copy->subject.trimmed() != row.subject.trimmed() || copy->from.trimmed() != row.from.trimmed())
            whole.emplace_back(static_cast<int>(i + 1), std::move(*copy));
    }
    model_->setWholeTexts(whole);
}

void TyakuForm::OpenAttachment(int entry) {
    if (!shown_ || entry < 0 || entry >= static_cast<int>(shown_->listed.size())) return;
    const int index = shown_->listed[static_cast<size_t>(entry)];
    const mail::ViewedPart& part = shown_->attachments[static_cast<size_t>(index)];
    const Result<AttachmentFile> file =
        AttachmentFileToOpen(shownCopy_, part, index + 1, program_.paths.path(files::AttachmentFolder), privateFolder());
    if (!file) {
        ShowError(this, kErrorTitle, QStringLiteral("添付ファイルを開けません。\n") + file.error());
        return;
    }
    const QString path = file.value().path;
    // The name as the file system has it: that is what will run.
    if (MayRunAsProgram(path) &&
        !AskToConfirm(this, QStringLiteral("「%1」はプログラムとして実行される種類のファイルです。\n"
                                           "信頼できる相手からのものでなければ、開かないでください。開きますか？")
                                .arg(plainForQuestion(QFileInfo(path).fileName()))))
        return;
    const QString type = QMimeDatabase().mimeTypeForFile(path).name();
    if (!open_(QUrl::fromLocalFile(path), type))
        ShowError(this, kErrorTitle, QStringLiteral("「%1」を開くプログラムが見つかりません。").arg(QFileInfo(path).fileName()));
}

void TyakuForm::SaveAttachment(int entry) {
    if (!shown_ || entry < 0 || entry >= static_cast<int>(shown_->listed.size())) return;
    const int index = shown_->listed[static_cast<size_t>(entry)];
    const mail::ViewedPart& part = shown_->attachments[static_cast<size_t>(index)];
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(AttachmentDiskName(part, index + 1));
    const QString target = ChooseFileToSave(this, {QStringLiteral("名前を付けて保存"), suggested});
    if (target.isEmpty()) return;
    if (const Status saved = SaveAttachmentCopy(shownCopy_, part, target); !saved)
        ShowError(this, kErrorTitle, QStringLiteral("添付ファイルを保存できません。\n") + saved.error());
}

void TyakuForm::LoadRemoteImages() {
    // For this message, this once: the next showing holds them back again.
    if (!shown_) return;
    // The button goes with the pictures' line: the keys stay with the
    // message rather than jumping to the toolbar.
    htmlView->setFocus();
    readShownCopy(true);
}

void TyakuForm::SetCharset(const QByteArray& charset) {
    charset_ = charset;
    if (shownCopy_.isEmpty()) {
        if (shownRecord_ > 0) ShowNotice(this, kNoCopy.arg(QStringLiteral("文字コードを指定して読み直すことは")));
        return;
    }
    readShownCopy(false);
}

void TyakuForm::SetShowHtml(bool html) {
    if (options_.ShowHtml == html) return;
    options_.ShowHtml = html;
    if (const Status kept = WriteViewerOptions(program_.paths.path(files::ProgramOptions), options_); !kept)
        ShowError(this, kErrorTitle, kept.error());
    if (shown_ && shown_->offersHtml && shown_->offersText) readShownCopy(false);
}

void TyakuForm::ShowHeaders() {
    if (!shown_) {
        if (shownRecord_ > 0) ShowNotice(this, kNoCopy.arg(QStringLiteral("ヘッダーを表示")));
        return;
    }
    QString text;
    for (const auto& [name, value] : shown_->headerFields) text += name + QStringLiteral(": ") + value + u'\n';
    ShowMessageTextWindow(this, QStringLiteral("messageHeaders"), QStringLiteral("ヘッダー - ") + shown_->subject, text);
}

void TyakuForm::ShowSource() {
    if (shownRecord_ < 1 || recordBufferNumber_ != shownRecord_) return;
    const std::optional<QString> copy = shownCopy_.isEmpty() ? copyOfRecord(recordBuffer_, shownRecord_) : shownCopy_;
    if (!copy) {
        ShowNotice(this, kNoCopy.arg(QStringLiteral("ソースを表示")));
        return;
    }
    ShowMessageTextWindow(this, QStringLiteral("messageSource"), QStringLiteral("ソース - ") + Text7->text(),
                          mail::SourceText(*copy, kShownSourceBytes));
}

void TyakuForm::openLink(const QUrl& url) {
    const qsizetype i = url.scheme() == QStringLiteral("link") ? url.path().toLongLong() : -1;
    if (!shown_ || i < 0 || i >= static_cast<qsizetype>(shown_->links.size())) return;
    const mail::SanitizedLink& link = shown_->links[static_cast<size_t>(i)];
    const QUrl target(link.target);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() ||
        (scheme != QStringLiteral("http") && scheme != QStringLiteral("https") && scheme != QStringLiteral("mailto"))) {
        ShowNotice(this, QStringLiteral("このリンクは開けません。\n%1").arg(plainForQuestion(link.target)));
        return;
    }
    if (link.deceptive &&
        !AskToConfirm(this, QStringLiteral("リンクの表示と実際の行き先が違います。\n表示：%1\n行き先：%2\n\n行き先を開きますか？")
                                .arg(plainForQuestion(link.text), plainForQuestion(link.target))))
        return;
    open_(target, QString());
}

}  // namespace lumopet
