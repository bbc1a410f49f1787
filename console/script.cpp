#include "console/script.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "console/batch.h"
#include "console/commands.h"
#include "console/console.h"
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
function sleep(ms)
  if type(ms) ~= "number" then error("sleep: give a number of milliseconds", 2) end
  local deadline = P.now() + ms
  while P.now() < deadline do P.wait(deadline, false) end
end
function expect(pattern, ms)
  if type(pattern) ~= "string" then error("expect: the pattern must be a string", 2) end
  if ms ~= nil and type(ms) ~= "number" then error("expect: the timeout is a number of milliseconds", 2) end
  local deadline = ms and P.now() + ms
  while true do
    local text = P.text()
    local found = {pcall(find, text, pattern)}
    if not found[1] then error("expect: " .. tostring(found[2]), 2) end
    if found[2] then
      P.consume(found[3])
      return sub(text, found[2], found[3]), unpack(found, 4)
    end
    if deadline and P.now() >= deadline then return nil end
    P.wait(deadline, true)
  end
end
local function put(text, raw, who)
  if type(text) == "number" then text = tostring(text) end
  if type(text) ~= "string" then error(who .. ": give a string", 3) end
  local at = 1
  while at <= #text do
    local piece = sub(text, at, at + 4095)
    if P.queue(piece, raw) then at = at + #piece else P.wait(P.now() + 10, false) end
  end
end
function send(text) put(text, false, "send") end
function send_raw(bytes) put(bytes, true, "send_raw") end
function break_() return P.control(0, true) end
function dtr(on) return P.control(1, on and true or false) end
function rts(on) return P.control(2, on and true or false) end
function log(text) P.log(tostring(text)) end
function exit(code)
  if code ~= nil and math.type(code) ~= "integer" then error("exit: the code must be a whole number", 2) end
  P.exit(code or 0)
end
function row(n)
  if math.type(n) ~= "integer" or n < 1 or n > 24 then error("row: give a row from 1 to 24", 2) end
  return P.row(n)
end
function rows()
  local all = {}
  for n = 1, 24 do all[n] = P.row(n) end
  return all
end
print = function(...)
  local parts = {}
  for i = 1, select("#", ...) do parts[i] = tostring((select(i, ...))) end
  log(table.concat(parts, "\t"))
end
os.exit = exit
)lua";

Console& Owner(lua_State* L) { return **static_cast<Console**>(lua_getextraspace(L)); }

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

// wait(deadline or nil, wants text): yields until then, or new text.
int Wait(lua_State* L) {
    Script& s = Owner(L).script;
    if (L != s.thread)
        return luaL_error(
            L, "expect, sleep and send wait only in the script itself, not in a coroutine of its own");
    double deadline = lua_isnoneornil(L, 1) ? 1e300 : luaL_checknumber(L, 1);
    if (deadline < 0) deadline = 0;
    s.resumeAt = deadline < 9e18 ? int64_t(deadline) : NoDeadline;  // NaN and the far future alike
    s.waitsForText = lua_toboolean(L, 2);
    s.seen = s.text.added;
    return lua_yield(L, 0);
}

// The loop's time at this resume: waits are measured on the loop's clock.
int Now(lua_State* L) {
    lua_pushinteger(L, Owner(L).script.now);
    return 1;
}

int Text(lua_State* L) {
    const ScriptText& text = Owner(L).script.text;
    const uint8_t *first, *second;
    unsigned firstCount, secondCount;
    TextRuns(text, &first, &firstCount, &second, &secondCount);
    lua_pushlstring(L, reinterpret_cast<const char*>(first), firstCount);
    lua_pushlstring(L, reinterpret_cast<const char*>(second), secondCount);
    lua_concat(L, 2);
    return 1;
}

int Consume(lua_State* L) {
    lua_Integer count = luaL_checkinteger(L, 1);
    if (count > 0) ConsumeText(Owner(L).script.text, unsigned(count));
    return 0;
}

// queue(bytes, raw): all of them or none; false while the line is not open
// or has no room.
int QueueBytes(lua_State* L) {
    Console& c = Owner(L);
    size_t length;
    const char* bytes = luaL_checklstring(L, 1, &length);
    bool raw = lua_toboolean(L, 2);
    uint8_t wire[SendPiece];
    if (length > sizeof wire || c.link != LinkState::Open) {
        lua_pushboolean(L, false);
        return 1;
    }
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = uint8_t(bytes[i]);
        wire[i] = raw ? byte : Originated(byte, c.options.sevenBit);
    }
    lua_pushboolean(L, c.pump.Queue(wire, unsigned(length), false));
    return 1;
}

// control(0 BREAK, 1 DTR, 2 RTS, on): true when the line did it.
int Control(lua_State* L) {
    Console& c = Owner(L);
    lua_Integer which = luaL_checkinteger(L, 1);
    bool on = lua_toboolean(L, 2);
    ControlResult result = ControlResult::Refused;
    if (c.link == LinkState::Open) {
        if (which == 0) {
            result = c.line->SetBreak(true);
            if (result == ControlResult::Done) c.breakEndsAt = c.script.now + BreakMilliseconds;
        } else {
            ModemOutput output = which == 1 ? ModemOutput::Dtr : ModemOutput::Rts;
            result = c.line->SetModemOutput(output, on);
            if (result == ControlResult::Done) {
                (which == 1 ? c.dtr : c.rts) = on;
                (which == 1 ? c.controls.dtr : c.controls.rts) = on ? 1 : 0;
            }
        }
    }
    lua_pushboolean(L, result == ControlResult::Done);
    return 1;
}

int Log(lua_State* L) {
    Console& c = Owner(L);
    const char* text = luaL_checkstring(L, 1);
    if (c.batch.on) {
        std::fprintf(stderr, "%s\n", text);
    } else {
        Say(c.notice, "%s", text);
    }
    c.log.Note(text);
    return 0;
}

int Exit(lua_State* L) {
    Script& s = Owner(L).script;
    lua_Integer code = luaL_checkinteger(L, 1);
    s.exited = true;
    s.exitCode = code < 0 || code > 255 ? 255 : int(code);
    return lua_yield(L, 0);
}

// row(n): the screen's row n (from 1) as UTF-8, without trailing blanks.
int Row(lua_State* L) {
    lua_Integer n = luaL_checkinteger(L, 1);
    if (n < 1 || n > ScreenRows) return luaL_error(L, "no row %d", int(n));
    const Cell* cells = &screen.cells[(n - 1) * ScreenColumns];
    int length = ScreenColumns;
    while (length > 0 && cells[length - 1] == BlankCell) --length;
    char text[ScreenColumns * 3 + 1];
    unsigned used = 0;
    for (int i = 0; i < length; ++i) {
        Cell cell = cells[i];
        if (cell < 0x80) {
            text[used++] = char(cell);
        } else if (cell < 0x800) {
            text[used++] = char(0xC0 | (cell >> 6));
            text[used++] = char(0x80 | (cell & 0x3F));
        } else {
            text[used++] = char(0xE0 | (cell >> 12));
            text[used++] = char(0x80 | ((cell >> 6) & 0x3F));
            text[used++] = char(0x80 | (cell & 0x3F));
        }
    }
    lua_pushlstring(L, text, used);
    return 1;
}

// A script computing for a whole slice gives the loop its turn. Inside a
// coroutine of the script's own a yield would go to the script, so a long
// computation there is an error instead.
void Hook(lua_State* L, lua_Debug*) {
    Script& s = Owner(L).script;
    int64_t ran = MonotonicMilliseconds() - s.sliceStarted;
    if (L != s.thread || !lua_isyieldable(L)) {
        if (ran >= NestedLimitMilliseconds) luaL_error(L, "ran %d ms without waiting", int(ran));
        return;
    }
    if (ran < SliceMilliseconds) return;
    s.resumeAt = 0;
    s.waitsForText = false;
    lua_yield(L, 0);
}

const luaL_Reg Primitives[] = {
    {"wait", Wait},       {"now", Now}, {"text", Text}, {"consume", Consume}, {"queue", QueueBytes},
    {"control", Control}, {"log", Log}, {"exit", Exit}, {"row", Row},         {nullptr, nullptr},
};

void Close(Script& s) {
    if (s.state != nullptr) lua_close(s.state);
    s.state = s.thread = nullptr;
}

void Failed(Console& c, const char* what, const char* message) {
    if (c.batch.on) {
        std::fprintf(stderr, "brisvane: %s: %s\n", what, message);
    } else {
        Say(c.notice, "%s: %s", what, message);
    }
}

}  // namespace

bool StartScript(Console& c, const char* path, int64_t now) {
    Script& s = c.script;
    Close(s);
    s.memory = 0;
    lua_State* L = lua_newstate(Allocate, &s);
    if (L == nullptr) {
        Failed(c, "script", "no memory for Lua");
        return false;
    }
    s.state = L;
    *static_cast<Console**>(lua_getextraspace(L)) = &c;
    luaL_openlibs(L);
    luaL_newlib(L, Primitives);
    if (luaL_loadbuffer(L, Prelude, sizeof Prelude - 1, "=prelude") != LUA_OK ||
        (lua_insert(L, -2), lua_pcall(L, 1, 0, 0)) != LUA_OK) {
        Failed(c, "script", lua_tostring(L, -1));  // a fault of ours, kept visible
        Close(s);
        return false;
    }
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
    ClearText(s.text);
    s.seen = s.text.added;
    return true;
}

int64_t ScriptDeadline(const Console& c) {
    const Script& s = c.script;
    if (!ScriptRunning(s) || s.paused) return NoDeadline;
    if (s.waitsForText && s.text.added != s.seen) return 0;
    return s.resumeAt;
}

Reaction RunScript(Console& c, int64_t now) {
    Script& s = c.script;
    if (!ScriptRunning(s) || now < ScriptDeadline(c)) return Nothing;
    s.now = now;
    s.sliceStarted = MonotonicMilliseconds();
    int results = 0;
    int status = lua_resume(s.thread, s.state, 0, &results);
    if (status == LUA_YIELD && !s.exited) {
        lua_pop(s.thread, results);
        return Nothing;
    }
    const char* base = std::strrchr(s.name, '/');
    base = base != nullptr ? base + 1 : s.name;
    int code = 0;
    if (s.exited) {
        code = s.exitCode;
    } else if (status == LUA_OK) {
        if (!c.batch.on) Say(c.notice, "script %s ended", base);
    } else {
        const char* message = lua_tostring(s.thread, -1);
        Failed(c, "script error", message != nullptr ? message : "(not a message)");
        code = 1;
    }
    Close(s);
    // A served line goes on without its script.
    if (s.exited || (c.batch.on && !c.options.serve)) return Leave(c, code);
    return Nothing;
}

void StopScript(Console& c) { Close(c.script); }
