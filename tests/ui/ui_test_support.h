// Shared by the window tests: a scripted stand-in for every dialog, a private environment
// per test, and small file helpers.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/HelpView.h"
#include "ui/Prompts.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"

namespace ostrivane::test {

// Answers every dialog from queues filled by the test and records what was shown.
class ScriptedPrompts : public Prompts {
  public:
    struct Shown {
        QString kind;  // "information", "question", "warning", "error"
        QString text;
    };

    std::vector<Shown> shown;
    std::vector<FileRequest> fileRequests;
    std::vector<QString> folderPrompts;
    std::deque<bool> answers;  // for question() and warning(), in order
    std::deque<QStringList> openFilesResults;
    std::deque<QString> fileResults;  // for openFile() and saveFile(), in order
    std::deque<QString> folderResults;
    // Each answers one showing of the picker: sets its selection and options as the user
    // would and returns true for OK, false for Cancel.
    std::deque<std::function<bool(TForm2&)>> pickerAnswers;
    int pickerShown = 0;
    // Runs while a question is open, as the user would see the window then.
    std::function<void()> duringQuestion;
    // The details of each report box, in order; each box has "保存报告…" pressed this many
    // times before OK.
    std::vector<QString> reportDetails;
    int saveReportPresses = 0;
    // A dialog asked for with no scripted answer left; the test fails on it.
    QStringList unexpected;

    void information(const QString& text) override { shown.push_back({"information", text}); }
    bool question(const QString& text) override {
        shown.push_back({"question", text});
        if (duringQuestion) duringQuestion();
        return NextAnswer(text);
    }
    bool warning(const QString& text) override {
        shown.push_back({"warning", text});
        return NextAnswer(text);
    }
    void error(const QString& text) override { shown.push_back({"error", text}); }
    // With overwriteAnswers scripted, the Ask question takes its answers from there (shown
    // as "ask"); without, the plain question as the base class asks it.
    std::deque<OverwriteAnswer> overwriteAnswers;
    OverwriteAnswer askOverwrite(const QString& text) override {
        if (overwriteAnswers.empty()) return Prompts::askOverwrite(text);
        shown.push_back({"ask", text});
        if (duringQuestion) duringQuestion();
        return Next(overwriteAnswers, text);
    }
    // Recorded as an information box (its text is the box's text).
    void report(const QString& text, const QString& details,
                const std::function<void()>& saveReport) override {
        shown.push_back({"information", text});
        reportDetails.push_back(details);
        for (int i = 0; i < saveReportPresses; ++i) saveReport();
    }
    QStringList openFiles(const FileRequest& request) override {
        fileRequests.push_back(request);
        return Next(openFilesResults, request.name);
    }
    QString openFile(const FileRequest& request) override {
        fileRequests.push_back(request);
        return Next(fileResults, request.name);
    }
    QString saveFile(const FileRequest& request) override {
        fileRequests.push_back(request);
        return Next(fileResults, request.name);
    }
    QString browseFolder(const QString& prompt) override {
        folderPrompts.push_back(prompt);
        return Next(folderResults, prompt);
    }
    bool executePicker(TForm2& picker) override {
        ++pickerShown;
        const auto answer = Next(pickerAnswers, QStringLiteral("picker"));
        return answer ? answer(picker) : false;
    }

    // The texts shown of one kind, in order.
    QStringList Texts(const QString& kind) const {
        QStringList texts;
        for (const Shown& box : shown) {
            if (box.kind == kind) texts << box.text;
        }
        return texts;
    }

  private:
    bool NextAnswer(const QString& text) { return Next(answers, text); }

    template <typename T>
    T Next(std::deque<T>& queue, const QString& what) {
        if (queue.empty()) {
            unexpected << what;
            return T{};
        }
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};

// A private settings folder and home for one test, so no test reads or writes the real
// ones. The suite may run as an unprivileged user whose home is not writable.
class PrivateEnvironment {
  public:
    PrivateEnvironment() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        qputenv("HOME", QFile::encodeName(home_.path()));
    }
    QString ConfigPath() const { return config_.path(); }
    QString SettingsFile() const { return config_.filePath(QStringLiteral("Quillmere.ini")); }

  private:
    QTemporaryDir config_;
    QTemporaryDir home_;
};

// What each main-window test starts from: a private environment, a temporary folder for its
// files, scripted dialogs and a new window that uses them. A Qt Test class derives from it
// (after QObject) and calls StartWindow() in init() and FinishWindow() in cleanup().
template <typename PromptsType = ScriptedPrompts>
class WindowFixture {
  protected:
    void StartWindow() {
        environment_ = std::make_unique<PrivateEnvironment>();
        files_ = std::make_unique<QTemporaryDir>();
        prompts_ = std::make_unique<PromptsType>();
        form_ = std::make_unique<TForm1>(*prompts_);
    }

    // Closes the window and throws the rest away; fails the test when a dialog was asked for
    // that the test had no answer for.
    void FinishWindow() {
        form_.reset();
        const QStringList unanswered = prompts_->unexpected;
        prompts_.reset();
        files_.reset();
        environment_.reset();
        QVERIFY2(unanswered.isEmpty(),
                 qPrintable("dialogs without an answer: " + unanswered.join(", ")));
    }

    std::unique_ptr<PrivateEnvironment> environment_;
    std::unique_ptr<QTemporaryDir> files_;
    std::unique_ptr<PromptsType> prompts_;
    std::unique_ptr<TForm1> form_;
};

// Writes `content` to `path`, creating the parent folders.
inline void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

// The whole content of a file, or "<missing>".
inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}

// True when every entry's parent folder comes before it and each folder's subtree is one
// unbroken run, which is the order of a depth-first walk.
inline bool IsPreOrder(const std::vector<std::string>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        size_t cut = entry.find_last_of('/', entry.size() - 2);
        const std::string parent = entry.substr(0, cut + 1);
        auto parentAt = std::find(entries.begin(), entries.end(), parent);
        if (i > 0 && (parentAt == entries.end() || parentAt - entries.begin() >= long(i)))
            return false;
        // Once another branch started after this entry, nothing of this entry's subtree follows.
        bool left = false;
        for (size_t j = i + 1; j < entries.size(); ++j) {
            const bool inside = entries[j].starts_with(entry);
            if (inside && left) return false;
            if (!inside) left = true;
        }
    }
    return true;
}

// Runs a Qt Test class with a private runtime folder set before the application starts,
// which keeps Qt quiet when the suite runs as another user. The help tab's web browser
// resolves no host name, so no test reaches the network.
template <typename TestClass>
int RunTests(int argc, char** argv) {
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // Every address goes to a proxy on the discard port, which refuses at once.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--proxy-server=http://127.0.0.1:9");
    }
    // The web engine's report of its graphics set-up says nothing about the window.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
    // As the program: what the help tab's add-on needs before the application, when found.
    PrepareHelpBrowser();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestClass tests;
    return QTest::qExec(&tests, argc, argv);
}

}  // namespace ostrivane::test
