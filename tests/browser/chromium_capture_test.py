#!/usr/bin/env python3
"""A click on a download link in a real Chromium lands the file through Varnel.

Debian's Chromium runs headless with Varnel's unpacked extension, in a private
network namespace, with its own HOME and XDG_* folders, beside the real
service, the real native host (registered by `varnel browser install`) and a
loopback web server. Checked: the extension's handshake, the download listed
Completed with the right SHA-256 while the browser's own folder stays empty,
the extension's capture decisions, the popup listing it (a hostile name as
text) and pausing, resuming and cancelling a download, with the service
stopped the browser keeping the download itself, and the popup against a host
that answers a huge list or no JSON.

Usage: chromium_capture_test.py --build BUILD_TREE [--screenshot FILE] [--keep]
Exit 77 (skipped) when Debian's chromium is not installed.
"""

import argparse
import base64
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
from devtools_pipe import DevToolsPipe  # noqa: E402

CHROMIUM = "/usr/lib/chromium/chromium"


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the build tree (service, varnel, extension)")
    parser.add_argument("--screenshot", help="where to save a PNG of the popup")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    return parser.parse_args()


def seed_profile(folders):
    """Chromium's own downloads go to a folder of their own, without asking."""
    profile = os.path.join(folders.config, "chromium", "Default")
    os.makedirs(profile)
    with open(os.path.join(profile, "Preferences"), "w") as file:
        json.dump({"download": {"default_directory": folders.browser_downloads,
                                "prompt_for_download": False, "directory_upgrade": True}}, file)


def open_tab(browser, url):
    target = browser.send("Target.createTarget", {"url": url})["targetId"]
    session = browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    browser.send("Runtime.enable", session=session)
    sandbox.wait_until(f"{url} to load", lambda: browser.evaluate(
        session, "location.href + ' ' + document.readyState") == url + " complete")
    return session


def click(browser, session, element_id):
    box = browser.evaluate(session, f"""(() => {{
        const box = document.getElementById({json.dumps(element_id)}).getBoundingClientRect();
        return {{x: box.x + box.width / 2, y: box.y + box.height / 2}}; }})()""")
    for kind in ("mousePressed", "mouseReleased"):
        browser.send("Input.dispatchMouseEvent", {"type": kind, "x": box["x"], "y": box["y"],
                                                  "button": "left", "clickCount": 1}, session)


def popup_rows(browser, session):
    return browser.evaluate(session, """[...document.querySelectorAll('#downloads li')].map(row => ({
        name: row.querySelector('.name').textContent,
        status: row.querySelector('.status').textContent}))""")


def popup_click(browser, session, name, button):
    clicked = browser.evaluate(session, f"""(() => {{
        const row = [...document.querySelectorAll('#downloads li')]
            .find(row => row.querySelector('.name').textContent === {json.dumps(name)});
        const button = row && row.querySelector('.{button}');
        if (!button || button.hidden) return false;
        const box = button.getBoundingClientRect();
        return {{x: box.x + box.width / 2, y: box.y + box.height / 2}}; }})()""")
    assert clicked, f"no visible {button} button for {name!r}"
    for kind in ("mousePressed", "mouseReleased"):
        browser.send("Input.dispatchMouseEvent", {"type": kind, "x": clicked["x"], "y": clicked["y"],
                                                  "button": "left", "clickCount": 1}, session)


def hostile_popup(browser, folders, origin):
    host = os.path.join(folders.root, "hostile", "host.py")
    os.makedirs(os.path.dirname(host))
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile_host.py"), host)
    mode = os.path.join(os.path.dirname(host), "MODE")
    manifest = os.path.join(folders.config, "chromium", "NativeMessagingHosts", "com.varnel.v2.json")
    with open(manifest) as file:
        registered = json.load(file)
    with open(manifest, "w") as file:
        json.dump(dict(registered, path=host), file)
    listed = """(() => ({rows: document.querySelectorAll('#downloads li').length,
        first: document.querySelector('#downloads .name')?.textContent,
        more: document.getElementById('more').textContent,
        state: document.getElementById('state').textContent}))()"""
    popup = None
    for step, expected in (("many", lambda view: view == {
                               "rows": 200, "first": "file-2999.bin", "state": "",
                               "more": "and 9800 older downloads not shown"}),
                           ("garbage", lambda view: view["state"].startswith("Varnel cannot be reached")),
                           ("many", lambda view: view["rows"] == 200 and view["state"] == "")):
        with open(mode, "w") as file:
            file.write(step)
        popup = popup or open_tab(browser, origin + "popup.html")
        sandbox.wait_until(f"the popup after {step}", lambda: expected(browser.evaluate(popup, listed)))


def run(arguments, folders, source_root):
    build = os.path.abspath(arguments.build)
    extension = os.path.join(build, "extension", "chromium")
    own_id = sandbox.extension_ids(source_root)["chromium"]
    web, service = sandbox.start_stage(build, folders)
    seed_profile(folders)
    installed = sandbox.varnel(build, folders, "browser", "install")
    assert "Chromium: wrote" in installed, installed

    started = time.monotonic()
    log = open(os.path.join(folders.root, "chromium.log"), "ab")
    browser = DevToolsPipe(CHROMIUM, [
        "--headless=new", "--no-sandbox", "--remote-debugging-pipe",
        f"--user-data-dir={os.path.join(folders.config, 'chromium')}",
        f"--load-extension={extension}", f"--disable-extensions-except={extension}",
        "--no-first-run", "--no-default-browser-check", "--disable-gpu", "--window-size=800,600",
        "about:blank"], folders.env, log)
    memory = sandbox.MemoryWatch(browser.process.pid)
    try:
        browser.send("Target.setDiscoverTargets", {"discover": True})
        origin = f"chrome-extension://{own_id}/"
        browser.wait_event(lambda event: event.get("method") in ("Target.targetCreated", "Target.targetInfoChanged")
                           and event["params"]["targetInfo"]["url"].startswith(origin), timeout=30)

        # The extension pings at start-up.
        sandbox.wait_until("the extension's handshake", lambda: f"from extension {own_id}" in
                           sandbox.varnel(build, folders, "browser", "status"))

        # A click on a download link: Varnel takes it, the browser keeps nothing.
        page = open_tab(browser, web.url("index.html"))
        click(browser, page, "get")
        done = sandbox.wait_until("sample.bin to be Completed in Varnel", lambda: (
            (download := sandbox.find(service.downloads(), "sample.bin")) and download["status"] == "Completed"
            and download), timeout=60)
        landed = os.path.join(done["outputPath"], "sample.bin")
        assert sandbox.sha256_of(landed) == sandbox.sha256_of(os.path.join(folders.www, "sample.bin"))
        assert sandbox.browser_files(folders) == [], sandbox.browser_files(folders)

        # The popup lists it; a hostile name stays text; its buttons act.
        enqueued = service.ask({"type": "enqueue_download", "url": web.url("slow.bin"),
                                "fileName": sandbox.HOSTILE_NAME})
        assert enqueued["ok"], enqueued
        popup = open_tab(browser, origin + "popup.html")
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "capture_decisions.js")) as file:
            failed = browser.evaluate(popup, file.read())
        assert failed == [], f"the extension decides wrongly: {failed}"
        try:
            sandbox.wait_until("the popup to list both downloads", lambda: (
                {"name": "sample.bin", "status": "Completed"} in (rows := popup_rows(browser, popup))
                and any(row["name"] == sandbox.HOSTILE_NAME and row["status"] == "Downloading" for row in rows)),
                timeout=30)
        except AssertionError as error:
            raise AssertionError(f"{error}; the popup says: " + browser.evaluate(
                popup, "document.getElementById('state').textContent")) from None
        assert browser.evaluate(popup, "document.querySelectorAll('img').length") == 0
        assert browser.evaluate(popup, "document.title") == "Varnel"
        if arguments.screenshot:
            sandbox.wait_until("a rate in the popup", lambda: browser.evaluate(
                popup, "[...document.querySelectorAll('.rate')].some(rate => rate.textContent)"))
            browser.send("Emulation.setDeviceMetricsOverride", {"width": 420, "height": 240,
                                                                "deviceScaleFactor": 1, "mobile": False}, popup)
            shot = browser.send("Page.captureScreenshot", {"format": "png"}, popup)
            with open(arguments.screenshot, "wb") as file:
                file.write(base64.b64decode(shot["data"]))
        status_of = lambda: sandbox.find(service.downloads(), sandbox.HOSTILE_NAME)["status"]
        for button, expected in (("pause", {"Paused"}), ("resume", {"Downloading"}),
                                 ("cancel", {"Cancelled"})):
            sandbox.wait_until(f"a {button} button", lambda: browser.evaluate(popup, f"""
                [...document.querySelectorAll('#downloads li')].some(row =>
                  row.querySelector('.name').textContent === {json.dumps(sandbox.HOSTILE_NAME)}
                  && !row.querySelector('.{button}').hidden)"""), timeout=30)
            popup_click(browser, popup, sandbox.HOSTILE_NAME, button)
            sandbox.wait_until(f"the download to be {expected} after {button}",
                               lambda: status_of() in expected, timeout=30)

        # With the service stopped, the browser keeps the download.
        service.stop()
        click(browser, page, "again")
        sandbox.expect_browser_keeps(folders, "second.bin", "Chromium")
        problem = sandbox.wait_until("the reason in the popup's storage", lambda: browser.evaluate(
            popup, "chrome.storage.local.get('lastProblem').then(s => s.lastProblem && s.lastProblem.text)"))
        assert "Service unavailable" in problem, problem

        # A host answering a huge list, then no JSON: the popup shows 200 and
        # the count of the rest, says what is wrong, and recovers.
        hostile_popup(browser, folders, origin)
    finally:
        browser.close()
        peak = memory.stop()
        log.close()
        service.stop()
        web.stop()
    print(f"chromium browser test: {time.monotonic() - started:.1f} s with the browser, "
          f"peak memory of the browser's processes {peak / (1 << 20):.0f} MiB (PSS)")


def main():
    arguments = parse_arguments()
    return sandbox.run_browser_test(CHROMIUM, "chromium", run, arguments)


if __name__ == "__main__":
    sys.exit(main())
