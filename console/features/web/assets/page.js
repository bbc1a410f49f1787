// The page: draws the screen the server sends, sends keys, pastes and
// controls back; for a replay, a slider that follows it and moves it.
// Row text is always set as text, never as HTML.
"use strict";

const Rows = 24, Columns = 80, PasteChunk = 4096;
const $ = (id) => document.getElementById(id);
const live = [];            // the screen's rows as the server last sent them
let cursor = [0, 0, false];
let role = "watching";
let history = null;         // {first, oldest, end, rows} while scrolled back
let socket = null;
let opened = false;
const rowElements = [];
const modem = {dtr: true, rts: true};

function blank() { return " ".repeat(Columns); }

function drawRow(r) {
  const el = rowElements[r];
  const text = history ? history.rows[r] : live[r];
  el.replaceChildren();
  if (!history && cursor[2] && cursor[0] === r) {
    const c = cursor[1];
    const mark = document.createElement("span");
    mark.className = "cursor";
    mark.textContent = text.slice(c, c + 1);
    el.append(document.createTextNode(text.slice(0, c)), mark, document.createTextNode(text.slice(c + 1)));
  } else {
    el.textContent = text;
  }
}

function drawAll() { for (let r = 0; r < Rows; r++) drawRow(r); }

function say(text) { $("notice").textContent = text; }

function showWhy(text) {
  $("why").textContent = text;
  $("why").hidden = !text;
}

let status = {role: "", line: "", speed: "", who: "", log: false};  // nothing until the server says
function drawStatus() {
  $("role").textContent = status.role;
  $("line").textContent = status.line;
  $("speed").textContent = status.speed;
  $("who").textContent = status.who;
  $("where").textContent = history ? "history: row " + (history.first + 1) + " of " + (history.end + Rows) : "";
  $("log").hidden = !status.log;
  document.body.className = role;
  $("terminal").classList.toggle("history", history !== null);
}

function receive(event) {
  let m;
  try { m = JSON.parse(event.data); } catch (e) { return; }
  if (m.t === "u") {
    const old = cursor;
    // A tab out of sight keeps the rows and draws them when it is shown.
    const drawing = !history && !document.hidden;
    if (m.rows) for (const [r, text] of m.rows) { live[r] = text; if (drawing) drawRow(r); }
    if (m.cursor) {
      cursor = m.cursor;
      if (drawing) { drawRow(old[0]); drawRow(cursor[0]); }
    }
    if (m.status) {
      status = m.status;
      role = status.role === "writing" ? "writing" : "watching";
      drawStatus();
    }
  } else if (m.t === "h") {
    history = m.first >= m.end ? null : m;
    drawAll();
    drawStatus();
  } else if (m.t === "n") {
    say(m.text);
  } else if (m.t === "r") {
    receiveReplay(m);
  }
}

// A replay: where the server last said it was, moved on here at its speed
// until it says otherwise.
let replay = null;
let dragging = false;
function replayAt() {
  if (!replay) return 0;
  const moved = replay.paused ? 0 : (performance.now() - replay.since) * replay.speed;
  return Math.min(replay.length, replay.at + moved);
}
function seconds(ms) { return (ms / 1000).toFixed(1) + " s"; }
function drawReplay() {
  if (!replay) return;
  const at = dragging ? Number($("slider").value) : replayAt();
  if (!dragging) $("slider").value = String(Math.round(at));
  $("time").textContent = seconds(at) + " of " + seconds(replay.length) + (replay.paused ? ", paused" : "");
}
function receiveReplay(m) {
  replay = m;
  replay.since = performance.now();
  $("replay").hidden = false;
  $("controls").classList.add("replaying");
  $("slider").max = String(m.length);
  $("slider").disabled = !m.seek;
  $("play").disabled = !m.seek;
  $("play").textContent = m.paused ? "Play" : "Pause";
  $("seekhint").hidden = m.seek;
  const ticks = [], items = [];
  for (const [at, name] of m.marks) {
    const tick = document.createElement("option");
    tick.value = String(at);
    ticks.push(tick);
    const button = document.createElement("button");
    button.type = "button";
    button.className = "mark";
    button.dataset.at = String(at);
    button.textContent = (name || "mark") + " (" + seconds(at) + ")";
    button.disabled = !m.seek;
    button.addEventListener("click", () => seek(at));
    const item = document.createElement("li");
    item.append(button);
    items.push(item);
  }
  $("ticks").replaceChildren(...ticks);
  $("marks").replaceChildren(...items);
  drawReplay();
}
function seek(ms) {
  if (!replay || !replay.seek) { say("watching only: log in with the token to move the replay"); return; }
  replay.at = ms;
  replay.since = performance.now();
  send("j" + Math.max(0, Math.round(ms)));
  drawReplay();
}

function send(text) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(text);
}

// A key as the server names it: modifiers, then the key (keypad keys by place).
function keyName(e) {
  if (["Shift", "Control", "Alt", "Meta", "CapsLock", "NumLock", "Dead", "Unidentified"].includes(e.key)) return null;
  let name = e.key;
  if (e.code && e.code.startsWith("Numpad") && e.code !== "NumpadEnter") name = e.code;
  if (e.key === "Enter") name = "Enter";
  const mods = (e.ctrlKey ? "C" : "") + (e.shiftKey ? "S" : "") + (e.altKey ? "A" : "");
  return (mods || "-") + " " + name;
}

function onKey(e) {
  if (e.metaKey) return;
  if (e.ctrlKey && !e.altKey && (e.key === "v" || e.key === "V")) return;  // the paste event follows
  if (e.ctrlKey && e.key === "c" && String(window.getSelection())) return;  // copying a selection
  const name = keyName(e);
  if (name === null) return;
  e.preventDefault();
  if (role !== "writing") { say("watching: take the line to type"); return; }
  send("k" + name);
}

function onPaste(e) {
  e.preventDefault();
  if (role !== "writing") { say("watching: take the line to paste"); return; }
  const text = e.clipboardData.getData("text");
  for (let i = 0; i < text.length; i += PasteChunk) send("p" + text.slice(i, i + PasteChunk));
}

function scrollTo(row) { send("h" + Math.max(0, row)); }
function pageBy(rows) {
  if (history) {
    const next = history.first + rows;
    if (next >= history.end) goLive(); else scrollTo(next);
  } else if (rows < 0) {
    send("h" + Math.max(0, 1e15));  // the server clamps: its end, then back from there
    pending = rows;
  }
}
let pending = 0;
function goLive() {
  send("h-");
  history = null;
  drawAll();
  drawStatus();
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  socket = new WebSocket(scheme + location.host + "/", "brisvane");
  opened = false;
  socket.onopen = () => { opened = true; showWhy(""); };
  socket.onmessage = (e) => {
    receive(e);
    if (pending && history === null) {
      // The first answer to a page up from the live screen says where the end is.
      try {
        const m = JSON.parse(e.data);
        if (m.t === "h") { const rows = pending; pending = 0; scrollTo(m.end + rows); }
      } catch (x) { /* not ours */ }
    }
  };
  socket.onclose = async () => {
    socket = null;
    if (!opened) { await explain(); return; }
    say("the connection closed: trying again");
    setTimeout(connect, 2000);
  };
}

async function loginState() {
  const answer = await fetch("/login", {credentials: "same-origin", cache: "no-store"});
  return answer.json();
}

// Why a connection was refused, in words.
async function explain() {
  try {
    const s = await loginState();
    if (s.full) showWhy("The server has all 16 pages it takes open: try again later.");
    else if (!s.session && !s.openWatch) loggedOut();
    else showWhy("The server refused the connection.");
  } catch (e) {
    showWhy("The server cannot be reached.");
  }
}

// No session where one is needed: the page shows nothing of the line, and
// says so, rather than an empty screen that looks like a quiet one.
function loggedOut() {
  status.role = "not logged in";
  drawStatus();
  showWhy("Log in with the share token to see the line.");
  $("login").hidden = false;
}

async function start() {
  const screen = $("screen");
  for (let r = 0; r < Rows; r++) {
    const el = document.createElement("div");
    el.className = "row";
    el.id = "row" + r;
    screen.append(el);
    rowElements.push(el);
    live.push(blank());
  }
  drawAll();
  drawStatus();
  const hash = new URLSearchParams(location.hash.slice(1));
  if (hash.has("token")) {
    history_replace();
    await fetch("/login", {method: "POST", credentials: "same-origin", redirect: "manual",
                           headers: {"Content-Type": "application/x-www-form-urlencoded"},
                           body: new URLSearchParams({token: hash.get("token")})});
  }
  const s = await loginState().catch(() => null);
  if (s === null) { showWhy("The server cannot be reached."); return; }
  if (!s.session && !s.openWatch) { loggedOut(); return; }
  if (s.full) { showWhy("The server has all 16 pages it takes open: try again later."); return; }
  if (!s.session) $("login").hidden = false;  // watching; a login lets this page write
  $("terminal").focus();
  connect();
}

// The token leaves the address bar once it is used.
function history_replace() { window.history.replaceState(null, "", location.pathname); }

document.addEventListener("visibilitychange", () => { if (!document.hidden) drawAll(); });
$("terminal").addEventListener("keydown", onKey);
$("terminal").addEventListener("paste", onPaste);
$("terminal").addEventListener("wheel", (e) => { e.preventDefault(); pageBy(e.deltaY < 0 ? -3 : 3); }, {passive: false});
$("take").addEventListener("click", () => { send("t"); $("terminal").focus(); });
$("break").addEventListener("click", () => send("b"));
for (const which of ["dtr", "rts"]) {
  $(which).addEventListener("click", () => {
    modem[which] = !modem[which];
    $(which).setAttribute("aria-pressed", String(modem[which]));
    send(which[0] + (modem[which] ? "1" : "0"));
  });
}
$("top").addEventListener("click", () => scrollTo(0));
$("up").addEventListener("click", () => pageBy(-Rows));
$("down").addEventListener("click", () => pageBy(Rows));
$("live").addEventListener("click", goLive);
$("slider").addEventListener("input", () => { dragging = true; drawReplay(); });
$("slider").addEventListener("change", () => { dragging = false; seek(Number($("slider").value)); });
$("play").addEventListener("click", () => { if (replay) send(replay.paused ? "z0" : "z1"); });
setInterval(drawReplay, 250);
start();
