"""End-to-end checks of the Windows programs under Wine, against stand-ins for
what the cross build cannot make: pipe-peer.exe serves the service's or the user
interface's pipe, record-arguments.exe stands in for Varnel.UI.exe.
Usage: end_to_end.py WINDOWS_BUILD RUN_ROOT varnel|native_host_routes|browser_registry
Run by scripts/test-windows.sh inside its network namespace and Wine prefix."""
import json, os, select, shutil, struct, subprocess, sys, time

build, root, check = sys.argv[1], sys.argv[2], sys.argv[3]
# The Linux locale decides how Wine turns arguments into wide text.
env = dict(os.environ, LANG="C.UTF-8")


def windows_path(path):
    return "Z:" + path


class Peer:
    """A stand-in pipe server; answers[type] (or answers["*"]) to each request."""

    def __init__(self, name, answers):
        self.record = os.path.join(root, name + ".requests")
        self.process = subprocess.Popen(
            ["wine", os.path.join(build, "pipe-peer.exe"), name, json.dumps(answers),
             windows_path(self.record)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        ready, _, _ = select.select([self.process.stdout], [], [], 60)
        assert ready and self.process.stdout.readline().strip() == b"ready", name

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise

    def requests(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record, encoding="utf-8") as lines:
            return [json.loads(line) for line in lines]


def run(program, arguments, stdin=b""):
    done = subprocess.run(["wine", program] + arguments, input=stdin, capture_output=True,
                          timeout=60, env=env)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def check_varnel():
    varnel = os.path.join(build, "varnel.exe")
    task = {"id": "dl_1", "url": "http://127.0.0.1:9/a.bin", "fileName": "a.bin",
            "status": "Downloading", "downloadedBytes": 512, "totalBytes": 1024}
    service = Peer("VarnelV2", {
        "list_downloads": json.dumps({"downloads": [task], "ok": True}),
        "enqueue_download": json.dumps({"id": "dl_2", "ok": True}),
        "*": json.dumps({"error": "No download with that id", "ok": False})})
    # arguments, exit code, text in the output or errors, the request sent
    cases = [
        (["list"], 0, "50.0%", {"type": "list_downloads"}),
        (["add", "http://127.0.0.1:9/f.bin", "-o", "C:\\dl\\Zo\u00eb"], 0, "dl_2",
         {"type": "enqueue_download", "url": "http://127.0.0.1:9/f.bin", "outputPath": "C:\\dl\\Zo\u00eb"}),
        (["pause", "dl_7"], 4, "No download with that id", {"type": "pause_download", "id": "dl_7"}),
    ]
    try:
        for arguments, code, text, request in cases:
            got = run(varnel, arguments)
            assert got[0] == code and text in got[1].decode() + got[2], (arguments, got)
            assert service.requests()[-1] == request, (arguments, service.requests())
    finally:
        service.stop()
    # With nothing listening, varnel looks for service.exe beside itself (a
    # copy alone in a folder: the build's own would start).
    alone = os.path.join(root, "varnel-alone")
    os.makedirs(alone)
    code, _, errors = run(shutil.copy(varnel, alone), ["list"])
    assert code == 3 and "service.exe" in errors and "not running" in errors, (code, errors)


def ask_host(host, message):
    body = json.dumps(message).encode()
    out = run(host, [], struct.pack("<I", len(body)) + body)[1]
    (size,) = struct.unpack("<I", out[:4])
    return json.loads(out[4:4 + size])


def check_native_host_routes():
    folder = os.path.join(root, "host")
    os.makedirs(folder)
    host = shutil.copy(os.path.join(build, "native-host.exe"), folder)
    capture = {"type": "capture", "url": "http://127.0.0.1:9/b.zip", "filename": "b.zip",
               "referrer": "http://127.0.0.1:9/"}
    dialog = {"mode": "dialog", "ok": True}

    # 1. The user interface's capture pipe takes it.
    ui = Peer("VarnelV2UiCapture", {"*": '{"ok":true}'})
    try:
        reply = ask_host(host, capture)
        assert reply == dialog, reply
        offered = ui.requests()[-1]
        assert offered["url"] == capture["url"] and offered["fileName"] == "b.zip", offered
    finally:
        ui.stop()

    # 2. No pipe: Varnel.UI.exe beside the host is started with the capture.
    ui_program = shutil.copy(os.path.join(build, "record-arguments.exe"),
                             os.path.join(folder, "Varnel.UI.exe"))
    reply = ask_host(host, capture)
    assert reply == dialog, reply
    recorded = ui_program + ".arguments"
    deadline = time.monotonic() + 30
    while not os.path.exists(recorded) and time.monotonic() < deadline:
        time.sleep(0.1)
    with open(recorded, encoding="utf-8") as lines:
        assert lines.read().split("\n")[:4] == [
            "--capture-url=http://127.0.0.1:9/b.zip", "--capture-file-name=b.zip",
            "--capture-referrer=http://127.0.0.1:9/", "--capture-source=launch-fallback"]
    os.remove(ui_program)

    # 3. Neither: the service enqueues it into the default folder.
    service = Peer("VarnelV2", {"enqueue_download": json.dumps({"id": "dl_9", "ok": True})})
    try:
        reply = ask_host(host, capture)
        assert reply == {"id": "dl_9", "ok": True}, reply
        request = service.requests()[-1]
        assert request["outputPath"] == "C:\\Users\\Public\\Downloads", request
        assert request["url"] == capture["url"] and request["type"] == "enqueue_download", request
    finally:
        service.stop()


BROWSER_KEYS = {
    "chromium": ["Google\\Chrome", "Chromium", "Microsoft\\Edge", "BraveSoftware\\Brave-Browser"],
    "firefox": ["Mozilla"]}


def registry_value(key):
    """The key's default value under HKCU, or None."""
    done = subprocess.run(["wine", "reg", "query", "HKCU\\" + key, "/ve"], capture_output=True,
                          timeout=60, env=env)
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


def unix_path(path):
    assert path[:3].upper() == "C:\\", path
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *path[3:].split("\\"))


def check_browser_registry():
    # An unpacked install: varnel.exe with native-host.exe beside it.
    folder = os.path.join(root, "unpacked")
    os.makedirs(folder)
    varnel = shutil.copy(os.path.join(build, "varnel.exe"), folder)
    shutil.copy(os.path.join(build, "native-host.exe"), folder)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "extension",
                           "ids.json"), encoding="utf-8") as ids_file:
        ids = json.load(ids_file)
    code, out, errors = run(varnel, ["browser", "install"])
    assert code == 0, (code, out, errors)
    manifests = {}
    for family, vendors in BROWSER_KEYS.items():
        for vendor in vendors:
            key = "Software\\%s\\NativeMessagingHosts\\com.varnel.v2" % vendor
            value = registry_value(key)
            assert value and value.endswith("com.varnel.v2.%s.json" % family), (key, value)
            manifests[key] = value
            with open(unix_path(value), encoding="utf-8") as text:
                manifest = json.load(text)
            assert manifest["name"] == "com.varnel.v2" and manifest["type"] == "stdio", manifest
            assert manifest["path"] == windows_path(folder).replace("/", "\\") + "\\native-host.exe", manifest
            callers = manifest["allowed_origins"] if family == "chromium" else manifest["allowed_extensions"]
            own = "chrome-extension://%s/" % ids["chromium"] if family == "chromium" else ids["firefox"]
            assert callers == [own], manifest
    status = run(varnel, ["browser", "status"])[1].decode("utf-8", "replace")
    for key, value in manifests.items():
        assert "HKCU\\%s -> %s (varnel's manifest)" % (key, value) in status, (key, status)

    # A key another program has pointed elsewhere since is left alone.
    moved = "Software\\Mozilla\\NativeMessagingHosts\\com.varnel.v2"
    subprocess.run(["wine", "reg", "add", "HKCU\\" + moved, "/ve", "/d", "C:\\other.json", "/f"],
                   capture_output=True, timeout=60, env=env, check=True)
    code, out, errors = run(varnel, ["browser", "uninstall"])
    assert code == 0 and "Kept HKCU\\" + moved in out.decode("utf-8", "replace"), (code, out, errors)
    for key, value in manifests.items():
        assert registry_value(key) == ("C:\\other.json" if key == moved else None), key
        assert not os.path.exists(unix_path(value)), value


{"varnel": check_varnel, "native_host_routes": check_native_host_routes,
 "browser_registry": check_browser_registry}[check]()
