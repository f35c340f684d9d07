// The one door through which the Windows window talks to the user in a dialog: message
// boxes, the open and save dialogs, the folder chooser and the destination picker. The window
// only ever calls this interface, so tests answer every question from a script. Every text
// is UTF-8.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/picker.h"
#include "app/run_view.h"

namespace ostrivane::win {

class TForm2;

// What a file dialog is asked to show.
struct FileRequest {
    std::string name;          // the dialog's design name: OpenDialog1, OpenDialog2, SaveDialog1
    std::string description;   // the filter's description, "列表文件"
    std::string pattern;       // the filter's pattern, "*.lst"
    std::string proposedName;  // the file name a save dialog proposes; empty for none
};

class Prompts {
  public:
    virtual ~Prompts() = default;

    // Modal information box with OK (MB_ICONINFORMATION).
    virtual void information(const std::string& text) = 0;
    // Modal question box, Yes and No with Yes the default; true for Yes.
    virtual bool question(const std::string& text) = 0;
    // The question of the Ask policy: "是", "否", "全部是", "全部否" and "停止" (also Esc), Yes
    // the default; the box has one width whatever the question, so its buttons stay under
    // the pointer from question to question. By default the plain question box, Yes or No.
    virtual app::OverwriteAnswer askOverwrite(const std::string& text) {
        return question(text) ? app::OverwriteAnswer::Yes : app::OverwriteAnswer::No;
    }
    // Modal warning box, Yes and No with No the default; true for Yes.
    virtual bool warning(const std::string& text) = 0;
    // Modal error box with OK, for unexpected errors.
    virtual void error(const std::string& text) = 0;
    // Modal information box with OK whose details area holds `details`, and a button
    // "保存报告…": each press of it runs `saveReport` (which asks for a file through saveFile)
    // and the box stays open until OK.
    virtual void report(const std::string& text, const std::string& details,
                        const std::function<void()>& saveReport) = 0;

    // Open dialog for several existing files; the chosen paths in the dialog's order, or
    // none on Cancel.
    virtual std::vector<std::string> openFiles(const FileRequest& request) = 0;
    // Open dialog for one existing file; empty on Cancel.
    virtual std::string openFile(const FileRequest& request) = 0;
    // Save dialog; the chosen path exactly as typed (no extension added, no overwrite
    // question), or empty on Cancel.
    virtual std::string saveFile(const FileRequest& request) = 0;
    // Folder chooser with `prompt` above its tree; the chosen folder, or empty on Cancel.
    virtual std::string browseFolder(const std::string& prompt) = 0;
    // Shows the destination picker modally over `owner` and returns what it was closed with.
    virtual app::PickedFolder pickFolder(TForm2& picker, HWND owner) = 0;
};

// The real dialogs: MessageBoxW captioned "Ostrivane", the common open and save dialogs
// (OFN_EXPLORER), the shell's folder browser and the picker itself. Every dialog is modal
// to the window `owner` (set once the window exists).
class DialogPrompts : public Prompts {
  public:
    HWND owner = nullptr;

    void information(const std::string& text) override;
    bool question(const std::string& text) override;
    // The box IDD_ASK of the resources, of a fixed width.
    app::OverwriteAnswer askOverwrite(const std::string& text) override;
    bool warning(const std::string& text) override;
    void error(const std::string& text) override;
    void report(const std::string& text, const std::string& details,
                const std::function<void()>& saveReport) override;
    std::vector<std::string> openFiles(const FileRequest& request) override;
    std::string openFile(const FileRequest& request) override;
    std::string saveFile(const FileRequest& request) override;
    std::string browseFolder(const std::string& prompt) override;
    app::PickedFolder pickFolder(TForm2& picker, HWND owner) override;

  private:
    // An open dialog for existing files (several with `multiple`); proposes the first file
    // chosen at the previous use of the same dialog. The chosen paths, or none on Cancel.
    std::vector<std::string> ChooseExisting(const FileRequest& request, bool multiple);
    int Box(const std::string& text, UINT flags);

    // The first file chosen at the previous use of each open dialog, proposed at the next.
    std::map<std::string, std::wstring> lastChosen_;
};

}  // namespace ostrivane::win
