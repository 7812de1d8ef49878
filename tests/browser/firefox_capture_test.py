#!/usr/bin/env python3
"""The same path in Firefox ESR: the extension's handshake, a click on a
download link landing the file through Varnel with nothing left in Firefox's
own folder, and with the service stopped, Firefox keeping the download itself.
(WebDriver BiDi may not open an extension page, so the popup is checked in
Chromium only; it is the same code.)

Firefox runs headless with its WebDriver BiDi port on 127.0.0.1, Varnel's
extension installed as a temporary add-on, in a private network namespace with
its own HOME and XDG_* folders, beside the real service and native host.

Usage: firefox_capture_test.py --build BUILD_TREE [--keep]
Exit 77 (skipped) when Debian's firefox-esr is not installed.
"""

import argparse
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
from webdriver_bidi import Firefox  # noqa: E402

FIREFOX = "/usr/lib/firefox-esr/firefox-esr"


def write_profile(folders):
    """Downloads to a folder of their own, without asking."""
    profile = os.path.join(folders.home, ".mozilla", "firefox", "varnel-test")
    os.makedirs(profile)
    preferences = {
        "browser.download.dir": folders.browser_downloads,
        "browser.download.folderList": 2,
        "browser.download.useDownloadDir": True,
        "browser.download.start_downloads_in_tmp_dir": False,
        "browser.download.always_ask_before_handling_new_types": False,
        "browser.download.alwaysOpenPanel": False,
    }
    with open(os.path.join(profile, "user.js"), "w") as file:
        for name, value in preferences.items():
            file.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
    return profile


def open_tab(firefox, url):
    context = firefox.send("browsingContext.create", {"type": "tab"})["context"]
    firefox.send("browsingContext.navigate", {"context": context, "url": url, "wait": "complete"})
    return context


def click(firefox, context, element_id):
    box = firefox.evaluate(context, f"""(() => {{
        const box = document.getElementById({json.dumps(element_id)}).getBoundingClientRect();
        return {{x: Math.round(box.x + box.width / 2), y: Math.round(box.y + box.height / 2)}}; }})()""")
    firefox.send("input.performActions", {"context": context, "actions": [{
        "type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
        "actions": [{"type": "pointerMove", "x": box["x"], "y": box["y"]},
                    {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]})


def run(arguments, folders, source_root):
    build = os.path.abspath(arguments.build)
    extension = os.path.join(build, "extension", "firefox")
    own_id = sandbox.extension_ids(source_root)["firefox"]
    web, service = sandbox.start_stage(build, folders)
    profile = write_profile(folders)
    installed = sandbox.varnel(build, folders, "browser", "install")
    assert "Firefox: wrote" in installed, installed

    started = time.monotonic()
    firefox = None
    memory = None
    try:
        firefox = Firefox(FIREFOX, ["--profile", profile, "--no-remote"], folders.env,
                          os.path.join(folders.root, "firefox.log"))
        memory = sandbox.MemoryWatch(firefox.process.pid)
        added = firefox.send("webExtension.install", {"extensionData": {"type": "path", "path": extension}})
        assert added["extension"] == own_id, added

        sandbox.wait_until("the extension's handshake", lambda: f"from extension {own_id}" in
                           sandbox.varnel(build, folders, "browser", "status"))

        page = open_tab(firefox, web.url("index.html"))
        click(firefox, page, "get")
        done = sandbox.wait_until("sample.bin to be Completed in Varnel", lambda: (
            (download := sandbox.find(service.downloads(), "sample.bin"))
            and download["status"] == "Completed" and download), timeout=60)
        assert sandbox.sha256_of(os.path.join(done["outputPath"], "sample.bin")) == \
            sandbox.sha256_of(os.path.join(folders.www, "sample.bin"))
        # Firefox may have finished its own copy first; the extension removes it.
        sandbox.wait_until("the browser's folder to be empty", lambda: sandbox.browser_files(folders) == [])

        service.stop()
        click(firefox, page, "again")
        sandbox.expect_browser_keeps(folders, "second.bin", "Firefox")
    finally:
        if firefox:
            firefox.close()
        peak = memory.stop() if memory else 0
        service.stop()
        web.stop()
    print(f"firefox browser test: {time.monotonic() - started:.1f} s with the browser, "
          f"peak memory of the browser's processes {peak / (1 << 20):.0f} MiB (PSS)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the build tree (service, varnel, extension)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    arguments = parser.parse_args()
    return sandbox.run_browser_test(FIREFOX, "firefox", run, arguments)


if __name__ == "__main__":
    sys.exit(main())
