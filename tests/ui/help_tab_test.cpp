// The help tab: its view, the address it is pointed at, and start-up order (the window is
// painted before the view is asked to load). No test reaches the network: the browser's
// requests go to a proxy that refuses them (see RunTests).
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBrowser>

#include "ui/HelpView.h"
#include "ui/Unit1.h"
#include "ui_test_support.h"

using ostrivane::HelpAddress;
using ostrivane::HelpViewAddress;
using ostrivane::TForm1;
using ostrivane::WebHelpAvailable;
using ostrivane::WindowOptions;
using ostrivane::test::PrivateEnvironment;
using ostrivane::test::ScriptedPrompts;

namespace {

// Notes, at each paint of a window, whether the help page had been asked for by then.
class PaintWatcher : public QObject {
  public:
    explicit PaintWatcher(TForm1& form) : form_(form) { form.installEventFilter(this); }
    std::vector<bool> requestedAtPaint;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &form_ && event->type() == QEvent::Paint)
            requestedAtPaint.push_back(form_.HelpPageRequested());
        return false;
    }

  private:
    TForm1& form_;
};

}  // namespace

class HelpTabTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        environment_ = std::make_unique<PrivateEnvironment>();
        prompts_ = std::make_unique<ScriptedPrompts>();
    }

    void cleanup() {
        QVERIFY(prompts_->unexpected.isEmpty());
        prompts_.reset();
        environment_.reset();
    }

    void addressIsTheHelpPageOfTheBuildsHost() {
        const QUrl address = HelpAddress();
        QVERIFY(address.isValid());
        QCOMPARE(address.scheme(), QStringLiteral("http"));
        QVERIFY(!address.host().isEmpty());
        QCOMPARE(address.path(), QStringLiteral("/soft/Quillmere.asp"));
        QCOMPARE(address.query(), QStringLiteral("ver=3.12"));
    }

    void viewFillsTheHelpPage() {
        TForm1 form(*prompts_);
        QWidget* view = form.WebBrowser1;
        QVERIFY(view);
        QCOMPARE(view->objectName(), QStringLiteral("WebBrowser1"));
        QCOMPARE(view->parentWidget(), form.TabSheet2);
        QCOMPARE(view->inherits("QWebEngineView"), WebHelpAvailable());
        QCOMPARE(form.PageControl1->indexOf(form.TabSheet2), 1);

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.PageControl1->setCurrentWidget(form.TabSheet2);
        const auto inner = [&] { return form.TabSheet2->rect().adjusted(4, 4, -4, -4); };
        QTRY_COMPARE(view->geometry(), inner());
        form.resize(form.width() + 120, form.height() + 80);
        QTRY_COMPARE(view->geometry(), inner());
    }

    void pageIsRequestedOnceAfterTheFirstPaint() {
        TForm1 form(*prompts_);
        QWidget* view = form.WebBrowser1;
        std::unique_ptr<QSignalSpy> started, finished;
        if (WebHelpAvailable()) {
            started = std::make_unique<QSignalSpy>(view, SIGNAL(loadStarted()));
            finished = std::make_unique<QSignalSpy>(view, SIGNAL(loadFinished(bool)));
        }
        PaintWatcher paints(form);

        // Never painted: nothing is asked of the browser, however long events run.
        QTest::qWait(50);
        QVERIFY(!form.HelpPageRequested());
        QVERIFY(HelpViewAddress(view).isEmpty());

        form.show();
        QTRY_VERIFY(form.HelpPageRequested());
        QVERIFY(!paints.requestedAtPaint.empty());
        QCOMPARE(paints.requestedAtPaint.front(), false);
        QTRY_COMPARE(HelpViewAddress(view), HelpAddress());
        QCOMPARE(form.PageControl1->currentWidget(), form.TabSheet1);

        if (WebHelpAvailable()) {
            // The page cannot be fetched: the browser's own error page, and no box.
            QTRY_VERIFY_WITH_TIMEOUT(finished->count() >= 1, 30000);
            QCOMPARE(finished->first().at(0).toBool(), false);
            form.PageControl1->setCurrentWidget(form.TabSheet2);
            form.repaint();
            QTest::qWait(100);
            QCOMPARE(started->count(), 1);
        }
        QVERIFY(prompts_->shown.empty());
    }

    void plainViewShowsTheAddressAsALink() {
        TForm1 form(prompts_.get(), WindowOptions{.webHelp = false});
        auto* view = qobject_cast<QTextBrowser*>(form.WebBrowser1);
        QVERIFY(view);
        QCOMPARE(view->objectName(), QStringLiteral("WebBrowser1"));
        QVERIFY(view->openExternalLinks());
        form.show();
        QTRY_VERIFY(form.HelpPageRequested());
        const QString address = HelpAddress().toString();
        QCOMPARE(HelpViewAddress(view), HelpAddress());
        QCOMPARE(view->toPlainText().trimmed(), address);
        QVERIFY(
            view->toHtml().contains(QStringLiteral("href=\"%1\"").arg(address.toHtmlEscaped())));
    }

  private:
    std::unique_ptr<PrivateEnvironment> environment_;
    std::unique_ptr<ScriptedPrompts> prompts_;
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<HelpTabTest>(argc, argv);
}

#include "help_tab_test.moc"
