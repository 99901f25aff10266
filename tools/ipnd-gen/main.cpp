// ipnd-gen: writes N test records, valid and broken on purpose, as a RAWLOG
// or MULTIPKT data file, and optionally a manifest of what each one is.

#include "generator/Generator.h"
#include "platform/OutputFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int Failed = 1;
constexpr int BadArguments = 2;

void complain(const QString &line)
{
    std::fprintf(stderr, "ipnd-gen: %s\n", line.toLocal8Bit().constData());
}

// An output as the messages name it.
QString shown(const QByteArray &name)
{
    return name.isEmpty() || name == "-" ? QStringLiteral("standard output")
                                         : CommandLine::quoted(QFile::decodeName(name));
}

// A regular file is written whole or not at all; standard output when no name
// or "-" is given. Anything else that exists under the name (a device, a
// pipe) is written as it is: replacing it by a new file, as a save does, would
// put a regular file where the device was.
std::unique_ptr<QFileDevice> openOutput(const QByteArray &name, QString *error)
{
    auto file = ::openOutput(name.isEmpty() ? QByteArray("-") : name,
                             {OutputWay::File::Replaced, OutputWay::Other::InPlace, true});
    if (file->isOpen())
        return file;
    *error = isStandardOutput(name) || name.isEmpty()
                 ? QStringLiteral("cannot write to standard output")
                 : QStringLiteral("cannot write %1: %2").arg(shown(name), file->errorString());
    return nullptr;
}

bool finish(QFileDevice &file, const QByteArray &name)
{
    if (commitWhole(file))
        return true;
    complain(QStringLiteral("cannot write %1: %2").arg(shown(name), file.errorString()));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const ParsedGenArguments parsed = parseGenArguments(CommandLine::byteArguments(argc, argv));
    if (parsed.outcome == CommandLine::Outcome::Help || parsed.outcome == CommandLine::Outcome::Version)
        return 0;
    if (parsed.outcome == CommandLine::Outcome::Error) {
        complain(parsed.error);
        return BadArguments;
    }
    const GenOptions &options = parsed.options;

    const quint64 seed = options.seed ? *options.seed : QRandomGenerator::system()->generate64();
    if (!options.seed)
        std::fprintf(stderr, "ipnd-gen: seed %llu\n", static_cast<unsigned long long>(seed));

    QString error;
    const std::unique_ptr<QFileDevice> data = openOutput(options.output, &error);
    std::unique_ptr<QFileDevice> manifest;
    if (data && !options.manifest.isEmpty())
        manifest = openOutput(options.manifest, &error);
    if (!data || (!options.manifest.isEmpty() && !manifest)) {
        complain(error);
        return BadArguments;
    }

    // A progress line for a run long enough to wait on, on a terminal only.
    const bool terminal = isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    qint64 shownAt = 0;
    bool shown = false;
    auto progress = [&](qint64 made) {
        if (!terminal || clock.elapsed() < 1000 || (clock.elapsed() - shownAt < 500 && made < options.count))
            return;
        shownAt = clock.elapsed();
        shown = true;
        std::fprintf(stderr, "\ripnd-gen: %lld of %lld records", static_cast<long long>(made),
                     static_cast<long long>(options.count));
        std::fflush(stderr);
    };

    qint64 mixed = 0;
    const bool written = generate(options, seed, *data, manifest.get(), progress, &error, &mixed);
    if (shown)
        std::fputc('\n', stderr);
    if (!written) {
        complain(QStringLiteral("cannot write %1").arg(error));
        return Failed;
    }
    if (!finish(*data, options.output) || (manifest && !finish(*manifest, options.manifest)))
        return Failed;
    if (mixed > 0)
        complain(QStringLiteral("note: a replay also sends %1 record(s) that the reader puts together from parts "
                                "of different records; the manifest has no line for them")
                     .arg(mixed));
    return 0;
}
