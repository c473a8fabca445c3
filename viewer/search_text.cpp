#include "viewer/search_text.h"

#include "core/cp932.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace lumopet {
namespace {

void FoldKatakana(QString& text) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x30A1 && u <= 0x30F6) c = QChar(static_cast<char16_t>(u - 0x60));
    }
}

// The search form of each CP932 character on its own. Entry b (below 0x100)
// is the single byte b; entry lead * 256 + trail a double-byte character,
// filled only when the pair is one in CP932.
class FoldTable {
public:
    struct Entry {
        std::uint32_t start = 0;   // in units_
        std::uint8_t length = 0;
        bool valid = false;        // a pair: the two bytes make one character
        bool joins = false;        // may join the character before it
    };

    FoldTable() {
        for (int b = 0; b < 0x100; ++b) {
            const char byte = static_cast<char>(b);
            add(b, cp932::decode(QByteArrayView(&byte, 1)));
        }
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!cp932::isLeadByte(static_cast<unsigned char>(lead))) continue;
            for (int trail = 0; trail < 0x100; ++trail) {
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const QString decoded = cp932::decode(QByteArrayView(pair, 2));
                // Not a pair: the decoder gave the lead byte a U+FFFD of its
                // own and went on with the trail byte.
                if (decoded.size() != 1) continue;
                add(lead * 256 + trail, decoded);
            }
        }
    }

    const Entry& operator[](int index) const { return entries_[static_cast<size_t>(index)]; }
    // The longest search form a byte of CP932 can give, in UTF-16 units.
    qsizetype unitsPerByte() const { return unitsPerByte_; }
    const char16_t* units(const Entry& entry) const { return units_.data() + entry.start; }

private:
    void add(int index, const QString& decoded) {
        const QString normal = decoded.normalized(QString::NormalizationForm_KC);
        QString form = normal.toCaseFolded();
        FoldKatakana(form);
        Entry& entry = entries_[static_cast<size_t>(index)];
        entry.valid = true;
        // A mark that the normalizer puts together with the letter before
        // it (ﾞ and ﾟ), or anything that starts with a combining character,
        // cannot be folded alone.
        entry.joins = normal.isEmpty() || normal.front().combiningClass() != 0 || form.size() > 255;
        entry.start = static_cast<std::uint32_t>(units_.size());
        entry.length = static_cast<std::uint8_t>(std::min<qsizetype>(form.size(), 255));
        for (const QChar c : form) units_.push_back(c.unicode());
        const qsizetype bytes = index < 0x100 ? 1 : 2;
        unitsPerByte_ = std::max<qsizetype>(unitsPerByte_, (entry.length + bytes - 1) / bytes);
    }

    std::array<Entry, 0x10000> entries_{};
    std::vector<char16_t> units_;
    qsizetype unitsPerByte_ = 1;
};

// The character of CP932 text at i, advancing i past it: the byte itself
// below 0x100, a pair as lead * 256 + trail. A lead byte without a trail
// that makes a pair is a character of its own (the decoder's U+FFFD), and
// the byte after it starts the next.
inline int NextCode(const FoldTable& table, const unsigned char* data, qsizetype size, qsizetype& i) {
    const unsigned char byte = data[i];
    if (cp932::isLeadByte(byte) && i + 1 < size && table[byte * 256 + data[i + 1]].valid) {
        const int code = byte * 256 + data[i + 1];
        i += 2;
        return code;
    }
    ++i;
    return byte;
}

const FoldTable& Table() {
    static const FoldTable table;
    return table;
}

}  // namespace

QString SearchForm(QStringView text) {
    QString form = text.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
    FoldKatakana(form);
    return form;
}

void AppendSearchFormOfCp932(QByteArrayView bytes, QString& out) {
    const FoldTable& table = Table();
    const qsizetype start = out.size();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    // Room for the longest form, written in place and cut to what it took.
    out.resize(start + size * table.unitsPerByte());
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data()) + start;
    char16_t* to = begin;
    for (qsizetype i = 0; i < size;) {
        const unsigned char byte = data[i];
        if (byte < 0x80) {
            // ASCII is most of many a mail, and folds to itself but for
            // the capitals.
            *to++ = static_cast<char16_t>(byte >= 'A' && byte <= 'Z' ? byte + 0x20 : byte);
            ++i;
            continue;
        }
        const FoldTable::Entry& entry = table[NextCode(table, data, size, i)];
        if (entry.joins) {
            out.truncate(start);
            out += SearchForm(cp932::decode(bytes));
            return;
        }
        const char16_t* units = table.units(entry);
        for (int k = 0; k < entry.length; ++k) *to++ = units[k];
    }
    out.truncate(start + (to - begin));
}

Cp932Prefilter::Cp932Prefilter(QStringView form) : starts_(form.isEmpty() ? 0 : 0x10000, 0) {
    if (form.isEmpty()) return;
    const FoldTable& table = Table();
    const QChar first = form.front();
    for (int code = 0; code < 0x10000; ++code) {
        const FoldTable::Entry& entry = table[code];
        if (!entry.valid) continue;
        const QStringView units(reinterpret_cast<const QChar*>(table.units(entry)), entry.length);
        starts_[static_cast<size_t>(code)] = entry.joins || units.contains(first);
    }
}

bool Cp932Prefilter::mayContain(QByteArrayView bytes) const {
    if (starts_.empty()) return true;
    const FoldTable& table = Table();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;)
        if (starts_[static_cast<size_t>(NextCode(table, data, size, i))]) return true;
    return false;
}

}  // namespace lumopet
