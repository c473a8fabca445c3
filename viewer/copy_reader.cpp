#include "viewer/copy_reader.h"

#include "mail/message_sources.h"
#include "viewer/copy_search_texts.h"
#include "store/history_file.h"
#include "store/maildir.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace lumopet {
namespace {

// Runs fn on the window's thread, unless the reader has gone by then.
template <typename Fn>
void backOnWindowThread(QPointer<CopyReader> reader, Fn fn) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [reader, fn = std::move(fn)]() mutable {
            if (reader) fn(*reader);
        },
        Qt::QueuedConnection);
}

}  // namespace

CopyReader::CopyReader(const ProgramPaths& paths, QObject* parent)
    : QObject(parent), paths_(paths), pool_(new QThreadPool(this)) {
    // Two at most: the pairing may still be decoding new copies while the
    // user clicks, and a click must not wait for it.
    pool_->setMaxThreadCount(2);
}

CopyReader::~CopyReader() {
    // The pairing stops at its next file; a reading finishes on its own and
    // finds no reader.
    if (stopLoading_) stopLoading_->store(true);
    pool_->waitForDone();
}

void CopyReader::loadSources(History history) {
    history_ = history;
    const int generation = ++sourcesGeneration_;
    loading_ = true;
    const QString historyFile = HistoryPath(paths_, history);
    // Junk is received mail set aside: its copies are in the received Maildir.
    const bool received = history != History::Sent;
    const QString maildir = received ? ReceivedMaildirPath(paths_) : SentMaildirPath(paths_);
    if (stopLoading_) stopLoading_->store(true);
    stopLoading_ = std::make_shared<std::atomic<bool>>(false);
    QPointer<CopyReader> self(this);
    pool_->start([self, generation, history, received, historyFile, maildir, stop = stopLoading_] {
        // The copies decoded now leave what the search must find in them
        // and their records cannot hold.
        std::vector<CopySearchEntry> texts;
        const auto noteText = [&texts](const mail::SourceFile& file, const mail::DecodedMessage& message) {
            if (QString text = ExtraSearchText(message); !text.isEmpty())
                texts.push_back({file.fingerprint, std::move(text)});
        };
        const auto goOn = [&stop](qint64, qint64) { return !stop->load(); };
        auto loaded = received
                          ? mail::MessageSources::Load(history, historyFile, maildir, goOn, noteText)
                          : mail::MessageSources::Load(history, historyFile, maildir, goOn);
        std::shared_ptr<const mail::MessageSources> sources;
        if (loaded) {
            // Also when stopped: the copies decoded so far are kept as
            // known, and are not decoded again to note their texts.
            if (received)
                WriteCopySearchTexts(CopySearchTextsPath(historyFile), texts, loaded.value().madeAnew());
            sources = std::make_shared<const mail::MessageSources>(std::move(loaded.value()));
        }
        backOnWindowThread(self, [generation, sources](CopyReader& reader) {
            if (generation != reader.sourcesGeneration_) return;
            reader.loading_ = false;
            // A pairing that could not be made leaves every record shown as
            // it is stored, as before there were copies.
            reader.sources_ = sources;
            Q_EMIT reader.sourcesLoaded();
        });
    });
}

std::optional<QString> CopyReader::copyOf(const HistoryRecord& record, const std::optional<QDateTime>& recordTime,
                                          const std::optional<QDateTime>& nextRecordTime) const {
    if (!sources_) return std::nullopt;
    const auto copy = sources_->copyOf(record, recordTime, nextRecordTime);
    if (!copy) return std::nullopt;
    return copy->path;
}

std::optional<ViewerRow> CopyReader::rowOfFingerprint(QByteArrayView fingerprint) const {
    if (!sources_) return std::nullopt;
    const auto copy = sources_->copyOfFingerprint(fingerprint);
    if (!copy) return std::nullopt;
    return ViewerRow{copy->subject, copy->from, copy->date};
}

void CopyReader::read(int record, const MessageReading& request) {
    const int generation = ++readingGeneration_;
    reading_ = true;
    QPointer<CopyReader> self(this);
    pool_->start([self, generation, record, request] {
        ShownMessage shown = ReadShownMessage(request);
        backOnWindowThread(self, [generation, record, shown = std::move(shown)](CopyReader& reader) {
            if (generation != reader.readingGeneration_) return;
            reader.reading_ = false;
            Q_EMIT reader.messageRead(record, shown);
        });
    });
}

void CopyReader::forget() {
    ++readingGeneration_;
    reading_ = false;
}

}  // namespace lumopet
