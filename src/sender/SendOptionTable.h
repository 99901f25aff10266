#pragma once

#include "platform/CommandLine.h"
#include "sender/SendOptions.h"

#include <QList>

// Every option of ipnd-send, its help line and the reader that takes its value
// into *options: the server and the record or file, the pacing of a replay,
// each exchange, TLS and the reports, in the order --help lists them.
QList<OptionSpec> sendOptionTable(SendOptions *options);
