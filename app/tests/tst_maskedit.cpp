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
const QString kInvalid = QStringLiteral("Invalid input value.  Use escape key to abandon changes.");

// Plays a small script on the box: digits and other printable characters are typed,
// B backspace, D delete, H home, E end, L left, R right, X escape, N enter.
void Play(QWidget* Box, const QString& Script) {
    for (const QChar c : Script) {
        switch (c.unicode()) {
            case 'B': QTest::keyClick(Box, Qt::Key_Backspace); break;
            case 'D': QTest::keyClick(Box, Qt::Key_Delete); break;
            case 'H': QTest::keyClick(Box, Qt::Key_Home); break;
            case 'E': QTest::keyClick(Box, Qt::Key_End); break;
            case 'L': QTest::keyClick(Box, Qt::Key_Left); break;
            case 'R': QTest::keyClick(Box, Qt::Key_Right); break;
            case 'X': QTest::keyClick(Box, Qt::Key_Escape); break;
            case 'N': QTest::keyClick(Box, Qt::Key_Return); break;
            default: QTest::keyClicks(Box, QString(c)); break;
        }
    }
}

}  // namespace

class TstMaskEdit : public QObject {
    Q_OBJECT

private:
    TRecordedMessages FMessages;
    QWidget* FForm = nullptr;
    TMaskEdit* FBox = nullptr;
    TEdit* FNext = nullptr;
    int FExits = 0;

    // A box for `Mask` with a box after it, shown and focused. `AsFormFile`: made with no
    // mask and given its mask and its error display afterwards, as a form file makes it.
    void Make(const QString& Mask, bool AsFormFile = false) {
        delete FForm;  // owns the boxes
        FMessages.Clear();
        FExits = 0;
        FForm = new QWidget;
        auto* layout = new QVBoxLayout(FForm);
        if (AsFormFile) {
            FBox = new TMaskEdit(FForm);
            FBox->SetMessages(FMessages);
            FBox->SetEditMask(Mask);
        } else {
            FBox = new TMaskEdit(Mask, FMessages, FForm);
        }
        FNext = new TEdit(FForm);
        layout->addWidget(FBox);
        layout->addWidget(FNext);
        FBox->SetOnExit([this] { ++FExits; });
        FForm->show();
        QVERIFY(QTest::qWaitForWindowActive(FForm));
        FBox->setFocus(Qt::TabFocusReason);
        QVERIFY(FBox->hasFocus());
        FBox->setCursorPosition(0);
    }

private slots:
    void cleanupTestCase() { delete FForm; }

    void typing_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("complete");

        QTest::newRow("empty ident") << kIdent << 0 << ""
                                     << "__.___.____"
                                     << "" << false;
        QTest::newRow("ident full") << kIdent << 0 << "123456789"
                                    << "12.345.6789"
                                    << "123456789" << true;
        QTest::newRow("cpf full") << kCpf << 0 << "12345678901"
                                  << "123.456.789-01"
                                  << "12345678901" << true;
        QTest::newRow("cpf five digits") << kCpf << 0 << "12345"
                                         << "123.45_.___-__"
                                         << "12345" << false;
        QTest::newRow("fone full") << kFone << 0 << "11912345678"
                                   << "(11)91234-5678"
                                   << "11912345678" << true;
        QTest::newRow("fone without area code") << kFone << 4 << "912345678"
                                                << "(__)91234-5678"
                                                << "912345678" << true;
        QTest::newRow("fone cursor on literal skips it") << kFone << 3 << "912345678"
                                                         << "(__)91234-5678"
                                                         << "912345678" << true;
        QTest::newRow("cep five digits") << kCep << 0 << "01001"
                                         << "01001-___"
                                         << "01001" << true;
        QTest::newRow("cep full") << kCep << 0 << "01001000"
                                  << "01001-000"
                                  << "01001000" << true;
        QTest::newRow("typing past the end is dropped") << kCep << 0 << "0100100099"
                                                        << "01001-000"
                                                        << "01001000" << true;
        QTest::newRow("letters and signs are refused") << kCpf << 0 << "1a2-3 "
                                                       << "123.___.___-__"
                                                       << "123" << false;
        QTest::newRow("gap becomes a blank") << kCpf << 0 << "123R5"
                                             << "123._5_.___-__"
                                             << "123 5" << false;
        QTest::newRow("backspace clears the previous digit") << kCpf << 0 << "1234B"
                                                             << "123.___.___-__"
                                                             << "123" << false;
        QTest::newRow("backspace jumps over a literal") << kCpf << 0 << "123B"
                                                        << "12_.___.___-__"
                                                        << "12" << false;
        QTest::newRow("backspace then retype") << kCep << 0 << "01002B0"
                                               << "01000-___"
                                               << "01000" << true;
        QTest::newRow("delete clears in place") << kIdent << 0 << "123HD"
                                                << "_2.3__.____"
                                                << " 23" << false;
        QTest::newRow("home then overwrite") << kIdent << 0 << "123456789H9"
                                             << "92.345.6789"
                                             << "923456789" << true;
        QTest::newRow("left then overwrite") << kCep << 0 << "01001000LL9"
                                             << "01001-090"
                                             << "01001090" << true;
    }

    void typing() {
        QFETCH(QString, mask);
        QFETCH(int, cursor);
        QFETCH(QString, script);
        Make(mask);
        FBox->setCursorPosition(cursor);
        Play(FBox, script);
        QTEST(FBox->EditText(), "display");
        QTEST(FBox->Text(), "text");
        QFETCH(bool, complete);
        QCOMPARE(FBox->EditMask().FirstEmptyRequired(FBox->EditText()) < 0, complete);
        QCOMPARE(FBox->Modified(), !script.isEmpty());
    }

    void setText_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("display");

        QTest::newRow("ident") << kIdent << "123456789"
                               << "12.345.6789";
        QTest::newRow("cpf") << kCpf << "12345678901"
                             << "123.456.789-01";
        QTest::newRow("cpf with a gap") << kCpf << "123 5"
                                        << "123._5_.___-__";
        QTest::newRow("fone full") << kFone << "11912345678"
                                   << "(11)91234-5678";
        QTest::newRow("fone nine digits keep the area code empty") << kFone << "912345678"
                                                                   << "(__)91234-5678";
        QTest::newRow("cep five digits") << kCep << "01001"
                                         << "01001-___";
        QTest::newRow("empty") << kCep << ""
                               << "_____-___";
        QTest::newRow("too long is cut") << kCep << "0100100099"
                                         << "01001-000";
    }

    void setText() {
        QFETCH(QString, mask);
        QFETCH(QString, stored);
        Make(mask);
        Play(FBox, "1");
        FBox->SetText(stored);
        QTEST(FBox->EditText(), "display");
        QCOMPARE(FBox->Text(), stored.left(FBox->EditMask().SlotCount()));
        QVERIFY(!FBox->Modified());
        FBox->Clear();
        QCOMPARE(FBox->EditText(), FBox->EditMask().EmptyDisplay());
        QCOMPARE(FBox->Text(), QString());
    }

    void pasteTakesTheDigits() {
        Make(kCpf);
        QApplication::clipboard()->setText(QStringLiteral("123.456.789-01"));
        if (QApplication::clipboard()->text() != QStringLiteral("123.456.789-01"))
            QSKIP("this platform has no clipboard");
        QTest::keySequence(FBox, QKeySequence::Paste);
        QCOMPARE(FBox->EditText(), QStringLiteral("123.456.789-01"));
        QCOMPARE(FBox->Text(), QStringLiteral("12345678901"));
    }

    void composedTextTypesItsDigitsOnly() {
        Make(kCep);
        QInputMethodEvent preedit(QStringLiteral("~"), {});
        QApplication::sendEvent(FBox, &preedit);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("01ã00"));
        QApplication::sendEvent(FBox, &commit);
        QCOMPARE(FBox->EditText(), QStringLiteral("0100_-___"));
        QCOMPARE(FBox->Text(), QStringLiteral("0100"));
    }

    void leavingIncompleteKeepsTheFocus() {
        Make(kCpf);
        Play(FBox, "12345");
        QTest::keyClick(FBox, Qt::Key_Tab);
        QVERIFY(FBox->hasFocus());
        QVERIFY(!FNext->hasFocus());
        QCOMPARE(FBox->cursorPosition(), 6);  // the first empty required position
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QCOMPARE(FMessages.Entries()[0].Error, true);
        QCOMPARE(QString::fromStdString(FMessages.Entries()[0].Text), kInvalid);
        QCOMPARE(FExits, 0);

        // Escape restores the empty box it held on getting the focus; then it may be left.
        QTest::keyClick(FBox, Qt::Key_Escape);
        QCOMPARE(FBox->EditText(), QStringLiteral("___.___.___-__"));
        QTest::keyClick(FBox, Qt::Key_Tab);
        QVERIFY(FNext->hasFocus());
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QCOMPARE(FExits, 1);
    }

    void escapeRestoresTheContentAtFocus() {
        Make(kCep);
        FBox->SetText(QStringLiteral("01001000"));
        QTest::keyClick(FBox, Qt::Key_Tab);  // unchanged: leaves freely
        QVERIFY(FNext->hasFocus());
        FBox->setFocus(Qt::BacktabFocusReason);
        FBox->setCursorPosition(0);
        Play(FBox, "BDBD");
        Play(FBox, "HD9");
        QCOMPARE(FBox->EditText(), QStringLiteral("91001-000"));
        QTest::keyClick(FBox, Qt::Key_Escape);
        QCOMPARE(FBox->EditText(), QStringLiteral("01001-000"));
        QVERIFY(!FBox->Modified());
    }

    void enterChecksLikeLeaving() {
        Make(kIdent);
        Play(FBox, "1234N");
        QVERIFY(FBox->hasFocus());
        QCOMPARE(FBox->cursorPosition(), 5);
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(FMessages.Entries()[0].Text), kInvalid);
        Play(FBox, "56789N");
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
    }

    void boxMadeByAFormFileTakesItsMaskLater() {
        Make(kCpf, true);
        QCOMPARE(FBox->EditText(), QStringLiteral("___.___.___-__"));
        QCOMPARE(FBox->maxLength(), 14);
        QVERIFY(!FBox->Modified());
        Play(FBox, "12345");
        QCOMPARE(FBox->Text(), QStringLiteral("12345"));
        QTest::keyClick(FBox, Qt::Key_Tab);
        QVERIFY(FBox->hasFocus());
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(FMessages.Entries()[0].Text), kInvalid);

        // Another mask empties the box and forgets the operator's change: it may be left.
        FBox->SetEditMask(kCep);
        QCOMPARE(FBox->EditText(), QStringLiteral("_____-___"));
        QCOMPARE(FBox->maxLength(), 9);
        QVERIFY(!FBox->Modified());
        QTest::keyClick(FBox, Qt::Key_Tab);
        QVERIFY(FNext->hasFocus());
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QCOMPARE(FExits, 1);
    }

    void boxWithoutErrorDisplayShowsAMessageBox() {
        Make(kIdent, true);
        auto* lonely = new TMaskEdit(FForm);  // never given an error display
        lonely->SetEditMask(kIdent);
        FForm->layout()->addWidget(lonely);
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
        QVERIFY(FMessages.Entries().empty());
    }

    void leavingUntouchedOrCompletePasses_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("programSet");

        QTest::newRow("never typed into") << kCpf << ""
                                          << "";
        QTest::newRow("set by the program, incomplete") << kCpf << ""
                                                        << "123";
        QTest::newRow("cep with the optional part empty") << kCep << "01001"
                                                          << "";
        QTest::newRow("fone without area code") << kFone << "RRRR912345678"
                                                << "";
    }

    void leavingUntouchedOrCompletePasses() {
        QFETCH(QString, mask);
        QFETCH(QString, script);
        QFETCH(QString, programSet);
        Make(mask);
        if (!programSet.isEmpty()) FBox->SetText(programSet);
        FBox->setCursorPosition(0);
        Play(FBox, script);
        QTest::keyClick(FBox, Qt::Key_Tab);
        QVERIFY(FNext->hasFocus());
        QVERIFY(FMessages.Entries().empty());
        QCOMPARE(FExits, 1);
    }
};

QTEST_MAIN(TstMaskEdit)
#include "tst_maskedit.moc"
