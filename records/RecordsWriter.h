#pragma once

#include "records/DatabaseAddress.h"
#include "records/RecordWrite.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <optional>

namespace velmora {

class RecordsWriterWorker;

// The records' writes, made on a thread of their own, so that a server that is slow or gone never
// holds up the window.
//
// Writes are made in the order given. When a PostgreSQL server cannot be reached (at start or
// later), the writes are kept in the workstation's own SQLite file (`keeping`, the table
// pending_write) and made on the server, in order, once it answers again: each write names its
// rows by their UUIDs, so that one made twice (a crash between the server's commit and the file's)
// is there once. A patient made on this workstation while the server was away becomes the stored
// patient with the same Patienten-ID, if there is one. Writes kept by an earlier run are made
// first.
//
// A write that fails for another reason (a locked or full database) stays first in line and is
// tried again every few seconds; nothing is dropped.
//
// The events come on the thread that made the writer, from its event loop.
class RecordsWriter : public QObject {
public:
    struct Events {
        // The server could not be reached; once per outage, with the reason.
        std::function<void(const QString& reason)> serverLost;
        // Everything kept during an outage is on the server.
        std::function<void()> transferred;
        // A write failed for a reason other than a lost server (told at each new reason).
        std::function<void(const QString& reason)> failed;
        // Every write given is made (after a failure or an outage).
        std::function<void()> written;
        // A save found the patient changed on another workstation; the write was not made.
        std::function<void(const RecordWrite& write)> conflict;
        // The server answered (the first time, and after each outage, once the kept writes are
        // on it).
        std::function<void()> reachable;
    };

    // `server`: where the records are. `keeping`: the workstation's own file for writes waiting
    // for a PostgreSQL server; nullopt keeps them in memory only.
    RecordsWriter(DatabaseAddress server, std::optional<DatabaseAddress> keeping,
                  QObject* parent = nullptr);
    // Makes or keeps what it still can in a moment, then stops the thread.
    ~RecordsWriter() override;
    RecordsWriter(const RecordsWriter&) = delete;
    RecordsWriter& operator=(const RecordsWriter&) = delete;

    void SetEvents(Events events) { events_ = std::move(events); }
    const DatabaseAddress& Server() const { return server_; }

    void Submit(const RecordWrite& write);
    // Waits up to `ms` until every write given is on the server or kept in the workstation's
    // file; true when so.
    bool WaitSettled(int ms);
    // Writes not yet on the server (waiting or kept).
    int Unwritten() const { return unwritten_.load(); }
    // True while the server answers.
    bool Reachable() const { return reachable_.load(); }
    QString LastReason() const;

private:
    friend class RecordsWriterWorker;
    // Called on the worker's thread.
    void Settled(int count);
    void Post(std::function<void()> event);

    DatabaseAddress server_;
    Events events_;
    QThread thread_;
    RecordsWriterWorker* worker_;
    std::atomic<int> unsettled_{0};
    std::atomic<int> unwritten_{0};
    std::atomic<bool> reachable_{false};
    mutable QMutex mutex_;
    QWaitCondition settled_;
    QString lastReason_;
};

}  // namespace velmora
