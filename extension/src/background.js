// Hands the browser's downloads to Varnel through its native host, and pings
// the host at start-up so `varnel browser status` sees this browser. A download
// is cancelled in the browser only after Varnel has answered "ok": true, so
// every download stays with the browser or with Varnel, never with neither.
"use strict";

// Chromium runs this file as a service worker (one script); Firefox lists the
// shared files before it in its manifest.
if (typeof importScripts === "function") importScripts("settings.js", "capture.js");

const action = ext.action || ext.browserAction;
const isFirefox = ext.runtime.getURL("").startsWith("moz-extension:");

// The browser's key in the host's handshake file, as `varnel browser status` names it.
function BrowserName() {
  if (isFirefox) return "firefox";
  const data = globalThis.navigator && navigator.userAgentData;
  const brands = data && Array.isArray(data.brands) ? data.brands.map((brand) => brand.brand) : [];
  if (brands.includes("Microsoft Edge")) return "edge";
  if (brands.includes("Brave") || (globalThis.navigator && navigator.brave)) return "brave";
  if (brands.includes("Google Chrome")) return "chrome";
  return "chromium";
}

function ErrorText(error) {
  const text = error && typeof error.message === "string" ? error.message : String(error);
  return text.slice(0, 300);
}

// The badge and the popup show why the last download stayed with the browser
// (kind "capture") or why the host could not be reached (kind "ping").
async function NoteProblem(kind, text) {
  await ext.storage.local.set({ lastProblem: { kind: kind, text: text, at: Date.now() } });
  await action.setBadgeBackgroundColor({ color: "#c62828" });
  await action.setBadgeText({ text: "!" });
  await action.setTitle({ title: "Varnel: " + text });
}

async function ClearProblem(kind) {
  const stored = await ext.storage.local.get("lastProblem");
  const problem = stored.lastProblem;
  if (kind === "ping" && problem && problem.kind !== "ping") return;
  await ext.storage.local.remove("lastProblem");
  await action.setBadgeText({ text: "" });
  await action.setTitle({ title: "Varnel" });
}

async function Ping() {
  try {
    const reply = await ext.runtime.sendNativeMessage(kNativeHostName, {
      type: "ping",
      browser: BrowserName(),
      extensionId: ext.runtime.id,
    });
    if (reply && reply.ok === true) await ClearProblem("ping");
  } catch (error) {
    await NoteProblem("ping", "the native host cannot be reached: " + ErrorText(error));
  }
}

async function CookieFor(url) {
  try {
    return CookieHeader(await ext.cookies.getAll({ url: url }));
  } catch (error) {
    return "";
  }
}

// {taken} when Varnel took the download; else {reason}, empty when the
// settings keep it with the browser and nothing needs saying.
async function AskVarnel(item) {
  const settings = await LoadSettings();
  if (ReasonToSkip(item, settings)) return { taken: false, reason: "" };
  const url = CaptureUrlOf(item);
  const cookie = settings.passCookies ? await CookieFor(url) : "";
  let reply;
  try {
    reply = await ext.runtime.sendNativeMessage(kNativeHostName, CaptureMessage(item, url, cookie));
  } catch (error) {
    return { taken: false, reason: ErrorText(error) };
  }
  if (reply && typeof reply === "object" && reply.ok === true) return { taken: true };
  const why = reply && typeof reply.error === "string" ? reply.error.slice(0, 300) : "";
  return { taken: false, reason: why || "Varnel did not take the download" };
}

async function Decide(item) {
  try {
    return await AskVarnel(item);
  } catch (error) {
    return { taken: false, reason: ErrorText(error) };
  }
}

async function Settle(verdict) {
  try {
    if (verdict.taken) await ClearProblem("capture");
    else if (verdict.reason) await NoteProblem("capture", "the browser kept the last download: " + verdict.reason);
  } catch (error) {
    // The badge is a courtesy; the download itself is settled already.
  }
}

async function Forget(id) {
  try {
    await ext.downloads.cancel(id);
  } catch (error) {
    // Already finished or gone.
  }
  try {
    // The browser may have finished its own copy while Varnel was asked; it is
    // removed only now that Varnel has the download.
    const [now] = await ext.downloads.search({ id: id });
    if (now && now.state === "complete" && now.exists !== false) await ext.downloads.removeFile(id);
  } catch (error) {
    // Nothing left to remove.
  }
  try {
    await ext.downloads.erase({ id: id });
  } catch (error) {
    // Not listed any more.
  }
}

if (ext.downloads.onDeterminingFilename) {
  // Chromium holds the download here until suggest() is called, so it is
  // cancelled before it could finish under its own name.
  ext.downloads.onDeterminingFilename.addListener((item, suggest) => {
    Decide(item).then(async (verdict) => {
      if (verdict.taken) await Forget(item.id);
      try {
        suggest();
      } catch (error) {
        // The download was cancelled: nothing waits for a name any more.
      }
      await Settle(verdict);
    });
    return true;
  });
} else {
  // Firefox starts the download at once; it is cancelled as soon as Varnel has it.
  ext.downloads.onCreated.addListener((item) => {
    Decide(item).then(async (verdict) => {
      if (verdict.taken) await Forget(item.id);
      await Settle(verdict);
    });
  });
}

ext.runtime.onStartup.addListener(Ping);
ext.runtime.onInstalled.addListener(Ping);
// A relaunch with an unpacked extension may fire neither event.
Ping();
