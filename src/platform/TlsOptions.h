#pragma once

#include "platform/CommandLine.h"
#include "platform/Tls.h"

#include <QList>
#include <QString>

// A TLS client's command-line options, as ipnd-send and ipnd-conform take
// them: --tls, --ca, --insecure, --servername, --cert, --key, --ciphers,
// --no-resume, read into *tls.
QList<OptionSpec> tlsClientOptions(TlsClientOptions *tls);

// The options given, checked against each other; a one-line reason when they
// do not go together, else empty.
QString checkTlsClientOptions(const CommandLine &line);
