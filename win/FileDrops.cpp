#include "win/FileDrops.h"

#include <commctrl.h>

#include <deque>
#include <utility>

#include "win/WideText.h"

namespace ostrivane::win {

namespace {

// What a list box that takes drops keeps: the handler and the drops read but not yet handed
// over. Owned by the subclass and deleted with the list box.
struct DropTarget {
    std::function<void(std::vector<std::string>)> onDrop;
    std::deque<std::vector<std::string>> pending;
};

constexpr UINT_PTR kSubclassId = 0x4f44;  // "OD"

// Posted to the list box after a drop, so the drop's paths reach the handler from the
// message loop once the shell has been let go. Registered: the list box's own messages and
// the window's private ones cannot collide with it.
UINT DropPostedMessage() {
    static const UINT message = RegisterWindowMessageW(L"Ostrivane.DropPosted");
    return message;
}

LRESULT CALLBACK DropProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                          DWORD_PTR data) {
    auto* target = reinterpret_cast<DropTarget*>(data);
    if (message == WM_DROPFILES) {
        auto drop = reinterpret_cast<HDROP>(wParam);
        std::vector<std::string> paths = DroppedPaths(drop);
        DragFinish(drop);
        if (!paths.empty()) {
            target->pending.push_back(std::move(paths));
            PostMessageW(window, DropPostedMessage(), 0, 0);
        }
        return 0;
    }
    if (message == DropPostedMessage() && message != 0) {
        if (target->pending.empty()) return 0;
        std::vector<std::string> paths = std::move(target->pending.front());
        target->pending.pop_front();
        // A copy of the handler: it may ask questions whose message loop delivers the next
        // drop, which must find the target intact.
        const auto onDrop = target->onDrop;
        if (onDrop) onDrop(std::move(paths));
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, DropProc, kSubclassId);
        delete target;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

std::vector<std::string> DroppedPaths(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        // The length first: a name may be longer than MAX_PATH (a \\?\ path, long paths on).
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring name(static_cast<size_t>(length) + 1, L'\0');
        const UINT copied = DragQueryFileW(drop, i, name.data(), length + 1);
        name.resize(copied);
        if (!name.empty()) paths.push_back(Narrow(name));
    }
    return paths;
}

void AcceptFileDrops(HWND target, std::function<void(std::vector<std::string>)> onDrop) {
    auto* state = new DropTarget{std::move(onDrop), {}};
    if (!SetWindowSubclass(target, DropProc, kSubclassId, reinterpret_cast<DWORD_PTR>(state))) {
        delete state;
        return;
    }
    DragAcceptFiles(target, TRUE);
}

}  // namespace ostrivane::win
