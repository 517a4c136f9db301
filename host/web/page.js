"use strict";

// The panel front as the desktop program draws it: the picture, the display
// window in it and the four key areas (bounds inclusive, in hit-test order;
// row 218 between the halves of the middle key belongs to neither).
const FRONT = { width: 302, height: 305, displayLeft: 80, displayTop: 118 };
const KEYS = [
  { name: "left", left: 74, right: 110, top: 199, bottom: 220, arrow: "ArrowLeft" },
  { name: "right", left: 174, right: 210, top: 199, bottom: 220, arrow: "ArrowRight" },
  { name: "up", left: 122, right: 158, top: 202, bottom: 217, arrow: "ArrowUp" },
  { name: "down", left: 122, right: 158, top: 219, bottom: 237, arrow: "ArrowDown" },
];
const THEMES = {
  lcd: ["#000000", "#bce165"],
  blue: ["#ecf2ff", "#1c40c4"],
  oled: ["#e8f0ff", "#000000"],
  amber: ["#ffb000", "#180e00"],
  print: ["#000000", "#ffffff"],
};
const LOG_ROWS = 1000;
const LOG_EVERY_MS = 250;
const PAINT_LATENCIES = 10000;
const pendingRows = [];
let rowsPending = false;

const token = new URLSearchParams(location.search).get("token");
const readOnly = document.body.dataset.mode === "read-only";
const canvas = document.getElementById("panel");
const context = canvas.getContext("2d");
const fronts = {};
let socket = null;
let nextId = 1;
const asked = new Map();
let pages = null;
let received = { t: 0, changes: 0 };
let drawPending = false;
let zoom = 1;
let held = null;
let lastStatus = null;
let paused = 0;

// What the page last painted: the engine time of the change and its count,
// which tests and the latency benchmark read.
window.quillonPainted = { t: 0, changes: 0 };
// How long after each change the page painted it, in ms on the engine's
// clock, as the server answered the page's echo of the change's time.
window.quillonPaintLatencies = [];

function send(request, purpose) {
  if (!socket || socket.readyState !== WebSocket.OPEN) {
    return;
  }
  request.id = nextId++;
  asked.set(request.id, purpose || request.cmd);
  socket.send(JSON.stringify(request));
}

function frontPicture(scale) {
  if (!fronts[scale]) {
    fronts[scale] = new Image();
    fronts[scale].onload = () => draw();
    fronts[scale].src = `panel-${scale}x.png`;
  }
  return fronts[scale];
}

function fitZoom() {
  const chosen = document.getElementById("zoom").value;
  if (chosen !== "auto") {
    return Number(chosen);
  }
  const wide = window.innerWidth >= FRONT.width + 400;
  const width = wide ? window.innerWidth - 400 : window.innerWidth - 16;
  const fit = Math.floor(Math.min(width / FRONT.width, (window.innerHeight - 16) / FRONT.height));
  return Math.max(1, Math.min(4, fit));
}

function draw() {
  drawPending = false;
  zoom = fitZoom();
  if (canvas.width !== FRONT.width * zoom) {
    canvas.width = FRONT.width * zoom;
    canvas.height = FRONT.height * zoom;
  }
  context.imageSmoothingEnabled = false;
  const picture = frontPicture(zoom);
  if (picture.complete && picture.naturalWidth > 0) {
    context.drawImage(picture, 0, 0, canvas.width, canvas.height);
  }
  if (held) {
    context.fillStyle = "rgba(0, 0, 0, 0.25)";
    context.fillRect(held.left * zoom, held.top * zoom, (held.right - held.left + 1) * zoom,
                     (held.bottom - held.top + 1) * zoom);
  }
  drawDisplay();
  if (pages && received.changes !== window.quillonPainted.changes) {
    send({ cmd: "painted", t: received.t });
  }
  window.quillonPainted = received;
}

// The display's 128 x 64 dots, from the display memory's pages (8 pages of
// 128 column bytes, bit 0 the top row of the page), drawn into a canvas of
// their own and scaled up by a whole zoom without smoothing: each dot a
// zoom x zoom square, in one copy instead of a square at a time.
const dots = document.createElement("canvas");
dots.width = 128;
dots.height = 64;
const dotsContext = dots.getContext("2d");
const dotsImage = dotsContext.createImageData(128, 64);

const rgb = (colour) => [1, 3, 5].map((at) => parseInt(colour.substr(at, 2), 16));

function drawDisplay() {
  if (!pages) {
    return;
  }
  const [ink, background] = THEMES[document.getElementById("theme").value].map(rgb);
  const data = dotsImage.data;
  pages.forEach((hex, page) => {
    for (let column = 0; column < 128; column++) {
      const byte = parseInt(hex.substr(column * 2, 2), 16);
      for (let bit = 0; bit < 8; bit++) {
        const at = ((page * 8 + bit) * 128 + column) * 4;
        const colour = byte & (1 << bit) ? ink : background;
        data[at] = colour[0];
        data[at + 1] = colour[1];
        data[at + 2] = colour[2];
        data[at + 3] = 255;
      }
    }
  });
  dotsContext.putImageData(dotsImage, 0, 0);
  context.drawImage(dots, FRONT.displayLeft * zoom, FRONT.displayTop * zoom, 128 * zoom, 64 * zoom);
}

function redraw() {
  if (!drawPending) {
    drawPending = true;
    requestAnimationFrame(draw);
  }
}

function keyAt(event) {
  const box = canvas.getBoundingClientRect();
  const x = Math.floor((event.clientX - box.left) / zoom);
  const y = Math.floor((event.clientY - box.top) / zoom);
  return KEYS.find((key) => x >= key.left && x <= key.right && y >= key.top && y <= key.bottom) || null;
}

function press(key) {
  if (held === key) {
    return;
  }
  held = key;
  send({ cmd: "press", key: key.name });
  redraw();
}

function letGo() {
  if (held) {
    held = null;
    send({ cmd: "release" });
    redraw();
  }
}

// Rows are put in the log a few times a second, all that came meanwhile at
// once: laying the log out again takes a slow machine's page longer than an
// animation frame, and done every frame it would delay the display's paint.
function addRow(cells, kind) {
  if (document.getElementById("pause").checked) {
    paused++;
    return;
  }
  pendingRows.push([cells, kind]);
  if (pendingRows.length > LOG_ROWS) {
    pendingRows.shift();
  }
  if (!rowsPending) {
    rowsPending = true;
    setTimeout(() => requestAnimationFrame(flushRows), LOG_EVERY_MS);
  }
}

function flushRows() {
  rowsPending = false;
  const body = document.getElementById("log-rows");
  const rows = document.createDocumentFragment();
  for (const [cells, kind] of pendingRows.splice(0)) {
    const row = document.createElement("div");
    row.className = kind ? "row " + kind : "row";
    for (const cell of cells) {
      row.appendChild(document.createElement("span")).textContent = cell;
    }
    rows.appendChild(row);
  }
  body.appendChild(rows);
  while (body.childElementCount > LOG_ROWS) {
    body.firstElementChild.remove();
  }
  const box = document.getElementById("log-box");
  box.scrollTop = box.scrollHeight;
}

function note(text) {
  addRow(["", "", "", text, ""], "note");
}

// A row of the trace as the protocol monitor words it: time, direction,
// bytes, meaning and error, faults and errors in their colours.
function traceRow(row) {
  const direction = row.kind === "note" ? "" : row.dir === "device" ? "device → panel" : "panel → device";
  const kind = row.kind === "fault" || row.kind === "note" ? row.kind : row.error ? "error" : "";
  return [[row.t.toFixed(3), direction, row.bytes, row.meaning, row.error || ""], kind];
}

function showStatus(reply) {
  const previous = lastStatus;
  lastStatus = { replies: reply.replies, at: performance.now() };
  const seconds = previous ? (lastStatus.at - previous.at) / 1000 : 0;
  const rate = seconds > 0 ? Math.round((reply.replies - previous.replies) / seconds) : 0;
  const device = previous && reply.replies === previous.replies ? "no device answering" : "device connected";
  const faults = reply.faults.length ? reply.faults.join(", ") : "none";
  document.getElementById("status").textContent =
    `${device} · ${rate} replies/s · ${reply.error_replies} error replies · ` +
    `${reply.timeout_replies} time-out replies · faults: ${faults}` + (readOnly ? " · read-only" : "");
}

function takeReply(reply) {
  const purpose = asked.get(reply.id);
  asked.delete(reply.id);
  if (!reply.ok) {
    document.getElementById("message").textContent = reply.error;
    return;
  }
  if (purpose === "painted") {
    window.quillonPaintLatencies.push(reply.latency_ms);
    window.quillonPaintLatencies.splice(0, window.quillonPaintLatencies.length - PAINT_LATENCIES);
  } else if (purpose === "status") {
    showStatus(reply);
  } else if (purpose === "copy-text") {
    const text = reply.rows.map((row) => row.text).join("\n");
    navigator.clipboard.writeText(text).catch(() => {
      document.getElementById("message").textContent = "the browser refused the clipboard; the text: " + text;
    });
  } else if (purpose === "screenshot") {
    const link = document.createElement("a");
    link.href = "data:image/png;base64," + reply.png;
    link.download = "panel.png";
    link.click();
  }
}

function receive(message) {
  const data = JSON.parse(message.data);
  if (data.event === "display") {
    pages = data.pages;
    received = { t: data.t, changes: data.changes };
    redraw();
  } else if (data.event === "row") {
    addRow(...traceRow(data.row));
  } else if (data.event === "not-shown") {
    note(data.count + " rows not shown");
  } else {
    takeReply(data);
  }
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  socket = new WebSocket(`${scheme}://${location.host}/ws` + (token ? "?token=" + encodeURIComponent(token) : ""));
  socket.onopen = () => {
    document.getElementById("message").textContent = "";
    if (!document.hidden) {
      send({ cmd: "subscribe", rows: true });
    }
    send({ cmd: "status" });
  };
  socket.onmessage = receive;
  socket.onclose = () => {
    held = null;
    document.getElementById("status").textContent = "disconnected; trying again…";
    setTimeout(connect, 2000);
  };
}

function wire() {
  canvas.addEventListener("pointerdown", (event) => {
    const key = keyAt(event);
    if (key) {
      canvas.setPointerCapture(event.pointerId);
      press(key);
      event.preventDefault();
    }
  });
  for (const name of ["pointerup", "pointercancel", "lostpointercapture", "pointerleave"]) {
    canvas.addEventListener(name, letGo);
  }
  window.addEventListener("keydown", (event) => {
    const key = KEYS.find((k) => k.arrow === event.key);
    if (key && !event.altKey && !event.ctrlKey && !event.metaKey && !event.shiftKey) {
      event.preventDefault();
      if (!event.repeat) {
        press(key);
      }
    }
  });
  window.addEventListener("keyup", (event) => {
    if (held && held.arrow === event.key) {
      letGo();
    }
  });
  window.addEventListener("blur", letGo);
  window.addEventListener("resize", redraw);
  // A hidden page gets nothing, and shown again it starts from the panel as
  // it is now instead of a backlog.
  document.addEventListener("visibilitychange", () => {
    if (document.hidden) {
      letGo();
      send({ cmd: "unsubscribe" });
    } else {
      note("page shown again: the rows meanwhile are not shown");
      send({ cmd: "subscribe", rows: true });
    }
  });
  wireButtons();
}

function wireButtons() {
  const click = (id, action) => document.getElementById(id).addEventListener("click", action);
  click("screenshot", () => send({ cmd: "screenshot", scale: zoom }, "screenshot"));
  click("copy-text", () => send({ cmd: "text" }, "copy-text"));
  click("unplug", () => send({ cmd: "fault", kind: "unplug", for: 2000 }));
  click("drop-reply", () => send({ cmd: "fault", kind: "drop-reply", at: 1 }));
  click("clear-faults", () => send({ cmd: "clear-faults" }));
  document.getElementById("zoom").addEventListener("change", redraw);
  document.getElementById("theme").addEventListener("change", redraw);
  document.getElementById("errors-only").addEventListener("change", (event) => {
    document.getElementById("log").classList.toggle("errors-only", event.target.checked);
  });
  document.getElementById("pause").addEventListener("change", (event) => {
    if (!event.target.checked && paused > 0) {
      const count = paused;
      paused = 0;
      note(`${count} rows not shown while paused`);
    }
  });
  setInterval(() => send({ cmd: "status" }), 1000);
}

wire();
redraw();
connect();
