#include "store/history_record.h"

#include "core/cp932.h"
#include "core/text_helpers.h"

#include <algorithm>
#include <cstring>

namespace lumopet {
namespace {

namespace layout = record_layout;

constexpr char kBlank = ' ';



void put(QByteArray& record, RecordField field, QStringView text) {
    const QByteArray bytes = cp932::truncate(cp932::encode(text), field.size);
    std::memcpy(record.data() + field.offset, bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

QByteArray EncodeRecord(const HistoryRecord& record, History history) {
    // Blanks everywhere first: what no field overwrites is the padding.
    QByteArray bytes(kHistoryRecordSize, kBlank);
    put(bytes, layout::Subject, WithoutBlanksAround(record.Subject));
    // The sent history's date column is the clock text, blanks and all.
    put(bytes, layout::Column2, history == History::Sent ? QStringView(record.Column2) : WithoutBlanksAround(record.Column2));
    put(bytes, layout::Column3, WithoutBlanksAround(record.Column3));
    put(bytes, layout::Body, WithCrLf(WithoutBlanksAround(record.Body)));
    bytes[layout::LineEnd.offset] = '\r';
    bytes[layout::LineEnd.offset + 1] = '\n';
    const auto live = static_cast<std::uint16_t>(record.Live);
    bytes[layout::Live.offset] = static_cast<char>(live & 0xFF);
    bytes[layout::Live.offset + 1] = static_cast<char>(live >> 8);
    return bytes;
}

QString DecodeField(QByteArrayView record, RecordField field) {
    // A short buffer reads as a blank field rather than past its end.
    const qsizetype size = std::clamp<qsizetype>(record.size() - field.offset, 0, field.size);
    const QString text = CutAtNul(cp932::decode(record.sliced(std::min(field.offset, record.size()), size)));
    return WithoutBlanksAround(text).toString();
}

std::int16_t RecordLive(QByteArrayView record) {
    if (record.size() < layout::Live.end()) return 0;
    const auto low = static_cast<unsigned char>(record[layout::Live.offset]);
    const auto high = static_cast<unsigned char>(record[layout::Live.offset + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

HistoryRecord DecodeRecord(QByteArrayView bytes) {
    return HistoryRecord{DecodeField(bytes, layout::Subject), DecodeField(bytes, layout::Column2),
                         DecodeField(bytes, layout::Column3), DecodeField(bytes, layout::Body), RecordLive(bytes)};
}

}  // namespace lumopet
