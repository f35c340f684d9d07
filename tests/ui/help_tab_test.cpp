// The help tab: its view, the address it is pointed at, and start-up order (the window is
// painted before the view is asked to load). No test reaches the network: the browser's
// requests go to a proxy that refuses them (see RunTests).
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>
#if OSTRIVANE_TEST_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

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

// The text of the page a help view shows (the web view's page is read asynchronously).
QString PageText(QWidget* view) {
    if (auto* plain = qobject_cast<QTextBrowser*>(view)) return plain->toPlainText();
    QString text;
#if OSTRIVANE_TEST_WEBENGINE
    auto* browser = qobject_cast<QWebEngineView*>(view);
    if (!browser) return text;
    bool done = false;
    browser->page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    QDeadlineTimer limit(10000);
    while (!done && !limit.hasExpired()) QTest::qWait(10);
#endif
    return text;
}

// The built-in page: real help (the four policies with a numbered name, the emptying
// warning, list files, drag and drop, the settings file) and a first line naming `address`.
void VerifyBuiltInPage(const QString& text, const QUrl& address) {
    QVERIFY2(text.contains(address.toString()), qPrintable(text.left(200)));
    for (const QString& part :
         {QStringLiteral("覆盖"), QStringLiteral("跳过"), QStringLiteral("询问"),
          QStringLiteral("自动编号同名文件"), QStringLiteral("report_2.txt"),
          QStringLiteral("不可撤消"), QStringLiteral("列表文件"), QStringLiteral("拖放"),
          QStringLiteral("Quillmere.ini"), QStringLiteral("停止")}) {
        QVERIFY2(text.contains(part), qPrintable(part));
    }
}

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
            // The page cannot be fetched: the built-in page in its place, under the address,
            // and no box; nothing is loaded again when the tab is shown.
            QTRY_VERIFY_WITH_TIMEOUT(finished->count() >= 2, 30000);
            QCOMPARE(finished->first().at(0).toBool(), false);
            QCOMPARE(finished->last().at(0).toBool(), true);
            QVERIFY(ostrivane::HelpViewShowsBuiltInPage(view));
            QCOMPARE(HelpViewAddress(view), HelpAddress());
            VerifyBuiltInPage(PageText(view), HelpAddress());
            form.PageControl1->setCurrentWidget(form.TabSheet2);
            form.repaint();
            QTest::qWait(100);
            QCOMPARE(started->count(), 2);
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
        QVERIFY(ostrivane::HelpViewShowsBuiltInPage(view));
        VerifyBuiltInPage(view->toPlainText(), HelpAddress());
        QVERIFY(
            view->toHtml().contains(QStringLiteral("href=\"%1\"").arg(address.toHtmlEscaped())));
    }

    // A server that answers with an error status counts as a page that cannot be loaded.
    void errorStatusShowsTheBuiltInPage() {
        if (!WebHelpAvailable()) QSKIP("no web browser in this build");
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&server] {
            QTcpSocket* client = server.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, client, [client] {
                client->readAll();
                client->write(
                    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n"
                    "Content-Length: 13\r\nConnection: close\r\n\r\n<p>gone</p>\r\n");
                client->disconnectFromHost();
            });
        });
        QWidget parent;
        QWidget* view = ostrivane::CreateHelpView(&parent);
        const QUrl address(QStringLiteral("http://127.0.0.1:%1/soft/Quillmere.asp?ver=3.12")
                               .arg(server.serverPort()));
        ostrivane::NavigateHelpView(view, address);
        QTRY_VERIFY_WITH_TIMEOUT(ostrivane::HelpViewShowsBuiltInPage(view), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(PageText(view).contains(QStringLiteral("自动编号同名文件")),
                                 10000);
        QCOMPARE(HelpViewAddress(view), address);
        VerifyBuiltInPage(PageText(view), address);
    }

  private:
    std::unique_ptr<PrivateEnvironment> environment_;
    std::unique_ptr<ScriptedPrompts> prompts_;
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<HelpTabTest>(argc, argv);
}

#include "help_tab_test.moc"
