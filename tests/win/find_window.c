/* Used by scripts/windows-install-test: waits up to the given seconds for a visible top-level
 * window of class argv[1] titled argv[2], whose process runs the program argv[3] (a full
 * Windows path, compared without regard to case); then asks it to close. Exit status 0 when
 * found, 1 when not, 2 for wrong arguments. Prints what it found. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const int seconds = _wtoi(argv[4]);
    for (int tick = 0; tick < seconds * 10; ++tick) {
        HWND window = FindWindowW(argv[1], argv[2]);
        if (window && IsWindowVisible(window)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            wchar_t image[MAX_PATH * 4] = L"";
            DWORD size = sizeof image / sizeof image[0];
            HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            if (process) {
                QueryFullProcessImageNameW(process, 0, image, &size);
                CloseHandle(process);
            }
            RECT frame;
            GetWindowRect(window, &frame);
            wprintf(L"window %ls \"%ls\" of %ls, %ldx%ld\n", argv[1], argv[2], image,
                    frame.right - frame.left, frame.bottom - frame.top);
            if (_wcsicmp(image, argv[3]) != 0) return 1;
            PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        Sleep(100);
    }
    wprintf(L"no visible window %ls \"%ls\"\n", argv[1], argv[2]);
    return 1;
}
