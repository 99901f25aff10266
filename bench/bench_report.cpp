// Report writers on a long run: the cost per record of each report written
// as the run goes, side by side with a plain stdio writer that writes and
// flushes one fixed line per record (the least any report written record by
// record can cost), the size of each file, and how long a headless browser
// takes to open the HTML page of the run. Files go to a temporary directory.
//
//   ipnd-bench-report [RECORDS]   (default 1000000)

#include "report/ReportWriters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <tuple>

namespace {

OutcomeRecord recordNumber(qint64 seq, const QDateTime &start)
{
    const Outcome outcome = seq % 1000 == 0 ? Outcome::Unanswered : (seq % 1500 == 0 ? Outcome::Unexpected : Outcome::Answered);
    const bool replied = outcome != Outcome::Unanswered;
    return {seq,
            outcome,
            QByteArray::number(4000000000LL + seq),
            replied ? std::optional<double>(1.0 + std::fmod(double(seq) * 0.37, 9.0)) : std::nullopt,
            replied ? std::optional<QByteArray>(outcome == Outcome::Answered ? "OK" : "NAK\r\n") : std::nullopt,
            start.addMSecs(seq),
            int(seq % 4) + 1,
            replied ? QByteArray() : QByteArray("Event: No reply within 10000 ms: connection closed"),
            {},
            false,
            {},
            {}};
}

double secondsPerMillion(qint64 ns, qint64 records)
{
    return double(ns) / 1e9 * 1e6 / double(records);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 records = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    if (records <= 0) {
        std::fprintf(stderr, "usage: ipnd-bench-report [RECORDS]\n");
        return 2;
    }
    QTemporaryDir dir;
    const QDateTime start = QDateTime::currentDateTimeUtc();
    RunFigures figures;
    for (qint64 seq = 1; seq <= records; ++seq)
        figures.count(recordNumber(seq, start));
    figures.rttMs = RunFigures::RoundTrips{1, 5, 9, 9.9, 10, 9.99};
    figures.elapsedSeconds = double(records) / 1000.0;

    QElapsedTimer clock;
    {
        const QByteArray line = R"({"seq":1,"id":"4000000001","outcome":"answered","rtt_ms":1.37,"reply":"OK"})"
                                "\n";
        std::FILE *plain = std::fopen(qPrintable(dir.filePath(QStringLiteral("plain.txt"))), "w");
        if (!plain)
            return 1;
        clock.start();
        for (qint64 seq = 1; seq <= records; ++seq) {
            const OutcomeRecord record = recordNumber(seq, start); // made as for the reports
            std::fwrite(line.constData(), 1, size_t(line.size()), plain);
            std::fflush(plain);
        }
        std::fclose(plain);
        std::printf("plain write+flush per record: %.2f s per million records\n",
                    secondsPerMillion(clock.nsecsElapsed(), records));
    }

    const QString html = dir.filePath(QStringLiteral("run.html"));
    const std::tuple<const char *, QString, std::function<std::unique_ptr<ReportWriter>(const QString &)>> writers[] = {
        {"--report", dir.filePath(QStringLiteral("run.jsonl")),
         [](const QString &path) { return std::make_unique<JsonLinesReport>(path); }},
        {"--junit", dir.filePath(QStringLiteral("run.xml")),
         [](const QString &path) { return std::make_unique<JUnitReport>(path, "ipnd-send"); }},
        {"--html", html, [](const QString &path) { return std::make_unique<HtmlReport>(path, "ipnd-send"); }},
    };
    for (const auto &[name, path, make] : writers) {
        const std::unique_ptr<ReportWriter> writer = make(path);
        clock.start();
        if (!writer->open())
            return 1;
        for (qint64 seq = 1; seq <= records; ++seq)
            writer->add(recordNumber(seq, start));
        writer->finish(figures, {}, false);
        std::printf("%-8s %.2f s per million records, file %lld bytes for %lld records\n", name,
                    secondsPerMillion(clock.nsecsElapsed(), records),
                    static_cast<long long>(QFileInfo(path).size()), static_cast<long long>(records));
    }

    const QString browser = QStandardPaths::findExecutable(QStringLiteral("chromium-headless-shell"));
    if (browser.isEmpty()) {
        std::printf("browser: chromium-headless-shell not installed\n");
        return 0;
    }
    // The browser's own start-up, measured on an empty page, is taken off.
    const QString empty = dir.filePath(QStringLiteral("empty.html"));
    QFile(empty).open(QIODevice::WriteOnly);
    qint64 openMs[2] = {0, 0};
    const QString pages[] = {empty, html};
    for (int p = 0; p < 2; ++p) {
        QProcess chromium;
        clock.start();
        chromium.start(browser, {"--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run",
                                 "--disable-component-update", "--disable-sync",
                                 "--user-data-dir=" + dir.filePath(QStringLiteral("profile")), "--dump-dom",
                                 QUrl::fromLocalFile(pages[p]).toString()});
        if (!chromium.waitForFinished(60000))
            return 1;
        openMs[p] = clock.elapsed();
    }
    std::printf("browser: empty page %lld ms, report page %lld ms (%lld ms more)\n",
                static_cast<long long>(openMs[0]), static_cast<long long>(openMs[1]),
                static_cast<long long>(openMs[1] - openMs[0]));
    return 0;
}
