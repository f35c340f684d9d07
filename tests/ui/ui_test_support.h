// Shared by the window tests: a scripted stand-in for every dialog, a private environment
// per test, and small file helpers.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>

#include "ui/Prompts.h"

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
    // Runs while a question is open, as the user would see the window then.
    std::function<void()> duringQuestion;
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

// Runs a Qt Test class with a private runtime folder set before the application starts,
// which keeps Qt quiet when the suite runs as another user.
template <typename TestClass>
int RunTests(int argc, char** argv) {
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestClass tests;
    return QTest::qExec(&tests, argc, argv);
}

}  // namespace ostrivane::test
