#include "core/cp932.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace lumopet::cp932 {
namespace {

// glibc's "SHIFT_JIS" rejects the NEC and IBM extensions (the circled
// digits of the character tags among them); "CP932" is the Windows table.
constexpr const char* kCodePage = "CP932";
// QString holds UTF-16 in the machine's byte order.
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as it can; returns false with errno set where it
    // stopped. in and out are advanced past what was done.
    bool run(char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
        return iconv(handle_, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1);
    }
    void reset() { iconv(handle_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t handle_;
};

Converter& encoder() {
    thread_local Converter converter(kCodePage, kUtf16);
    return converter;
}

Converter& decoder() {
    thread_local Converter converter(kUtf16, kCodePage);
    return converter;
}

bool isAscii(QByteArrayView bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// What each UTF-16 unit becomes, learnt from iconv the first time the unit
// is met: a call into iconv costs more than a short field takes to look up
// character by character, and a check encodes a dozen fields a message.
// An entry is 0 while unknown, kNoCp932 for a unit CP932 lacks, 0x100 plus
// the byte for a single byte, and the two bytes (lead first) otherwise; a
// lead byte is at least 0x81, so the last two never meet. Threads that
// learn the same unit at once store the same value.
constexpr std::uint16_t kUnknown = 0;
constexpr std::uint16_t kNoCp932 = 1;
std::array<std::atomic<std::uint16_t>, 0x10000> encodings{};

std::uint16_t learnEncoding(char16_t unit) {
    char bytes[2];
    char* in = reinterpret_cast<char*>(&unit);
    size_t inLeft = 2;
    char* out = bytes;
    size_t outLeft = sizeof bytes;
    Converter& converter = encoder();
    converter.reset();
    std::uint16_t encoding = kNoCp932;
    if (converter.run(in, inLeft, out, outLeft) && inLeft == 0) {
        const auto first = static_cast<unsigned char>(bytes[0]);
        if (out - bytes == 1) encoding = 0x100 | first;
        if (out - bytes == 2) encoding = static_cast<std::uint16_t>(first << 8 | static_cast<unsigned char>(bytes[1]));
    }
    encodings[unit].store(encoding, std::memory_order_relaxed);
    return encoding;
}

// What each byte and each lead-and-trail pair decodes to, learnt from
// iconv the first time it is met, as the encodings above: a call into
// iconv for each field took most of listing a full history (32,766
// records, three fields each). An entry is 0 while unknown, kNotOneUnit
// for a sequence iconv does not decode into exactly one UTF-16 unit (then
// the whole text goes through iconv, which says how), and 0x10000 plus
// the unit otherwise. A lead byte's entries are by its trail byte.
constexpr std::uint32_t kUnknownDecoding = 0;
constexpr std::uint32_t kNotOneUnit = 1;
constexpr int kLeadBytes = 0xFC - 0x81 + 1;
std::array<std::atomic<std::uint32_t>, 0x100> singleDecodings{};
std::array<std::atomic<std::uint32_t>, kLeadBytes * 0x100> pairDecodings{};

std::uint32_t learnDecoding(std::atomic<std::uint32_t>& entry, const char* bytes, size_t size) {
    char16_t units[2];
    char* in = const_cast<char*>(bytes);
    size_t inLeft = size;
    char* out = reinterpret_cast<char*>(units);
    size_t outLeft = sizeof units;
    Converter& converter = decoder();
    converter.reset();
    std::uint32_t decoding = kNotOneUnit;
    if (converter.run(in, inLeft, out, outLeft) && inLeft == 0 && outLeft == sizeof units - sizeof(char16_t))
        decoding = 0x10000u | units[0];
    entry.store(decoding, std::memory_order_relaxed);
    return decoding;
}

// The text through the learnt entries; false as soon as a byte needs
// iconv's own handling (a byte that starts nothing valid, a lead byte cut
// off at the end).
bool decodeByEntries(QByteArrayView bytes, QString& result) {
    result.resize(bytes.size());
    char16_t* const start = reinterpret_cast<char16_t*>(result.data());
    char16_t* out = start;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char first = in[i];
        if (first < 0x80) {
            *out++ = first;
            ++i;
            continue;
        }
        std::uint32_t decoding;
        if (isLeadByte(first)) {
            if (i + 1 == size) return false;
            std::atomic<std::uint32_t>& entry = pairDecodings[static_cast<size_t>((first - 0x81) * 0x100 + in[i + 1])];
            decoding = entry.load(std::memory_order_relaxed);
            if (decoding == kUnknownDecoding) decoding = learnDecoding(entry, bytes.data() + i, 2);
            i += 2;
        } else {
            std::atomic<std::uint32_t>& entry = singleDecodings[first];
            decoding = entry.load(std::memory_order_relaxed);
            if (decoding == kUnknownDecoding) decoding = learnDecoding(entry, bytes.data() + i, 1);
            ++i;
        }
        if (decoding == kNotOneUnit) return false;
        *out++ = static_cast<char16_t>(decoding & 0xFFFF);
    }
    result.truncate(out - start);
    return true;
}

}  // namespace

QByteArray encode(QStringView text) {
    QByteArray result;
    // Each UTF-16 unit becomes at most two bytes.
    result.resize(text.size() * 2);
    char* out = result.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isSurrogate(unit)) {
            // No surrogate is in CP932: a pair is one character, one "?",
            // and a lone surrogate one unit.
            if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
            *out++ = '?';
            continue;
        }
        std::uint16_t encoding = encodings[unit].load(std::memory_order_relaxed);
        if (encoding == kUnknown) encoding = learnEncoding(unit);
        if (encoding == kNoCp932) {
            *out++ = '?';
        } else if (encoding < 0x200) {
            *out++ = static_cast<char>(encoding & 0xFF);
        } else {
            *out++ = static_cast<char>(encoding >> 8);
            *out++ = static_cast<char>(encoding & 0xFF);
        }
    }
    result.truncate(out - result.data());
    return result;
}

QString decode(QByteArrayView bytes) {
    if (isAscii(bytes)) return QString::fromLatin1(bytes.data(), bytes.size());
    QString result;
    if (decodeByEntries(bytes, result)) return result;
    // Each byte becomes at most one UTF-16 unit (CP932 lies in the BMP).
    result.resize(bytes.size());
    Converter& converter = decoder();
    converter.reset();
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char* out = reinterpret_cast<char*>(result.data());
    size_t outLeft = static_cast<size_t>(result.size()) * 2;
    while (inLeft > 0) {
        if (converter.run(in, inLeft, out, outLeft)) break;
        if (errno != EILSEQ && errno != EINVAL) break;
        // A byte that starts nothing valid (or a lead byte cut off at the
        // end): U+FFFD for that byte, then go on with the next.
        const char16_t replacement = QChar::ReplacementCharacter;
        std::memcpy(out, &replacement, 2);
        out += 2;
        outLeft -= 2;
        ++in;
        --inLeft;
        converter.reset();
    }
    result.truncate((out - reinterpret_cast<char*>(result.data())) / 2);
    return result;
}

QByteArray truncate(QByteArrayView bytes, qsizetype maxBytes) {
    if (bytes.size() <= maxBytes) return bytes.toByteArray();
    qsizetype end = 0;
    while (end < maxBytes) {
        const qsizetype width = isLeadByte(static_cast<unsigned char>(bytes[end])) ? 2 : 1;
        if (end + width > maxBytes) break;
        end += width;
    }
    return bytes.first(end).toByteArray();
}

}  // namespace lumopet::cp932
