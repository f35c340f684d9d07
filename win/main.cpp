// ostrivane.exe: the window on Windows. The component-object layer for the picker's shell
// tree, the help page's browser control, the folder browser and the taskbar button; the
// main window; the message loop until it closes.
#include <objbase.h>
#include <ole2.h>

#include <exception>

#include "app/summaries.h"
#include "app/texts.h"
#include "win/Unit1.h"
#include "win/WideText.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace ostrivane;
    if (FAILED(OleInitialize(nullptr))) return 1;
    int status = 0;
    try {
        win::TForm1 form(instance);
        form.endsMessageLoop = true;
        form.Show(showCommand);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (form.PreTranslate(message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        status = static_cast<int>(message.wParam);
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, win::Widen(app::ErrorBoxText(error.what())).c_str(),
                    win::Widen(app::kApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
        status = 1;
    }
    OleUninitialize();
    return status;
}
