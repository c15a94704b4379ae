#include "mail/MailSenderThread.h"
#include "testing/ChildProcess.h"
#include "testing/PythonSmtpServer.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

namespace tandrel::mail {
namespace {

using testing::ScriptedSmtpServer;

// The test's "main thread" runs the work the sending threads hand it.
class QueueDispatcher : public IMainThreadDispatcher {
public:
    void RunAndWait(std::function<void()> Work) override {
        std::unique_lock<std::mutex> lock(FMutex);
        bool done = false;
        FTasks.push_back([&] {
            Work();
            std::lock_guard<std::mutex> inner(FMutex);
            done = true;
            FDoneChanged.notify_all();
        });
        FTaskAdded.notify_all();
        FDoneChanged.wait(lock, [&] { return done; });
    }

    // Runs handed work on the calling thread until `Finished` says so; false when
    // that takes more than twenty seconds (a hung send).
    bool PumpUntil(const std::function<bool()>& Finished) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!Finished()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(FMutex);
                if (!FTaskAdded.wait_for(lock, std::chrono::milliseconds(20),
                                         [&] { return !FTasks.empty(); }))
                    continue;
                task = std::move(FTasks.front());
                FTasks.pop_front();
            }
            task();
        }
        return true;
    }

private:
    std::mutex FMutex;
    std::condition_variable FTaskAdded;
    std::condition_variable FDoneChanged;
    std::deque<std::function<void()>> FTasks;
};

struct Event {
    std::intptr_t tag;
    std::string what;
    std::thread::id thread;
    const TMailSender* sender;
};

class ThreadedSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        FMail.SetMainThreadDispatcher(FDispatcher);
        FMail.SetHost("127.0.0.1");
        FMail.SetFrom("loja@example.com");
        FMail.AddAddress("cliente@example.com");
        FMail.AltBody() = {"texto"};
        FMail.SetOnMailProcess([this](const TMailSender& AMail, TMailStatus S) {
            Record(AMail, std::string(MailStatusName(S)));
        });
        FMail.SetOnMailException([this](const TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
            Record(AMail, std::string("exception ") + (ThrowIt ? "throw " : "keep ") + E.what());
            ThrowIt = true;  // ignored: a threaded send never raises
        });
    }

    void Record(const TMailSender& AMail, std::string What) {
        FEvents.push_back({AMail.Tag(), std::move(What), std::this_thread::get_id(), &AMail});
    }

    std::size_t Ends() const {
        return std::count_if(FEvents.begin(), FEvents.end(),
                             [](const Event& E) { return E.what == "pmsDone" || E.what == "pmsError"; });
    }

    // Pumps until `Sends` sends have ended and no threaded send holds the lock any more.
    void Finish(std::size_t Sends) {
        ASSERT_TRUE(FDispatcher->PumpUntil([&] {
            if (Ends() < Sends || !MailCriticalSection().try_lock()) return false;
            MailCriticalSection().unlock();
            return true;
        }));
    }

    std::shared_ptr<QueueDispatcher> FDispatcher = std::make_shared<QueueDispatcher>();
    TMailSender FMail;
    std::vector<Event> FEvents;
};

TEST_F(ThreadedSendTest, EventsRunOnTheMainThreadWithTheCopy) {
    ScriptedSmtpServer server;
    FMail.SetPort(server.Port());
    FMail.SetUseThread(true);
    FMail.Send();
    Finish(1);
    std::vector<std::string> steps;
    for (const auto& e : FEvents) {
        steps.push_back(e.what);
        EXPECT_EQ(e.thread, std::this_thread::get_id()) << e.what;
        EXPECT_NE(e.sender, &FMail) << e.what;
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"pmsStartProcess", "pmsConfigHeaders", "pmsAddingMimeParts",
                                               "pmsLoginSMTP", "pmsStartSends", "pmsSendTo", "pmsSendData",
                                               "pmsLogoutSMTP", "pmsDone"}));
    EXPECT_EQ(FMail.MIMEMess().Header().ToList(), std::vector<std::string>{"cliente@example.com"});
    EXPECT_EQ(FMail.AltBody(), std::vector<std::string>{"texto"});
    EXPECT_EQ(server.Commands().size(), 5u);
}

TEST_F(ThreadedSendTest, ErrorsReachTheHandlerAndAreNeverRaised) {
    ScriptedSmtpServer server;
    for (int i = 0; i < 3; ++i) server.Queue("MAIL", "550 5.7.1 no");
    FMail.SetPort(server.Port());
    EXPECT_NO_THROW(FMail.Send(true));
    Finish(1);
    ASSERT_GE(FEvents.size(), 2u);
    EXPECT_EQ(FEvents[FEvents.size() - 2].what, "pmsError");
    EXPECT_EQ(FEvents.back().what, "exception keep SMTP Error: Unable to send MailFrom.\r\n550 5.7.1 no");
    EXPECT_EQ(FEvents.back().thread, std::this_thread::get_id());
    EXPECT_EQ(FMail.GetLastSmtpError(), "");  // the caller's component was not the one sent
}

TEST_F(ThreadedSendTest, ThreadedSendsRunOneAtATime) {
    ScriptedSmtpServer server;
    FMail.SetPort(server.Port());
    FMail.SetTag(1);
    FMail.Send(true);
    FMail.SetTag(2);
    FMail.Send(true);
    Finish(2);
    ASSERT_EQ(FEvents.size(), 18u);
    // Every event of the first send to run comes before any event of the other.
    for (std::size_t i = 1; i < FEvents.size(); ++i) {
        if (i != 9) {
            EXPECT_EQ(FEvents[i].tag, FEvents[i - 1].tag) << i;
        }
    }
    EXPECT_NE(FEvents[8].tag, FEvents[9].tag);
    EXPECT_EQ(server.Connections(), 2);
}

// Once a threaded send is over, it holds none of the handlers it was given: they may hold
// what their owner frees after the send.
TEST_F(ThreadedSendTest, HandlersAreLetGoWhenTheSendEnds) {
    ScriptedSmtpServer server;
    FMail.SetPort(server.Port());
    const auto held = std::make_shared<int>(0);
    FMail.SetOnBeforeMailProcess([held](const TMailSender&) {});
    FMail.SetOnAfterMailProcess([held](const TMailSender&) {});
    FMail.SetOnMailAttempt([held](const TMailSender&, unsigned) {});
    FMail.SetOnCertificateQuestion([held](const TMailSender&, const TCertificateQuestion&, bool&) {});
    const long byOwner = held.use_count();
    FMail.Send(true);
    Finish(1);
    EXPECT_EQ(held.use_count(), byOwner);
}

// The question about a certificate that fails the check is asked on the main thread,
// like every other event, and its answer reaches the sending thread.
TEST_F(ThreadedSendTest, CertificateQuestionIsAskedOnTheMainThread) {
    testing::TempDir dir;
    const std::string cert = (dir.Path() / "cert.pem").string();
    const std::string key = (dir.Path() / "key.pem").string();
    testing::ChildProcess openssl({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                   "-subj", "/CN=localhost", "-keyout", key, "-out", cert},
                                  {.MergeStderr = true});
    ASSERT_EQ(openssl.Wait(), 0) << openssl.Output();
    testing::PythonSmtpServer server({"--mode", "smtps", "--cert", cert, "--key", key});
    FMail.SetPort(server.PortText());
    FMail.SetSSL(true);
    FMail.SetVerifyCert(true);
    FMail.SetOnCertificateQuestion(
        [this](const TMailSender& AMail, const TCertificateQuestion& Question, bool& Trust) {
            Record(AMail, "question " + Question.Reason);
            Trust = true;
        });
    FMail.Send(true);
    Finish(1);
    const auto question = std::find_if(FEvents.begin(), FEvents.end(),
                                       [](const Event& E) { return E.what.rfind("question ", 0) == 0; });
    ASSERT_NE(question, FEvents.end());
    EXPECT_EQ(question->what, "question self-signed certificate");
    EXPECT_EQ(question->thread, std::this_thread::get_id());
    EXPECT_NE(question->sender, &FMail);
    EXPECT_EQ(FEvents.back().what, "pmsDone");
    EXPECT_EQ(server.Messages().size(), 1u);
}

// The send is held mid-way: its next event waits for the main thread, which does not
// run it yet. The owner is destroyed meanwhile on another thread; only once the main
// thread releases the send and it ends does the destruction return.
TEST_F(ThreadedSendTest, DestroyingTheOwnerMidSendWaitsForTheSendToEnd) {
    ScriptedSmtpServer server;
    FMail.SetPort(server.Port());
    auto copy = std::make_unique<TMailSender>();
    copy->Assign(FMail);
    auto send = std::make_unique<TMailSenderThread>(std::move(copy));
    ASSERT_TRUE(FDispatcher->PumpUntil([&] {
        return std::any_of(FEvents.begin(), FEvents.end(),
                           [](const Event& e) { return e.what == "pmsSendData"; });
    }));

    std::mutex mutex;
    std::condition_variable changed;
    bool destroying = false;
    std::atomic<bool> destroyed = false;
    std::size_t endsWhenDestroyed = 0;
    std::thread destroyer([&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            destroying = true;
        }
        changed.notify_all();
        send.reset();
        endsWhenDestroyed = Ends();
        destroyed = true;
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return destroying; });
    }
    EXPECT_EQ(Ends(), 0u) << "the send ended while held";
    EXPECT_TRUE(FDispatcher->PumpUntil([&] { return destroyed.load(); }));
    destroyer.join();
    EXPECT_EQ(endsWhenDestroyed, 1u) << "the owner was gone before its send ended";
    EXPECT_EQ(FEvents.back().what, "pmsDone");
    EXPECT_EQ(server.Messages().size(), 1u);
}

TEST(SendEmailByThreadTest, NullMailIsRefused) {
    try {
        TMailSender::SendEmailByThread(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "MailToClone not specified");
    }
}

}  // namespace
}  // namespace tandrel::mail
