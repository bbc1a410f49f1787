#include "shell/menu_items.h"

#include "resources/resource_ids.h"
#include "shell/window.h"

static const UINT Enabled = MF_ENABLED;
static const UINT Greyed = MF_DISABLED | MF_GRAYED;

static void SetItems(const UINT* starters, int count, UINT end, bool busy) {
    if (mainWindow == NULL) return;
    HMENU menu = GetMenu(mainWindow);
    for (int i = 0; i < count; ++i)
        EnableMenuItem(menu, starters[i], MF_BYCOMMAND | (busy ? Greyed : Enabled));
    EnableMenuItem(menu, end, MF_BYCOMMAND | (busy ? Enabled : Greyed));
}

void SetSendItems(bool busy) {
    static const UINT starters[] = {CommandSendRaw, CommandSendBinary, CommandSendText};
    SetItems(starters, 3, CommandSendEnd, busy);
}

void SetCaptureItems(bool busy) {
    static const UINT starters[] = {CommandReceiveRaw, CommandReceiveText};
    SetItems(starters, 2, CommandReceiveEnd, busy);
}
