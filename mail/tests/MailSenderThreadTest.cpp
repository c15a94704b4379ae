#include "mail/MailSenderThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

#include "testing/ChildProcess.h"
#include "testing/PythonSmtpServer.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

namespace tandrel::mail {
namespace {

using testing::ScriptedSmtpServer;

// The test's "main thread" runs the work the sending threads hand it.
class QueueDispatcher : public IMainThreadDispatcher {
public:
    void RunAndWait(std::function<void()> Work) override {
        std::unique_lock<std::mutex> lock(mutex_);
        bool done = false;
        tasks_.push_back([&] {
            Work();
            std::lock_guard<std::mutex> inner(mutex_);
            done = true;
            doneChanged_.notify_all();
        });
        taskAdded_.notify_all();
        doneChanged_.wait(lock, [&] { return done; });
    }

    // Runs handed work on the calling thread until `finished` says so; false when
    // that takes more than twenty seconds (a hung send).
    bool PumpUntil(const std::function<bool()>& finished) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!finished()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!taskAdded_.wait_for(lock, std::chrono::milliseconds(20), [&] { return !tasks_.empty(); }))
                    continue;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable taskAdded_;
    std::condition_variable doneChanged_;
    std::deque<std::function<void()>> tasks_;
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
        mail_.SetMainThreadDispatcher(dispatcher_);
        mail_.SetHost("127.0.0.1");
        mail_.SetFrom("loja@example.com");
        mail_.AddAddress("cliente@example.com");
        mail_.AltBody() = {"texto"};
        mail_.SetOnMailProcess([this](const TMailSender& AMail, TMailStatus s) {
            Record(AMail, std::string(MailStatusName(s)));
        });
        mail_.SetOnMailException([this](const TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
            Record(AMail, std::string("exception ") + (ThrowIt ? "throw " : "keep ") + E.what());
            ThrowIt = true;  // ignored: a threaded send never raises
        });
    }

    void Record(const TMailSender& AMail, std::string what) {
        events_.push_back({AMail.Tag(), std::move(what), std::this_thread::get_id(), &AMail});
    }

    std::size_t Ends() const {
        return std::count_if(events_.begin(), events_.end(),
                             [](const Event& e) { return e.what == "pmsDone" || e.what == "pmsError"; });
    }

    // Pumps until `sends` sends have ended and no threaded send holds the lock any more.
    void Finish(std::size_t sends) {
        ASSERT_TRUE(dispatcher_->PumpUntil([&] {
            if (Ends() < sends || !MailCriticalSection().try_lock()) return false;
            MailCriticalSection().unlock();
            return true;
        }));
    }

    std::shared_ptr<QueueDispatcher> dispatcher_ = std::make_shared<QueueDispatcher>();
    TMailSender mail_;
    std::vector<Event> events_;
};

TEST_F(ThreadedSendTest, EventsRunOnTheMainThreadWithTheCopy) {
    ScriptedSmtpServer server;
    mail_.SetPort(server.Port());
    mail_.SetUseThread(true);
    mail_.Send();
    Finish(1);
    std::vector<std::string> steps;
    for (const auto& e : events_) {
        steps.push_back(e.what);
        EXPECT_EQ(e.thread, std::this_thread::get_id()) << e.what;
        EXPECT_NE(e.sender, &mail_) << e.what;
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"pmsStartProcess", "pmsConfigHeaders", "pmsAddingMimeParts",
                                               "pmsLoginSMTP", "pmsStartSends", "pmsSendTo", "pmsSendData",
                                               "pmsLogoutSMTP", "pmsDone"}));
    EXPECT_EQ(mail_.MIMEMess().Header().ToList(), std::vector<std::string>{"cliente@example.com"});
    EXPECT_EQ(mail_.AltBody(), std::vector<std::string>{"texto"});
    EXPECT_EQ(server.Commands().size(), 5u);
}

TEST_F(ThreadedSendTest, ErrorsReachTheHandlerAndAreNeverRaised) {
    ScriptedSmtpServer server;
    for (int i = 0; i < 3; ++i) server.Queue("MAIL", "550 5.7.1 no");
    mail_.SetPort(server.Port());
    EXPECT_NO_THROW(mail_.Send(true));
    Finish(1);
    ASSERT_GE(events_.size(), 2u);
    EXPECT_EQ(events_[events_.size() - 2].what, "pmsError");
    EXPECT_EQ(events_.back().what, "exception keep SMTP Error: Unable to send MailFrom.\r\n550 5.7.1 no");
    EXPECT_EQ(events_.back().thread, std::this_thread::get_id());
    EXPECT_EQ(mail_.GetLastSmtpError(), "");  // the caller's component was not the one sent
}

TEST_F(ThreadedSendTest, ThreadedSendsRunOneAtATime) {
    ScriptedSmtpServer server;
    mail_.SetPort(server.Port());
    mail_.SetTag(1);
    mail_.Send(true);
    mail_.SetTag(2);
    mail_.Send(true);
    Finish(2);
    ASSERT_EQ(events_.size(), 18u);
    // Every event of the first send to run comes before any event of the other.
    for (std::size_t i = 1; i < events_.size(); ++i) {
        if (i != 9) {
            EXPECT_EQ(events_[i].tag, events_[i - 1].tag) << i;
        }
    }
    EXPECT_NE(events_[8].tag, events_[9].tag);
    EXPECT_EQ(server.Connections(), 2);
}

// The question about a certificate that fails the check is asked on the main thread,
// like every other event, and its answer reaches the sending thread.
TEST_F(ThreadedSendTest, CertificateQuestionIsAskedOnTheMainThread) {
    testing::TempDir dir;
    const std::string cert = (dir.Path() / "cert.pem").string();
    const std::string key = (dir.Path() / "key.pem").string();
    testing::ChildProcess openssl({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                   "/CN=localhost", "-keyout", key, "-out", cert},
                                  {.MergeStderr = true});
    ASSERT_EQ(openssl.Wait(), 0) << openssl.Output();
    testing::PythonSmtpServer server({"--mode", "smtps", "--cert", cert, "--key", key});
    mail_.SetPort(server.PortText());
    mail_.SetSSL(true);
    mail_.SetVerifyCert(true);
    mail_.SetOnCertificateQuestion([this](const TMailSender& AMail, const TCertificateQuestion& Question, bool& Trust) {
        Record(AMail, "question " + Question.Reason);
        Trust = true;
    });
    mail_.Send(true);
    Finish(1);
    const auto question = std::find_if(events_.begin(), events_.end(),
                                       [](const Event& e) { return e.what.rfind("question ", 0) == 0; });
    ASSERT_NE(question, events_.end());
    EXPECT_EQ(question->what, "question self-signed certificate");
    EXPECT_EQ(question->thread, std::this_thread::get_id());
    EXPECT_NE(question->sender, &mail_);
    EXPECT_EQ(events_.back().what, "pmsDone");
    EXPECT_EQ(server.Messages().size(), 1u);
}

// The send is held mid-way: its next event waits for the main thread, which does not
// run it yet. The owner is destroyed meanwhile on another thread; only once the main
// thread releases the send and it ends does the destruction return.
TEST_F(ThreadedSendTest, DestroyingTheOwnerMidSendWaitsForTheSendToEnd) {
    ScriptedSmtpServer server;
    mail_.SetPort(server.Port());
    auto copy = std::make_unique<TMailSender>();
    copy->Assign(mail_);
    auto send = std::make_unique<TMailSenderThread>(std::move(copy));
    ASSERT_TRUE(dispatcher_->PumpUntil([&] {
        return std::any_of(events_.begin(), events_.end(), [](const Event& e) { return e.what == "pmsSendData"; });
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
    EXPECT_TRUE(dispatcher_->PumpUntil([&] { return destroyed.load(); }));
    destroyer.join();
    EXPECT_EQ(endsWhenDestroyed, 1u) << "the owner was gone before its send ended";
    EXPECT_EQ(events_.back().what, "pmsDone");
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
