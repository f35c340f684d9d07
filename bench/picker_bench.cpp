// Adding a large folder tree to the destination list through the main window's picker
// command (Button3Click with "all subfolders"), against the bare IndexDisk walk into a path
// list. The window is shown (offscreen is fine), so the throttled repaints during the walk
// really paint.
//
// Usage: ostrivane_picker_bench [--rounds N] DIR
//   DIR is walked; when it does not exist, a tree of 50,000 folders (50 x 1000, three
//   levels) is made there first.
// Prints one line per round, "bare <us> window <us>", then the medians and their ratio.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/discovery.h"
#include "core/path_list.h"
#include "ui/Prompts.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"

namespace {

// Answers the picker with one folder and "all subfolders"; no other dialog is expected.
class PickerAnswer : public ostrivane::Prompts {
  public:
    explicit PickerAnswer(QString folder) : folder_(std::move(folder)) {}

    void information(const QString& text) override { Unexpected(text); }
    bool question(const QString& text) override { return Unexpected(text), false; }
    bool warning(const QString& text) override { return Unexpected(text), false; }
    void error(const QString& text) override { Unexpected(text); }
    void report(const QString& text, const QString&, const std::function<void()>&) override {
        Unexpected(text);
    }
    QStringList openFiles(const ostrivane::FileRequest&) override { return {}; }
    QString openFile(const ostrivane::FileRequest&) override { return {}; }
    QString saveFile(const ostrivane::FileRequest&) override { return {}; }
    QString browseFolder(const QString&) override { return {}; }
    bool executePicker(ostrivane::TForm2& picker) override {
        if (!picker.SelectFolder(folder_)) return false;
        if (!picker.CheckBox1->isChecked()) picker.CheckBox1->click();
        return true;
    }

  private:
    static void Unexpected(const QString& text) {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(text));
    }
    QString folder_;
};

bool MakeTree(const QString& dir) {
    constexpr int kTop = 50;
    constexpr int kPerTop = 1000;
    constexpr int kPerMiddle = 50;
    QDir root;
    for (int top = 0; top < kTop; ++top) {
        for (int leaf = 0; leaf < kPerTop; ++leaf) {
            const QString path = QStringLiteral("%1/t%2/m%3/l%4")
                                     .arg(dir)
                                     .arg(top)
                                     .arg(leaf / kPerMiddle)
                                     .arg(leaf % kPerMiddle);
            if (!root.mkpath(path)) return false;
        }
    }
    return true;
}

qint64 Median(std::vector<qint64> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Microseconds of the bare walk into a fresh list; `found` gets the number of folders.
qint64 BareWalk(const std::string& folder, int& found) {
    ostrivane::PathList destinations;
    QElapsedTimer timer;
    timer.start();
    ostrivane::IndexDisk(folder, destinations);
    const qint64 elapsed = timer.nsecsElapsed() / 1000;
    found = destinations.count();
    return elapsed;
}

// Microseconds of the picker command adding the tree to the window's emptied list.
qint64 WindowAdd(ostrivane::TForm1& form, int& found) {
    form.Button7Click();
    QApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    form.Button3Click();
    const qint64 elapsed = timer.nsecsElapsed() / 1000;
    found = form.Destinations().count();
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments().mid(1);
    int rounds = 5;
    QString dir;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--rounds") && i + 1 < arguments.size()) {
            rounds = std::max(1, arguments[++i].toInt());
        } else {
            dir = arguments[i];
        }
    }
    if (dir.isEmpty()) {
        std::fputs("usage: ostrivane_picker_bench [--rounds N] DIR\n", stderr);
        return 2;
    }
    dir = QDir(dir).absolutePath();
    if (!QFileInfo(dir).isDir() && !MakeTree(dir)) {
        std::fprintf(stderr, "cannot make the tree at %s\n", qPrintable(dir));
        return 2;
    }

    PickerAnswer answer(dir);
    ostrivane::TForm1 form(answer);
    form.show();
    // Shown, painted, and the help page asked for, so the web engine's start is over.
    for (int i = 0; i < 250 && !form.HelpPageRequested(); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const std::string folder =
        ostrivane::WithTrailingSeparator(QFile::encodeName(dir).toStdString());
    int bareFound = 0;
    int windowFound = 0;
    BareWalk(folder, bareFound);  // warms the file system's caches for both sides
    std::vector<qint64> bare;
    std::vector<qint64> window;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order so that drift of the machine spreads over both sides.
        if (round % 2 == 0) {
            bare.push_back(BareWalk(folder, bareFound));
            window.push_back(WindowAdd(form, windowFound));
        } else {
            window.push_back(WindowAdd(form, windowFound));
            bare.push_back(BareWalk(folder, bareFound));
        }
        std::printf("bare %lld window %lld\n", static_cast<long long>(bare.back()),
                    static_cast<long long>(window.back()));
    }
    if (bareFound != windowFound) {
        std::fprintf(stderr, "the window added %d folders, the bare walk %d\n", windowFound,
                     bareFound);
        return 2;
    }
    const double ratio = double(Median(window)) / double(Median(bare));
    std::printf("folders %d  bare %.3f s  window %.3f s  ratio %.2f\n", bareFound,
                Median(bare) / 1e6, Median(window) / 1e6, ratio);
    return 0;
}
