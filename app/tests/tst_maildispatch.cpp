// A mail send from the window: the window's thread keeps running events (timers, painting, a
// server living on that thread) with a busy cursor and no input; the component's events run
// on that thread with input open; what the send raises comes back there.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MailDispatch.h"
#include "app/Messages.h"
#include "mail/EAbort.h"
#include "mail/MailSender.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <typeinfo>
#include <utility>

using namespace tandrel::app;
using tandrel::mail::TMailSender;
using tandrel::mail::TMailStatus;

namespace {

bool CursorIsBusy() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor;
}

bool OnWindowThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Whether a key typed now reaches a box.
bool KeysReachABox() {
    QLineEdit probe;
    QTest::keyClicks(&probe, QStringLiteral("k"));
    return probe.text() == QLatin1String("k");
}

// An SMTP server living on the window's thread, so it answers only while that thread runs
// events. It holds its greeting until Greet() is called.
class THeldServer final : public QObject {
public:
    std::function<void()> OnConnection;  ///< called once a client is in, before any greeting
    int Accepted = 0;                    ///< messages accepted

    [[nodiscard]] bool Listen() {
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            FClient = FServer.nextPendingConnection();
            connect(FClient, &QTcpSocket::readyRead, this, [this] { Answer(); });
            if (OnConnection) OnConnection();
        });
        return FServer.listen(QHostAddress::LocalHost, 0);
    }
    quint16 Port() const { return FServer.serverPort(); }
    void Greet() { Reply("220 held.test ESMTP"); }

private:
    void Reply(const char* Line) { FClient->write(QByteArray(Line) + "\r\n"); }

    void Answer() {
        while (FClient->canReadLine()) {
            const QByteArray line = FClient->readLine().trimmed();
            if (FInData) {
                if (line == ".") {
                    FInData = false;
                    ++Accepted;
                    Reply("250 2.0.0 queued");
                }
                continue;
            }
            const QByteArray verb = line.left(4).toUpper();
            if (verb == "DATA") {
                FInData = true;
                Reply("354 go on");
            } else if (verb == "QUIT") {
                Reply("221 bye");
                FClient->disconnectFromHost();
            } else {
                Reply("250 ok");
            }
        }
    }

    QTcpServer FServer;
    QTcpSocket* FClient = nullptr;  // owned by the server
    bool FInData = false;
};

// Runs `OnPaint` once, at the next paint event a widget receives.
class TPaintWatch final : public QObject {
public:
    std::function<void()> OnPaint;

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint && OnPaint) std::exchange(OnPaint, nullptr)();
        return false;
    }
};

// What the failure handler's message box would find when it opens.
class TProbingMessages final : public TMessages {
public:
    bool Shown = false;
    bool CursorBusy = true;
    bool KeysArrive = false;
    bool OnWindow = false;

    void ShowMessage(const std::string&) override {
        Shown = true;
        CursorBusy = CursorIsBusy();
        KeysArrive = KeysReachABox();
        OnWindow = OnWindowThread();
    }
    void ShowError(const std::string&) override {}
    bool AskQuestion(const std::string&) override { return false; }
};

}  // namespace

class TstMailDispatch : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FFolder;
    TDialogMessages FDialogs;

    static quint16 RefusedPort() {
        QTcpServer probe;  // nothing listens on its port once it is gone
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }

    std::unique_ptr<TFrm_cadastro> Window(TMessages& Messages, quint16 Port) {
        auto form = std::make_unique<TFrm_cadastro>(Messages, [] { return QDate(2026, 12, 9); });
        form->findChild<TEdit*>("ed_dir_xml")->setText(FFolder.path() + "/");
        form->findChild<TEdit*>("ed_host")->setText("127.0.0.1");
        form->findChild<TEdit*>("ed_porta")->setText(QString::number(Port));
        form->findChild<QCheckBox*>("chkSSL")->setChecked(false);
        form->findChild<QCheckBox*>("chkTLS")->setChecked(false);
        form->MailSender1().SetTimeOut(20000);  // a hung test ends instead of waiting for ever
        return form;
    }

    static void Include(TFrm_cadastro& Form, const QString& Name) {
        QTest::mouseClick(Form.findChild<QAbstractButton*>("btn_incluir"), Qt::LeftButton);
        auto* nome = Form.findChild<TEdit*>("ed_nome");
        nome->setFocus();
        QTest::keyClicks(nome, Name);
        auto* cep = Form.findChild<TEdit*>("ed_cep");
        cep->setFocus();
        cep->setCursorPosition(0);
        QTest::keyClicks(cep, QStringLiteral("01001000"));
        QTest::mouseClick(Form.findChild<QAbstractButton*>("btn_gravar"), Qt::LeftButton);
    }

private slots:
    void initTestCase() { QVERIFY(FFolder.isValid()); }

    void windowPaintsButTakesNoInputWhileTheSendRuns() {
        TRecordedMessages messages;
        THeldServer server;
        QVERIFY(server.Listen());
        auto form = Window(messages, server.Port());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        auto* nome = form->findChild<TEdit*>("ed_nome");

        // Mid-send, in this order: the connection is taken, a timer fires and asks for a
        // repaint, the window paints; only then does the server greet and the send go on.
        bool busy = false, keysDropped = false, closeRefused = false, timerFired = false;
        bool greeted = false;
        TPaintWatch paint;
        form->installEventFilter(&paint);
        server.OnConnection = [&] {
            busy = CursorIsBusy();
            const QString before = nome->text();
            QTest::keyClicks(nome, QStringLiteral("XYZ"));
            keysDropped = nome->text() == before;
            closeRefused = !form->close() && form->isVisible();
            QTimer::singleShot(0, form.get(), [&] {
                timerFired = true;
                paint.OnPaint = [&] {
                    greeted = true;
                    server.Greet();
                };
                form->update();
            });
        };

        Include(*form, QStringLiteral("ANA"));

        QVERIFY(busy);
        QVERIFY(keysDropped);
        QVERIFY(closeRefused);
        QVERIFY(timerFired);
        QVERIFY(greeted);
        QCOMPARE(server.Accepted, 1);
        QVERIFY(messages.Entries().empty());
        QCOMPARE(form->findChild<QStackedWidget*>("pgcclientes")->currentWidget()->objectName(),
                 QStringLiteral("tbs_dados"));
        // Everything is back once the send has ended.
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(KeysReachABox());
        QVERIFY(form->close());
    }

    void failureHandlerRunsOnTheWindowThreadWithInputOpen() {
        TProbingMessages messages;
        auto form = Window(messages, RefusedPort());
        form->show();
        Include(*form, QStringLiteral("BIA"));
        QVERIFY(messages.Shown);
        QVERIFY(messages.OnWindow);
        QVERIFY(!messages.CursorBusy);
        QVERIFY(messages.KeysArrive);
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(form->findChild<QStackedWidget*>("pgcclientes")->currentWidget()->objectName(),
                 QStringLiteral("tbs_dados"));
    }

    void failureMessageBoxAnswersTheOperatorsClick() {
        // The real box: the operator's click on OK must reach it although a send is running.
        auto form = Window(FDialogs, RefusedPort());
        FDialogs.SetParent(form.get());
        form->show();
        QString text;
        bool clickClosedIt = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            poll.stop();
            text = box->text();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            clickClosedIt = !box->isVisible();
            if (!clickClosedIt) box->hide();  // the click was swallowed: end the box anyway
        });
        poll.start(10);
        Include(*form, QStringLiteral("CAIO"));
        QCOMPARE(text, QStringLiteral("Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
                                      "******    Verifique !!  ******"));
        QVERIFY(clickClosedIt);
    }

    void errorComesBackToTheWindowThread_data() {
        // The send fails at once: no host.
        QTest::addColumn<QString>("handler");  // what the exception handler does
        QTest::addColumn<QString>("raised");   // the type that reaches the caller
        QTest::addColumn<QString>("message");
        QTest::newRow("no handler") << ""
                                    << "runtime_error"
                                    << "SMTP Error: Server not informed";
        QTest::newRow("handler keeps ThrowIt") << "keep"
                                               << "runtime_error"
                                               << "SMTP Error: Server not informed";
        QTest::newRow("handler clears ThrowIt") << "clear"
                                                << "EAbort"
                                                << "Operation aborted";
        QTest::newRow("handler fails") << "throw"
                                       << "logic_error"
                                       << "handler failed";
    }

    void errorComesBackToTheWindowThread() {
        QFETCH(QString, handler);
        TMailSender mail;
        mail.SetHost("");
        mail.AltBody() = {"linha"};
        std::vector<TMailStatus> steps;
        bool eventsOnWindow = true;
        bool cursorFreeInEvents = true;
        const auto onProcess = [&](const TMailSender&, TMailStatus Status) {
            steps.push_back(Status);
            eventsOnWindow = eventsOnWindow && OnWindowThread();
            cursorFreeInEvents = cursorFreeInEvents && !QGuiApplication::overrideCursor();
        };
        mail.SetOnMailProcess(onProcess);
        const auto onException = [&](const TMailSender&, const std::exception&, bool& ThrowIt) {
            eventsOnWindow = eventsOnWindow && OnWindowThread();
            if (handler == "clear")
                ThrowIt = false;
            else if (handler == "throw")
                throw std::logic_error("handler failed");
        };
        if (!handler.isEmpty()) mail.SetOnMailException(onException);

        QString raised;
        QString message;
        try {
            enviar_aguardando(mail);
        } catch (const tandrel::mail::EAbort& e) {
            raised = "EAbort";
            message = e.what();
        } catch (const std::runtime_error& e) {
            raised = "runtime_error";
            message = e.what();
        } catch (const std::logic_error& e) {
            raised = "logic_error";
            message = e.what();
        }
        QTEST(raised, "raised");
        QTEST(message, "message");
        QVERIFY(eventsOnWindow);
        QVERIFY(cursorFreeInEvents);
        QCOMPARE(steps, (std::vector<TMailStatus>{TMailStatus::pmsStartProcess, TMailStatus::pmsConfigHeaders,
                                                  TMailStatus::pmsAddingMimeParts, TMailStatus::pmsLoginSMTP,
                                                  TMailStatus::pmsError}));
        QVERIFY(!QGuiApplication::overrideCursor());
        // The component keeps its own handlers.
        QVERIFY(mail.OnMailProcess().target_type() == typeid(onProcess));
        if (!handler.isEmpty())
            QVERIFY(mail.OnMailException().target_type() == typeid(onException));
        else
            QVERIFY(!mail.OnMailException());
    }
};

QTEST_MAIN(TstMailDispatch)
#include "tst_maildispatch.moc"
