// What the extension decides about a browser download before it asks Varnel:
// whether to capture it, and the capture message itself. No browser state is
// changed here.
"use strict";

// Only what the service can fetch again by itself: blob:, data:, file: and
// other URLs made by a page's script never leave the browser.
function IsFetchableUrl(text) {
  try {
    const url = new URL(text);
    return url.protocol === "http:" || url.protocol === "https:";
  } catch (error) {
    return false;
  }
}

function HostIsExcluded(host, excludedHosts) {
  const name = host.toLowerCase();
  return excludedHosts.some((excluded) => name === excluded || name.endsWith("." + excluded));
}

// The URL to hand over: where the browser ended up after redirects when that
// is fetchable, else where it started; "" when neither is.
function CaptureUrlOf(item) {
  if (typeof item.finalUrl === "string" && IsFetchableUrl(item.finalUrl)) return item.finalUrl;
  if (typeof item.url === "string" && IsFetchableUrl(item.url)) return item.url;
  return "";
}

// Why this download stays with the browser, or "" when it may be captured.
function ReasonToSkip(item, settings) {
  if (!settings.captureEnabled) return "capture is off";
  if (item.incognito) return "private window";
  if (item.byExtensionId) return "started by an extension";
  const url = CaptureUrlOf(item);
  if (!url) return "not an http or https download";
  if (HostIsExcluded(new URL(url).hostname, settings.excludedHosts)) return "host excluded";
  const size = Number(item.totalBytes > 0 ? item.totalBytes : item.fileSize);
  if (settings.minimumBytes > 0 && size > 0 && size < settings.minimumBytes) return "smaller than the minimum";
  return "";
}

// The last part of a path the browser proposes; the host checks it again.
function BaseName(path) {
  if (typeof path !== "string") return "";
  const parts = path.split(/[\\/]/);
  return parts[parts.length - 1];
}

// A Cookie header as the browser would send it: longer paths first (RFC 6265).
function CookieHeader(cookies) {
  return cookies
    .filter((cookie) => typeof cookie.name === "string" && typeof cookie.value === "string")
    .sort((a, b) => String(b.path || "").length - String(a.path || "").length)
    .map((cookie) => (cookie.name ? cookie.name + "=" + cookie.value : cookie.value))
    .join("; ");
}

// Every member is a string: the host refuses a message with any other type.
function CaptureMessage(item, url, cookie) {
  return {
    url: url,
    filename: BaseName(item.filename),
    referrer: typeof item.referrer === "string" && IsFetchableUrl(item.referrer) ? item.referrer : "",
    source: "browser-extension",
    cookie: cookie,
    userAgent: String(globalThis.navigator ? navigator.userAgent : ""),
  };
}
