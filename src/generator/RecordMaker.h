#pragma once

#include "generator/Kinds.h"
#include "generator/Prng.h"

#include <QByteArray>

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
    void field(QByteArray &out, int number, Shape shape, quint32 id);
    void fullWidth(QByteArray &out, int number, quint32 id);
    void date(QByteArray &out);
    void time(QByteArray &out);
    void digits(QByteArray &out, int count);
    void anyNumber(QByteArray &out, int low, int high);
    void text(QByteArray &out, int width);
    void letter(QByteArray &out);

    Prng &m_prng;
    int m_state = 0; // index of the state of the record being made
};
