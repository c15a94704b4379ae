#pragma once
// The shared aiosmtpd test server (testing/smtp_server.py) run for the window's tests: a
// child process on loopback, started by Start() and stopped by Stop() or when destroyed.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMultiMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>

namespace tandrel::app::testing {

/// One leaf part of a received message, as the server's email package decoded it.
struct TReceivedPart {
    QString ContentType;  ///< "text/plain"
    QString Disposition;  ///< "inline", "attachment" or "-"
    QString FileName;     ///< "-" when none
    QString Charset;      ///< the charset label, "-" when none
    QByteArray Payload;   ///< the content after the transfer decoding
};

/// One message the server accepted: its summary lines "key<TAB>value".
struct TReceivedMail {
    QMultiMap<QString, QString> Fields;

    /// The first value of `Key`, empty when absent.
    QString Get(const QString& Key) const { return Fields.value(Key); }
    /// Every value of `Key`, in the order written.
    QStringList All(const QString& Key) const {
        QStringList values = Fields.values(Key);
        std::reverse(values.begin(), values.end());  // QMultiMap keeps the newest first
        return values;
    }
    /// The leaf parts in the order of the message.
    QList<TReceivedPart> Parts() const {
        QList<TReceivedPart> parts;
        for (const QString& line : All(QStringLiteral("part"))) {
            const QStringList f = line.split(QLatin1Char(' '));
            if (f.size() == 5) parts.append({f[0], f[1], f[2], f[3], QByteArray::fromHex(f[4].toLatin1())});
        }
        return parts;
    }
    /// The message as it went over the wire.
    QByteArray Raw() const { return QByteArray::fromHex(Get(QStringLiteral("raw_hex")).toLatin1()); }
};

class TSmtpTestServer {
public:
    /// `Options`: the server's options (--mode, --user, --password...).
    explicit TSmtpTestServer(QStringList Options) : FOptions(std::move(Options)) {}
    ~TSmtpTestServer() { Stop(); }
    TSmtpTestServer(const TSmtpTestServer&) = delete;
    TSmtpTestServer& operator=(const TSmtpTestServer&) = delete;

    /// Starts the server and reads its "PORT <n>" line; false with `Error()` when it cannot.
    [[nodiscard]] bool Start() {
        if (!FOut.isValid()) return Fail(QStringLiteral("no temporary folder"));
        FProcess.setProgram(QStringLiteral(TANDREL_PYTHON));
        FProcess.setArguments(QStringList{QStringLiteral(TANDREL_SOURCE_DIR "/testing/smtp_server.py"),
                                          QStringLiteral("--out"), FOut.path()} +
                              FOptions);
        // Its library logs a deprecation at every login: the log goes to a file, read
        // back only when the server does not start.
        FProcess.setStandardErrorFile(FOut.filePath(QStringLiteral("stderr.txt")));
        FProcess.start();
        if (!FProcess.waitForStarted()) return Fail(QStringLiteral("cannot start ") + FProcess.program());
        while (!FProcess.canReadLine())
            if (!FProcess.waitForReadyRead(30000)) return Fail(QStringLiteral("the server printed no port"));
        const QByteArray line = FProcess.readLine().trimmed();
        if (!line.startsWith("PORT "))
            return Fail(QStringLiteral("unexpected first line: ") + QString::fromUtf8(line));
        FPort = line.mid(5).toInt();
        return FPort > 0 || Fail(QStringLiteral("no port in: ") + QString::fromUtf8(line));
    }

    /// Stops the server (it ends when its input closes); nothing listens on Port() after.
    void Stop() {
        if (FProcess.state() == QProcess::NotRunning) return;
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(10000)) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }

    /// The whole content of a file the server keeps in its folder (received.bin with
    /// --record, auth.log); empty when there is none.
    QByteArray OutFile(const QString& Name) const {
        QFile file(FOut.filePath(Name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    int Port() const { return FPort; }
    QString PortText() const { return QString::number(FPort); }
    const QString& Error() const { return FError; }

    /// Every message accepted so far, oldest first. A message is on file before the server
    /// answers the end of its data, so a send that has returned is already here.
    QList<TReceivedMail> Mails() const {
        QList<TReceivedMail> mails;
        for (int n = 1;; ++n) {
            QFile file(FOut.filePath(QStringLiteral("msg-%1.txt").arg(n)));
            if (!file.open(QIODevice::ReadOnly)) return mails;
            TReceivedMail mail;
            for (const QByteArray& line : file.readAll().split('\n')) {
                const qsizetype tab = line.indexOf('\t');
                if (tab > 0)
                    mail.Fields.insert(QString::fromUtf8(line.left(tab)),
                                       QString::fromUtf8(line.mid(tab + 1)));
            }
            mails.append(mail);
        }
    }

private:
    bool Fail(const QString& Error) {
        FError = Error;
        QFile log(FOut.filePath(QStringLiteral("stderr.txt")));
        if (log.open(QIODevice::ReadOnly)) FError += QStringLiteral("\n") + QString::fromUtf8(log.readAll());
        return false;
    }

    QStringList FOptions;
    QTemporaryDir FOut;
    QProcess FProcess;
    int FPort = 0;
    QString FError;
};

}  // namespace tandrel::app::testing
