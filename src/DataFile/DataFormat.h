#pragma once

#include <QLatin1StringView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>

// The two forms of a data file: a log line per record, or each record in
// numbered parts.
enum class DataFormat { RawLog, MultiPacket };

inline constexpr char RawLogMode[] = "RAWLOG";
inline constexpr char MultiPacketMode[] = "MULTIPKT";

// "RAWLOG" or "MULTIPKT", as the window's settings name a format.
QLatin1StringView dataFormatName(DataFormat format);
// The format of such a name, in exactly its letter case; none for any other.
std::optional<DataFormat> dataFormatFromName(QStringView name);
// "rawlog" or "multipkt", as the command lines name a format.
QString dataFormatOption(DataFormat format);
// Every format by its name on the command line.
QList<std::pair<QString, DataFormat>> dataFormatOptions();
