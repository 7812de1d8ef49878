"""What a real-browser test stands on: a private network namespace, its own
HOME and XDG_* folders, the real service from the build tree, a loopback web
server, and a look at the memory of a process tree."""

import hashlib
import http.server
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def ensure_private_network():
    """Re-runs this script inside `unshare --net` unless only loopback is here."""
    if [name for _, name in socket.if_nameindex()] == ["lo"]:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    if os.environ.get("VARNEL_BROWSER_TEST_UNSHARED"):
        sys.exit("browser test: still not in a private network namespace")
    command = ["unshare", "--net"] + ([] if os.getuid() == 0 else ["--map-root-user"])
    env = dict(os.environ, VARNEL_BROWSER_TEST_UNSHARED="1")
    os.execvpe(command[0], command + [sys.executable, *sys.argv], env)


def wait_until(what, check, timeout=30, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(interval)


def reap(process, timeout, kill):
    """Waits for process to end; after timeout seconds kills it and waits as long again."""
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill()
        process.wait(timeout=timeout)


def sha256_of(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


class Folders:
    """A temporary root with the folders and environment of one user."""

    def __init__(self, root):
        self.root = root
        self.home = os.path.join(root, "home")
        self.config = os.path.join(self.home, ".config")
        self.runtime = os.path.join(root, "run")
        self.varnel_downloads = os.path.join(root, "varnel-downloads")
        self.browser_downloads = os.path.join(root, "browser-downloads")
        self.www = os.path.join(root, "www")
        for folder in (self.home, self.config, self.runtime, self.varnel_downloads,
                       self.browser_downloads, self.www):
            os.makedirs(folder, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        self.env = {key: value for key, value in os.environ.items()
                    if not key.startswith(("XDG_", "VARNEL_", "LOCALAPPDATA"))}
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=self.config, XDG_RUNTIME_DIR=self.runtime,
                        XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                        XDG_STATE_HOME=os.path.join(self.home, ".local", "state"),
                        XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                        XDG_DOWNLOAD_DIR=self.varnel_downloads,
                        LOCALAPPDATA=os.path.join(root, "localappdata"))


class Service:
    """The real service from the build tree, asked over its real socket."""

    def __init__(self, program, folders, log_path):
        self.socket_path = os.path.join(folders.runtime, "VarnelV2")
        self.log = open(log_path, "ab")
        self.process = subprocess.Popen([program], env=folders.env, stdin=subprocess.DEVNULL,
                                        stdout=self.log, stderr=self.log)
        wait_until("the service's socket", lambda: self._answers(), timeout=30)

    def _answers(self):
        if self.process.poll() is not None:
            raise AssertionError(f"the service ended with {self.process.returncode}")
        try:
            return self.ask({"type": "list_downloads"}).get("ok")
        except OSError:
            return False

    def ask(self, request):
        with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as connection:
            connection.settimeout(20)
            connection.connect(self.socket_path)
            connection.send(json.dumps(request).encode())
            answer = b""
            while chunk := connection.recv(65536):
                answer += chunk
        return json.loads(answer)

    def downloads(self):
        return self.ask({"type": "list_downloads"})["downloads"]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            reap(self.process, 20, self.process.kill)
        self.log.close()


class SlowFile:
    """A response that trickles out until released, so a download stays running."""

    size = 64 << 20
    release = threading.Event()


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass

    def do_GET(self):
        if self.path.split("?")[0] != "/slow.bin":
            return super().do_GET()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(SlowFile.size))
        self.end_headers()
        sent = 0
        try:
            while sent < SlowFile.size and not SlowFile.release.wait(0.05):
                self.wfile.write(b"\0" * 16384)
                sent += 16384
        except OSError:
            pass


class QuietServer(http.server.ThreadingHTTPServer):
    # A browser cancels downloads half-way on purpose; that is no error here.
    def handle_error(self, request, client_address):
        pass


class WebServer:
    def __init__(self, folder):
        handler = lambda *arguments: Handler(*arguments, directory=folder)
        self.server = QuietServer(("127.0.0.1", 0), handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{path}"

    def stop(self):
        SlowFile.release.set()
        self.server.shutdown()
        self.server.server_close()


class MemoryWatch:
    """The largest memory use of a process and its descendants seen."""

    def __init__(self, pid):
        self.pid = pid
        self.peak = 0
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _tree_bytes(self):
        parents = {}
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as stat:
                        parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
                except (OSError, IndexError, ValueError):
                    pass
        tree, total = {self.pid}, 0
        for pid in sorted(parents):
            if parents[pid] in tree:
                tree.add(pid)
        # Proportional set size: shared pages are split among their users, so the
        # sum is what the tree costs the machine.
        for pid in tree:
            try:
                with open(f"/proc/{pid}/smaps_rollup") as rollup:
                    for line in rollup:
                        if line.startswith("Pss:"):
                            total += int(line.split()[1]) * 1024
            except (OSError, IndexError, ValueError):
                pass
        return total

    def _run(self):
        while not self.stopped.wait(0.2):
            self.peak = max(self.peak, self._tree_bytes())

    def stop(self):
        self.stopped.set()
        self.thread.join(timeout=5)
        return self.peak


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)


HOSTILE_NAME = "<img src=x onerror=\"document.title='pwned'\">&amp;.bin"
PAGE = """<!doctype html><title>downloads</title>
<a id="get" href="/sample.bin" download style="display:block;font-size:40px">sample</a>
<a id="again" href="/second.bin" download style="display:block;font-size:40px">second</a>
"""


def extension_ids(source_root):
    with open(os.path.join(source_root, "extension", "ids.json")) as file:
        return json.load(file)


def start_stage(build, folders):
    """The page with two download links and their files on a loopback web
    server, and the real service; both to be stopped by the caller."""
    for name, size in (("sample.bin", 3_000_000), ("second.bin", 1_500_000)):
        with open(os.path.join(folders.www, name), "wb") as file:
            file.write(os.urandom(size))
    with open(os.path.join(folders.www, "index.html"), "w") as file:
        file.write(PAGE)
    web = WebServer(folders.www)
    try:
        return web, Service(os.path.join(build, "apps", "service", "service"), folders,
                            os.path.join(folders.root, "service.log"))
    except BaseException:
        web.stop()
        raise


def varnel(build, folders, *arguments):
    """varnel's output; fails unless it exits 0."""
    done = subprocess.run([os.path.join(build, "apps", "varnel", "varnel"), *arguments], env=folders.env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def find(downloads, name):
    return next((download for download in downloads if download["fileName"] == name), None)


def browser_files(folders):
    return sorted(os.listdir(folders.browser_downloads))


def expect_browser_keeps(folders, name, browser):
    """Waits until the browser's own folder holds the served file name, whole,
    and checks that Varnel did not take it too."""
    expected = sha256_of(os.path.join(folders.www, name))
    wait_until(f"{browser} to save {name} itself", lambda: (
        browser_files(folders) == [name]
        and sha256_of(os.path.join(folders.browser_downloads, name)) == expected),
        timeout=60)
    assert not os.path.exists(os.path.join(folders.varnel_downloads, name))


# ctest reads this exit code as "skipped".
SKIPPED = 77


def run_browser_test(browser, name, run, arguments):
    """Runs run(arguments, folders, source_root) with browser at its path, in
    a temporary folder that is removed after (kept with --keep); prints the
    last lines of the logs when it fails. Returns the exit code."""
    if not os.access(browser, os.X_OK):
        print(f"skipped: {browser} is not installed (scripts/install-deps.sh browser)")
        return SKIPPED
    ensure_private_network()
    source_root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    root = tempfile.mkdtemp(prefix=f"varnel-{name}-")
    folders = Folders(root)
    try:
        run(arguments, folders, source_root)
    except BaseException:
        for log in ("service.log", f"{name}.log"):
            path = os.path.join(root, log)
            if os.path.exists(path):
                with open(path, errors="replace") as file:
                    sys.stderr.write(f"--- {log} (last lines)\n" + "".join(file.readlines()[-40:]))
        raise
    finally:
        if arguments.keep:
            print(f"kept {root}")
        else:
            remove_tree(root)
    return 0

