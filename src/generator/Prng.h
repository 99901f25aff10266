#pragma once

#include <QtGlobal>

// A small seeded generator whose output is fixed by its seed alone, on every
// platform and library version: xoshiro256** seeded through splitmix64.
class Prng
{
public:
    explicit Prng(quint64 seed)
    {
        for (quint64 &word : m_s) {
            seed += 0x9e3779b97f4a7c15ULL;
            quint64 z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            word = z ^ (z >> 31);
        }
    }

    quint64 next()
    {
        const quint64 result = rotl(m_s[1] * 5, 7) * 9;
        const quint64 t = m_s[1] << 17;
        m_s[2] ^= m_s[0];
        m_s[3] ^= m_s[1];
        m_s[1] ^= m_s[2];
        m_s[0] ^= m_s[3];
        m_s[2] ^= t;
        m_s[3] = rotl(m_s[3], 45);
        return result;
    }

    // 0 to n - 1 (0 < n <= 2^32): the high half of a 32-bit draw times n,
    // in plain integer arithmetic so that the result is the same everywhere.
    // Each next() gives two draws. The bias, n / 2^32, is below 2^-5 of a
    // percent for the n used here.
    quint64 below(quint64 n)
    {
        if (!m_halfLeft) {
            m_half = next();
            m_halfLeft = true;
            return ((m_half & 0xffffffffU) * n) >> 32;
        }
        m_halfLeft = false;
        return ((m_half >> 32) * n) >> 32;
    }
    int between(int low, int high) { return low + int(below(quint64(high - low + 1))); }
    bool chance(int percent) { return below(100) < quint64(percent); }

private:
    static quint64 rotl(quint64 x, int k) { return (x << k) | (x >> (64 - k)); }

    quint64 m_s[4];
    quint64 m_half = 0;
    bool m_halfLeft = false;
};
