// The extension's decisions, checked in the browser against its own
// capture.js and settings.js; evaluates to the list of cases that failed.
(async () => {
  await new Promise((loaded, failed) => {
    const script = Object.assign(document.createElement("script"), { src: "capture.js" });
    script.onload = loaded;
    script.onerror = failed;
    document.head.appendChild(script);
  });
  const on = NormalizeSettings({});
  const skipped = (item, settings = on) => ReasonToSkip(item, settings) !== "";
  const cases = [
    ["http and https are captured", !skipped({ url: "https://a.example/f.bin" }) && !skipped({ url: "http://a/f" })],
    ["blob:, data:, file: and ftp: are never captured",
      ["blob:https://a.example/0d2c", "data:text/plain,hi", "file:///etc/passwd", "ftp://a/f", "javascript:1", ""]
        .every((url) => skipped({ url: url }))],
    ["the URL after redirects is taken when it is fetchable",
      CaptureUrlOf({ url: "http://a/f", finalUrl: "https://cdn.example/f" }) === "https://cdn.example/f" &&
      CaptureUrlOf({ url: "https://a/f", finalUrl: "blob:x" }) === "https://a/f"],
    ["capture off, private windows and extensions' downloads stay with the browser",
      skipped({ url: "https://a/f" }, { ...on, captureEnabled: false }) &&
      skipped({ url: "https://a/f", incognito: true }) && skipped({ url: "https://a/f", byExtensionId: "x" })],
    ["an excluded host and its subdomains only",
      skipped({ url: "https://dl.example.org/f" }, { ...on, excludedHosts: ["example.org"] }) &&
      !skipped({ url: "https://example.org.evil.test/f" }, { ...on, excludedHosts: ["example.org"] })],
    ["the minimum applies only to a known size",
      skipped({ url: "https://a/f", totalBytes: 500 }, { ...on, minimumBytes: 1000 }) &&
      !skipped({ url: "https://a/f", totalBytes: -1, fileSize: 0 }, { ...on, minimumBytes: 1000 })],
    ["stored settings of the wrong types take their defaults",
      JSON.stringify(NormalizeSettings({ captureEnabled: "yes", minimumBytes: "x", passCookies: 0,
                                        excludedHosts: ["*.A.Example.ORG", "bad host!", 5] })) ===
      JSON.stringify({ captureEnabled: true, minimumBytes: 0, excludedHosts: ["a.example.org"], passCookies: true })],
    ["cookies with longer paths first",
      CookieHeader([{ name: "a", value: "1", path: "/" }, { name: "b", value: "2", path: "/dl" }]) === "b=2; a=1"],
    ["the capture holds strings only, the base name, no script referrer",
      (() => {
        const message = CaptureMessage({ filename: "/home/u/Downloads/x.bin", referrer: "javascript:alert(1)" },
                                       "https://a/x.bin", "k=v");
        return Object.values(message).every((value) => typeof value === "string") &&
          message.filename === "x.bin" && message.referrer === "" && message.cookie === "k=v";
      })()],
  ];
  return cases.filter(([, passed]) => !passed).map(([name]) => name);
})()
