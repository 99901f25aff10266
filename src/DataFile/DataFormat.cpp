#include "DataFile/DataFormat.h"

namespace {
constexpr DataFormat Formats[] = {DataFormat::RawLog, DataFormat::MultiPacket};
} // namespace

QLatin1StringView dataFormatName(DataFormat format)
{
    return QLatin1StringView(format == DataFormat::RawLog ? RawLogMode : MultiPacketMode);
}

std::optional<DataFormat> dataFormatFromName(QStringView name)
{
    for (const DataFormat format : Formats) {
        if (name == dataFormatName(format))
            return format;
    }
    return std::nullopt;
}

QString dataFormatOption(DataFormat format)
{
    return QString(dataFormatName(format)).toLower();
}

QList<std::pair<QString, DataFormat>> dataFormatOptions()
{
    QList<std::pair<QString, DataFormat>> options;
    for (const DataFormat format : Formats)
        options.append({dataFormatOption(format), format});
    return options;
}
