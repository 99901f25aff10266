#pragma once

#include "platform/Tls.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

// A TLS client's command-line options, as ipnd-send and ipnd-conform take
// them: --tls, --ca, --insecure, --servername, --cert, --key, --ciphers,
// --no-resume.
QList<QCommandLineOption> tlsClientOptions();

// The options given, checked against each other; a one-line reason when they
// do not go together, else empty.
QString readTlsClientOptions(const QCommandLineParser &parser, TlsClientOptions *tls);
