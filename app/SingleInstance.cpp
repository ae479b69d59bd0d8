#include "app/SingleInstance.h"

#include "app/CommandLine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vl {

namespace {

constexpr int kConnectMs = 1000;
constexpr int kWriteMs = 2000;
// Show and stop messages are posted: the wait only confirms delivery.
constexpr int kPostedReplyMs = 2000;
constexpr char kAck = 1;

QString LastErrno()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The peer of a connected local socket runs as this user.
bool PeerIsSelf(qintptr Fd)
{
    ucred cred{};
    socklen_t size = sizeof cred;
    if (Fd < 0 || getsockopt(int(Fd), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred)
        return false;
    return cred.uid == geteuid();
}

int OpenLockFile(const QString &Path)
{
    return ::open(QFile::encodeName(Path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// An exclusive flock on Fd within WaitMs (0: one try).
bool LockWithin(int Fd, int WaitMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (flock(Fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (clock.elapsed() >= WaitMs)
            return false;
        QThread::msleep(20);
    }
}

void CloseLock(int &Fd)
{
    if (Fd >= 0)
        ::close(Fd); // drops the flock
    Fd = -1;
}

QString WithBujExtension(const QString &FileName)
{
    const QFileInfo info(FileName);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return FileName.left(FileName.size() - name.size()) + base + QStringLiteral(".buj");
}

} // namespace

// ---- Messages -------------------------------------------------------------------

QByteArray EncodeInstanceMessage(TInstanceMessage Kind, int Mode, const QString &FileName)
{
    QByteArray payload(1, char(Kind));
    if (Kind == TInstanceMessage::imHandOver) {
        payload.append(char(Mode));
        payload.append(FileName.toUtf8());
    }
    if (payload.size() > qsizetype(kMaxInstanceMessage))
        return QByteArray();
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian<uint32_t>(uint32_t(payload.size()), frame.data());
    return frame + payload;
}

bool DecodeInstanceMessage(const QByteArray &Payload, TInstanceMessage &Kind, int &Mode, QString &FileName)
{
    if (Payload.isEmpty())
        return false;
    Mode = 0;
    FileName.clear();
    switch (uint8_t(Payload[0])) {
    case uint8_t(TInstanceMessage::imShow):
    case uint8_t(TInstanceMessage::imStopListening):
        Kind = TInstanceMessage(uint8_t(Payload[0]));
        return Payload.size() == 1;
    case uint8_t(TInstanceMessage::imHandOver):
        break;
    default:
        return false;
    }
    if (Payload.size() < 3)
        return false;
    const uint8_t mode = uint8_t(Payload[1]);
    if (mode != kHandOverOpen && mode != kHandOverShowTask)
        return false;
    const QByteArray path = Payload.mid(2);
    if (path.contains('\0'))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(path);
    if (decoder.hasError())
        return false;
    Kind = TInstanceMessage::imHandOver;
    Mode = mode;
    FileName = std::move(text);
    return true;
}

// ---- Private runtime folder ------------------------------------------------------

bool EnsurePrivateFolder(const QString &Path, QString &Error)
{
    const QByteArray native = QFile::encodeName(Path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        Error = QStringLiteral("Cannot create \"%1\": %2").arg(Path, LastErrno());
        return false;
    }
    // Checked through a descriptor of the folder itself: a symlink planted
    // in its place fails to open.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Error = QStringLiteral("Cannot open \"%1\" as a folder: %2").arg(Path, LastErrno());
        return false;
    }
    struct stat st {};
    const bool statOk = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!statOk || !S_ISDIR(st.st_mode)) {
        Error = QStringLiteral("\"%1\" is not a folder").arg(Path);
        return false;
    }
    if (st.st_uid != geteuid()) {
        Error = QStringLiteral("\"%1\" belongs to another user").arg(Path);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        Error = QStringLiteral("\"%1\" is open to other users (mode %2)")
                    .arg(Path, QString::number(st.st_mode & 07777, 8));
        return false;
    }
    return true;
}

QString InstanceFolder(QString &Error)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString folder = runtime.startsWith('/')
                               ? QFile::decodeName(runtime) + QStringLiteral("/velkor")
                               : QStringLiteral("/tmp/velkor-%1").arg(getuid());
    return EnsurePrivateFolder(folder, Error) ? folder : QString();
}

// ---- Start-up decision -----------------------------------------------------------

bool SkipsSingleInstance(uint8_t Flags)
{
    return (Flags & (kPreScanBatch | kPreScanOwnIni | kPreScanEnd | kPreScanEdit)) != 0;
}

TLaterInstancePlan PlanLaterInstance(const TLaterInstanceFacts &Facts, const TStartDialogFunc &Dialog)
{
    TLaterInstancePlan plan;
    plan.Flags = Facts.Flags;
    if (!Facts.FirstAnswers) {
        plan.Outcome = TStartOutcome::soIndependent;
        return plan;
    }
    if (!Facts.TaskFile.isEmpty() && Facts.TaskFileExists && Facts.LockObtained) {
        const QString ext = QFileInfo(Facts.TaskFile).suffix().toLower();
        TStartChoice choice = TStartChoice::scEdit;
        if (ext != QLatin1String("rsj") && ext != QLatin1String("cuj") && ext != QLatin1String("vfj") && Dialog)
            choice = Dialog(WithBujExtension(Facts.TaskFile));
        switch (choice) {
        case TStartChoice::scEdit:
        case TStartChoice::scControlPanel:
            plan.HandOver = true;
            plan.Mode = choice == TStartChoice::scControlPanel ? kHandOverShowTask : kHandOverOpen;
            break;
        case TStartChoice::scStartBackup:
            plan.Flags = kPreScanStartBackup;
            plan.Outcome = TStartOutcome::soIndependent;
            return plan;
        default: // Cancel, or the dialog closed otherwise
            plan.Outcome = TStartOutcome::soEnd;
            return plan;
        }
    }
    plan.Show = plan.Flags == 0;
    plan.Outcome = TStartOutcome::soEnd;
    return plan;
}

// ---- Instance manager ------------------------------------------------------------

TInstanceManager::TInstanceManager(const QString &Folder) : FFolder(Folder) {}

TInstanceManager::~TInstanceManager()
{
    StopListening();
    FServer.reset();
    CloseLock(FHandOverLock);
}

QString TInstanceManager::SocketPath() const
{
    return FFolder + QStringLiteral("/socket");
}

bool TInstanceManager::OpenFolder()
{
    if (FFolder.isEmpty()) {
        FFolder = InstanceFolder(FError);
        return !FFolder.isEmpty();
    }
    return EnsurePrivateFolder(FFolder, FError);
}

bool TInstanceManager::IsListening() const
{
    return FServer && FServer->isListening();
}

void TInstanceManager::StopListening()
{
    if (FServer && FServer->isListening())
        FServer->close(); // removes the socket file; accepted connections finish
    CloseLock(FInstanceLock);
}

TStartOutcome TInstanceManager::StartUp(uint8_t &Flags, const QStringList &Args, const TStartDialogFunc &Dialog)
{
    FError.clear();
    if (SkipsSingleInstance(Flags)) {
        // An "end:" start keeps later starts from handing tasks to an
        // instance that its after-run action is about to end.
        if ((Flags & kPreScanEnd) && OpenFolder())
            SendMessage(TInstanceMessage::imStopListening, 0, QString(), kPostedReplyMs);
        return TStartOutcome::soBatch;
    }
    if (!OpenFolder())
        return TStartOutcome::soIndependent;

    // The hand-over lock first: a later instance must not look for the
    // socket between our taking the instance lock and listening.
    FHandOverLock = OpenLockFile(FFolder + QStringLiteral("/handover.lock"));
    const bool locked = FHandOverLock >= 0 && LockWithin(FHandOverLock, kHandOverLockWaitMs);
    FInstanceLock = OpenLockFile(FFolder + QStringLiteral("/instance.lock"));
    if (FInstanceLock < 0) {
        FError = QStringLiteral("Cannot open the instance lock in \"%1\": %2").arg(FFolder, LastErrno());
        CloseLock(FHandOverLock);
        return TStartOutcome::soIndependent;
    }
    if (LockWithin(FInstanceLock, 0)) {
        Listen();
        CloseLock(FHandOverLock);
        return TStartOutcome::soFirst;
    }
    CloseLock(FInstanceLock);

    TLaterInstanceFacts facts;
    facts.Flags = Flags;
    facts.TaskFile = FirstTaskArgument(Args);
    if (!facts.TaskFile.isEmpty()) {
        // The running instance has its own current folder.
        const QFileInfo info(facts.TaskFile);
        facts.TaskFile = info.absoluteFilePath();
        facts.TaskFileExists = info.isFile();
    }
    facts.LockObtained = locked;
    facts.FirstAnswers = FirstAnswers();
    TLaterInstancePlan plan = PlanLaterInstance(facts, Dialog);
    // A hand-over that is not answered (the instance went away meanwhile)
    // leaves the task to this process rather than losing it.
    if (plan.HandOver && !SendMessage(TInstanceMessage::imHandOver, plan.Mode, facts.TaskFile, HandOverReplyMs)) {
        plan.Outcome = TStartOutcome::soIndependent;
        plan.Show = false;
    }
    if (plan.Show)
        SendMessage(TInstanceMessage::imShow, 0, QString(), kPostedReplyMs);
    CloseLock(FHandOverLock);
    Flags = plan.Flags;
    return plan.Outcome;
}

bool TInstanceManager::Listen()
{
    FServer = std::make_unique<QLocalServer>();
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the instance lock, so a socket file left here is a dead
    // instance's.
    QLocalServer::removeServer(SocketPath());
    if (!FServer->listen(SocketPath())) {
        FError = QStringLiteral("Cannot listen on \"%1\": %2").arg(SocketPath(), FServer->errorString());
        FServer.reset();
        return false;
    }
    QObject::connect(FServer.get(), &QLocalServer::newConnection, FServer.get(), [this] { OnNewConnection(); });
    return true;
}

void TInstanceManager::OnNewConnection()
{
    while (QLocalSocket *sock = FServer->nextPendingConnection()) {
        QObject::connect(sock, &QLocalSocket::disconnected, sock, &QObject::deleteLater);
        if (!PeerIsSelf(sock->socketDescriptor())) {
            sock->abort();
            sock->deleteLater();
            continue;
        }
        auto *timer = new QTimer(sock);
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, sock, [sock] {
            sock->abort();
            sock->deleteLater();
        });
        auto buffer = std::make_shared<QByteArray>();
        const auto onRead = [this, sock, timer, buffer] {
            const auto reject = [sock] {
                QObject::disconnect(sock, &QLocalSocket::readyRead, nullptr, nullptr);
                sock->abort();
                sock->deleteLater();
            };
            // Never more than one frame and one byte beyond it.
            buffer->append(sock->read(4 + qint64(kMaxInstanceMessage) + 1 - buffer->size()));
            if (buffer->size() < 4)
                return;
            const uint32_t length = qFromBigEndian<uint32_t>(buffer->constData());
            if (length == 0 || length > kMaxInstanceMessage)
                return reject();
            if (buffer->size() < 4 + qsizetype(length))
                return;
            TInstanceMessage kind{};
            int mode = 0;
            QString fileName;
            if (buffer->size() > 4 + qsizetype(length) || sock->bytesAvailable() > 0 ||
                !DecodeInstanceMessage(buffer->mid(4), kind, mode, fileName))
                return reject();
            timer->stop();
            QObject::disconnect(sock, &QLocalSocket::readyRead, nullptr, nullptr);
            // A hand-over is answered once acted on (the sender waits for
            // it); show and stop are posted: answered on receipt.
            QPointer<QLocalSocket> alive(sock);
            const auto answer = [&alive] {
                if (alive) {
                    alive->write(&kAck, 1);
                    alive->disconnectFromServer();
                }
            };
            if (kind != TInstanceMessage::imHandOver)
                answer();
            switch (kind) {
            case TInstanceMessage::imHandOver:
                if (FOnHandOver)
                    FOnHandOver(mode, fileName);
                answer();
                break;
            case TInstanceMessage::imShow:
                if (FOnShow)
                    FOnShow();
                break;
            case TInstanceMessage::imStopListening:
                StopListening();
                break;
            }
        };
        QObject::connect(sock, &QLocalSocket::readyRead, sock, onRead);
        timer->start(ReadTimeoutMs);
        // Data may have come with the connection.
        if (sock->bytesAvailable() > 0)
            onRead();
    }
}

bool TInstanceManager::FirstAnswers() const
{
    QLocalSocket sock;
    sock.connectToServer(SocketPath());
    const bool ok = sock.waitForConnected(kConnectMs) && PeerIsSelf(sock.socketDescriptor());
    sock.abort();
    return ok;
}

bool TInstanceManager::SendMessage(TInstanceMessage Kind, int Mode, const QString &FileName, int WaitMs) const
{
    const QByteArray frame = EncodeInstanceMessage(Kind, Mode, FileName);
    if (frame.isEmpty())
        return false;
    QLocalSocket sock;
    sock.connectToServer(SocketPath());
    if (!sock.waitForConnected(kConnectMs) || !PeerIsSelf(sock.socketDescriptor()))
        return false;
    sock.write(frame);
    while (sock.bytesToWrite() > 0)
        if (!sock.waitForBytesWritten(kWriteMs))
            return false;
    while (sock.bytesAvailable() < 1)
        if (!sock.waitForReadyRead(WaitMs))
            return false;
    char answer = 0;
    return sock.read(&answer, 1) == 1 && answer == kAck;
}

} // namespace vl
