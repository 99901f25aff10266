#pragma once

#include "generator/Kinds.h"
#include "generator/Prng.h"

#include <QByteArray>

#include <cstring>
#include <string_view>

// `value` in exactly `width` decimal digits at `out`, with leading zeros;
// returns the end.
inline char *writeDigits(char *out, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// Makes IPND records that look like real ones but carry nobody's details:
// every value comes from small built-in lists and number ranges. Valid
// records obey the field table in every field; a broken record differs from
// a valid one in exactly one way.
class RecordMaker
{
public:
    // The shapes the fixed test records show.
    enum class Shape {
        FullAddress, // a fixed line with a full building and street address
        NoAddress,   // a number with no address
        Mobile,      // a mobile service, no name or address
        FullWidth,   // every field filled out to its width
    };

    explicit RecordMaker(Prng &prng) : m_prng(prng) {}

    Shape pickShape();
    // Appends a valid record whose id is `id` (0 to 99999999) written in 8
    // digits.
    void append(QByteArray &out, quint32 id, Shape shape);
    void append(QByteArray &out, quint32 id) { append(out, id, pickShape()); }

    // Breaks a valid record in the one way `kind` (a record kind) names,
    // leaving field 1 as it is.
    void breakRecord(QByteArray &record, GenKind kind);

private:
    // Valid records are written straight into the output, through m_p.
    static constexpr qsizetype LongestRecord = 713;

    void head(quint32 id, bool mobileService);
    void fullAddress();
    void noAddress();
    void mobile();
    void network(std::string_view name);
    void separators(int count)
    {
        std::memset(m_p, '|', std::size_t(count));
        m_p += count;
    }
    void fullWidth(int number, quint32 id);
    void date();
    void time();
    void digits(int count);
    void anyNumber(int low, int high);
    void text(int width);
    void letter() { putChar(char('A' + m_prng.below(26))); }
    void flag() { putChar(m_prng.chance(50) ? 'T' : 'F'); }
    void fixedNumber(char area);
    void mobileNumber();
    void putChar(char c) { *m_p++ = c; }
    void put(std::string_view text)
    {
        std::memcpy(m_p, text.data(), text.size());
        m_p += text.size();
    }
    void putDigits(quint64 value, int width) { m_p = writeDigits(m_p, value, width); }
    // What `write` writes, as bytes of their own (at most 128).
    template <typename Write>
    QByteArray made(Write write)
    {
        char buffer[128];
        char *const saved = m_p;
        m_p = buffer;
        write();
        const QByteArray bytes(buffer, m_p - buffer);
        m_p = saved;
        return bytes;
    }

    Prng &m_prng;
    int m_state = 0; // index of the state of the record being made
    char *m_p = nullptr;
};
