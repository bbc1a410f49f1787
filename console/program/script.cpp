#include "console/program/script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "console/line/clock.h"
#include "console/program/session.h"
#include "console/program/line_controls.h"
#include "console/program/send.h"
#include "console/program/prompt.h"
#include "console/program/tests.h"
#include "core/screen.h"

namespace {

const size_t MemoryLimit = 64u << 20;
const int64_t SliceMilliseconds = 20;          // then a busy script lets the loop run
const int64_t NestedLimitMilliseconds = 2000;  // where it cannot be yielded
const int HookInstructions = 10000;
const unsigned SendPiece = 4096;

// The calls a script sees, written in Lua over the few primitives below, so
// an error names the script's own line (level 2).
const char Prelude[] = R"lua(
local P = ...
local find, sub, unpack = string.find, string.sub, table.unpack
local function finite(ms) return type(ms) == "number" and ms == ms and ms > -math.huge and ms < math.huge end
-- The line a call names by its label: nil for the script's own, else its
-- number. An error names the script's line (the call's caller).
local function on(who, label)
  if label == nil then return nil end
  if type(label) ~= "string" then error(who .. ": name the line by its label", 3) end
  local n, why = P.line(label)
  if n == nil then error(who .. ": " .. why, 3) end
  return n
end
function sleep(ms)
  if not finite(ms) then error("sleep: give a number of milliseconds", 2) end
  local deadline = P.now() + ms
  while P.now() < deadline do P.wait(deadline, false) end
end
function expect(pattern, ms, label)
  if type(pattern) ~= "string" then error("expect: the pattern must be a string", 2) end
  if ms ~= nil and not finite(ms) then error("expect: the timeout is a number of milliseconds", 2) end
  local n = on("expect", label)
  local began = P.now()
  local deadline = ms and began + ms
  while true do
    local text = P.text(n)
    local found = {pcall(find, text, pattern)}
    if not found[1] then error("expect: " .. tostring(found[2]), 2) end
    if found[2] then
      P.consume(n, found[3])
      return sub(text, found[2], found[3]), unpack(found, 4)
    end
    if deadline and P.now() >= deadline then
      -- Inside a test a timeout fails it, and ends it here.
      if P.expired(pattern, P.now() - began) then error("expect '" .. pattern .. "' timed out", 2) end
      return nil
    end
    P.wait(deadline, true, pattern, n)
  end
end
function test(name, body)
  if type(name) ~= "string" then error("test: give the test a name", 2) end
  if type(body) ~= "function" then error("test: give the test a function to run", 2) end
  if not P.begin(name) then error("test: a test cannot run inside another", 2) end
  local ok, fault = pcall(body)
  if not ok and type(fault) ~= "string" then fault = tostring(fault) end
  P.finish(not ok and fault or nil)
  return ok
end
local function put(text, raw, who, n)
  if type(text) == "number" then text = tostring(text) end
  if type(text) ~= "string" then error(who .. ": give a string", 3) end
  local at = 1
  while at <= #text do
    local piece = sub(text, at, at + 4095)
    if P.queue(n, piece, raw) then at = at + #piece else P.wait(P.now() + 10, false) end
  end
end
function send(text, label) put(text, false, "send", on("send", label)) end
function send_raw(bytes, label) put(bytes, true, "send_raw", on("send_raw", label)) end
function break_(label) return P.control(on("break_", label), 0, true) end
function dtr(set, label) return P.control(on("dtr", label), 1, set and true or false) end
function rts(set, label) return P.control(on("rts", label), 2, set and true or false) end
function log(text, label) P.log(on("log", label), tostring(text)) end
function exit(code)
  if code ~= nil and math.type(code) ~= "integer" then error("exit: the code must be a whole number", 2) end
  P.exit(code or 0)
end
function row(n, label)
  if math.type(n) ~= "integer" or n < 1 or n > 24 then error("row: give a row from 1 to 24", 2) end
  return P.row(on("row", label), n)
end
function rows(label)
  local k, all = on("rows", label), {}
  for n = 1, 24 do all[n] = P.row(k, n) end
  return all
end
print = function(...)
  local parts = {}
  for i = 1, select("#", ...) do parts[i] = tostring((select(i, ...))) end
  log(table.concat(parts, "\t"))
end
os.exit = exit
-- What would wait outside the loop (a command, the keyboard, a FIFO or a
-- device) is not there: the screen, the keys and the line would stop.
local function refuse(name, instead) return function() P.refuse(name, instead) end end
os.execute = refuse("os.execute", "sleep(ms) pauses; run commands before or after")
io.popen = refuse("io.popen", "run commands before or after")
io.read = refuse("io.read", "expect() reads the line")
io.input = refuse("io.input", "io.open(file):read()")
io.stdin = nil
local function regular(path, name)
  if type(path) == "string" and not P.regular(path) then P.refuse(name .. " " .. path, "regular files only") end
end
local open, lines, output, load_file = io.open, io.lines, io.output, loadfile
function io.open(path, ...) regular(path, "io.open"); return open(path, ...) end
function io.lines(path, ...)
  if path == nil then P.refuse("io.lines on standard input", "expect() reads the line") end
  regular(path, "io.lines"); return lines(path, ...)
end
function io.output(path) regular(path, "io.output"); return output(path) end
function loadfile(path, mode, ...)
  if path == nil then P.refuse("loadfile of standard input", "give a file") end
  regular(path, "loadfile"); return load_file(path, "t", ...)
end
function dofile(path)
  local chunk = assert(loadfile(path))
  return chunk()
end
-- Text chunks only: a compiled one is not checked and can break the VM.
local load_chunk = load
function load(chunk, name, mode, ...) return load_chunk(chunk, name, "t", ...) end
-- Lua modules only: a shared object would run anything, outside the loop.
-- The search checks each name is a regular file before it opens it.
local package = package
package.loadlib, package.cpath = nil, ""
package.searchers = {package.searchers[1], function(name)
  local base, tried = name:gsub("%.", "/"), {}
  for template in package.path:gmatch("[^;]+") do
    local file = template:gsub("%?", function() return base end)
    regular(file, "require")
    local found = open(file)
    if found then
      found:close()
      local chunk, fault = load_file(file, "t")
      if not chunk then error(("error loading module '%s' from file '%s':\n\t%s"):format(name, file, fault), 0) end
      return chunk, file
    end
    tried[#tried + 1] = "no file '" .. file .. "'"
  end
  return table.concat(tried, "\n\t")
end}
function mark(name, label)
  if type(name) ~= "string" then error("mark: give the mark a name", 2) end
  P.mark(on("mark", label), name)
end
local function transfer(who, protocol, sending, path, n)
  if type(protocol) ~= "string" or type(path) ~= "string" then
    error(who .. ": give a protocol and a file or folder name", 3)
  end
  local started, why = P.transfer(n, protocol, sending, path)
  if started == nil then error(who .. ": " .. why, 3) end
  if not started then return false, 0, why end
  while P.transferring(n) do P.wait(P.now() + 20, false) end
  return P.outcome(n)
end
-- A capture has no end of its own: it ends when the line has been quiet
-- for `quiet` ms (2000 unless given).
local function capture(protocol, path, quiet, k)
  quiet = quiet == nil and 2000 or quiet
  if type(path) ~= "string" then error("receive_file: give a file name", 3) end
  if type(quiet) ~= "number" or quiet ~= quiet or quiet < 0 or quiet == math.huge then
    error("receive_file: the quiet time is a number of milliseconds", 3)
  end
  local started, why = P.capture(k, protocol, path)
  if not started then return false, 0, why end
  local seen, last = P.captured(k), P.now()
  while true do
    P.wait(P.now() + 20, false)
    local n = P.captured(k)
    if n == nil then break end
    if n ~= seen then seen, last = n, P.now() elseif P.now() - last >= quiet then break end
  end
  return P.endcapture(k)
end
function send_file(protocol, path, label)
  return transfer("send_file", protocol, true, path, on("send_file", label))
end
function receive_file(protocol, folder, quiet, label)
  if type(quiet) == "string" and label == nil then quiet, label = nil, quiet end
  local n = on("receive_file", label)
  if protocol == "raw" or protocol == "text" then return capture(protocol, folder, quiet, n) end
  return transfer("receive_file", protocol, false, folder, n)
end
-- line(label): the same calls on that line, as line("bmc").send(text) or
-- line("bmc"):send(text). They are the ones above, whatever the script
-- names its own functions.
local calls = {expect = expect, send = send, send_raw = send_raw, break_ = break_, dtr = dtr, rts = rts,
  log = log, row = row, rows = rows, mark = mark, send_file = send_file, receive_file = receive_file}
local width = {expect = 2, send = 1, send_raw = 1, break_ = 0, dtr = 1, rts = 1, log = 1, row = 1, rows = 0,
  mark = 1, send_file = 2, receive_file = 3}
function line(label)
  if type(label) ~= "string" then error("line: give the line's label", 2) end
  on("line", label)
  local self = {label = label}
  for name, call in pairs(calls) do
    local count = width[name]
    self[name] = function(first, ...)
      local args = first == self and {...} or {first, ...}
      args[count + 1] = label
      return call(unpack(args, 1, count + 1))
    end
  end
  return self
end
)lua";

Session& Owner(lua_State* L) { return **static_cast<Session**>(lua_getextraspace(L)); }

// The line a call works on: argument `arg` nil for the script's own, else
// its number in the program's lines (line() gave it).
Session& On(lua_State* L, int arg) {
    Session& owner = Owner(L);
    if (lua_isnoneornil(L, arg) || owner.all == nullptr) return owner;
    lua_Integer n = luaL_checkinteger(L, arg);
    if (n < 0 || n >= lua_Integer(owner.all->count)) luaL_error(L, "no line %d", int(n));
    return *owner.all->lines[n];
}

// The script runs with its own line's records the core's. A call on
// another line makes that line's the core's (its screen, its output
// queue), works, and gives them back before it returns: nothing in
// between may raise a Lua error, so results are pushed after Back.
void Visit(Session& owner, Session& line) {
    if (&line != &owner) EnterLine(owner.all->current, line);
}
void Back(Session& owner) {
    if (owner.all != nullptr) EnterLine(owner.all->current, owner);
}

// line(label): its number, or nil and the labels there are.
int FindLabel(lua_State* L) {
    size_t length;
    const char* label = luaL_checklstring(L, 1, &length);
    const LineTable* all = Owner(L).all;
    int n = all != nullptr && std::strlen(label) == length ? FindLine(*all, label) : -1;
    if (n >= 0) {
        lua_pushinteger(L, n);
        return 1;
    }
    lua_pushnil(L);
    if (all == nullptr || all->count < 2) {
        lua_pushfstring(L, "no line '%s': there is one line, with no label", label);
        return 2;
    }
    char names[LinesMax * (LabelCapacity + 2)] = "";
    size_t used = 0;
    for (unsigned i = 0; i < all->count; ++i)
        used += unsigned(std::snprintf(names + used, sizeof names - used, "%s%s", i > 0 ? ", " : "",
                                       all->lines[i]->label));
    lua_pushfstring(L, "no line '%s': the lines are %s", label, names);
    return 2;
}

void* Allocate(void* user, void* block, size_t old, size_t size) {
    Script& script = *static_cast<Script*>(user);
    if (block == nullptr) old = 0;
    if (size == 0) {
        std::free(block);
        script.memory -= old;
        return nullptr;
    }
    if (size > old && script.memory + (size - old) > MemoryLimit) return nullptr;
    void* grown = std::realloc(block, size);
    if (grown != nullptr) script.memory = script.memory - old + size;
    return grown;
}

// wait(deadline or nil, wants text, pattern, line): yields until then, or
// new text on that line.
int Wait(lua_State* L) {
    Script& s = Owner(L).features.script;
    const ScriptText& text = On(L, 4).features.script.text;
    if (L != s.thread)
        return luaL_error(
            L, "expect, sleep and send wait only in the script itself, not in a coroutine of its own");
    double deadline = lua_isnoneornil(L, 1) ? 1e300 : luaL_checknumber(L, 1);
    if (deadline < 0) deadline = 0;
    s.resumeAt = deadline < 9e18 ? int64_t(deadline) : NoDeadline;  // NaN and the far future alike
    s.waitsForText = lua_toboolean(L, 2);
    s.waitText = &text;
    s.seen = text.added;
    const char* pattern = lua_tostring(L, 3);
    if (pattern == nullptr) {
        s.expecting.clear();
    } else if (s.expecting != pattern) {
        s.expecting = pattern;
        s.expectingSince = MonotonicMilliseconds();
    }
    return lua_yield(L, 0);
}

// The loop's time at this resume: waits are measured on the loop's clock.
int Now(lua_State* L) {
    lua_pushinteger(L, Owner(L).features.script.now);
    return 1;
}

// text(line): what that line received since its last match.
int Text(lua_State* L) {
    const ScriptText& text = On(L, 1).features.script.text;
    const uint8_t *first, *second;
    unsigned firstCount, secondCount;
    TextRuns(text, &first, &firstCount, &second, &secondCount);
    lua_pushlstring(L, reinterpret_cast<const char*>(first), firstCount);
    lua_pushlstring(L, reinterpret_cast<const char*>(second), secondCount);
    lua_concat(L, 2);
    return 1;
}

int Consume(lua_State* L) {
    ScriptText& text = On(L, 1).features.script.text;
    lua_Integer count = luaL_checkinteger(L, 2);
    Script& s = Owner(L).features.script;
    if (count > 0) ConsumeText(text, unsigned(count));
    s.expecting.clear();  // it matched
    return 0;
}

// queue(line, bytes, raw): all of them or none; false while the line is
// not open or has no room.
int QueueBytes(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    size_t length;
    const char* bytes = luaL_checklstring(L, 2, &length);
    SendSource source = lua_toboolean(L, 3) ? SendSource::ScriptRaw : SendSource::Script;
    bool taken = false;
    if (length <= SendPiece) {
        Visit(owner, c);  // a local echo goes to its screen
        taken = Send(c, source, reinterpret_cast<const uint8_t*>(bytes), unsigned(length)) == length;
        Back(owner);
    }
    lua_pushboolean(L, taken);
    return 1;
}

// control(line, 0 BREAK, 1 DTR, 2 RTS, on): true when the line did it.
int Control(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    lua_Integer which = luaL_checkinteger(L, 2);
    bool on = lua_toboolean(L, 3);
    Visit(owner, c);
    ControlResult result =
        which == 0 ? SendBreak(c, owner.features.script.now, nullptr)
                   : SetModemOutput(c, which == 1 ? ModemOutput::Dtr : ModemOutput::Rts, on, nullptr);
    Back(owner);
    lua_pushboolean(L, result == ControlResult::Done);
    return 1;
}

// log(line, text)
int Log(lua_State* L) {
    Session& c = On(L, 1);
    const char* text = luaL_checkstring(L, 2);
    c.front->Tell(c, text, false);
    c.features.log.Note(text);
    return 0;
}

// refuse(name, instead): the script asked for something that would wait
// outside the loop. It ends, whatever pcall it is in: the flag outlives
// the error, and RunScript reads it.
int Refuse(lua_State* L) {
    Script& s = Owner(L).features.script;
    const char* name = luaL_checkstring(L, 1);
    const char* instead = luaL_optstring(L, 2, "");
    s.refused = true;
    std::snprintf(s.refusal, sizeof s.refusal, "%s would stop the terminal while it waits (%s)", name,
                  instead);
    if (L == s.thread && lua_isyieldable(L)) return lua_yield(L, 0);
    return luaL_error(L, "%s", s.refusal);
}

// regular(path): true for a regular file, or a name not there yet (made
// as one); false for a FIFO, a device, a folder...
int Regular(lua_State* L) {
    struct stat status;
    const char* path = luaL_checkstring(L, 1);
    lua_pushboolean(L, stat(path, &status) == 0 ? S_ISREG(status.st_mode) : errno == ENOENT);
    return 1;
}

int Exit(lua_State* L) {
    Script& s = Owner(L).features.script;
    lua_Integer code = luaL_checkinteger(L, 1);
    s.exited = true;
    s.exitCode = code < 0 || code > 255 ? 255 : int(code);
    return lua_yield(L, 0);
}

// row(line, n): the line's screen's row n (from 1) as UTF-8, without
// trailing blanks.
int Row(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    lua_Integer n = luaL_checkinteger(L, 2);
    if (n < 1 || n > ScreenRows) return luaL_error(L, "no row %d", int(n));
    Visit(owner, c);
    std::string text = ScreenRowText(int(n - 1));
    Back(owner);
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

// begin(name): false when a test runs already.
int Begin(lua_State* L) {
    lua_pushboolean(L, BeginTest(Owner(L), luaL_checkstring(L, 1)));
    return 1;
}

// finish(fault or nil): the test's function returned or raised `fault`.
int Finish(lua_State* L) {
    EndTest(Owner(L), lua_tostring(L, 1));
    return 0;
}

// expired(pattern, waited ms): an expect gave up; true inside a test.
int Expired(lua_State* L) {
    Session& c = Owner(L);
    Script& s = c.features.script;
    s.expecting.clear();
    if (!s.testOpen) {
        lua_pushboolean(L, false);
        return 1;
    }
    ExpectTimedOut(c, luaL_checkstring(L, 1), int64_t(luaL_checknumber(L, 2)));
    lua_pushboolean(L, true);
    return 1;
}

// A script computing for a whole slice gives the loop its turn. Inside a
// coroutine of the script's own a yield would go to the script, so a long
// computation there is an error instead.
void Hook(lua_State* L, lua_Debug*) {
    Script& s = Owner(L).features.script;
    int64_t ran = MonotonicMilliseconds() - s.sliceStarted;
    if (s.refused) {  // a pcall caught it: end it here, or raise it again
        if (L == s.thread && lua_isyieldable(L)) {
            lua_yield(L, 0);
            return;
        }
        luaL_error(L, "%s", s.refusal);
    }
    if (L != s.thread || !lua_isyieldable(L)) {
        if (ran >= NestedLimitMilliseconds) luaL_error(L, "ran %d ms without waiting", int(ran));
        return;
    }
    if (ran < SliceMilliseconds) return;
    s.resumeAt = 0;
    s.waitsForText = false;
    lua_yield(L, 0);
}

// mark(line, name): a mark on that line, reached now.
int MarkNow(lua_State* L) {
    Session& c = On(L, 1);
    const char* name = luaL_checkstring(L, 2);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (!ReachMark(c.features.marks, name, now))
        return luaL_error(L, "mark: at most %d marks", int(MaxMarks));
    return 0;
}

// What a start gives the script: true, or false and why it did not start.
int Started(lua_State* L, const char* refusal) {
    lua_pushboolean(L, refusal == nullptr);
    if (refusal == nullptr) return 1;
    lua_pushstring(L, refusal);
    return 2;
}

// transfer(line, protocol, sending, path): true once started; false and
// why when it could not start (nothing went on the line); nil and why for
// a protocol with no such transfer.
int StartTransfer(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    Script& s = owner.features.script;
    const char* name = luaL_checkstring(L, 2);
    bool sending = lua_toboolean(L, 3);
    const char* path = luaL_checkstring(L, 4);
    static const char* const Protocols[] = {"xmodem", "ymodem", "zmodem"};
    static const struct {
        const char* name;
        SendState mode;
    } Sends[] = {
        {"raw", SendState::SendRaw}, {"binary", SendState::SendBinary}, {"text", SendState::SendText}};
    int protocol = -1;
    SendState mode = SendState::Idle;
    for (int i = 0; i < 3; ++i) {
        if (std::strcmp(name, Protocols[i]) == 0) protocol = i;
        if (std::strcmp(name, Sends[i].name) == 0) mode = Sends[i].mode;
    }
    if (protocol < 0 && (mode == SendState::Idle || !sending)) {
        lua_pushnil(L);
        lua_pushstring(L, sending ? "the protocol is xmodem, ymodem, zmodem, raw, binary or text"
                                  : "the protocol is xmodem, ymodem, zmodem, raw or text");
        return 2;
    }
    s.transferFailed = true;  // until one ends well
    Visit(owner, c);
    const char* refusal = nullptr;
    char why[NoticeCapacity];
    if (c.link.state != LinkState::Open) {
        refusal = "the line is not open";
    } else if (c.features.protocol.active || SendRunning()) {
        refusal = "a transfer is running already";
    }
    if (refusal == nullptr && mode != SendState::Idle) {
        c.features.transfers.pendingSend = mode;
        StartSend(c.features.transfers, c.options.homeDirectory, path, c.notice);
        if (SendRunning()) s.transfer = 2;
    } else if (refusal == nullptr) {
        // As the menu's: a send gets the full path, a receive runs in its
        // folder (xmodem's name: the file to write there).
        char full[PathCapacity];
        char folder[PathCapacity];
        const char* file = nullptr;
        bool named = ResolvePath(c.options.homeDirectory, path, full, sizeof full);
        std::snprintf(folder, sizeof folder, "%s", full);
        if (named && !sending && protocol == 0) {
            char* slash = std::strrchr(folder, '/');
            if (slash == nullptr) {
                file = full;
                std::snprintf(folder, sizeof folder, ".");
            } else {
                file = full + (slash + 1 - folder);
                slash[slash == folder ? 1 : 0] = '\0';
            }
        }
        struct stat status;
        if (!named) {
            refusal = std::strerror(ENAMETOOLONG);
        } else if (sending && access(full, R_OK) != 0) {
            std::snprintf(why, sizeof why, "cannot open %.200s: %s", path, std::strerror(errno));
            refusal = why;
        } else if (!sending && (stat(folder, &status) != 0 || !S_ISDIR(status.st_mode))) {
            std::snprintf(why, sizeof why, "%.200s: not a folder", folder);
            refusal = why;
        } else {
            StartProtocol(c.features.protocol, Protocol(protocol),
                          sending ? ProtocolDirection::Send : ProtocolDirection::Receive,
                          c.options.protocolCommands[protocol], sending ? c.options.homeDirectory : folder,
                          sending ? full : file, c.notice);
            if (c.features.protocol.active) s.transfer = 1;
        }
    }
    if (refusal == nullptr && s.transfer == 0) refusal = c.notice.text;  // what the start said
    Back(owner);
    return Started(L, refusal);
}

// transferring(line)
int Transferring(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    uint8_t kind = owner.features.script.transfer;
    Visit(owner, c);
    bool running = (kind == 1 && c.features.protocol.active) || (kind == 2 && SendRunning());
    Back(owner);
    lua_pushboolean(L, running);
    return 1;
}

// outcome(line): ok, bytes, and the words said about it.
int Outcome(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    Script& s = owner.features.script;
    bool ok;
    uint64_t bytes;
    char words[NoticeCapacity];
    Visit(owner, c);
    if (s.transfer == 1) {
        const ProtocolRun& run = c.features.protocol;
        const ProtocolProgress& p = run.progress;
        ok = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
        bytes = run.direction == ProtocolDirection::Send ? run.size : p.bytes;
        if (ok) {
            std::snprintf(words, sizeof words, "%s %s",
                          run.direction == ProtocolDirection::Send ? "sent" : "received",
                          p.file[0] != '\0' ? p.file : "nothing");
        } else if (WIFSIGNALED(run.status)) {
            std::snprintf(words, sizeof words, "%s%skilled by signal %d", p.message, p.message[0] ? ": " : "",
                          WTERMSIG(run.status));
        } else {
            std::snprintf(words, sizeof words, "%s%sexit status %d", p.message, p.message[0] ? ": " : "",
                          WEXITSTATUS(run.status));
        }
    } else {
        bytes = c.features.transfers.sendDone;
        ok = bytes == c.features.transfers.sendTotal;
        std::snprintf(words, sizeof words, ok ? "sent %s" : "the send ended early: %s",
                      c.features.transfers.sendName);
    }
    s.transfer = 0;
    s.transferFailed = !ok;
    Back(owner);
    lua_pushboolean(L, ok);
    lua_pushinteger(L, lua_Integer(bytes));
    lua_pushstring(L, words);
    return 3;
}

// capture(line, mode, path): a raw or text capture to `path` (an existing
// file is overwritten: the script named it), or false and why.
int StartCapture(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    Transfers& t = c.features.transfers;
    bool raw = std::strcmp(luaL_checkstring(L, 2), "raw") == 0;
    const char* path = luaL_checkstring(L, 3);
    Visit(owner, c);
    const char* refusal = nullptr;
    if (c.link.state != LinkState::Open) {
        refusal = "the line is not open";
    } else if (Capturing() || c.features.protocol.active) {
        refusal = "a capture or transfer is running already";
    } else {
        t.pendingCapture = raw ? ReceiveMode::CaptureRaw : ReceiveMode::CaptureText;
        Forget(c.notice);
        ChooseCapture(t, c.options.homeDirectory, path, c.notice);
        if (t.askingOverwrite) OverwriteKey(t, 'o', false, c.notice);
        if (!Capturing()) refusal = c.notice.text[0] != '\0' ? c.notice.text : "the capture did not start";
    }
    owner.features.script.transferFailed = refusal != nullptr;
    Back(owner);
    return Started(L, refusal);
}

// captured(line): bytes in the capture file so far; nil once it ended (a
// failed write).
int Captured(lua_State* L) {
    Session& owner = Owner(L);
    Visit(owner, On(L, 1));
    TransferModes modes = CurrentTransferModes();
    Back(owner);
    if (modes.capture == ReceiveMode::Off) {
        lua_pushnil(L);
    } else {
        lua_pushinteger(L, lua_Integer(modes.captured));
    }
    return 1;
}

// endcapture(line): ok, bytes, and the words said about it.
int EndScriptCapture(lua_State* L) {
    Session& owner = Owner(L);
    Session& c = On(L, 1);
    Visit(owner, c);
    uint64_t bytes = CurrentTransferModes().captured;
    char words[NoticeCapacity];
    bool ok = Capturing() && EndCapture(c.features.transfers, words, sizeof words);
    if (!Capturing() && !ok) std::snprintf(words, sizeof words, "%s", c.notice.text);
    Back(owner);
    owner.features.script.transferFailed = !ok;
    lua_pushboolean(L, ok);
    lua_pushinteger(L, lua_Integer(bytes));
    lua_pushstring(L, words);
    return 3;
}

const luaL_Reg Primitives[] = {
    {"wait", Wait},
    {"now", Now},
    {"text", Text},
    {"consume", Consume},
    {"queue", QueueBytes},
    {"control", Control},
    {"log", Log},
    {"exit", Exit},
    {"row", Row},
    {"refuse", Refuse},
    {"regular", Regular},
    {"mark", MarkNow},
    {"transfer", StartTransfer},
    {"transferring", Transferring},
    {"outcome", Outcome},
    {"capture", StartCapture},
    {"captured", Captured},
    {"endcapture", EndScriptCapture},
    {"begin", Begin},
    {"finish", Finish},
    {"expired", Expired},
    {"line", FindLabel},
    {nullptr, nullptr},
};

// Lua's libraries but debug: with it a script could remove the hook that
// gives the loop its turns (and with it the signals and --timeout).
void OpenLibraries(lua_State* L) {
    static const luaL_Reg Libraries[] = {
        {LUA_GNAME, luaopen_base},          {LUA_LOADLIBNAME, luaopen_package},
        {LUA_COLIBNAME, luaopen_coroutine}, {LUA_TABLIBNAME, luaopen_table},
        {LUA_IOLIBNAME, luaopen_io},        {LUA_OSLIBNAME, luaopen_os},
        {LUA_STRLIBNAME, luaopen_string},   {LUA_MATHLIBNAME, luaopen_math},
        {LUA_UTF8LIBNAME, luaopen_utf8},
    };
    for (const luaL_Reg& library : Libraries) {
        luaL_requiref(L, library.name, library.func, 1);
        lua_pop(L, 1);
    }
}

// require finds Lua modules beside the script: package.path is its folder.
void SetModuleFolder(lua_State* L, const char* path) {
    const char* slash = std::strrchr(path, '/');
    lua_getglobal(L, LUA_LOADLIBNAME);
    if (slash == nullptr) {
        lua_pushliteral(L, "./?.lua");
    } else {
        lua_pushlstring(L, path, size_t(slash - path) + 1);
        lua_pushliteral(L, "?.lua");
        lua_concat(L, 2);
    }
    lua_setfield(L, -2, "path");
    lua_pop(L, 1);
}

void Close(Script& s) {
    if (s.state != nullptr) lua_close(s.state);
    s.state = s.thread = nullptr;
    s.text.listening = false;
}

// While a script runs every line's text is kept for its expect(), even on
// a line that runs none: on at the start (a line not kept before starts
// empty), off once no script runs on any.
void Listen(Session& c) {
    Script& s = c.features.script;
    ClearText(s.text);
    s.text.listening = true;
    for (unsigned i = 0; c.all != nullptr && i < c.all->count; ++i) {
        ScriptText& text = c.all->lines[i]->features.script.text;
        if (!text.listening) ClearText(text);
        text.listening = true;
    }
}
void StopListening(Session& c) {
    if (c.all == nullptr) return;  // Close turned its own off
    bool running = false;
    for (unsigned i = 0; i < c.all->count; ++i) running |= ScriptRunning(c.all->lines[i]->features.script);
    for (unsigned i = 0; i < c.all->count; ++i) c.all->lines[i]->features.script.text.listening = running;
}

void Failed(Session& c, const char* what, const char* message) {
    char text[1024];
    std::snprintf(text, sizeof text, "%s: %s", what, message);
    c.front->Tell(c, text, true);
}

}  // namespace

Script::~Script() { Close(*this); }

bool StartScript(Session& c, const char* path, int64_t now) {
    Script& s = c.features.script;
    Close(s);
    s.memory = 0;
    lua_State* L = lua_newstate(Allocate, &s);
    if (L == nullptr) {
        Failed(c, "script", "no memory for Lua");
        return false;
    }
    s.state = L;
    *static_cast<Session**>(lua_getextraspace(L)) = &c;
    OpenLibraries(L);
    luaL_newlib(L, Primitives);
    if (luaL_loadbuffer(L, Prelude, sizeof Prelude - 1, "=prelude") != LUA_OK ||
        (lua_insert(L, -2), lua_pcall(L, 1, 0, 0)) != LUA_OK) {
        Failed(c, "script", lua_tostring(L, -1));  // a fault of ours, kept visible
        Close(s);
        return false;
    }
    SetModuleFolder(L, path);
    s.thread = lua_newthread(L);  // stays on the main stack, so it lives
    if (luaL_loadfilex(s.thread, path, "t") != LUA_OK) {
        Failed(c, "script", lua_tostring(s.thread, -1));
        Close(s);
        return false;
    }
    lua_sethook(s.thread, Hook, LUA_MASKCOUNT, HookInstructions);
    std::snprintf(s.name, sizeof s.name, "%s", path);
    s.resumeAt = now;
    s.waitsForText = false;
    s.exited = false;
    s.exitCode = 0;
    s.refused = false;
    s.transfer = 0;
    s.transferFailed = false;
    s.expecting.clear();
    s.testOpen = false;
    s.tests.clear();
    Listen(c);
    s.waitText = nullptr;
    s.seen = s.text.added;
    return true;
}

int64_t ScriptDeadline(const Session& c) {
    const Script& s = c.features.script;
    if (!ScriptRunning(s) || s.paused) return NoDeadline;
    const ScriptText& text = s.waitText != nullptr ? *s.waitText : s.text;
    if (s.waitsForText && text.added != s.seen) return 0;
    return s.resumeAt;
}

Reaction RunScript(Session& c, int64_t now) {
    Script& s = c.features.script;
    if (!ScriptRunning(s) || now < ScriptDeadline(c)) return Nothing;
    s.now = now;
    s.sliceStarted = MonotonicMilliseconds();
    int results = 0;
    int status = lua_resume(s.thread, s.state, 0, &results);
    Back(c);  // an error raised while on another line left that one the core's
    if (status == LUA_YIELD && !s.exited && !s.refused) {
        lua_pop(s.thread, results);
        return Nothing;
    }
    const char* base = std::strrchr(s.name, '/');
    base = base != nullptr ? base + 1 : s.name;
    int code = 0;
    if (s.refused) {
        Failed(c, "script stopped", s.refusal);
        code = ScriptRefusedExitCode;
    } else if (s.exited) {
        code = s.exitCode;
    } else if (status == LUA_OK && c.features.batch.on && s.transferFailed) {
        Failed(c, "script", "it ended after a failed transfer");
        code = 1;
    } else if (status == LUA_OK && c.features.batch.on && ChecksFailed(c)) {
        code = 1;  // the summary at exit says which
    } else if (status == LUA_OK) {
        if (!c.front->ScriptEndsRun()) Say(c.notice, "script %s ended", base);
    } else {
        const char* message = lua_tostring(s.thread, -1);
        Failed(c, "script error", message != nullptr ? message : "(not a message)");
        code = 1;
    }
    Close(s);
    StopListening(c);
    if (s.exited || c.front->ScriptEndsRun()) return Leave(c, code);
    return Nothing;
}

void StopScript(Session& c) {
    Close(c.features.script);
    StopListening(c);
}
