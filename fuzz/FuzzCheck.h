#pragma once

// What every harness needs: a check that stops the run with a message (the
// fuzzer records the input; the corpus replay fails), and the entry point.

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);              \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

// Text meant for one line of a log or a report: printable ASCII only.
inline bool printableAscii(const QByteArray &text)
{
    for (const char c : text) {
        if (c < 32 || c > 126)
            return false;
    }
    return true;
}
