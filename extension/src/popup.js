// The popup: Varnel's current downloads, refreshed about once a second over one
// native-messaging port (one host process serves every refresh). Everything
// shown comes from Varnel's answers and is written with textContent only; an
// answer of any shape or size must neither break nor freeze the list.
"use strict";

const kRefreshMs = 1000;
// A reply the browser cannot parse is dropped without a word, so a request
// left unanswered this long gives the port up.
const kAnswerTimeoutMs = 10000;
const kShownDownloads = 200;
const kMaxTextLength = 300;
const kStatuses = ["Queued", "Starting", "Downloading", "Paused", "Completed", "Failed", "Verifying", "Cancelled"];
const kPausable = ["Queued", "Starting", "Downloading"];
const kResumable = ["Paused", "Failed", "Cancelled"];
const kCancellable = ["Queued", "Starting", "Downloading", "Paused", "Verifying"];

const list = document.getElementById("downloads");
const state = document.getElementById("state");
const more = document.getElementById("more");
const problem = document.getElementById("problem");
const template = document.getElementById("row");
const rows = new Map(); // download id -> its <li>

let port = null;
// The host answers each message before it reads the next, so replies come
// back in the order of this queue: {kind, sentAt}.
const awaiting = [];

function Text(value, fallback) {
  return typeof value === "string" ? value.slice(0, kMaxTextLength) : fallback;
}

function Count(value) {
  return typeof value === "number" && Number.isFinite(value) && value > 0 ? value : 0;
}

function Bytes(count) {
  const units = ["B", "KiB", "MiB", "GiB", "TiB"];
  let value = count;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    ++unit;
  }
  return (unit === 0 ? String(value) : value.toFixed(1)) + " " + units[unit];
}

function ShowState(text) {
  state.textContent = text;
  state.hidden = text === "";
}

function GiveUp(text) {
  if (port) {
    try {
      port.disconnect();
    } catch (error) {
      // Gone already.
    }
  }
  port = null;
  awaiting.length = 0;
  ShowState(text);
}

function Connect() {
  const opened = ext.runtime.connectNative(kNativeHostName);
  opened.onMessage.addListener((reply) => {
    if (opened === port) OnReply(reply);
  });
  opened.onDisconnect.addListener((gone) => {
    if (opened !== port) return;
    const error = (ext.runtime.lastError && ext.runtime.lastError.message) || (gone.error && gone.error.message);
    GiveUp("Varnel cannot be reached: " + Text(error, "its native host stopped") + ".");
  });
  port = opened;
}

function Send(message, kind) {
  try {
    if (!port) Connect();
    port.postMessage(message);
    awaiting.push({ kind: kind, sentAt: Date.now() });
  } catch (error) {
    GiveUp("Varnel cannot be reached: " + Text(error && error.message, "no native host") + ".");
  }
}

function Refresh() {
  if (awaiting.length > 0 && Date.now() - awaiting[0].sentAt > kAnswerTimeoutMs) {
    GiveUp("Varnel cannot be reached: its native host gave no answer it could read.");
    return;
  }
  if (!awaiting.some((request) => request.kind === "list")) {
    Send({ type: "list_downloads", limit: kShownDownloads }, "list");
  }
}

function OnReply(reply) {
  const request = awaiting.shift();
  const kind = request ? request.kind : "";
  const answer = reply && typeof reply === "object" && !Array.isArray(reply) ? reply : null;
  if (kind === "list") {
    ShowList(answer);
    return;
  }
  if (!answer || answer.ok !== true) ShowState("Varnel refused: " + Text(answer && answer.error, "no reason given") + ".");
  Refresh();
}

// Newest first: ids carry the milliseconds at which they were made.
function Recency(download) {
  const match = /^(?:dl|tor)_(\d{1,16})/.exec(download.id);
  return match ? Number(match[1]) : 0;
}

function ShowList(answer) {
  if (!answer) {
    ShowState("Varnel answered something that is not a list.");
    return;
  }
  if (answer.ok !== true || !Array.isArray(answer.downloads)) {
    ShowState("Varnel did not list its downloads: " + Text(answer.error, "no reason given") + ".");
    return;
  }
  const downloads = answer.downloads.filter(
    (download) => download && typeof download === "object" && typeof download.id === "string" && download.id !== "");
  downloads.sort((a, b) => Recency(b) - Recency(a));
  const shown = downloads.slice(0, kShownDownloads);
  const total = Math.max(Count(answer.total), downloads.length);

  const kept = new Set();
  for (const download of shown) {
    if (kept.has(download.id)) continue;
    let row = rows.get(download.id);
    if (!row) {
      row = NewRow(download.id);
      rows.set(download.id, row);
    }
    FillRow(row, download);
    // Moved only when out of place: a row taken out of the page between a
    // press and a release would lose the click.
    const place = list.children[kept.size] || null;
    if (row !== place) list.insertBefore(row, place);
    kept.add(download.id);
  }
  for (const [id, row] of rows) {
    if (!kept.has(id)) {
      row.remove();
      rows.delete(id);
    }
  }
  ShowState(total === 0 ? "No downloads yet." : "");
  const rest = total - kept.size;
  more.hidden = rest <= 0;
  more.textContent = rest > 0 ? "and " + rest + " older download" + (rest === 1 ? "" : "s") + " not shown" : "";
}

function NewRow(id) {
  const row = template.content.firstElementChild.cloneNode(true);
  for (const type of ["pause", "resume", "cancel"]) {
    row.querySelector("." + type).addEventListener("click", () => Send({ type: type + "_download", id: id }, type));
  }
  return row;
}

function FillRow(row, download) {
  const status = kStatuses.includes(download.status) ? download.status : "Unknown";
  const done = Count(download.downloadedBytes);
  const size = Count(download.totalBytes);
  const rate = Count(download.speedBytesPerSecond);
  const name = Text(download.fileName, "") || "(no name yet)";
  row.querySelector(".name").textContent = name;
  row.querySelector(".name").title = name;
  row.querySelector(".status").textContent = status;
  const bar = row.querySelector("progress");
  if (size > 0) bar.value = Math.min(done / size, 1);
  else if (status === "Completed") bar.value = 1;
  else bar.removeAttribute("value");
  row.querySelector(".size").textContent = size > 0 ? Bytes(done) + " of " + Bytes(size) : Bytes(done);
  row.querySelector(".rate").textContent = status === "Downloading" && rate > 0 ? Bytes(rate) + "/s" : "";
  row.querySelector(".reason").textContent = status === "Failed" ? Text(download.failureReason, "") : "";
  row.querySelector(".pause").hidden = !kPausable.includes(status);
  row.querySelector(".resume").hidden = !kResumable.includes(status);
  row.querySelector(".cancel").hidden = !kCancellable.includes(status);
}

async function ShowProblem() {
  try {
    const stored = await ext.storage.local.get("lastProblem");
    const last = stored.lastProblem;
    problem.textContent = last && typeof last.text === "string" ? "Note: " + last.text.slice(0, kMaxTextLength) : "";
    problem.hidden = problem.textContent === "";
  } catch (error) {
    problem.hidden = true;
  }
}

document.getElementById("options").addEventListener("click", (event) => {
  event.preventDefault();
  ext.runtime.openOptionsPage();
});
ShowProblem();
Refresh();
setInterval(Refresh, kRefreshMs);
