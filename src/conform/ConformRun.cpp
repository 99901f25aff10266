#include "conform/ConformRun.h"

#include "conform/ConformReport.h"
#include "conform/Suite.h"

ConformRun::ConformRun(const ConformOptions &options, std::FILE *out, std::FILE *err, QObject *parent)
    : QObject(parent), m_options(options), m_out(out), m_err(err)
{
}

ConformRun::~ConformRun() = default;

void ConformRun::say(std::FILE *stream, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void ConformRun::interrupt(int signalNumber)
{
    if (!m_signal)
        m_signal = signalNumber;
    if (m_suite)
        m_suite->interrupt();
}

int ConformRun::run()
{
    if (m_options.list) {
        for (const CaseInfo &info : battery()) {
            if (info.built)
                say(m_out, QByteArray(info.id) + ' ' + levelName(info.level) + ' ' + info.title);
        }
        return Passed;
    }
    QString error;
    const std::optional<ReplyPatterns> patterns = ReplyPatterns::make(m_options.accept, m_options.refuse, &error);
    QHash<QString, CaseOutcome> earlier;
    if (!patterns || (!m_options.compareFile.isEmpty() && !readEarlierReport(m_options.compareFile, &earlier, &error))) {
        say(m_err, "ipnd-conform: " + error.toLocal8Bit());
        return Usage;
    }
    std::unique_ptr<TlsClient> tls;
    if (m_options.tls.enabled) {
        tls = TlsClient::create(m_options.tls, m_options.host, &error);
        if (!tls) {
            say(m_err, "ipnd-conform: " + error.toLocal8Bit());
            return Usage;
        }
        if (m_options.tls.insecure)
            say(m_err, "ipnd-conform: --insecure: the server's certificate is not checked");
    }
    Suite suite(m_options, *patterns);
    suite.setTls(tls.get());
    m_suite = &suite;
    if (m_signal)
        suite.interrupt();
    QByteArray why;
    if (!m_signal && !suite.reachable(&why)) {
        m_suite = nullptr;
        if (!m_signal) {
            // A TLS handshake that failed says why; else the time ran out.
            say(m_err, "ipnd-conform: no connection to " + m_options.host.toLocal8Bit() + ':' +
                           QByteArray::number(m_options.port) + (why.isEmpty() ? " within the timeout" : ": " + why));
            return NoConnection;
        }
    }
    SuiteResult result = suite.run([&](CaseResult &c) {
        if (!m_options.compareFile.isEmpty())
            compareWithEarlier(&c, earlier);
        if (!m_options.quiet)
            say(m_out, caseLine(c));
    });
    m_suite = nullptr;
    result.compared = !m_options.compareFile.isEmpty();
    for (CaseResult &c : result.cases) {
        if (result.compared)
            compareWithEarlier(&c, earlier); // the cases that did not run too
    }
    result.interrupted = result.interrupted || m_signal != 0;
    say(m_out, summaryLine(result));
    bool written = true;
    for (const auto &[file, write] : {std::pair{m_options.reportFile, &writeJsonReport},
                                      std::pair{m_options.junitFile, &writeJUnitReport},
                                      std::pair{m_options.htmlFile, &writeHtmlReport}}) {
        if (!file.isEmpty() && !write(result, file, &error)) {
            say(m_err, "ipnd-conform: " + error.toLocal8Bit());
            written = false;
        }
    }
    if (m_signal)
        return 128 + m_signal;
    if (!written)
        return Usage;
    return result.passed() ? Passed : Failed;
}
