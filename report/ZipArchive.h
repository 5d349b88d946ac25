#pragma once

// Zip archives through libzip; no other unit sees libzip.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>

struct zip;

namespace velmora {

// Writes a new zip archive. The archive appears at its path, whole, only when Commit succeeds: it
// is written under a temporary name beside it and then moved into place without replacing
// anything, so a file that appeared at the path meanwhile (another program saving the same name
// in the same second) is kept, and Commit fails with Exists(). With `replace` (the user agreed)
// an existing file is replaced instead. A writer destroyed without a successful Commit leaves
// nothing behind. Failures set a German reason and the system's error number where there is one.
class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Starts an archive at `path`, which must not exist yet (unless `replace`).
    bool Create(const QString& path, bool replace = false);
    // Adds an entry; `compress` deflates it, else it is stored as it is.
    bool Add(const QString& name, const QByteArray& data, bool compress);
    bool Commit();

    const QString& ErrorString() const { return error_; }
    int SystemError() const { return systemError_; }
    // Create or Commit failed because the file exists already.
    bool Exists() const { return exists_; }

private:
    struct Discard {
        void operator()(zip* archive) const;
    };

    void SetError(int zipError, int systemError);
    void RemoveTemporary();

    std::unique_ptr<zip, Discard> archive_;
    std::deque<QByteArray> data_;  // libzip reads the entries' bytes only in Commit
    QString error_;
    int systemError_ = 0;
    bool exists_ = false;
    QString path_;       // where the archive goes
    QString temporary_;  // where it is written first
    bool replace_ = false;
};

// Reads the entries of a zip archive, checking its consistency when it opens.
class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool Open(const QString& path);
    QStringList Names() const;
    // The entry's bytes; false when there is no such entry or it cannot be read.
    bool Read(const QString& name, QByteArray* data) const;
    const QString& ErrorString() const { return error_; }

private:
    struct Close {
        void operator()(zip* archive) const;
    };

    std::unique_ptr<zip, Close> archive_;
    QString error_;
};

}  // namespace velmora
