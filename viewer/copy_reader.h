#pragma once
// The viewer's reader of Maildir copies, off the window's thread: the
// pairing of a history's records with their copies (loaded when the
// history is listed, and again when a mail check or an import added to
// it), and the reading of one message at a time. A newer request wins: the
// answer of an older one is dropped when it comes.

#include "core/program_paths.h"
#include "core/viewer_data.h"
#include "store/history_record.h"
#include "viewer/message_reading.h"

#include <QDateTime>
#include <QObject>

#include <atomic>
#include <memory>
#include <optional>

class QThreadPool;

namespace lumopet {

namespace mail {
class MessageSources;
}

class CopyReader : public QObject {
    Q_OBJECT
public:
    explicit CopyReader(const ProgramPaths& paths, QObject* parent = nullptr);
    ~CopyReader() override;

    // The pairing of this history, loaded anew.
    void loadSources(History history);
    bool sourcesReady() const { return sources_ != nullptr; }
    History history() const { return history_; }

    // The copy of a record, when it is known without doubt. For the sent
    // history, its clock time and the next record's tell it from others.
    std::optional<QString> copyOf(const HistoryRecord& record, const std::optional<QDateTime>& recordTime = {},
                                  const std::optional<QDateTime>& nextRecordTime = {}) const;
    // The copy's whole texts for a record listed with this fingerprint.
    std::optional<ViewerRow> rowOfFingerprint(QByteArrayView fingerprint) const;

    // Reads a copy for record n; whatever was asked before is forgotten.
    void read(int record, const MessageReading& request);
    // Forgets the reading in flight.
    void forget();
    bool readingPending() const { return reading_; }
    bool sourcesPending() const { return loading_; }

Q_SIGNALS:
    void sourcesLoaded();
    void messageRead(int record, const lumopet::ShownMessage& shown);

private:
    ProgramPaths paths_;
    // Set to stop the pairing in flight: a newer one took over, or the
    // window closes (a first pairing of a large Maildir takes seconds).
    std::shared_ptr<std::atomic<bool>> stopLoading_;
    History history_ = History::Received;
    std::shared_ptr<const mail::MessageSources> sources_;
    QThreadPool* pool_;
    int sourcesGeneration_ = 0;
    int readingGeneration_ = 0;
    bool loading_ = false;
    bool reading_ = false;
};

}  // namespace lumopet
