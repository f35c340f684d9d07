// The help tab: its view with and without the add-on ostrivane-web-help, the address it is
// pointed at, the link to the desktop's browser, and start-up order (the window is painted
// before the view is asked to load). Each case chooses what OSTRIVANE_PLUGIN_PATH names: an
// empty folder (the add-on is not installed) or the build's add-on folder. No test reaches
// the network: the web view's requests go to a proxy that refuses them (see RunTests).
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#if defined(OSTRIVANE_TEST_ADDON_DIR)
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

#include "ui/HelpView.h"
#include "ui/Unit1.h"
#include "ui_test_support.h"

using ostrivane::HelpAddress;
using ostrivane::HelpViewAddress;
using ostrivane::HelpViewIsWebBrowser;
using ostrivane::HelpViewShowsBuiltInPage;
using ostrivane::TForm1;
using ostrivane::WindowOptions;
using ostrivane::test::PrivateEnvironment;
using ostrivane::test::ScriptedPrompts;

namespace {

// The build's add-on folder; empty when the build has no add-on (no Qt WebEngine).
QString AddOnFolder() {
#if defined(OSTRIVANE_TEST_ADDON_DIR)
    return QStringLiteral(OSTRIVANE_TEST_ADDON_DIR);
#else
    return {};
#endif
}

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

// Collects the warnings and worse on the help tab's log category while it lives.
class HelpWarnings {
  public:
    HelpWarnings() {
        messages().clear();
        previous_ = qInstallMessageHandler(&HelpWarnings::Handle);
    }
    ~HelpWarnings() { qInstallMessageHandler(previous_); }
    static QStringList& messages() {
        static QStringList list;
        return list;
    }

  private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && context.category &&
            QByteArray(context.category) == "ostrivane.help")
            messages() << text;
    }
    QtMessageHandler previous_ = nullptr;
};

// The text of the page a help view shows (the web view's page is read asynchronously).
QString PageText(QWidget* view) {
    if (auto* links = qobject_cast<QTextBrowser*>(view)) return links->toPlainText();
    QString text;
#if defined(OSTRIVANE_TEST_ADDON_DIR)
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
          QStringLiteral("~/.config/Quillmere.ini"), QStringLiteral("停止")}) {
        QVERIFY2(text.contains(part), qPrintable(part));
    }
    // Every platform marker of the page is filled in.
    QVERIFY2(!text.contains(QLatin1Char('@')), qPrintable(text));
}

// Where on the link view's viewport the link to `address` is drawn; a null point when the
// page has no such link.
QPoint LinkPosition(QTextBrowser& view, const QUrl& address) {
    QTextDocument* document = view.document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextFragment part = fragment.fragment();
            if (!part.charFormat().isAnchor() || QUrl(part.charFormat().anchorHref()) != address)
                continue;
            QTextCursor cursor(document);
            cursor.setPosition(part.position() + part.length() / 2);
            return view.cursorRect(cursor).center();
        }
    }
    return {};
}

}  // namespace

class HelpTabTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        environment_ = std::make_unique<PrivateEnvironment>();
        prompts_ = std::make_unique<ScriptedPrompts>();
        noAddOn_ = std::make_unique<QTemporaryDir>();
        UseAddOn(false);
    }

    void cleanup() {
        QVERIFY(prompts_->unexpected.isEmpty());
        prompts_.reset();
        environment_.reset();
        noAddOn_.reset();
    }

    void addressIsTheHelpPageOfTheBuildsHost() {
        const QUrl address = HelpAddress();
        QVERIFY(address.isValid());
        QCOMPARE(address.scheme(), QStringLiteral("http"));
        QVERIFY(!address.host().isEmpty());
        QCOMPARE(address.path(), QStringLiteral("/soft/Quillmere.asp"));
        QCOMPARE(address.query(), QStringLiteral("ver=3.12"));
    }

    // OSTRIVANE_PLUGIN_PATH first, then the plugin folder beside the program's folder.
    void addOnIsLookedForInThePluginPathThenTheInstalledFolder() {
        qputenv("OSTRIVANE_PLUGIN_PATH", "/first:/second/folder:");
        const QStringList folders = ostrivane::HelpAddOnFolders();
        QCOMPARE(folders.size(), 3);
        QCOMPARE(folders[0], QStringLiteral("/first"));
        QCOMPARE(folders[1], QStringLiteral("/second/folder"));
        QCOMPARE(folders[2], QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                             QStringLiteral("/../lib/ostrivane/plugins")));
        QCOMPARE(ostrivane::HelpAddOnFileName(), QStringLiteral("ostrivane-web-help.so"));
        UseAddOn(false);
        QVERIFY(ostrivane::FindHelpAddOn().isEmpty());
    }

    void viewFillsTheHelpPage_data() { AddOnRows(); }
    void viewFillsTheHelpPage() {
        QFETCH(bool, addOn);
        UseAddOn(addOn);
        TForm1 form(*prompts_);
        QWidget* view = form.WebBrowser1;
        QVERIFY(view);
        QCOMPARE(view->objectName(), QStringLiteral("WebBrowser1"));
        QCOMPARE(view->parentWidget(), form.TabSheet2);
        QCOMPARE(HelpViewIsWebBrowser(view), addOn);
        QCOMPARE(view->inherits("QWebEngineView"), addOn);
        QCOMPARE(view->inherits("QTextBrowser"), !addOn);
        QCOMPARE(form.PageControl1->indexOf(form.TabSheet2), 1);

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.PageControl1->setCurrentWidget(form.TabSheet2);
        const auto inner = [&] { return form.TabSheet2->rect().adjusted(4, 4, -4, -4); };
        QTRY_COMPARE(view->geometry(), inner());
        form.resize(form.width() + 120, form.height() + 80);
        QTRY_COMPARE(view->geometry(), inner());
    }

    void pageIsRequestedOnceAfterTheFirstPaint_data() { AddOnRows(); }
    void pageIsRequestedOnceAfterTheFirstPaint() {
        QFETCH(bool, addOn);
        UseAddOn(addOn);
        TForm1 form(*prompts_);
        QWidget* view = form.WebBrowser1;
        std::unique_ptr<QSignalSpy> started, finished;
        if (addOn) {
            started = std::make_unique<QSignalSpy>(view, SIGNAL(loadStarted()));
            finished = std::make_unique<QSignalSpy>(view, SIGNAL(loadFinished(bool)));
        }
        PaintWatcher paints(form);

        // Never painted: nothing is asked of the view, however long events run.
        QTest::qWait(50);
        QVERIFY(!form.HelpPageRequested());
        QVERIFY(HelpViewAddress(view).isEmpty());
        QVERIFY(!HelpViewShowsBuiltInPage(view));

        form.show();
        QTRY_VERIFY(form.HelpPageRequested());
        QVERIFY(!paints.requestedAtPaint.empty());
        QCOMPARE(paints.requestedAtPaint.front(), false);
        QTRY_COMPARE(HelpViewAddress(view), HelpAddress());
        QCOMPARE(form.PageControl1->currentWidget(), form.TabSheet1);

        if (addOn) {
            // The page cannot be fetched: the built-in page in its place, under the address,
            // and no box; nothing is loaded again when the tab is shown.
            QTRY_VERIFY_WITH_TIMEOUT(finished->count() >= 2, 30000);
            QCOMPARE(finished->first().at(0).toBool(), false);
            QCOMPARE(finished->last().at(0).toBool(), true);
            QVERIFY(HelpViewShowsBuiltInPage(view));
            QCOMPARE(HelpViewAddress(view), HelpAddress());
            const QString text = PageText(view);
            VerifyBuiltInPage(text, HelpAddress());
            QVERIFY2(text.contains(QStringLiteral("暂时无法打开")), qPrintable(text.left(200)));
            form.PageControl1->setCurrentWidget(form.TabSheet2);
            form.repaint();
            QTest::qWait(100);
            QCOMPARE(started->count(), 2);
        } else {
            // The built-in page at once: no load, nothing to wait for.
            QVERIFY(HelpViewShowsBuiltInPage(view));
        }
        QVERIFY(prompts_->shown.empty());
    }

    // Without the add-on: the built-in page at once, with the help address as a link that
    // says it opens in the browser; no warning and no box, the add-on being optional.
    void withoutTheAddOnTheBuiltInPageShowsAtOnce() {
        const HelpWarnings warnings;
        TForm1 form(*prompts_);
        auto* view = qobject_cast<QTextBrowser*>(form.WebBrowser1);
        QVERIFY(view);
        QVERIFY(!HelpViewIsWebBrowser(view));
        ostrivane::NavigateHelpView(view, HelpAddress());
        QVERIFY(HelpViewShowsBuiltInPage(view));
        QCOMPARE(HelpViewAddress(view), HelpAddress());
        VerifyBuiltInPage(view->toPlainText(), HelpAddress());
        QVERIFY(view->toPlainText().contains(QStringLiteral("点击在浏览器中打开")));
        QVERIFY(!view->toPlainText().contains(QStringLiteral("暂时无法打开")));
        const QString address = HelpAddress().toString();
        QVERIFY(
            view->toHtml().contains(QStringLiteral("href=\"%1\"").arg(address.toHtmlEscaped())));
        QVERIFY2(warnings.messages().isEmpty(), qPrintable(warnings.messages().join('\n')));
        QVERIFY(prompts_->shown.empty());
    }

    // The link opens in the desktop's browser (a stand-in here), and the tab keeps its page.
    void linkOpensInTheDesktopsBrowser() {
        QList<QUrl> opened;
        const ostrivane::DesktopBrowser previous =
            ostrivane::SetDesktopBrowser([&opened](const QUrl& url) {
                opened << url;
                return true;
            });
        const auto restore = qScopeGuard([&] { ostrivane::SetDesktopBrowser(previous); });
        TForm1 form(*prompts_);
        auto* view = qobject_cast<QTextBrowser*>(form.WebBrowser1);
        QVERIFY(view);
        form.show();
        QTRY_VERIFY(form.HelpPageRequested());
        form.PageControl1->setCurrentWidget(form.TabSheet2);
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        const QPoint link = LinkPosition(*view, HelpAddress());
        QVERIFY(!link.isNull());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, link);
        QTRY_COMPARE(opened.size(), 1);
        QCOMPARE(opened.front(), HelpAddress());
        QCOMPARE(HelpViewAddress(view), HelpAddress());
        QVERIFY(HelpViewShowsBuiltInPage(view));
        VerifyBuiltInPage(view->toPlainText(), HelpAddress());
        QVERIFY(prompts_->shown.empty());
    }

    // A file of the add-on's name that is no add-on: a warning, and the built-in page.
    void anAddOnThatCannotBeLoadedLeavesTheBuiltInPage() {
        QFile broken(QDir(noAddOn_->path()).filePath(ostrivane::HelpAddOnFileName()));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a library\n");
        broken.close();
        const HelpWarnings warnings;
        TForm1 form(*prompts_);
        QVERIFY(qobject_cast<QTextBrowser*>(form.WebBrowser1));
        QCOMPARE(warnings.messages().size(), 1);
        QVERIFY2(warnings.messages().front().contains(broken.fileName()),
                 qPrintable(warnings.messages().front()));
        form.show();
        QTRY_VERIFY(form.HelpPageRequested());
        QVERIFY(HelpViewShowsBuiltInPage(form.WebBrowser1));
        QVERIFY(prompts_->shown.empty());
    }

    // The link view chosen without looking for the add-on (the start-up benchmark's
    // baseline), even where the add-on is installed.
    void linkViewCanBeChosenWithoutTheAddOn() {
        if (!AddOnFolder().isEmpty()) UseAddOn(true);
        TForm1 form(prompts_.get(), WindowOptions{.webHelp = false});
        auto* view = qobject_cast<QTextBrowser*>(form.WebBrowser1);
        QVERIFY(view);
        QCOMPARE(view->objectName(), QStringLiteral("WebBrowser1"));
        QVERIFY(!view->openLinks());
        form.show();
        QTRY_VERIFY(form.HelpPageRequested());
        QCOMPARE(HelpViewAddress(view), HelpAddress());
        QVERIFY(HelpViewShowsBuiltInPage(view));
        VerifyBuiltInPage(view->toPlainText(), HelpAddress());
    }

    // With the add-on: a server that answers with an error status counts as a page that
    // cannot be loaded.
    void errorStatusShowsTheBuiltInPage() {
        if (AddOnFolder().isEmpty()) QSKIP("the build has no add-on (no Qt WebEngine)");
        UseAddOn(true);
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
        QVERIFY(HelpViewIsWebBrowser(view));
        const QUrl address(QStringLiteral("http://127.0.0.1:%1/soft/Quillmere.asp?ver=3.12")
                               .arg(server.serverPort()));
        ostrivane::NavigateHelpView(view, address);
        QTRY_VERIFY_WITH_TIMEOUT(HelpViewShowsBuiltInPage(view), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(PageText(view).contains(QStringLiteral("自动编号同名文件")),
                                 10000);
        QCOMPARE(HelpViewAddress(view), address);
        VerifyBuiltInPage(PageText(view), address);
    }

  private:
    // Rows "link view" and, when the build has the add-on, "add-on".
    void AddOnRows() {
        QTest::addColumn<bool>("addOn");
        QTest::newRow("link view") << false;
        if (!AddOnFolder().isEmpty()) QTest::newRow("add-on") << true;
    }

    // Points OSTRIVANE_PLUGIN_PATH at the build's add-on folder, or at an empty folder.
    void UseAddOn(bool addOn) {
        qputenv("OSTRIVANE_PLUGIN_PATH",
                QFile::encodeName(addOn ? AddOnFolder() : noAddOn_->path()));
    }

    std::unique_ptr<PrivateEnvironment> environment_;
    std::unique_ptr<ScriptedPrompts> prompts_;
    std::unique_ptr<QTemporaryDir> noAddOn_;
};

int main(int argc, char** argv) {
    // Found before the application is made, as the program finds an installed add-on.
    if (!AddOnFolder().isEmpty())
        qputenv("OSTRIVANE_PLUGIN_PATH", QFile::encodeName(AddOnFolder()));
    return ostrivane::test::RunTests<HelpTabTest>(argc, argv);
}

#include "help_tab_test.moc"
