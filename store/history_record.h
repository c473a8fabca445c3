#pragma once
// One record of the received or the sent history ("★MailData\srndata2.data",
// "srndata5.data"), byte for byte as the Windows version wrote it, so that a
// program folder copied from Windows reads back exactly.
//
// A history file is nothing but these records, one after another: record n
// (from 1) starts at (n - 1) * 12284. There is no header.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

namespace lumopet {

inline constexpr qint64 kHistoryRecordSize = 12284;

// Junk is this program's own third history ("srndata2.junk.data"): the
// received mail the junk filter set aside, in the received history's layout,
// its copies in the received Maildir.
enum class History { Received, Sent, Junk };

// Where a field lies in a record.
struct RecordField {
    qsizetype offset;
    qsizetype size;
    constexpr qsizetype end() const { return offset + size; }
};

// The record, said once. Text fields are CP932, left-aligned and padded
// with blanks (0x20) to their width.
namespace record_layout {
inline constexpr RecordField Subject{0, 100};
// Received: the sender. Sent: the date and time of sending.
inline constexpr RecordField Column2{100, 90};
// Received: the date. Sent: the recipient as the user typed it.
inline constexpr RecordField Column3{190, 90};
// Line breaks as CR LF.
inline constexpr RecordField Body{280, 12000};
// Always CR LF, so that the file also reads as text.
inline constexpr RecordField LineEnd{12280, 2};
// A 16-bit little-endian signed number: 1 live, 0 marked for deletion.
inline constexpr RecordField Live{12282, 2};
// The list of a history window needs only these first bytes.
inline constexpr RecordField ListingColumns{0, 280};
}  // namespace record_layout

static_assert(record_layout::Column2.offset == record_layout::Subject.end());
static_assert(record_layout::Column3.offset == record_layout::Column2.end());
static_assert(record_layout::Body.offset == record_layout::Column3.end());
static_assert(record_layout::LineEnd.offset == record_layout::Body.end());
static_assert(record_layout::Live.offset == record_layout::LineEnd.end());
static_assert(record_layout::Live.end() == kHistoryRecordSize);
static_assert(record_layout::ListingColumns.end() == record_layout::Body.offset);

struct HistoryRecord {
    QString Subject;
    QString Column2;
    QString Column3;
    // Line breaks as CR LF, the way the file holds them.
    QString Body;
    std::int16_t Live = 1;
};

// The 12284 bytes of a record. Every field loses its leading and trailing
// blanks first (U+0020 only: a full-width blank U+3000 is text and stays),
// except Column2 of the sent history, which is stored as given. A lone LF or
// CR in the body is stored as CR LF. Text longer than its field is cut to
// the width, before a double-byte character rather than through it.
QByteArray EncodeRecord(const HistoryRecord& record, History history);

// The fields of a record of 12284 bytes: each text is decoded, cut at its
// first NUL and stripped of leading and trailing blanks.
HistoryRecord DecodeRecord(QByteArrayView bytes);

// One text field of a record, read the way DecodeRecord reads it.
QString DecodeField(QByteArrayView record, RecordField field);

// The Live number of a record of 12284 bytes, without decoding any text.
std::int16_t RecordLive(QByteArrayView record);

}  // namespace lumopet
