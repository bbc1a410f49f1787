// The shared line's own rules: a client's bounded buffer, the --share forms,
// and a client's keys when the output pump is full; and the browser pages'
// rules: what a page's keys send, what a page is shown, who gets in. (A slow
// client's drop is seen whole in tests/console/test_share.py, pages in a
// real browser in tests/console/test_web.py.)
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "console/program/console.h"
#include "console/program/send.h"
#include "console/features/share.h"
#include "console/rules/web_auth.h"
#include "console/rules/web_input.h"
#include "console/rules/web_view.h"

namespace {

std::string Take(ShareBuffer& buffer) {
    std::string out;
    unsigned n;
    while (!buffer.Empty()) {
        const uint8_t* run = buffer.Front(&n);
        out.append(reinterpret_cast<const char*>(run), n);
        buffer.Consume(n);
    }
    return out;
}

const uint8_t* U(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(ShareBuffer, KeepsOrderAcrossTheWrapAndRefusesWhatDoesNotFitWhole) {
    ShareBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(8));
    EXPECT_TRUE(buffer.Append(U("abcdef"), 6));
    unsigned n;
    buffer.Front(&n);
    buffer.Consume(4);                           // "ef" left, at the end of the ring
    EXPECT_TRUE(buffer.Append(U("ghijkl"), 6));  // wraps
    EXPECT_FALSE(buffer.Append(U("m"), 1));      // full: refused, nothing cut
    EXPECT_EQ(buffer.Used(), 8u);
    EXPECT_EQ(Take(buffer), "efghijkl");
    EXPECT_TRUE(buffer.Append(U("12345678"), 8));
    EXPECT_FALSE(buffer.Append(U("9"), 1));
    EXPECT_EQ(Take(buffer), "12345678");
    buffer.Release();
    EXPECT_FALSE(buffer.Append(U("x"), 1));  // no room at all once given back
    EXPECT_TRUE(buffer.Empty());
}

TEST(ShareAddress, ReadsTheThreeFormsAndRefusesTheRest) {
    ShareAddress a;
    const char* problem;
    ASSERT_TRUE(ParseShareAddress("unix:/tmp/s", &a, &problem));
    EXPECT_TRUE(a.unixSocket);
    EXPECT_STREQ(a.path, "/tmp/s");
    ASSERT_TRUE(ParseShareAddress("tcp:7000", &a, &problem));
    EXPECT_FALSE(a.unixSocket);
    EXPECT_STREQ(a.host, "127.0.0.1");  // loopback unless an address is named
    EXPECT_STREQ(a.port, "7000");
    ASSERT_TRUE(ParseShareAddress("tcp:0.0.0.0:65535", &a, &problem));
    EXPECT_STREQ(a.host, "0.0.0.0");
    ASSERT_TRUE(ParseShareAddress("tcp:[::1]:7000", &a, &problem));
    EXPECT_STREQ(a.host, "::1");
    std::string longPath = "unix:/" + std::string(SharePathCapacity, 'x');
    for (const char* bad : {"", "unix:", "tcp:", "tcp:0", "tcp:65536", "tcp:12x", "tcp::7000", "tcp:::1:7000",
                            "tcp:host:", "udp:7000", "/tmp/s", longPath.c_str()}) {
        EXPECT_FALSE(ParseShareAddress(bad, &a, &problem)) << bad;
    }
}

// A share whose one client is the near end of a socket pair; the test holds the far end.
struct Fixture {
    std::unique_ptr<Share> share{new Share()};
    std::unique_ptr<Console> console{new Console()};
    OutputPump* pump = &console->pump;
    Notice notice = {};
    int far = -1;

    Fixture() {
        int ends[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends);
        share->client[0].fd = ends[0];
        share->client[0].backlog.Allocate(ShareBacklog);
        share->clients = 1;
        far = ends[1];
        DefaultOptions(&console->options);
        console->link.state = LinkState::Open;
        share->listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);  // never connected to
    }
    ~Fixture() {
        CloseShare(*share);
        close(far);
    }
};

TEST(Share, AClientsKeysWaitForRoomInThePumpInsteadOfBeingLost) {
    Fixture f;
    static uint8_t filler[TypedCapacity - 2];
    ASSERT_TRUE(f.pump->Queue(filler, sizeof filler, false));
    ASSERT_EQ(write(f.far, "abcd", 4), 4);
    ShareTargets targets = {f.notice, true, SendFromShare, f.console.get()};
    struct pollfd fds[ShareMaxDescriptors] = {};
    ShareDescriptors(*f.share, targets, fds);
    fds[1].revents = POLLIN;
    ServeShare(*f.share, targets, fds, ShareMaxDescriptors);
    EXPECT_EQ(f.pump->Waiting(), TypedCapacity);  // "ab" in, "cd" waits
    ShareDescriptors(*f.share, targets, fds);
    EXPECT_EQ(fds[1].events & POLLIN, 0);  // not read meanwhile
    f.pump->Clear();
    ShareDescriptors(*f.share, targets, fds);
    EXPECT_EQ(f.pump->Waiting(), 2u);
    EXPECT_NE(fds[1].events & POLLIN, 0);
    // Bit 7 as typed keys have it: clear by default.
    f.pump->StageQueued(0, 0);
    unsigned n;
    const uint8_t* staged = f.pump->Pending(&n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(staged[0], 'c');
}

std::unique_ptr<WebInput> Parse(const std::string& message, unsigned* dropped = nullptr) {
    std::unique_ptr<WebInput> input(new WebInput());
    unsigned none;
    ParseWebInput(message.data(), unsigned(message.size()), input.get(), dropped ? dropped : &none);
    return input;
}

std::string Bytes(const WebInput& input) {
    return input.command == WebCommand::Bytes
               ? std::string(reinterpret_cast<const char*>(input.bytes), input.count)
               : "(none)";
}

TEST(WebInput, KeysSendWhatTheTerminalSendsForThem) {
    EXPECT_EQ(Bytes(*Parse("k- ArrowUp")), "\x1b?t");
    EXPECT_EQ(Bytes(*Parse("kS ArrowUp")), "\x1bP");  // the shifted sequence
    EXPECT_EQ(Bytes(*Parse("k- F1")), "\x1bP");       // PF1
    EXPECT_EQ(Bytes(*Parse("k- Numpad5")), "\x1b?u");
    EXPECT_EQ(Bytes(*Parse("k- NumpadAdd")), "\x1b?M");
    EXPECT_EQ(Bytes(*Parse("k- Enter")), "\r");
    EXPECT_EQ(Bytes(*Parse("k- Backspace")), "\x08");
    EXPECT_EQ(Bytes(*Parse("k- Delete")), "\x7f");
    EXPECT_EQ(Bytes(*Parse("kC c")), "\x03");
    EXPECT_EQ(Bytes(*Parse("kCS C")), "\x03");
    EXPECT_EQ(Bytes(*Parse("kC [")), "\x1b");
    EXPECT_EQ(Bytes(*Parse("kCA @")), "@");                  // AltGr: the character, not Ctrl-@
    EXPECT_EQ(Bytes(*Parse("kC  ")), std::string("\0", 1));  // Ctrl-Space
    EXPECT_EQ(Bytes(*Parse("k- \xc3\xa9")), "\xe9");         // é: one byte
    // No counterpart: nothing is sent, nothing guessed.
    EXPECT_EQ(Bytes(*Parse("k- \xe2\x82\xac")), "(none)");  // €
    EXPECT_EQ(Bytes(*Parse("k- F9")), "(none)");
    EXPECT_EQ(Bytes(*Parse("kS Tab")), "(none)");
    EXPECT_EQ(Bytes(*Parse("k-ArrowUp")), "(none)");  // no space: malformed
    EXPECT_EQ(Bytes(*Parse("k- \xc3")), "(none)");    // half a character
}

TEST(WebInput, APasteIsTypedEnterAndLeavesOutWhatHasNoByte) {
    unsigned dropped = 0;
    std::unique_ptr<WebInput> paste = Parse("pone\r\ntwo\nthree\r\xe2\x82\xac!", &dropped);
    EXPECT_TRUE(paste->paste);
    EXPECT_EQ(Bytes(*paste), "one\rtwo\rthree\r!");
    EXPECT_EQ(dropped, 1u);
    std::string huge = "p" + std::string(WebPasteCapacity + 5, 'x');
    EXPECT_EQ(Parse(huge, &dropped)->count, WebPasteCapacity);
    EXPECT_EQ(dropped, 5u);  // counted, never written past the buffer
}

TEST(WebInput, ControlsAndHistoryRequests) {
    EXPECT_EQ(Parse("b")->command, WebCommand::Break);
    std::unique_ptr<WebInput> dtr = Parse("d0");
    EXPECT_EQ(dtr->command, WebCommand::Dtr);
    EXPECT_FALSE(dtr->on);
    EXPECT_TRUE(Parse("r1")->on);
    EXPECT_EQ(Parse("r2")->command, WebCommand::Ignore);
    EXPECT_EQ(Parse("t")->command, WebCommand::Take);
    EXPECT_EQ(Parse("h9999")->row, 9999u);
    EXPECT_TRUE(Parse("h-")->live);
    EXPECT_EQ(Parse("h12a")->command, WebCommand::Ignore);
    EXPECT_EQ(Parse("h99999999999999999999")->command, WebCommand::Ignore);  // would overflow
    EXPECT_EQ(Parse("")->command, WebCommand::Ignore);
}

struct Screen {
    Cell cells[ScreenCells];
    WebFrame frame;
    Screen() {
        for (Cell& cell : cells) cell = BlankCell;
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &cells[r * ScreenColumns];
        frame.cursorRow = frame.cursorColumn = 0;
        frame.cursorVisible = true;
        frame.line = "/dev/ttyS0";
        frame.speed = "9600,n,8,1";
        frame.who = "terminal";
        frame.log = false;
    }
    void Put(int row, const char* text) {
        for (int c = 0; text[c] != '\0'; ++c) cells[row * ScreenColumns + c] = Cell(uint8_t(text[c]));
    }
};

std::string Update(WebPageView& view, const WebShown& shown, WebRole role = WebRole::Watcher) {
    std::unique_ptr<char[]> out(new char[WebMessageCapacity]);
    unsigned length = ComposeWebUpdate(view, shown, role, out.get(), WebMessageCapacity);
    return std::string(out.get(), length);
}

TEST(WebView, APageThatFellBehindGetsTheRowsAsTheyAreNowOnce) {
    std::unique_ptr<Screen> s(new Screen());
    std::unique_ptr<WebShown> shown(new WebShown());
    ResetWebShown(*shown);
    WebPageView late;  // a new page: everything
    WebPageView current;
    MarkWebView(current, NoteWebFrame(*shown, s->frame));
    Update(current, *shown);
    std::string first = Update(late, *shown);
    EXPECT_NE(first.find("[23,\""), std::string::npos);
    EXPECT_NE(first.find("\"status\""), std::string::npos);

    for (int turn = 0; turn < 100; ++turn) {  // the page does not read meanwhile
        char text[16];
        std::snprintf(text, sizeof text, "turn %d", turn);
        s->Put(3, text);
        MarkWebView(current, NoteWebFrame(*shown, s->frame));
    }
    std::string caught = Update(current, *shown);
    EXPECT_EQ(caught.substr(0, 22), "{\"t\":\"u\",\"rows\":[[3,\"t");
    EXPECT_NE(caught.find("turn 99"), std::string::npos);
    EXPECT_EQ(caught.find("turn 98"), std::string::npos);  // no backlog
    EXPECT_EQ(caught.find("cursor"), std::string::npos);   // it did not move
    EXPECT_EQ(Update(current, *shown), "");                // nothing more to say
}

TEST(WebView, RowTextIsEightyCharactersOfEscapedUtf8) {
    std::unique_ptr<Screen> s(new Screen());
    std::unique_ptr<WebShown> shown(new WebShown());
    ResetWebShown(*shown);
    s->Put(0, "\"q\" \\ <b>");
    s->cells[20] = 0x2588;  // full block
    s->cells[21] = 0x1b;    // a control byte never reaches JSON raw
    s->cells[22] = 0xD800;  // half a surrogate pair
    s->frame.cursorRow = 5;
    s->frame.cursorColumn = 79;
    s->frame.who = "a \"name\"";
    WebPageView view;
    NoteWebFrame(*shown, s->frame);
    std::string message = Update(view, *shown, WebRole::Writer);
    std::string row0 = "[0,\"\\\"q\\\" \\\\ <b>" + std::string(11, ' ') + "\xe2\x96\x88\\u001b\xef\xbf\xbd" +
                       std::string(57, ' ') + "\"]";
    EXPECT_NE(message.find(row0), std::string::npos) << message.substr(0, 200);
    EXPECT_NE(message.find("\"cursor\":[5,79,true]"), std::string::npos);
    EXPECT_NE(message.find("\"role\":\"writing\""), std::string::npos);
    EXPECT_NE(message.find("\"who\":\"a \\\"name\\\"\""), std::string::npos);
    // The worst screen still fits one message.
    for (Cell& cell : s->cells) cell = 0x01;
    WebPageView again;
    MarkWebView(again, NoteWebFrame(*shown, s->frame));
    EXPECT_GT(Update(again, *shown).size(), 24u * 80 * 6);
}

TEST(WebView, HistoryWindowsAreClampedAndRunIntoTheScreen) {
    History history;
    ASSERT_TRUE(history.Allocate(30));
    Cell row[ScreenColumns];
    for (unsigned n = 1; n <= 40; ++n) {  // 10 forgotten
        for (Cell& cell : row) cell = BlankCell;
        std::string text = "line " + std::to_string(n);
        for (unsigned c = 0; c < text.size(); ++c) row[c] = Cell(text[c]);
        history.Push(row);
    }
    std::unique_ptr<WebShown> shown(new WebShown());
    ResetWebShown(*shown);
    shown->cells[0] = 'S';
    std::unique_ptr<char[]> out(new char[WebMessageCapacity]);
    std::string top(out.get(), ComposeWebHistory(history, *shown, 0, out.get(), WebMessageCapacity));
    EXPECT_NE(top.find("\"first\":10,\"oldest\":10,\"end\":40"), std::string::npos);
    EXPECT_NE(top.find("[\"line 11 "), std::string::npos);
    std::string bottom(out.get(), ComposeWebHistory(history, *shown, 30, out.get(), WebMessageCapacity));
    EXPECT_NE(bottom.find(",\"S "), std::string::npos);  // row 40 is the screen's first
    std::string past(out.get(), ComposeWebHistory(history, *shown, ~0ull, out.get(), WebMessageCapacity));
    EXPECT_NE(past.find("\"first\":40"), std::string::npos);
}

TEST(WebAuth, TokensSessionsAndOrigins) {
    EXPECT_TRUE(WebTokenMatches("open sesame", "open sesame", 11));
    EXPECT_FALSE(WebTokenMatches("open sesame", "open", 4));
    EXPECT_FALSE(WebTokenMatches("open", "open sesame", 11));
    EXPECT_FALSE(WebTokenMatches("", "", 0));  // no token: nobody

    char token[WebTokenCapacity];
    ASSERT_TRUE(WebFormToken("a=1&token=open+sesame%21&b=2", 28, token, sizeof token));
    EXPECT_STREQ(token, "open sesame!");
    EXPECT_FALSE(WebFormToken("token=%2", 8, token, sizeof token));
    EXPECT_FALSE(WebFormToken("tokens=x", 8, token, sizeof token));
    std::string longer = "token=" + std::string(WebTokenCapacity, 'x');
    EXPECT_FALSE(WebFormToken(longer.data(), unsigned(longer.size()), token, sizeof token));

    std::unique_ptr<WebSessions> sessions(new WebSessions());
    uint8_t random[16] = {0xde, 0xad, 0xbe, 0xef};
    std::string id = StartWebSession(*sessions, random);
    EXPECT_EQ(id.size(), WebSessionIdLength);
    EXPECT_TRUE(WebCookieHasSession(*sessions, ("x=1; brisvane_session=" + id + "; y=2").c_str()));
    EXPECT_FALSE(WebCookieHasSession(*sessions, ("brisvane_session=" + id + "0").c_str()));
    EXPECT_FALSE(WebCookieHasSession(*sessions, ("other_session=" + id).c_str()));
    EXPECT_FALSE(WebCookieHasSession(*sessions, ""));
    // An empty slot is no session.
    EXPECT_FALSE(WebCookieHasSession(*sessions, ("brisvane_session=" + std::string(32, '\0')).c_str()));

    EXPECT_TRUE(WebOriginMatches("http://127.0.0.1:8080", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebOriginMatches("http://127.0.0.1:8080", "127.0.0.1:8080", true));
    EXPECT_FALSE(WebOriginMatches("http://127.0.0.1:8080.evil", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebOriginMatches("null", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebOriginMatches("http://", "", false));

    EXPECT_EQ(ClassifyWebPath("/"), WebPath::Page);
    EXPECT_EQ(ClassifyWebPath("/page.js?v=1"), WebPath::Script);
    EXPECT_EQ(ClassifyWebPath("/login"), WebPath::Login);
    EXPECT_EQ(ClassifyWebPath("/page.js/../../etc/passwd"), WebPath::BadRequest);
    EXPECT_EQ(ClassifyWebPath("/%2e%2E/x"), WebPath::BadRequest);
    EXPECT_EQ(ClassifyWebPath("/favicon.ico"), WebPath::NotFound);
    EXPECT_EQ(ClassifyWebPath(("/" + std::string(400, 'a')).c_str()), WebPath::NotFound);
}

}  // namespace
