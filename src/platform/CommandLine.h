#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// How a number may be typed.
enum class NumberForm {
    Trimmed, // blanks around it are left out
    Exact,   // blanks around it make it no number
    Digits,  // a whole number of plain digits, no more of them than its highest value has
};

// An option's value as its reader gets it.
struct OptionValue
{
    QString name; // as the table names it, without the dashes
    QString text; // one character per byte; empty for a flag

    QByteArray bytes() const;
    QString fileName() const;
    // The value as a number, or none; a real number is finite.
    std::optional<qint64> whole(NumberForm form = NumberForm::Trimmed) const;
    std::optional<quint64> wholeUnsigned(NumberForm form = NumberForm::Trimmed) const;
    std::optional<double> real(NumberForm form = NumberForm::Trimmed) const;
    // The one form of a bad value: --port: "x" is not a port number (1 to 65535)
    QString isNot(const QString &what) const;
    // --host: no address given
    QString error(const QString &why) const;
};

// Takes an option's value into what the program was asked: empty when it was
// taken, else the usage error.
using OptionReader = std::function<QString(const OptionValue &value)>;

// A line of a program's table of options.
struct OptionSpec
{
    QStringList names;  // the first one is what errors name
    QString valueName;  // empty: a flag, which takes no value
    QString help;
    OptionReader read;  // run once when the option is given
};

// What options say together, once each one's value is read: empty when they
// go together, else the usage error.
using OptionCheck = std::function<QString()>;

// A table's options on a parser of its own, and each one given read with its
// reader in the order of the table: empty, or the first reader's error.
// CommandLine does both for a program's whole table.
void addOptionTable(QCommandLineParser &parser, const QList<OptionSpec> &table);
QString readOptionTable(const QCommandLineParser &parser, const QList<OptionSpec> &table);

// The command line of every program here, on QCommandLineParser: --help with
// a line for each option, --version, "--opt value" and "--opt=value". The
// same rules hold for every program: an option given twice is a usage error,
// and a value picked from a list is matched whatever its letter case.
//
// The arguments are taken one character per byte, so that an argument that
// is not valid UTF-8 (a reply text, a path) reaches the program unchanged:
// bytes() gives a value back as the bytes it was typed as, fileName() as a
// path to open.
class CommandLine
{
public:
    enum class Outcome { Run, Help, Version, Error };

    CommandLine(const QString &program, const QString &description);

    QCommandLineParser parser;

    // argv without changing a byte.
    static QStringList byteArguments(int argc, char *argv[]);
    static QByteArray bytes(const QString &value) { return value.toLatin1(); }
    static QString fileName(const QString &value) { return QFile::decodeName(bytes(value)); }
    // A value as the usage errors show it: in double quotes.
    static QString quoted(const QString &value) { return QLatin1Char('"') + value + QLatin1Char('"'); }
    static QByteArray quoted(const QByteArray &value) { return '"' + value + '"'; }
    // The arguments as a shell would take them back, in the terminal's
    // encoding: each one that needs it in single quotes.
    static QString shellText(const QStringList &arguments);

    // Adds a program's options; parse() reads each one given with its
    // reader, in the order of the table.
    void addOptions(const QList<OptionSpec> &table);
    bool given(const QString &name) const { return parser.isSet(name); }
    // The first of the options given, or empty: what goes against another.
    QString firstGiven(const QStringList &names) const;
    // Checks that parse() runs in order once every value is read; the first
    // error is the usage error.
    void addChecks(const QList<OptionCheck> &checks) { m_checks += checks; }

    // Parses the arguments (argv[0] first). Help and version are printed to
    // `out`; an error, an argument that is not an option among them, an
    // option given twice, a value its reader refuses or options that a check
    // finds do not go together, is left in error()
    // for the program to report as it reports its own usage errors.
    Outcome parse(const QStringList &arguments, std::FILE *out = stdout);
    QString error() const { return m_error; }
    // parse() for a program that has nothing to do but run: false when help
    // or the version was printed (*printed) or the arguments are bad (*error).
    bool runs(const QStringList &arguments, std::FILE *out, bool *printed, QString *error);

    // "ipnd-send 1.10.23"
    QString versionLine() const;

private:
    QString errorLine() const;
    QString repeated() const;

    QString m_program;
    QString m_error;
    QList<OptionSpec> m_table;
    QList<OptionCheck> m_checks;
};

// The checks across options every program words alike, on the options a
// parser was given.
namespace OptionChecks {

// "--x goes with --needed": the first of `options` given without `needed`.
QString goesWith(const QCommandLineParser &parser, const QStringList &options, const QString &needed);
// "--a and --b go together": one of the two given without the other.
QString together(const QCommandLineParser &parser, const QString &a, const QString &b);

} // namespace OptionChecks

// The readers an option table is made of, each taking the value into *into.
namespace OptionRead {

OptionReader flag(bool *into);
OptionReader text(QString *into);
OptionReader bytes(QByteArray *into);
// With `notWhat`, an empty name is refused: "is not <notWhat>".
OptionReader fileName(QString *into, const QString &notWhat = {});
// Seconds from `least` to `most`, kept as whole milliseconds.
OptionReader milliseconds(int *into, double least, double most, const QString &what);

// A number from `least` to `most`; `what` says what it is not otherwise.
template <class T>
OptionReader number(T *into, T least, T most, const QString &what, NumberForm form = NumberForm::Trimmed)
{
    return [=](const OptionValue &value) {
        if (form == NumberForm::Digits && value.text.size() > QString::number(most).size())
            return value.isNot(what);
        std::optional<T> number;
        if constexpr (std::is_floating_point_v<T>) {
            if (const std::optional<double> read = value.real(form))
                number = T(*read);
        } else if constexpr (std::is_unsigned_v<T>) {
            if (const std::optional<quint64> read = value.wholeUnsigned(form); read && *read <= quint64(most))
                number = T(*read);
        } else {
            if (const std::optional<qint64> read = value.whole(form); read && *read >= qint64(least) && *read <= qint64(most))
                number = T(*read);
        }
        if (!number || !(*number >= least && *number <= most))
            return value.isNot(what);
        *into = *number;
        return QString();
    };
}

template <class T>
using Choices = QList<std::pair<QString, T>>;

// "a, b or c"
QString choiceList(const QStringList &names);

// One of the names, in any letter case, blanks around it left out.
template <class T>
OptionReader choice(T *into, const Choices<T> &choices)
{
    return [=](const OptionValue &value) {
        QStringList names;
        for (const auto &[name, meaning] : choices) {
            if (value.text.trimmed().compare(name, Qt::CaseInsensitive) == 0) {
                *into = meaning;
                return QString();
            }
            names << name;
        }
        return value.isNot(choiceList(names));
    };
}

} // namespace OptionRead

// The version every program reports: "1.10.23".
QString versionText();
