// The default error display and the real message boxes.
#include "app/Messages.h"
#include "mail/EAbort.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <stdexcept>

using namespace tandrel::app;

namespace {

// Throws `Inner` wrapped in an outer error, as a layer adding context would.
template <typename E>
[[noreturn]] void ThrowNested(const E& Inner) {
    try {
        throw Inner;
    } catch (...) {
        std::throw_with_nested(std::runtime_error("outer"));
    }
}

}  // namespace

class TstMessages : public QObject {
    Q_OBJECT

private slots:
    void periodRule_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter gets a period") << "Disk full"
                                              << "Disk full.";
        QTest::newRow("period stays single") << "Done."
                                             << "Done.";
        QTest::newRow("exclamation is below 46") << "Stop!"
                                                 << "Stop!";
        QTest::newRow("hyphen is 45") << "a -"
                                      << "a -";
        QTest::newRow("slash is 47") << "C:/"
                                     << "C:/.";
        QTest::newRow("blank at the end") << "a "
                                          << "a ";
        QTest::newRow("digit") << "error 10061"
                               << "error 10061.";
        QTest::newRow("accented letter") << "CEP inválido"
                                         << "CEP inválido.";
        QTest::newRow("empty stays empty") << ""
                                           << "";
    }

    void periodRule() {
        QFETCH(QString, message);
        QTEST(QString::fromStdString(ErrorDisplayText(message.toStdString())), "shown");
    }

    void actionsShowTheInnermostError() {
        TRecordedMessages messages;
        RunAction(messages, [] { throw std::runtime_error("MTClientes: Field 'x' not found"); });
        RunAction(messages, [] { ThrowNested(std::runtime_error("Connection refused")); });
        RunAction(messages, [] { throw tandrel::mail::EAbort(); });
        RunAction(messages, [] { ThrowNested(tandrel::mail::EAbort()); });
        RunAction(messages, [] { throw 42; });
        RunAction(messages, [] {});
        QCOMPARE(messages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{{true, "MTClientes: Field 'x' not found."},
                                                        {true, "Connection refused."},
                                                        {true, "Unknown error."}}));
    }

    void realBoxesAreModalWithOneOkAndTheTitle_data() {
        QTest::addColumn<bool>("error");
        QTest::newRow("information") << false;
        QTest::newRow("error") << true;
    }

    void realBoxesAreModalWithOneOkAndTheTitle() {
        QFETCH(bool, error);
        TDialogMessages messages;
        QString title, text;
        int buttons = -1;
        bool modal = false;
        QMessageBox::Icon icon = QMessageBox::Question;
        // Reads the box once it runs, then presses its OK button.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            text = box->text();
            buttons = static_cast<int>(box->buttons().size());
            modal = box->isModal();
            icon = box->icon();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        if (error)
            messages.ShowError("MTClientes: Cannot perform this operation on an empty dataset.");
        else
            messages.ShowMessage("EXCLUIR CLIENTE");
        QCOMPARE(title, QStringLiteral("Tandrel"));
        QCOMPARE(text, error
                           ? QStringLiteral("MTClientes: Cannot perform this operation on an empty dataset.")
                           : QStringLiteral("EXCLUIR CLIENTE"));
        QCOMPARE(buttons, 1);
        QVERIFY(modal);
        QCOMPARE(icon, error ? QMessageBox::Critical : QMessageBox::NoIcon);
    }

    // "Não" changes nothing, so it is what a hurried Enter or Escape gives.
    void questionBoxAnswersSimOnlyWhenSimIsPressed_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<bool>("answer");
        QTest::newRow("Sim") << "Sim" << true;
        QTest::newRow("Não") << "Não" << false;
        QTest::newRow("Enter") << "Enter" << false;
        QTest::newRow("Escape") << "Escape" << false;
    }

    void questionBoxAnswersSimOnlyWhenSimIsPressed() {
        QFETCH(QString, press);
        TDialogMessages messages;
        QStringList captions;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            icon = box->icon();
            for (QAbstractButton* button : box->buttons()) captions << button->text();
            if (press == "Enter" || press == "Escape")
                QTest::keyClick(box, press == "Enter" ? Qt::Key_Return : Qt::Key_Escape);
            else
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == press) QTest::mouseClick(button, Qt::LeftButton);
        });
        const bool answer = messages.AskQuestion("Confiar?");
        QTEST(answer, "answer");
        captions.sort();
        QCOMPARE(captions, (QStringList{"Não", "Sim"}));
        QCOMPARE(title, QStringLiteral("Tandrel"));
        QCOMPARE(icon, QMessageBox::Question);
    }

    void recordedQuestionsTakeTheAnswersGivenThenNao() {
        TRecordedMessages messages;
        messages.Answer(true);
        QVERIFY(messages.AskQuestion("primeira"));
        QVERIFY(!messages.AskQuestion("segunda"));
        QCOMPARE(messages.Entries(), (std::vector<TRecordedMessages::Entry>{{false, "primeira", true},
                                                                            {false, "segunda", true}}));
    }
};

QTEST_MAIN(TstMessages)
#include "tst_messages.moc"
