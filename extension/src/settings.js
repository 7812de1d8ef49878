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

// One host name in lower case ("*." and a final dot dropped); "" when the
// text is not a plain host name.
function NormalizeHost(text) {
  const host = String(text).trim().toLowerCase().replace(/^\*\./, "").replace(/\.$/, "");
  return /^[a-z0-9.-]{1,253}$/.test(host) && !host.startsWith(".") ? host : "";
}

// A host list as the user typed it: one per line, blanks or commas between.
function ParseHostList(text) {
  return String(text).split(/[\s,]+/).map(NormalizeHost).filter((host) => host !== "");
}

function NormalizeSettings(stored) {
  const value = stored && typeof stored === "object" ? stored : {};
  const minimum = Number(value.minimumBytes);
  return {
    captureEnabled:
      typeof value.captureEnabled === "boolean" ? value.captureEnabled : kDefaultSettings.captureEnabled,
    minimumBytes: Number.isSafeInteger(minimum) && minimum > 0 ? minimum : 0,
    excludedHosts: Array.isArray(value.excludedHosts)
      ? value.excludedHosts.map((host) => (typeof host === "string" ? NormalizeHost(host) : "")).filter(Boolean)
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
