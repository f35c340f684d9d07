// The window tests' entry: the component-object layer as the program sets it up (the
// picker's shell tree, the folder browser, the taskbar button need it).
#include <gtest/gtest.h>
#include <ole2.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(OleInitialize(nullptr))) return 1;
    const int status = RUN_ALL_TESTS();
    OleUninitialize();
    return status;
}
