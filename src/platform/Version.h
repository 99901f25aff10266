#pragma once

// The program's version record: 1.10 revision 23, file and product version
// "1.10.0023". The build system passes the three numbers.
namespace Version {
constexpr int Major = IPND_VERSION_MAJOR;
constexpr int Minor = IPND_VERSION_MINOR;
constexpr int Revision = IPND_VERSION_REVISION;
constexpr const char *FileVersion = "1.10.0023";
} // namespace Version
