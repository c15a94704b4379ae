// The masked box: typing, deleting, pasting, the text without literals, laying stored
// digits back, the required-position check on leaving and on Enter, Escape.
#include "app/MaskEdit.h"
#include "app/Messages.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using tandrel::app::TEdit;
using tandrel::app::TMaskEdit;
using tandrel::app::TRecordedMessages;

namespace {

const QString kIdent = QStringLiteral(R"(00\.000\.0000;0;_)");
const QString kCpf = QStringLiteral(R"(000\.000\.000-00;0;_)");
const QString kFone = QStringLiteral(R"(!\(99\)00000-0000;0;_)");
const QString kCep = QStringLiteral(R"(00000\-999;0;_)");
const QString kInvalid =
    QStringLiteral("Invalid input value.  Use escape key to abandon changes.");

// Plays a small script on the box: digits and other printable characters are typed,
// B backspace, D delete, H home, E end, L left, R right, X escape, N enter.
void Play(QWidget* box, const QString& script)
{
    for (const QChar c : script) {
        switch (c.unicode()) {
        case 'B': QTest::keyClick(box, Qt::Key_Backspace); break;
        case 'D': QTest::keyClick(box, Qt::Key_Delete); break;
        case 'H': QTest::keyClick(box, Qt::Key_Home); break;
        case 'E': QTest::keyClick(box, Qt::Key_End); break;
        case 'L': QTest::keyClick(box, Qt::Key_Left); break;
        case 'R': QTest::keyClick(box, Qt::Key_Right); break;
        case 'X': QTest::keyClick(box, Qt::Key_Escape); break;
        case 'N': QTest::keyClick(box, Qt::Key_Return); break;
        default: QTest::keyClicks(box, QString(c)); break;
        }
    }
}

}  // namespace

class TstMaskEdit : public QObject {
    Q_OBJECT

private:
    TRecordedMessages messages;
    QWidget* form = nullptr;
    TMaskEdit* box = nullptr;
    TEdit* next = nullptr;
    int exits = 0;

    // A box for `mask` with a box after it, shown and focused. `asFormFile`: made with no
    // mask and given its mask and its error display afterwards, as a form file makes it.
    void Make(const QString& mask, bool asFormFile = false)
    {
        delete form;  // owns the boxes
        messages.Clear();
        exits = 0;
        form = new QWidget;
        auto* layout = new QVBoxLayout(form);
        if (asFormFile) {
            box = new TMaskEdit(form);
            box->SetMessages(messages);
            box->SetEditMask(mask);
        } else {
            box = new TMaskEdit(mask, messages, form);
        }
        next = new TEdit(form);
        layout->addWidget(box);
        layout->addWidget(next);
        box->SetOnExit([this] { ++exits; });
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form));
        box->setFocus(Qt::TabFocusReason);
        QVERIFY(box->hasFocus());
        box->setCursorPosition(0);
    }

private slots:
    void cleanupTestCase() { delete form; }

    void typing_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("complete");

        QTest::newRow("empty ident") << kIdent << 0 << "" << "__.___.____" << "" << false;
        QTest::newRow("ident full") << kIdent << 0 << "123456789" << "12.345.6789" << "123456789" << true;
        QTest::newRow("cpf full") << kCpf << 0 << "12345678901" << "123.456.789-01" << "12345678901" << true;
        QTest::newRow("cpf five digits") << kCpf << 0 << "12345" << "123.45_.___-__" << "12345" << false;
        QTest::newRow("fone full") << kFone << 0 << "11912345678" << "(11)91234-5678" << "11912345678" << true;
        QTest::newRow("fone without area code") << kFone << 4 << "912345678" << "(__)91234-5678" << "912345678" << true;
        QTest::newRow("fone cursor on literal skips it") << kFone << 3 << "912345678" << "(__)91234-5678" << "912345678" << true;
        QTest::newRow("cep five digits") << kCep << 0 << "01001" << "01001-___" << "01001" << true;
        QTest::newRow("cep full") << kCep << 0 << "01001000" << "01001-000" << "01001000" << true;
        QTest::newRow("typing past the end is dropped") << kCep << 0 << "0100100099" << "01001-000" << "01001000" << true;
        QTest::newRow("letters and signs are refused") << kCpf << 0 << "1a2-3 " << "123.___.___-__" << "123" << false;
        QTest::newRow("gap becomes a blank") << kCpf << 0 << "123R5" << "123._5_.___-__" << "123 5" << false;
        QTest::newRow("backspace clears the previous digit") << kCpf << 0 << "1234B" << "123.___.___-__" << "123" << false;
        QTest::newRow("backspace jumps over a literal") << kCpf << 0 << "123B" << "12_.___.___-__" << "12" << false;
        QTest::newRow("backspace then retype") << kCep << 0 << "01002B0" << "01000-___" << "01000" << true;
        QTest::newRow("delete clears in place") << kIdent << 0 << "123HD" << "_2.3__.____" << " 23" << false;
        QTest::newRow("home then overwrite") << kIdent << 0 << "123456789H9" << "92.345.6789" << "923456789" << true;
        QTest::newRow("left then overwrite") << kCep << 0 << "01001000LL9" << "01001-090" << "01001090" << true;
    }

    void typing()
    {
        QFETCH(QString, mask);
        QFETCH(int, cursor);
        QFETCH(QString, script);
        Make(mask);
        box->setCursorPosition(cursor);
        Play(box, script);
        QTEST(box->EditText(), "display");
        QTEST(box->Text(), "text");
        QFETCH(bool, complete);
        QCOMPARE(box->EditMask().FirstEmptyRequired(box->EditText()) < 0, complete);
        QCOMPARE(box->Modified(), !script.isEmpty());
    }

    void setText_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("display");

        QTest::newRow("ident") << kIdent << "123456789" << "12.345.6789";
        QTest::newRow("cpf") << kCpf << "12345678901" << "123.456.789-01";
        QTest::newRow("cpf with a gap") << kCpf << "123 5" << "123._5_.___-__";
        QTest::newRow("fone full") << kFone << "11912345678" << "(11)91234-5678";
        QTest::newRow("fone nine digits keep the area code empty") << kFone << "912345678" << "(__)91234-5678";
        QTest::newRow("cep five digits") << kCep << "01001" << "01001-___";
        QTest::newRow("empty") << kCep << "" << "_____-___";
        QTest::newRow("too long is cut") << kCep << "0100100099" << "01001-000";
    }

    void setText()
    {
        QFETCH(QString, mask);
        QFETCH(QString, stored);
        Make(mask);
        Play(box, "1");
        box->SetText(stored);
        QTEST(box->EditText(), "display");
        QCOMPARE(box->Text(), stored.left(box->EditMask().SlotCount()));
        QVERIFY(!box->Modified());
        box->Clear();
        QCOMPARE(box->EditText(), box->EditMask().EmptyDisplay());
        QCOMPARE(box->Text(), QString());
    }

    void pasteTakesTheDigits()
    {
        Make(kCpf);
        QApplication::clipboard()->setText(QStringLiteral("123.456.789-01"));
        if (QApplication::clipboard()->text() != QStringLiteral("123.456.789-01"))
            QSKIP("this platform has no clipboard");
        QTest::keySequence(box, QKeySequence::Paste);
        QCOMPARE(box->EditText(), QStringLiteral("123.456.789-01"));
        QCOMPARE(box->Text(), QStringLiteral("12345678901"));
    }

    void composedTextTypesItsDigitsOnly()
    {
        Make(kCep);
        QInputMethodEvent preedit(QStringLiteral("~"), {});
        QApplication::sendEvent(box, &preedit);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("01ã00"));
        QApplication::sendEvent(box, &commit);
        QCOMPARE(box->EditText(), QStringLiteral("0100_-___"));
        QCOMPARE(box->Text(), QStringLiteral("0100"));
    }

    void leavingIncompleteKeepsTheFocus()
    {
        Make(kCpf);
        Play(box, "12345");
        QTest::keyClick(box, Qt::Key_Tab);
        QVERIFY(box->hasFocus());
        QVERIFY(!next->hasFocus());
        QCOMPARE(box->cursorPosition(), 6);  // the first empty required position
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        QCOMPARE(messages.Entries()[0].Error, true);
        QCOMPARE(QString::fromStdString(messages.Entries()[0].Text), kInvalid);
        QCOMPARE(exits, 0);

        // Escape restores the empty box it held on getting the focus; then it may be left.
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->EditText(), QStringLiteral("___.___.___-__"));
        QTest::keyClick(box, Qt::Key_Tab);
        QVERIFY(next->hasFocus());
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        QCOMPARE(exits, 1);
    }

    void escapeRestoresTheContentAtFocus()
    {
        Make(kCep);
        box->SetText(QStringLiteral("01001000"));
        QTest::keyClick(box, Qt::Key_Tab);  // unchanged: leaves freely
        QVERIFY(next->hasFocus());
        box->setFocus(Qt::BacktabFocusReason);
        box->setCursorPosition(0);
        Play(box, "BDBD");
        Play(box, "HD9");
        QCOMPARE(box->EditText(), QStringLiteral("91001-000"));
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->EditText(), QStringLiteral("01001-000"));
        QVERIFY(!box->Modified());
    }

    void enterChecksLikeLeaving()
    {
        Make(kIdent);
        Play(box, "1234N");
        QVERIFY(box->hasFocus());
        QCOMPARE(box->cursorPosition(), 5);
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages.Entries()[0].Text), kInvalid);
        Play(box, "56789N");
        QCOMPARE(messages.Entries().size(), std::size_t(1));
    }

    void boxMadeByAFormFileTakesItsMaskLater()
    {
        Make(kCpf, true);
        QCOMPARE(box->EditText(), QStringLiteral("___.___.___-__"));
        QCOMPARE(box->maxLength(), 14);
        QVERIFY(!box->Modified());
        Play(box, "12345");
        QCOMPARE(box->Text(), QStringLiteral("12345"));
        QTest::keyClick(box, Qt::Key_Tab);
        QVERIFY(box->hasFocus());
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages.Entries()[0].Text), kInvalid);

        // Another mask empties the box and forgets the operator's change: it may be left.
        box->SetEditMask(kCep);
        QCOMPARE(box->EditText(), QStringLiteral("_____-___"));
        QCOMPARE(box->maxLength(), 9);
        QVERIFY(!box->Modified());
        QTest::keyClick(box, Qt::Key_Tab);
        QVERIFY(next->hasFocus());
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        QCOMPARE(exits, 1);
    }

    void boxWithoutErrorDisplayShowsAMessageBox()
    {
        Make(kIdent, true);
        auto* lonely = new TMaskEdit(form);  // never given an error display
        lonely->SetEditMask(kIdent);
        form->layout()->addWidget(lonely);
        lonely->setFocus(Qt::TabFocusReason);
        lonely->setCursorPosition(0);
        QString shown;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* shownBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = shownBox->text();
                shownBox->done(QMessageBox::Ok);
            }
        });
        poll.start();
        Play(lonely, "1234N");
        QCOMPARE(shown, kInvalid);
        QCOMPARE(lonely->cursorPosition(), 5);
        QVERIFY(messages.Entries().empty());
    }

    void leavingUntouchedOrCompletePasses_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("programSet");

        QTest::newRow("never typed into") << kCpf << "" << "";
        QTest::newRow("set by the program, incomplete") << kCpf << "" << "123";
        QTest::newRow("cep with the optional part empty") << kCep << "01001" << "";
        QTest::newRow("fone without area code") << kFone << "RRRR912345678" << "";
    }

    void leavingUntouchedOrCompletePasses()
    {
        QFETCH(QString, mask);
        QFETCH(QString, script);
        QFETCH(QString, programSet);
        Make(mask);
        if (!programSet.isEmpty())
            box->SetText(programSet);
        box->setCursorPosition(0);
        Play(box, script);
        QTest::keyClick(box, Qt::Key_Tab);
        QVERIFY(next->hasFocus());
        QVERIFY(messages.Entries().empty());
        QCOMPARE(exits, 1);
    }
};

QTEST_MAIN(TstMaskEdit)
#include "tst_maskedit.moc"
