#include "cli/texts.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "app/texts.h"
#include "cli/console.h"
#include "core/copy_run.h"
#include "core/emptying.h"
#include "core/fsops.h"

namespace ostrivane::cli {
namespace {

// The window's messages after the path they are about.
constexpr auto kRootRefusedChinese = app::JoinTexts("%1：", app::kDriveRootRefused);
constexpr auto kNotImportedChinese = app::JoinTexts("%1：", app::kSomeFoldersNotImported);
// The window's counts of failures, before the list.
constexpr auto kFailedCountChinese = app::JoinTexts(app::kFailedCount, "：");
constexpr auto kLeftOverCountChinese = app::JoinTexts(app::kLeftOverCount, "：");

const Texts kEnglish = {
    "Copies every SOURCE (file or folder) into every destination folder.",
    "files and folders to copy",
    "a destination folder (repeatable)",
    "the folder with all its subfolders, or down to DEPTH levels",
    "sources from a list file (one path per line)",
    "destinations from a list file",
    "what to do when a file of that name exists: overwrite, skip, ask or number (default: the "
    "policy the window stored)",
    "empty every destination before copying (asks unless --yes)",
    "empty every destination and copy nothing (asks unless --yes)",
    "answer the emptying warning with yes",
    "writers per destination device (default: the engine's choice)",
    "all failures as UTF-8 CSV (path,reason); \"-\" for standard output",
    "a live display of the progress: auto (on a terminal), always or never",
    "read every copy back from its device after the run and compare it with its source",
    "the XXH3-128 hash of every file copied alike into every destination, one line each, as "
    "`xxhsum -H2 -c` checks them in a destination folder",
    "print this help and exit",
    "print the version and exit",
    "Exit status: 0 everything done; 1 finished with failures; 2 bad usage or input, nothing "
    "copied; 3 stopped by Ctrl-C or SIGTERM; 4 a folder that could not be entered ended the "
    "run.",
    "(see --help)",
    "nothing to copy: no source file or folder given",
    "no destination folder given (--to, --to-tree or --destinations-list)",
    "%1: refused: the whole drive (file system) cannot be copied from or into",
    "%1: no such file or folder",
    "%1: not a folder",
    "%1: the depth must be a whole number of levels, 0 or more, in decimal digits",
    "--policy ask needs a terminal to ask on; choose another policy",
    "--empty-first and --empty-now exclude each other",
    "emptying deletes without undo and asks first: run on a terminal or give --yes",
    "cannot create the report file %1: %2",
    "%1 %2: refused: it is the source %3",
    "%1 %2: refused: it lies inside the source folder %3",
    "%1 %2: refused: it lies inside the destination folder %3, where the run writes "
    "(and may delete)",
    "%1 %2: refused: it is the report file",
    "%1 %2: refused: it is a folder",
    "%1 %2: refused: it is a symbolic link (name the file it leads to)",
    "%1 %2: refused: it is neither a regular file nor a new name (a device, FIFO or socket)",
    "%1 %2: cannot be written there: %3",
    "%1: \"%2\" is not one of %3",
    "--writers: \"%1\" is not a whole number from 1 to 1024",
    "unexpected arguments: %1",
    "%1: a value is missing",
    "cannot read the value: %1",
    "%1: some folders in the list file no longer exist and were not taken",
    "Emptying (deleting) cannot be undone. Do you really want to continue?",
    "File %1 already exists. Overwrite?",
    " [y/N] ",
    "Copy finished.",
    "not done (%1):",
    "The contents of the destination folders have been deleted.",
    "not deleted below the destination folders (%1):",
    "Stopped: nothing further was started, and no unfinished copy was left behind.",
    "Stopped: the emptying was cut short.",
    "Stopping: the copy in progress is being discarded (press Ctrl-C again to quit at once).",
    "files copied: %1, %2 in %3 s",
    "cannot write the report file %1: %2",
    "cannot enter the folder %1: %2",
    "; copies verified: %1",
    "cannot write the checksum file %1: %2",
    "checksum file: %1 is not listed (xxhsum cannot read a name with a line break)",
    "checksum file: %1 files not listed: not copied under that name into every destination "
    "(a file of that name kept, a numbered copy, or a failed copy)",
    "checksum file: %1 files not listed: their copy failed in a destination",
    "checksum file: %1 files not listed: the copies in the destinations differ",
    "files",
    "left",
    "flushing",
    "verifying",
    "waiting",
    "done",
    "failed",
    "%1 files not copied",
    "%1 files kept as they stood (same name)",
};

const Texts kChinese = {
    "把每个源（文件或文件夹）复制到每个目标文件夹中。",
    "要复制的文件和文件夹",
    "目标文件夹（可多次给出）",
    "该文件夹及其所有子文件夹，或向下 DEPTH 层",
    "从列表文件读取源（每行一个路径）",
    "从列表文件读取目标文件夹",
    "同名文件已存在时：overwrite 覆盖、skip 跳过、ask 询问或 number "
    "自动编号（默认：窗口保存的选择）",
    "复制前先清空（删除）每个目标文件夹中的原有内容（除非给出 --yes，否则先询问）",
    "立即清空（删除）每个目标文件夹中的原有内容，不复制（除非给出 --yes，否则先询问）",
    "对清空警告回答“是”",
    "每个目标设备的写入线程数（默认：由复制引擎决定）",
    "把所有失败项写成 UTF-8 CSV（path,reason）；“-”表示标准输出",
    "显示进度：auto（仅在终端上）、always 或 never",
    "复制后从设备读回每个副本，与源文件比较",
    "把以相同内容复制到每个目标文件夹的每个文件的 XXH3-128 校验值写入文件，每行一个，"
    "可在目标文件夹中用 `xxhsum -H2 -c` 检查",
    "显示本帮助并退出",
    "显示版本并退出",
    "退出状态：0 全部完成；1 完成但有失败项；2 用法或输入错误，未复制任何内容；3 被 Ctrl-C 或 "
    "SIGTERM 停止；4 无法进入某个文件夹，复制中止。",
    "（参见 --help）",
    app::kNothingToCopy,
    "没有指定目标文件夹（--to、--to-tree 或 --destinations-list）",
    kRootRefusedChinese.data(),
    "%1：文件或文件夹不存在",
    "%1：不是文件夹",
    "%1：层数必须是 0 或更大的整数（十进制数字）",
    "--policy ask 需要在终端上询问；请选择其他同名文件处理方式",
    "--empty-first 和 --empty-now 不能同时使用",
    "清空（删除）操作是不可撤消（恢复）的，需要先确认：请在终端上运行或给出 --yes",
    "无法创建报告文件 %1：%2",
    "%1 %2：拒绝：它就是源 %3",
    "%1 %2：拒绝：它位于源文件夹 %3 之内",
    "%1 %2：拒绝：它位于目标文件夹 %3 之内，复制会写入（也可能删除）那里",
    "%1 %2：拒绝：它就是报告文件",
    "%1 %2：拒绝：它是文件夹",
    "%1 %2：拒绝：它是符号链接（请给出它指向的文件）",
    "%1 %2：拒绝：它既不是普通文件也不是新文件名（设备、FIFO 或套接字）",
    "%1 %2：无法写入该位置：%3",
    "%1：“%2”不是可选的值（%3）",
    "--writers：“%1”不是 1 到 1024 之间的整数",
    "无法识别的参数：%1",
    "%1：缺少值",
    "无法识别的值：%1",
    kNotImportedChinese.data(),
    app::kEmptyingWarning,
    "文件%1已存在，是否覆盖？",
    "（y/N）",
    app::kCopyDone,
    kFailedCountChinese.data(),
    app::kEmptyingDone,
    kLeftOverCountChinese.data(),
    "已停止：没有再开始新的复制，也没有留下未完成的副本。",
    "已停止：清空没有做完。",
    "正在停止：正在丢弃未完成的副本（再按一次 Ctrl-C 立即退出）。",
    "%1 个文件，%2，用时 %3 秒",
    "无法写入报告文件 %1：%2",
    "无法进入文件夹 %1：%2",
    "；已校验 %1 个副本",
    "无法写入校验文件 %1：%2",
    "校验文件：%1 未列入（xxhsum 无法读取含换行符的文件名）",
    "校验文件：有 %1 个文件未列入：并非以该名称复制到每个目标文件夹"
    "（保留了同名文件、自动编号或复制失败）",
    "校验文件：有 %1 个文件未列入：它们在某个目标文件夹中复制失败",
    "校验文件：有 %1 个文件未列入：各目标文件夹中的副本不一致",
    "文件",
    "剩余",
    app::kStateFlushing,
    app::kStateVerifying,
    "等待",
    app::kStateDone,
    app::kStateFailed,
    "有 %1 个文件未复制",
    "已跳过 %1 个同名文件",
};

}  // namespace

const std::vector<CoreReason>& CoreReasons() {
    static const std::vector<CoreReason> reasons = [] {
        std::vector<CoreReason> list = {
            // ErrorText of the core's own error numbers (core/fsops_*.cpp).
            {ErrorText(error::kStopped), "stopped; the unfinished copy was discarded"},
            {ErrorText(error::kSourceChanged), "the source changed while it was copied"},
            {ErrorText(error::kChangedMeanwhile),
             "moved, deleted or replaced (by a link or another folder) during the run"},
            {ErrorText(error::kDeviceFull), "not copied: the destination's disk is full"},
            // The copy run (core/copy_run.h).
            {run_reason::kDestinationGone,
             "the destination folder was deleted or replaced after the run began; nothing "
             "written"},
            {run_reason::kVerifyFailed, "verification failed: the copy differs from its source"},
            {run_reason::kVerifyFailedReplaced,
             "verification failed: the copy differs from its source (it replaced the file of "
             "that name, which is gone)"},
            {run_reason::kVerifyFailedLinkBack,
             "verification failed: the copy differs from its source; it was removed and the "
             "symbolic link that stood there was put back"},
            {run_reason::kVerifyFailedLinkGone,
             "verification failed: the copy differs from its source (it replaced the symbolic "
             "link of that name, which is gone)"},
            {run_reason::kVerifyNotRemoved, "; the copy could not be removed: "},
            {run_reason::kNotCopiedTo, "; not copied to: "},
            {run_reason::kVerifySourceChanged,
             "verification failed: the source changed while or after it was copied (its "
             "modification time did not); the copy was kept"},
            {run_reason::kFolderInTheWay, "a folder of that name is in the way"},
            {run_reason::kFileInTheWay, "a file of that name is in the way"},
            {run_reason::kFilesNotCopiedInside, "; files it held, not copied: "},
            // Windows error texts the core words itself (core/fsops_win32.cpp).
            {"这是文件夹，不是文件", "a folder, not a file"},
            {"Windows 错误 ", "Windows error "},
            {"（系统没有关于它的说明）", " (the system has no text for it)"},
            {"不能对整个驱动器（磁盘）进行复制！",
             "refused: the whole drive (file system) cannot be copied"},
            // The emptying (core/emptying.h).
            {emptying_reason::kSourceKept, "a source of the copy, not deleted"},
            {emptying_reason::kRootRefused, "the whole drive (file system) is never emptied"},
            {emptying_reason::kChangedDuring,
             "replaced meanwhile (by a link or another folder), not deleted"},
            {emptying_reason::kGoneSinceStart, "deleted or moved away after the run began"},
            // The folder tree copy (core/tree_copy.cpp).
            {"源文件夹与目标文件夹是同一个文件夹",
             "the source folder and the destination folder are one folder"},
            {"未复制：这是指向其他位置的文件夹链接",
             "not copied: a link to a folder elsewhere (links to folders are not followed)"},
            {"未复制：文件夹在复制过程中被移动或替换",
             "not copied: the folder was moved or replaced while it was copied"},
        };
        // Longest first: a reason that begins with a shorter one is matched whole.
        std::stable_sort(list.begin(), list.end(), [](const CoreReason& a, const CoreReason& b) {
            return a.chinese.size() > b.chinese.size();
        });
        return list;
    }();
    return reasons;
}

std::string EnglishReason(const std::string& reason) {
    const std::vector<CoreReason>& reasons = CoreReasons();
    std::string english;
    size_t at = 0;
    while (at < reason.size()) {
        const auto part = std::find_if(reasons.begin(), reasons.end(), [&](const CoreReason& r) {
            return !r.chinese.empty() && reason.compare(at, r.chinese.size(), r.chinese) == 0;
        });
        if (part != reasons.end()) {
            english += part->english;
            at += part->chinese.size();
        } else {
            english += reason[at++];
        }
    }
    return english;
}

std::string LocalReason(const std::string& reason) {
    return LocaleIsChinese() ? reason : EnglishReason(reason);
}

bool LocaleIsChinese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::string_view(value).starts_with("zh");
    }
    // None set (as usual on Windows): the system's language for the user interface.
    return SystemLanguageIsChinese();
}

const Texts& Text() {
    static const Texts& chosen = LocaleIsChinese() ? kChinese : kEnglish;
    return chosen;
}

}  // namespace ostrivane::cli
