#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>

// The command line of every program here, on QCommandLineParser: --help with
// a line for each option, --version, "--opt value" and "--opt=value".
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

    // Parses the arguments (argv[0] first). Help and version are printed to
    // `out`; an error, an argument that is not an option among them, is left
    // in error() for the program to report as it reports its own usage
    // errors.
    Outcome parse(const QStringList &arguments, std::FILE *out = stdout);
    QString error() const { return m_error; }

    // "ipnd-send 1.10.23"
    QString versionLine() const;

private:
    QString errorLine() const;

    QString m_program;
    QString m_error;
};

// The version every program reports: "1.10.23".
QString versionText();
