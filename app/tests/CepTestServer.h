#pragma once
// The loopback stand-in of the postal-code service (app/tests/cep_server.py) for the window's
// tests: started by Start(), stopped when destroyed (it ends at the end of its input).

#include <QProcess>
#include <QString>

namespace tandrel::app::testing {

class TCepTestServer {
public:
    TCepTestServer() = default;
    ~TCepTestServer() {
        if (FProcess.state() == QProcess::NotRunning) return;
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(5000)) FProcess.kill();
    }
    TCepTestServer(const TCepTestServer&) = delete;
    TCepTestServer& operator=(const TCepTestServer&) = delete;

    /// Starts the server; true once it listens. Root() is then "http://127.0.0.1:<port>".
    [[nodiscard]] bool Start() {
        FProcess.setProgram(QStringLiteral(TANDREL_PYTHON));
        FProcess.setArguments({QStringLiteral(TANDREL_SOURCE_DIR "/app/tests/cep_server.py")});
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start();
        if (!FProcess.waitForStarted() || !FProcess.waitForReadyRead(10000)) return false;
        const int port = FProcess.readLine().trimmed().toInt();
        if (port <= 0) return false;
        FRoot = QStringLiteral("http://127.0.0.1:%1").arg(port);
        return true;
    }

    QString Root() const { return FRoot; }
    /// The base URL the postal-code container takes: Root() + "/ws/".
    QString BaseURL() const { return FRoot + QStringLiteral("/ws/"); }

private:
    QProcess FProcess;
    QString FRoot;
};

}  // namespace tandrel::app::testing
