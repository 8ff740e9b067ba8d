#include "modal.h"
#include "util/dialogpresenter.h"
#include "util/zkgrabstr.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TSeenBox {
    QString caption;
    QString text;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Opens the question and presses Enter in it.
bool ConfirmWithEnter(TDialogPresenter& presenter, TConfirmButtons buttons, TSeenBox& seen) {
    WhenModal<QMessageBox>([&seen](QMessageBox* box) {
        seen = {box->windowTitle(), box->text(), box->standardButton(box->defaultButton())};
        QTest::keyClick(box, Qt::Key_Return);
    });
    return presenter.Confirm(u"HEADING\r\n\r\nGo on ?"_s, buttons);
}

} // namespace

TEST(TDialogPresenter, EnterDeclinesBecauseTheSecondButtonIsTheDefault) {
    QGuiApplication::setApplicationDisplayName(u"ZK News Reader"_s);
    Tzkgrabstr prompt;
    TDialogPresenter presenter(prompt);
    TSeenBox seen;
    EXPECT_FALSE(ConfirmWithEnter(presenter, TConfirmButtons::YesNo, seen));
    EXPECT_EQ(seen.caption, u"ZK News Reader"_s);
    EXPECT_EQ(seen.text, u"HEADING\n\nGo on ?"_s);
    EXPECT_EQ(seen.defaultButton, QMessageBox::No);
    EXPECT_FALSE(ConfirmWithEnter(presenter, TConfirmButtons::OkCancel, seen));
    EXPECT_EQ(seen.defaultButton, QMessageBox::Cancel);
}

TEST(TDialogPresenter, AgreeingAnswersTrue) {
    Tzkgrabstr prompt;
    TDialogPresenter presenter(prompt);
    WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(presenter.Confirm(u"Retry"_s, TConfirmButtons::YesNo));
    WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    EXPECT_TRUE(presenter.Confirm(u"Proceed"_s, TConfirmButtons::OkCancel));
}

TEST(TDialogPresenter, AWarningQuestionHasItsCaptionTheWarningIconAndNoAsDefault) {
    Tzkgrabstr prompt;
    TDialogPresenter presenter(prompt);
    TSeenBox seen;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        seen = {box->windowTitle(), box->text(), box->standardButton(box->defaultButton())};
        icon = box->icon();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(presenter.ConfirmWarning(u"Connection Required"_s, u"Connect?"_s));
    EXPECT_EQ(seen.caption, u"Connection Required"_s);
    EXPECT_EQ(seen.text, u"Connect?"_s);
    EXPECT_EQ(seen.defaultButton, QMessageBox::No);
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST(TDialogPresenter, InformationHasOneOkButtonAndPlainText) {
    Tzkgrabstr prompt;
    TDialogPresenter presenter(prompt);
    QString text;
    int buttons = 0;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    presenter.ShowInfo(u"Could not Open <a>\r\nreason"_s);
    EXPECT_EQ(text, u"Could not Open <a>\nreason"_s);
    EXPECT_EQ(buttons, 1);
}

TEST(TDialogPresenter, PromptsGoToThePromptDialog) {
    Tzkgrabstr prompt;
    TDialogPresenter presenter(prompt);
    InstallPresenter(&presenter);
    WhenModal<Tzkgrabstr>([](Tzkgrabstr* shown) {
        shown->Edit1->setEditText(u"-25"_s);
        shown->BitBtn1->click();
    });
    QString value = u"10"_s;
    EXPECT_EQ(AskNumber(u"c"_s, u"p"_s, value), -25);
    InstallPresenter(nullptr);
}

TEST(TDialogPresenter, TheCertificateQuestionWarnsOffersThreeChoicesAndEnterCancels) {
    Tzkgrabstr prompt;
    TDialogPresenter presenter(prompt);
    TCertificateQuestion question;
    question.server = u"news.example.org:563"_s;
    question.errors = QStringList{u"The certificate has expired"_s};
    question.fingerprint = u"AB:CD"_s;
    struct Case {
        const char* press; // a button's text; nullptr: the Enter key
        bool changed;
        TCertificateAnswer answer;
        const char* caption;
    };
    const Case cases[] = {
        {nullptr, false, TCertificateAnswer::Cancel, "Certificate not trusted"},
        {"Connect this once", false, TCertificateAnswer::ConnectOnce, "Certificate not trusted"},
        {"Always trust this certificate for this server (host and port)", true,
         TCertificateAnswer::AlwaysTrust, "Certificate changed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        QString caption;
        QString text;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            caption = box->windowTitle();
            text = box->text();
            EXPECT_EQ(box->buttons().size(), 3);
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            if (c.press == nullptr) {
                QTest::keyClick(box, Qt::Key_Return);
                return;
            }
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == QString::fromLatin1(c.press)) {
                    button->click();
                }
            }
        });
        question.changed = c.changed;
        EXPECT_EQ(presenter.AskAboutCertificate(question), c.answer);
        EXPECT_EQ(caption, QString::fromLatin1(c.caption));
        EXPECT_TRUE(text.contains(u"The certificate has expired"_s));
        EXPECT_TRUE(text.contains(u"SHA-256 fingerprint: AB:CD"_s));
        EXPECT_EQ(text.startsWith(u"WARNING"_s), c.changed);
    }
}
