// The user's choices, kept in storage.local under "settings". Shared by the
// background script, the popup and the options page. Whatever is stored is
// read back defensively: a value of the wrong type takes its default.
"use strict";

const ext = globalThis.browser || globalThis.chrome;

const kNativeHostName = "com.varnel.v2";

const kDefaultSettings = Object.freeze({
  captureEnabled: true,
  minimumBytes: 0,        // 0: no minimum
  excludedHosts: [],      // host names never captured (and their subdomains)
  passCookies: true,
});

// A host list as the user typed it (one per line, blanks or commas between)
// to lower-case host names; anything that is not a plain host name is dropped.
function ParseHostList(text) {
  return String(text)
    .split(/[\s,]+/)
    .map((host) => host.trim().toLowerCase().replace(/^\*\./, "").replace(/\.$/, ""))
    .filter((host) => /^[a-z0-9.-]{1,253}$/.test(host) && !host.startsWith("."));
}

function NormalizeSettings(stored) {
  const value = stored && typeof stored === "object" ? stored : {};
  const minimum = Number(value.minimumBytes);
  return {
    captureEnabled:
      typeof value.captureEnabled === "boolean" ? value.captureEnabled : kDefaultSettings.captureEnabled,
    minimumBytes: Number.isSafeInteger(minimum) && minimum > 0 ? minimum : 0,
    excludedHosts: Array.isArray(value.excludedHosts)
      ? ParseHostList(value.excludedHosts.filter((host) => typeof host === "string").join("\n"))
      : [],
    passCookies: typeof value.passCookies === "boolean" ? value.passCookies : kDefaultSettings.passCookies,
  };
}

async function LoadSettings() {
  try {
    const stored = await ext.storage.local.get("settings");
    return NormalizeSettings(stored.settings);
  } catch (error) {
    return NormalizeSettings(null);
  }
}

async function SaveSettings(settings) {
  await ext.storage.local.set({ settings: NormalizeSettings(settings) });
}
