#include "shell/window.h"

#include "core/screen.h"
#include "resources/resource_ids.h"
#include "shell/keyboard.h"
#include "shell/menu_commands.h"

HINSTANCE programInstance;
HWND mainWindow;
HFONT terminalFont;
int lineHeight;
int cellWidth;

static const char ClassName[] = "BRISVANE";

#ifdef BRISVANE_TEST_HOOKS
// Test builds answer this message with the greyed menu items, one bit per
// command identifier, since another process cannot read a menu's states.
static UINT menuStateMessage;

static LRESULT MenuGreyedBits(HWND window) {
    LRESULT bits = 0;
    HMENU menu = GetMenu(window);
    for (UINT id = CommandExit; id <= CommandClear; ++id) {
        if (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) bits |= LRESULT(1) << id;
    }
    return bits;
}
#endif

static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: OnPaint(window); return 0;
        case WM_KILLFOCUS: HideCursor(); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
        case WM_KEYDOWN: return OnKeyDown(window, wParam, lParam);
        case WM_CHAR: OnChar(wParam); return 0;
        case WM_COMMAND: OnCommand(LOWORD(wParam)); return 0;
        default:
#ifdef BRISVANE_TEST_HOOKS
            if (message == menuStateMessage && message != 0) return MenuGreyedBits(window);
#endif
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool RegisterTerminalClass(HINSTANCE instance) {
#ifdef BRISVANE_TEST_HOOKS
    menuStateMessage = RegisterWindowMessageA("BRISVANE_MENU_GREYED");
#endif
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(MenuResource);
    windowClass.lpszClassName = ClassName;
    return RegisterClassA(&windowClass) != 0;
}

HWND CreateTerminalWindow(HINSTANCE instance, const char* title) {
    mainWindow = CreateWindowExA(0, ClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                 NULL, NULL, instance, NULL);
    return mainWindow;
}

void SetUpFontAndShow(const char* fontFace, int showCommand) {
    LOGFONTA font;
    ZeroMemory(&font, sizeof font);
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(font.lfFaceName, "Courier New", LF_FACESIZE);

    HDC dc = GetDC(mainWindow);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    // A positive height asks for that cell height: the default font's line.
    font.lfHeight = metrics.tmHeight + metrics.tmExternalLeading;
    if (fontFace[0] != '\0') lstrcpynA(font.lfFaceName, fontFace, LF_FACESIZE);
    terminalFont = CreateFontIndirectA(&font);
    SelectObject(dc, terminalFont);
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(mainWindow, dc);
    lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    cellWidth = metrics.tmAveCharWidth;

    RECT frame = {1, 1, ScreenColumns * cellWidth, ScreenRows * lineHeight};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, TRUE);
    MoveWindow(mainWindow, 0, 0, frame.right - frame.left + 1, frame.bottom - frame.top + 1, FALSE);
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);
}
