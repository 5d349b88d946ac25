#include "records/RecordsWriter.h"

#include "records/RecordsDatabase.h"

#include <QDateTime>
#include <QHash>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <deque>
#include <memory>
#include <utility>

namespace velmora {
namespace {

// How long a write that failed waits before it is made again.
constexpr int kRetryMs = 3000;
// How long the writer's end waits for writes still given to be made or kept.
constexpr int kEndWaitMs = 2000;

// Typed fields over stored ones: a field left empty keeps what is stored.
PatientFields Overlaid(PatientFields stored, const PatientFields& typed) {
    const std::pair<const QString*, QString*> fields[] = {
        {&typed.patientId, &stored.patientId}, {&typed.firstName, &stored.firstName},
        {&typed.name, &stored.name},           {&typed.town, &stored.town},
        {&typed.street, &stored.street},       {&typed.email, &stored.email},
        {&typed.doctor, &stored.doctor},       {&typed.postcode, &stored.postcode},
        {&typed.telephone, &stored.telephone}, {&typed.remarks, &stored.remarks},
        {&typed.birthDate, &stored.birthDate}};
    for (const auto& [from, to] : fields) {
        if (!from->trimmed().isEmpty()) {
            *to = *from;
        }
    }
    return stored;
}

}  // namespace

// Lives on the writer's thread and owns everything that touches a database.
class RecordsWriterWorker : public QObject {
public:
    RecordsWriterWorker(RecordsWriter& owner, std::optional<DatabaseAddress> keeping)
        : owner_(owner), keepingAddress_(std::move(keeping)) {}

    void Start() {
        retry_ = new QTimer(this);
        retry_->setSingleShot(true);
        retry_->setInterval(kRetryMs);
        connect(retry_, &QTimer::timeout, this, [this] { Process(); });
        if (keepingAddress_) {
            QString error;
            keeping_ = RecordsDatabase::Open(*keepingAddress_, &error);
            if (!keeping_) {
                keepingProblem_ = error;
            } else {
                LoadKept();
            }
        }
        Process();
    }

    void Stop() {
        // What could not be made is kept where it can be; the rest is told by Unwritten().
        KeepAll();
        serverRecords_.reset();
        server_.reset();
        keeping_.reset();
        delete retry_;
        retry_ = nullptr;
    }

    void Submit(const RecordWrite& write) {
        queue_.push_back({write, 0});
        owner_.unwritten_.fetch_add(1);
        Process();
    }

private:
    struct Pending {
        RecordWrite write;
        qint64 keptSeq;  // its row in pending_write, 0 while only in memory
    };

    bool Connected() {
        if (server_ && serverRecords_ && !serverRecords_->LastErrorIsConnection()) {
            return true;
        }
        if (server_) {
            if (!server_->Reconnect()) {
                return false;
            }
            serverRecords_ = std::make_unique<PatientRecords>(*server_);
            return true;
        }
        QString error;
        server_ = RecordsDatabase::Open(owner_.server_, &error);
        if (!server_) {
            reason_ = error;
            return false;
        }
        serverRecords_ = std::make_unique<PatientRecords>(*server_);
        return true;
    }

    void Process() {
        retry_->stop();
        if (queue_.empty() && reachableTold_) {
            return;
        }
        if (!Connected()) {
            // A local file that cannot be opened is no server gone away: told with its reason.
            if (owner_.server_.kind == DatabaseAddress::PostgreSQL) {
                Lost();
            } else {
                Failed();
            }
            return;
        }
        while (!queue_.empty()) {
            Pending& pending = queue_.front();
            const bool made = Make(pending);
            if (!made && serverRecords_->LastErrorIsConflict()) {
                // Not tried again: the operator decides (a save without `basedOn` then).
                owner_.Post([&owner = owner_, write = pending.write] {
                    if (owner.events_.conflict) {
                        owner.events_.conflict(write);
                    }
                });
            } else if (!made) {
                reason_ = serverRecords_->LastError();
                if (serverRecords_->LastErrorIsConnection()) {
                    Lost();
                } else {
                    Failed();
                }
                return;
            }
            if (pending.keptSeq != 0) {
                Unkeep(pending.keptSeq);
            } else {
                owner_.Settled(1);
            }
            queue_.pop_front();
            owner_.unwritten_.fetch_sub(1);
        }
        failedReason_.clear();
        owner_.reachable_.store(true);
        lostTold_ = false;
        if (transferDue_) {
            transferDue_ = false;
            owner_.Post([&owner = owner_] {
                if (owner.events_.transferred) {
                    owner.events_.transferred();
                }
            });
        }
        if (failing_) {
            failing_ = false;
            owner_.Post([&owner = owner_] {
                if (owner.events_.written) {
                    owner.events_.written();
                }
            });
        }
        if (!reachableTold_) {
            reachableTold_ = true;
            owner_.Post([&owner = owner_] {
                if (owner.events_.reachable) {
                    owner.events_.reachable();
                }
            });
        }
    }

    // Makes one write on the server, as the patient it names is known there.
    bool Make(const Pending& pending) {
        RecordWrite write = pending.write;
        PatientRecords& records = *serverRecords_;
        const auto mapped = storedPatient_.constFind(write.patientId);
        if (write.kind == RecordWrite::Kind::RemoveNewPatient && mapped != storedPatient_.cend()) {
            // The new patient was never made on the server: the stored one stays.
            return true;
        }
        if (mapped != storedPatient_.cend()) {
            write.patientId = *mapped;
            write.basedOn.reset();
            if (write.kind == RecordWrite::Kind::SavePatient) {
                const auto stored = records.LoadPatient(write.patientId);
                if (!stored) {
                    return false;
                }
                write.fields = Overlaid(*stored, write.fields);
            }
        } else if (write.kind == RecordWrite::Kind::CreatePatient && pending.keptSeq != 0) {
            // Made on this workstation while the server was away: the practice's number finds
            // the patient if the server knows them already.
            const QString stored = records.PatientWithPracticeId(write.fields.patientId);
            if (records.LastErrorIsConnection()) {
                return false;
            }
            if (!stored.isEmpty() && stored != write.patientId) {
                storedPatient_.insert(write.patientId, stored);
                const auto fields = records.LoadPatient(stored);
                if (!fields) {
                    return false;
                }
                const PatientFields overlaid = Overlaid(*fields, write.fields);
                return overlaid == *fields || records.SavePatient(stored, overlaid);
            }
        }
        return write.ApplyTo(records);
    }

    void Lost() {
        owner_.reachable_.store(false);
        KeepAll();
        if (!lostTold_) {
            lostTold_ = true;
            reachableTold_ = false;
            Tell(false);
        }
        transferDue_ = transferDue_ || !queue_.empty();
        retry_->start();
    }

    void Failed() {
        KeepAll();
        if (reason_ != failedReason_) {
            failedReason_ = reason_;
            failing_ = true;
            Tell(true);
        }
        retry_->start();
    }

    void Tell(bool failed) {
        {
            QMutexLocker lock(&owner_.mutex_);
            owner_.lastReason_ = reason_;
        }
        owner_.Post([&owner = owner_, reason = reason_, failed] {
            const auto& event = failed ? owner.events_.failed : owner.events_.serverLost;
            if (event) {
                event(reason);
            }
        });
    }

    // Writes every write still only in memory into the workstation's file.
    void KeepAll() {
        if (!keeping_) {
            return;
        }
        int kept = 0;
        for (Pending& pending : queue_) {
            if (pending.keptSeq != 0) {
                continue;
            }
            QSqlQuery query(keeping_->Connection());
            query.prepare(QStringLiteral(
                "INSERT INTO pending_write (seq, server, kept_at, payload) SELECT "
                "COALESCE(MAX(seq), 0) + 1, ?, ?, ? FROM pending_write RETURNING seq"));
            query.addBindValue(owner_.server_.shown);
            query.addBindValue(QDateTime::currentMSecsSinceEpoch());
            query.addBindValue(QString::fromUtf8(pending.write.Serialized()));
            if (!query.exec() || !query.next()) {
                // Left in memory; tried again at the next failure.
                reason_ = keeping_->Reason(query.lastError());
                break;
            }
            pending.keptSeq = query.value(0).toLongLong();
            ++kept;
        }
        owner_.Settled(kept);
    }

    void Unkeep(qint64 seq) {
        QSqlQuery query(keeping_->Connection());
        query.prepare(QStringLiteral("DELETE FROM pending_write WHERE seq = ?"));
        query.addBindValue(seq);
        // A row left behind is made once more at the next start, which changes nothing.
        query.exec();
    }

    void LoadKept() {
        QSqlQuery query(keeping_->Connection());
        query.prepare(
            QStringLiteral("SELECT seq, payload FROM pending_write WHERE server = ? ORDER BY seq"));
        query.addBindValue(owner_.server_.shown);
        if (!query.exec()) {
            return;
        }
        while (query.next()) {
            if (auto write = RecordWrite::Parse(query.value(1).toString().toUtf8())) {
                queue_.push_back({*write, query.value(0).toLongLong()});
                owner_.unwritten_.fetch_add(1);
            }
        }
        // The operator learns when what an earlier run kept is on the server.
        transferDue_ = !queue_.empty();
    }

    RecordsWriter& owner_;
    std::optional<DatabaseAddress> keepingAddress_;
    std::unique_ptr<RecordsDatabase> keeping_;
    QString keepingProblem_;
    std::unique_ptr<RecordsDatabase> server_;
    std::unique_ptr<PatientRecords> serverRecords_;
    std::deque<Pending> queue_;
    // Patients made on this workstation while the server was away, and the stored patient each
    // turned out to be.
    QHash<QString, QString> storedPatient_;
    QTimer* retry_ = nullptr;
    QString reason_;
    QString failedReason_;
    bool lostTold_ = false;
    // Writes were kept on the workstation: the operator is told when they are on the server.
    bool transferDue_ = false;
    bool failing_ = false;
    bool reachableTold_ = false;
};

RecordsWriter::RecordsWriter(DatabaseAddress server, std::optional<DatabaseAddress> keeping,
                             QObject* parent)
    : QObject(parent),
      server_(std::move(server)),
      worker_(new RecordsWriterWorker(*this, std::move(keeping))) {
    thread_.setObjectName(QStringLiteral("Velmora records"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
    QMetaObject::invokeMethod(
        worker_, [worker = worker_] { worker->Start(); }, Qt::QueuedConnection);
}

RecordsWriter::~RecordsWriter() {
    WaitSettled(kEndWaitMs);
    QMetaObject::invokeMethod(
        worker_, [worker = worker_] { worker->Stop(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void RecordsWriter::Submit(const RecordWrite& write) {
    unsettled_.fetch_add(1);
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, write] { worker->Submit(write); }, Qt::QueuedConnection);
}

bool RecordsWriter::WaitSettled(int ms) {
    QDeadlineTimer deadline(ms);
    QMutexLocker lock(&mutex_);
    while (unsettled_.load() > 0) {
        if (!settled_.wait(&mutex_, deadline)) {
            return unsettled_.load() == 0;
        }
    }
    return true;
}

QString RecordsWriter::LastReason() const {
    QMutexLocker lock(&mutex_);
    return lastReason_;
}

void RecordsWriter::Settled(int count) {
    if (count == 0) {
        return;
    }
    QMutexLocker lock(&mutex_);
    unsettled_.fetch_sub(count);
    settled_.wakeAll();
}

void RecordsWriter::Post(std::function<void()> event) {
    QMetaObject::invokeMethod(this, std::move(event), Qt::QueuedConnection);
}

}  // namespace velmora
