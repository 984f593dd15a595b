#pragma once

#include <QString>

namespace tclink::platform {
class DriveMap;
}

namespace tclink::settings {

// The text-file store: the only code that touches the settings files. Each file holds one
// line of ANSI text with no line break after it. Every call opens, uses and closes its file.
class clstxt {
public:
    explicit clstxt(const platform::DriveMap& drives) : drives_(drives) {}

    // Replaces the file `dpath` with `writetxt`, creating missing folders outermost first.
    // The new content lands whole or not at all: it is written to a file beside the old one
    // and renamed over it, with the old one's permissions. Throws RuntimeError when the file
    // cannot be written, and (access denied) when it is read-only: it has no write permission.
    void txtwrite(const QString& dpath, const QString& writetxt) const;

    // The first line of `dpath` without its line break (CR, LF or CR LF), or the empty text
    // when the file is missing, empty or unreadable. Only the first 64 KiB are looked at.
    QString txtread(const QString& dpath) const;

    // Deletes the file `dpath` if it exists. Throws RuntimeError when that fails, and (access
    // denied) when the file is read-only.
    void txtdel(const QString& dpath) const;

    static constexpr qint64 MaxLineBytes = 64 * 1024;

private:
    const platform::DriveMap& drives_;
};

} // namespace tclink::settings
