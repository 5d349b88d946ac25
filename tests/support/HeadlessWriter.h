#pragma once

// A headless LibreOffice Writer of a test's own, on a profile and a pipe of the test's, and what
// a test asks about the processes on LibreOffice's pipes, without UNO. The includer defines
// VELMORA_LIBREOFFICE_PROGRAM_DIR, LibreOffice's program folder.

#include <QProcess>
#include <QString>
#include <QUrl>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>

namespace velmora::test {

// Where LibreOffice's runtime puts the pipe `name` of this user.
inline std::string LibreOfficePipePath(const QString& name) {
    return "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + name.toStdString();
}

// The process that accepts connections on the pipe `name`; 0 when none does.
inline pid_t PipeListener(const QString& name) {
    const std::string path = LibreOfficePipePath(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ucred peer{};
    socklen_t size = sizeof(peer);
    const bool found =
        fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return found ? peer.pid : 0;
}

// Waits for a process that is not this one's child to end.
inline bool WaitEnded(pid_t pid, std::chrono::seconds limit) {
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return true;  // gone already
    }
    pollfd ended{pidfd, POLLIN, 0};
    const bool done = ::poll(&ended, 1, int(std::chrono::milliseconds(limit).count())) == 1;
    ::close(pidfd);
    return done;
}

// A headless Writer of the test's own, stopped by its process id. It is the office itself, not
// its launcher, so that it also ends when the test program dies.
class HeadlessWriter {
public:
    ~HeadlessWriter() { Stop(); }

    bool Start(const QString& profile, const QString& pipe) {
        office_.setProgram(QStringLiteral(VELMORA_LIBREOFFICE_PROGRAM_DIR "/soffice.bin"));
        office_.setArguments({QStringLiteral("-env:UserInstallation=") +
                                  QUrl::fromLocalFile(profile).toString(QUrl::FullyEncoded),
                              QStringLiteral("--headless"), QStringLiteral("--norestore"),
                              QStringLiteral("--nologo"), QStringLiteral("--nodefault"),
                              QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe)});
        office_.setStandardOutputFile(QProcess::nullDevice());
        office_.setStandardErrorFile(QProcess::nullDevice());
        office_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        // A new profile is made on the first start, which then asks to be started again (81).
        for (int start = 0; start < 2; ++start) {
            office_.start();
            if (!office_.waitForStarted(30000)) {
                return false;
            }
            // A generous bound for a busy machine; it usually listens within a second or two.
            for (int i = 0; i < 1200; ++i) {
                if ((pid_ = PipeListener(pipe)) > 0) {
                    return true;
                }
                if (office_.waitForFinished(100)) {
                    break;
                }
            }
            if (office_.state() != QProcess::NotRunning || office_.exitCode() != 81) {
                return false;
            }
        }
        return false;
    }
    pid_t Pid() const { return pid_; }
    void Signal(int signal) const { ::kill(pid_, signal); }
    void Stop() {
        if (pid_ > 0) {
            Signal(SIGKILL);
            WaitEnded(pid_, std::chrono::seconds(30));
            pid_ = 0;
        }
        if (office_.state() != QProcess::NotRunning) {
            office_.kill();
            office_.waitForFinished(30000);
        }
    }

private:
    QProcess office_;
    pid_t pid_ = 0;
};

}  // namespace velmora::test
