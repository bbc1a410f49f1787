#include "shell/error_box.h"

#include "resources/resource_ids.h"
#include "shell/window.h"

void ShowError(unsigned stringId) {
    char caption[100];
    char text[100];
    LoadStringA(programInstance, StringErrorCaption, caption, sizeof caption);
    LoadStringA(programInstance, stringId, text, sizeof text);
    MessageBoxA(mainWindow, text, caption, MB_OK);
}
