#pragma once

#include <QString>

namespace tclink::settings {

// Everything the program keeps between runs lies in three one-line files in the settings
// folder: the root of drive D: when the machine has one, otherwise C:\WINDOWS\system.
inline const QString IdPrefix = QStringLiteral("5kedomra240815");

inline const QString IdFileOnD = QStringLiteral("D:\\id.txt");
inline const QString IdFileOnC = QStringLiteral("C:\\WINDOWS\\system\\id.txt");
inline const QString BackupIdFileOnD = QStringLiteral("D:\\idbak.aaa");
inline const QString BackupIdFileOnC = QStringLiteral("C:\\WINDOWS\\system\\idbak.aaa");
inline const QString LineFileOnD = QStringLiteral("D:\\xl.yp");
inline const QString LineFileOnC = QStringLiteral("C:\\WINDOWS\\system\\xl.yp");

inline QString idFile(bool hasDriveD)
{
    return hasDriveD ? IdFileOnD : IdFileOnC;
}
inline QString backupIdFile(bool hasDriveD)
{
    return hasDriveD ? BackupIdFileOnD : BackupIdFileOnC;
}
inline QString lineFile(bool hasDriveD)
{
    return hasDriveD ? LineFileOnD : LineFileOnC;
}

// Leading and trailing spaces removed (spaces only, not other white space).
QString trimSpaces(const QString& text);
// Empty once trimmed.
inline bool isBlank(const QString& text)
{
    return trimSpaces(text).isEmpty();
}

} // namespace tclink::settings
