#pragma once

#include <QString>

// A failure reported by a platform service: a number and a description.
// Services throw it; handlers that go on past failures use skipFailure().
struct PlatformError
{
    int number = 0;
    QString description;
};

namespace ErrorNumber {
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int BadFileNameOrNumber = 52;
constexpr int FileNotFound = 53;
constexpr int FileAlreadyOpen = 55;
constexpr int InputPastEndOfFile = 62;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccessError = 75;
constexpr int PathNotFound = 76;
constexpr int InvalidPropertyValue = 380;
constexpr int DialogCancelled = 32755;
constexpr int WrongSocketState = 40006;
constexpr int InvalidArgument = 40020;
} // namespace ErrorNumber

// Runs one statement of a handler whose failures are skipped without a
// message: the handler goes on with its next statement.
template <typename Statement>
void skipFailure(Statement &&statement)
{
    try {
        statement();
    } catch (const PlatformError &) {
    }
}
