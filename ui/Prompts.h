// The one door through which the window talks to the user in a dialog: message boxes, the
// open and save dialogs and the folder chooser. The window only ever calls this interface,
// so tests can answer every question from a script.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

#include "app/run_view.h"
#include "app/texts.h"

class QWidget;

namespace ostrivane {

class TForm2;

// The application title: caption of the main window and of every message box.
inline const QString kApplicationTitle = QString::fromUtf8(app::kApplicationTitle);

// What a file dialog is asked to show.
struct FileRequest {
    QString name;          // the dialog's design name: OpenDialog1, OpenDialog2, SaveDialog1
    QString filter;        // one Qt name filter, "description (pattern)"
    QString proposedName;  // the file name a save dialog proposes; empty for none
};

// The answers to the question of the Ask policy, shared with the Windows window.
using OverwriteAnswer = app::OverwriteAnswer;

class Prompts {
  public:
    virtual ~Prompts() = default;

    // The question of the Ask policy: "是", "否", "全部是", "全部否" and "停止" (also Esc),
    // Yes the default; the box keeps one width from question to question, so its buttons
    // stay under the pointer. By default the plain question box, Yes or No.
    virtual OverwriteAnswer askOverwrite(const QString& text) {
        return question(text) ? OverwriteAnswer::Yes : OverwriteAnswer::No;
    }

    // Modal information box with OK.
    virtual void information(const QString& text) = 0;
    // Modal question box, Yes and No with Yes the default; true for Yes.
    virtual bool question(const QString& text) = 0;
    // Modal warning box, Yes and No with No the default; true for Yes.
    virtual bool warning(const QString& text) = 0;
    // Modal error box with OK, for unexpected errors.
    virtual void error(const QString& text) = 0;
    // Modal information box with OK whose details (shown on request) hold `details`, and a
    // button "保存报告…": each press of it runs `saveReport` (which asks for a file through
    // saveFile) and the box stays open until OK.
    virtual void report(const QString& text, const QString& details,
                        const std::function<void()>& saveReport) = 0;

    // Open dialog for several existing files; the chosen paths in the dialog's order, or an
    // empty list on Cancel.
    virtual QStringList openFiles(const FileRequest& request) = 0;
    // Open dialog for one existing file; empty on Cancel.
    virtual QString openFile(const FileRequest& request) = 0;
    // Save dialog; the chosen path exactly as typed (no extension added, no overwrite
    // question), or empty on Cancel.
    virtual QString saveFile(const FileRequest& request) = 0;
    // Folder chooser with `prompt` as its title; the chosen folder, or empty on Cancel.
    virtual QString browseFolder(const QString& prompt) = 0;
    // Shows the destination folder picker modally; true when it was closed with OK. The
    // picker's selection and options are then read from `picker` itself.
    virtual bool executePicker(TForm2& picker) = 0;
};

// The real dialogs: QMessageBox captioned with the application title and Chinese button
// texts, and QFileDialog. Every dialog is modal to `parent`.
class DialogPrompts : public Prompts {
  public:
    explicit DialogPrompts(QWidget* parent) : parent_(parent) {}

    void information(const QString& text) override;
    bool question(const QString& text) override;
    bool warning(const QString& text) override;
    void error(const QString& text) override;
    OverwriteAnswer askOverwrite(const QString& text) override;
    void report(const QString& text, const QString& details,
                const std::function<void()>& saveReport) override;
    QStringList openFiles(const FileRequest& request) override;
    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString browseFolder(const QString& prompt) override;
    bool executePicker(TForm2& picker) override;

  private:
    // An open dialog for existing files in `mode`; proposes the first file chosen at the
    // previous use of the same dialog. The chosen paths, or an empty list on Cancel.
    QStringList ChooseExisting(const FileRequest& request, QFileDialog::FileMode mode);

    QWidget* parent_;
    // The first file chosen at the previous use of each open dialog, proposed at the next.
    std::map<QString, QString> lastChosen_;
};

}  // namespace ostrivane
