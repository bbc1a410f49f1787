// Test helper run in the program's Wine prefix: finds the program's window and
// compares its pixels with what the expected screen text looks like when drawn
// with the same font, so end-to-end tests can check the screen pixel for pixel.
//
//   inspector [options] window            title=.. client=WxH cell=WxH origin=X,Y
//   inspector [options] row R HEX [CURCOL] mismatch=N (exit 1 when N > 0)
//   inspector [options] screen CURROW CURCOL HEX0 .. HEX23
//                                           mismatch=N rows=.. (CURROW -1: no cursor)
//   inspector [options] cell R C           lit=N of M (pixels that are not black)
//   inspector [options] dump FILE.bmp      saves the client area
//   inspector [options] send MSG WPARAM LPARAM   result=N (SendMessage, numbers in C syntax)
//   inspector [options] menu               greyed=ID,ID,.. (asks a test build of the program)
//   inspector text TITLE                   the static texts of the dialog titled TITLE
//   inspector launch FILE                  runs the command line held in FILE verbatim,
//                                           waits, prints exit=N (arguments too long for cmd)
// HEX is a row's UTF-16 code units as 4-hex-digit groups, padded with spaces to
// 80 columns; "-" is an empty row.
// Options: --class NAME (default BRISVANE), --face FACE (default Courier New),
//   --timeout MS (row/screen: retry until they match, the program may not have
//   painted yet), --screen (read pixels from the screen, not the window's DC).
// Exit codes: 0 match or done, 1 mismatch, 2 usage error or no window.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kRows = 24, kCols = 80;

struct Options {
    const char* cls = "BRISVANE";
    const char* face = "Courier New";
    int timeoutMs = 0;
    bool fromScreen = false;
};

Options opt;
HWND wnd;
HFONT font;
int cellW, lineH;

int Fail(const char* msg) {
    fprintf(stderr, "inspector: %s\n", msg);
    return 2;
}

// Same steps as the program: the default font's line height becomes the
// requested height of the fixed font; its metrics give the cell size.
void MakeFont() {
    HDC dc = GetDC(wnd);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    LOGFONTA lf = {};
    lf.lfHeight = tm.tmHeight + tm.tmExternalLeading;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, opt.face, LF_FACESIZE);
    font = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(wnd, dc);
    cellW = tm.tmAveCharWidth;
    lineH = tm.tmHeight + tm.tmExternalLeading;
}

// A top-down 32-bit DIB section selected into its own memory DC.
struct Bitmap {
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* px = nullptr;
    int w = 0, h = 0;

    Bitmap(int width, int height) : w(width), h(height) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void**)&px, nullptr, 0);
        old = SelectObject(dc, bmp);
    }
    ~Bitmap() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    DWORD At(int x, int y) const { return px[y * w + x] & 0xFFFFFF; }
};

// Copies the client rectangle (x, y, w, h) of the window into dst at (0, dy).
bool Capture(Bitmap& dst, int dy, int x, int y, int w, int h) {
    HDC src;
    int sx = x, sy = y;
    if (opt.fromScreen) {
        POINT o = {0, 0};
        ClientToScreen(wnd, &o);
        sx += o.x;
        sy += o.y;
        src = GetDC(nullptr);
    } else {
        src = GetDC(wnd);
    }
    BOOL ok = BitBlt(dst.dc, 0, dy, w, h, src, sx, sy, SRCCOPY);
    ReleaseDC(opt.fromScreen ? nullptr : wnd, src);
    GdiFlush();
    return ok != FALSE;
}

// Fills 80 columns from HEX; false on malformed input.
bool ParseRow(const char* hex, WCHAR* row) {
    for (int c = 0; c < kCols; ++c) row[c] = L' ';
    if (!strcmp(hex, "-")) return true;
    size_t n = strlen(hex);
    if (n % 4 || n / 4 > (size_t)kCols) return false;
    for (size_t i = 0; i < n / 4; ++i) {
        char digits[5] = {hex[4 * i], hex[4 * i + 1], hex[4 * i + 2], hex[4 * i + 3], 0};
        char* end;
        unsigned long v = strtoul(digits, &end, 16);
        if (*end) return false;
        row[i] = (WCHAR)v;
    }
    return true;
}

// Draws one row as the program does (white on opaque black, cursor inverted
// one pixel short of the cell) at y in the bitmap.
void DrawRow(Bitmap& b, int y, const WCHAR* row, int curCol) {
    HGDIOBJ old = SelectObject(b.dc, font);
    SetTextColor(b.dc, RGB(255, 255, 255));
    SetBkColor(b.dc, RGB(0, 0, 0));
    SetBkMode(b.dc, OPAQUE);
    TextOutW(b.dc, 0, y, row, kCols);
    if (curCol >= 0 && curCol < kCols) {
        RECT r = {curCol * cellW, y, curCol * cellW + cellW - 1, y + lineH - 1};
        InvertRect(b.dc, &r);
    }
    SelectObject(b.dc, old);
    GdiFlush();
}

struct RowSpec {
    int row;
    WCHAR text[kCols];
    int curCol;
};

// Compares the given rows with the window, retrying until they match or the
// timeout passes. Prints the total and which rows and columns differ.
int Compare(const RowSpec* specs, int count) {
    int w = kCols * cellW;
    Bitmap want(w, lineH * count), got(w, lineH * count);
    for (int i = 0; i < count; ++i) DrawRow(want, i * lineH, specs[i].text, specs[i].curCol);
    DWORD start = GetTickCount();
    for (;;) {
        for (int i = 0; i < count; ++i)
            if (!Capture(got, i * lineH, 0, specs[i].row * lineH, w, lineH))
                return Fail("BitBlt from the window failed");
        long total = 0;
        char detail[2048] = "";
        size_t len = 0;
        for (int i = 0; i < count; ++i) {
            long rowDiff = 0;
            int firstCol = -1, lastCol = -1;
            for (int y = i * lineH; y < (i + 1) * lineH; ++y)
                for (int x = 0; x < w; ++x)
                    if (want.At(x, y) != got.At(x, y)) {
                        ++rowDiff;
                        int c = x / cellW;
                        if (firstCol < 0 || c < firstCol) firstCol = c;
                        if (c > lastCol) lastCol = c;
                    }
            if (rowDiff && len < sizeof detail - 64)
                len += snprintf(detail + len, sizeof detail - len, " row%d=%ld@cols%d-%d", specs[i].row,
                                rowDiff, firstCol, lastCol);
            total += rowDiff;
        }
        if (total == 0 || GetTickCount() - start >= (DWORD)opt.timeoutMs) {
            printf("mismatch=%ld%s\n", total, detail);
            return total ? 1 : 0;
        }
        Sleep(20);
    }
}

int CmdWindow() {
    char title[256] = "";
    GetWindowTextA(wnd, title, sizeof title);
    RECT rc;
    GetClientRect(wnd, &rc);
    POINT o = {0, 0};
    ClientToScreen(wnd, &o);
    printf("title=%s client=%ldx%ld cell=%dx%d origin=%ld,%ld\n", title, rc.right, rc.bottom, cellW, lineH,
           o.x, o.y);
    return 0;
}

int CmdRow(int argc, char** argv) {
    if (argc < 2 || argc > 3) return Fail("usage: row R HEX [CURSORCOL]");
    RowSpec s;
    s.row = atoi(argv[0]);
    s.curCol = argc == 3 ? atoi(argv[2]) : -1;
    if (s.row < 0 || s.row >= kRows) return Fail("row out of range");
    if (!ParseRow(argv[1], s.text)) return Fail("bad HEX");
    return Compare(&s, 1);
}

int CmdScreen(int argc, char** argv) {
    if (argc != 2 + kRows) return Fail("usage: screen CURROW CURCOL HEX0 .. HEX23");
    static RowSpec s[kRows];
    int curRow = atoi(argv[0]), curCol = atoi(argv[1]);
    for (int r = 0; r < kRows; ++r) {
        s[r].row = r;
        s[r].curCol = r == curRow ? curCol : -1;
        if (!ParseRow(argv[2 + r], s[r].text)) return Fail("bad HEX");
    }
    return Compare(s, kRows);
}

int CmdCell(int argc, char** argv) {
    if (argc != 2) return Fail("usage: cell R C");
    int r = atoi(argv[0]), c = atoi(argv[1]);
    Bitmap got(cellW, lineH);
    if (!Capture(got, 0, c * cellW, r * lineH, cellW, lineH)) return Fail("BitBlt failed");
    int lit = 0;
    for (int y = 0; y < lineH; ++y)
        for (int x = 0; x < cellW; ++x) lit += got.At(x, y) != 0;
    printf("lit=%d of %d\n", lit, cellW * lineH);
    return 0;
}

int CmdDump(int argc, char** argv) {
    if (argc != 1) return Fail("usage: dump FILE.bmp");
    RECT rc;
    GetClientRect(wnd, &rc);
    Bitmap got(rc.right, rc.bottom);
    if (!Capture(got, 0, 0, 0, rc.right, rc.bottom)) return Fail("BitBlt failed");
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof ih;
    ih.biWidth = got.w;
    ih.biHeight = -got.h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    ih.biCompression = BI_RGB;
    DWORD bytes = (DWORD)got.w * got.h * 4;
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + bytes;
    FILE* f = fopen(argv[0], "wb");
    if (!f) return Fail("cannot write the file");
    bool ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&ih, sizeof ih, 1, f) == 1 &&
              fwrite(got.px, bytes, 1, f) == 1;
    if (fclose(f) != 0 || !ok) return Fail("write failed");
    return 0;
}

int CmdSend(int argc, char** argv) {
    if (argc != 3) return Fail("usage: send MSG WPARAM LPARAM");
    UINT msg = (UINT)strtoul(argv[0], nullptr, 0);
    WPARAM wp = (WPARAM)strtoull(argv[1], nullptr, 0);
    LPARAM lp = (LPARAM)strtoll(argv[2], nullptr, 0);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(wnd, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result))
        return Fail("SendMessage timed out");
    printf("result=%lld\n", (long long)result);
    return 0;
}

// A test build of the program answers this message with its greyed menu
// items, one bit per command identifier.
int CmdMenu() {
    UINT message = RegisterWindowMessageA("BRISVANE_MENU_GREYED");
    DWORD_PTR bits = 0;
    if (!SendMessageTimeoutA(wnd, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &bits))
        return Fail("SendMessage timed out");
    printf("greyed=");
    const char* separator = "";
    for (int id = 0; id < 32; ++id) {
        if (bits & (DWORD_PTR(1) << id)) {
            printf("%s%d", separator, id);
            separator = ",";
        }
    }
    printf("\n");
    return 0;
}

BOOL CALLBACK PrintStatic(HWND child, LPARAM) {
    char cls[32], text[512];
    GetClassNameA(child, cls, sizeof cls);
    if (!lstrcmpiA(cls, "Static") && GetWindowTextA(child, text, sizeof text) > 0) printf("%s\n", text);
    return TRUE;
}

int CmdText(int argc, char** argv) {
    if (argc != 1) return Fail("usage: text TITLE");
    HWND box = FindWindowA("#32770", argv[0]);
    if (!box) return Fail("no dialog with that title");
    EnumChildWindows(box, PrintStatic, 0);
    return 0;
}

int CmdLaunch(int argc, char** argv) {
    if (argc != 1) return Fail("usage: launch FILE");
    FILE* f = fopen(argv[0], "rb");
    if (!f) return Fail("cannot read the command line file");
    static char line[65536];
    size_t n = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    line[n] = '\0';
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return Fail("CreateProcess failed");
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit=%lu\n", (unsigned long)code);
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    for (; i < argc && !strncmp(argv[i], "--", 2); ++i) {
        if (!strcmp(argv[i], "--screen"))
            opt.fromScreen = true;
        else if (i + 1 >= argc)
            return Fail("option needs a value");
        else if (!strcmp(argv[i], "--class"))
            opt.cls = argv[++i];
        else if (!strcmp(argv[i], "--face"))
            opt.face = argv[++i];
        else if (!strcmp(argv[i], "--timeout"))
            opt.timeoutMs = atoi(argv[++i]);
        else
            return Fail("unknown option");
    }
    if (i >= argc) return Fail("usage: inspector [options] window|row|screen|cell|dump|send|text|launch ...");
    if (!strcmp(argv[i], "text")) return CmdText(argc - i - 1, argv + i + 1);
    if (!strcmp(argv[i], "launch")) return CmdLaunch(argc - i - 1, argv + i + 1);
    wnd = FindWindowA(opt.cls, nullptr);
    if (!wnd) {
        fprintf(stderr, "inspector: no window of class %s\n", opt.cls);
        return 2;
    }
    MakeFont();
    const char* cmd = argv[i];
    int n = argc - i - 1;
    char** rest = argv + i + 1;
    if (!strcmp(cmd, "window")) return CmdWindow();
    if (!strcmp(cmd, "row")) return CmdRow(n, rest);
    if (!strcmp(cmd, "screen")) return CmdScreen(n, rest);
    if (!strcmp(cmd, "cell")) return CmdCell(n, rest);
    if (!strcmp(cmd, "dump")) return CmdDump(n, rest);
    if (!strcmp(cmd, "send")) return CmdSend(n, rest);
    if (!strcmp(cmd, "menu")) return CmdMenu();
    return Fail("unknown command");
}
