"""The three real Windows programs together under Wine: service.exe with its
store and torrent engine, driven by varnel.exe and native-host.exe over
\\\\.\\pipe\\VarnelV2, downloading from serve-file and from a libtorrent seeder,
both Linux processes on loopback in the same network namespace.
Usage: /usr/bin/python3 whole_system.py WINDOWS_BUILD RUN_ROOT SERVE_FILE [--without-torrent]
                        [--msi INSTALLER]
With --msi, the installer is checked too: installed, used and uninstalled.
(/usr/bin/python3: Debian's python3-libtorrent is built for it.)
Run by scripts/test-windows.sh inside its network namespace and Wine prefix,
after every other Windows check: it points LOCALAPPDATA elsewhere."""
import glob, hashlib, json, os, socket, struct, subprocess, sys, tempfile, time

build, root, serve_file = sys.argv[1], sys.argv[2], sys.argv[3]
prefix = os.environ["WINEPREFIX"]
env = dict(os.environ, LANG="C.UTF-8")
varnel = os.path.join(build, "varnel.exe")
app_data = os.path.join(root, "app-data")
data_root = os.path.join(app_data, "VarnelV2")
# "C:\Users\Public\Downloads" as Wine lays it out.
downloads = os.path.join(prefix, "drive_c", "users", "Public", "Downloads")
DEADLINE = 120  # seconds for any one thing to happen


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def wine(program, arguments, stdin=b"", timeout=60):
    # Wine's difference: a process it starts keeps the starter's Unix standard
    # error (Wine hands descriptor 2 on outside the Windows handles), so a
    # service that varnel.exe starts would hold a pipe there open. Standard
    # error goes to a file; standard output must be free (checked by
    # start_service).
    with tempfile.TemporaryFile() as errors:
        done = subprocess.run(["wine", program] + arguments, input=stdin, stdout=subprocess.PIPE,
                              stderr=errors, timeout=timeout, env=env)
        errors.seek(0)
        return done.returncode, done.stdout.decode("utf-8", "replace"), errors.read().decode(
            "utf-8", "replace")


def cli(*arguments, code=0):
    got = wine(varnel, list(arguments))
    assert got[0] == code, (arguments, got)
    return got[1]


def tasks():
    return {task["id"]: task for task in json.loads(cli("list", "--json"))["downloads"]}


def wait_for(what, test):
    deadline = time.monotonic() + DEADLINE
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def wait_status(task_id, *statuses):
    try:
        return wait_for(task_id + " " + "/".join(statuses),
                        lambda: tasks().get(task_id, {}).get("status") in statuses and tasks()[task_id])
    except AssertionError as error:
        raise AssertionError("%s; it is %s" % (error, tasks().get(task_id))) from None


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def service_pid():
    status = cli("service", "status")
    marker = "running (pid "
    assert marker in status, status
    return status.split(marker)[1].split(")")[0]


def start_service():
    # A service started by varnel.exe must not hold varnel's standard output,
    # or this would wait for the service to end.
    assert "Started the download service" in cli("service", "start")


def kill_service():
    # TerminateProcess: no chance to save anything, as a crash.
    pid = service_pid()
    subprocess.run(["wine", "taskkill", "/F", "/PID", pid], capture_output=True, timeout=60,
                   env=env)
    wait_for("the service to be gone", lambda: "not running" in wine(varnel, ["service", "status"])[1])


def add(url, *options):
    return cli("add", url, *options).strip().split()[-1]


def check_http(urls, hashes):
    start_service()
    # 1 and 8 connections, each with the right SHA-256 checked by the service.
    one = add(urls["one.bin"], "-x", "1", "--sha256", hashes["one.bin"])
    eight = add(urls["eight.bin"], "-x", "8", "--sha256", hashes["eight.bin"])
    for task_id, name in ((one, "one.bin"), (eight, "eight.bin")):
        wait_status(task_id, "Completed")
        assert sha256(os.path.join(downloads, name)) == hashes[name], name

    # pause, resume, cancel, retry on a slow download.
    slow = add(urls["slow"], "-x", "2")
    wait_for("bytes of " + slow, lambda: tasks()[slow]["downloadedBytes"] > 0)
    cli("pause", slow)
    wait_status(slow, "Paused")
    cli("resume", slow)
    wait_status(slow, "Downloading", "Starting", "Queued")
    cli("cancel", slow)
    wait_status(slow, "Cancelled")
    cli("retry", slow)
    wait_for("bytes of " + slow + " again", lambda: tasks()[slow]["downloadedBytes"] > 0)

    # Killed mid-download, then started again: the list is kept, the
    # interrupted download comes back paused with the bytes its partial files
    # hold, and goes on from them to the right bytes.
    kill_service()
    start_service()
    listed = tasks()
    assert listed[one]["status"] == "Completed" and listed[eight]["status"] == "Completed", listed
    assert listed[slow]["status"] == "Paused" and listed[slow]["downloadedBytes"] > 0, listed[slow]
    cli("resume", slow)
    wait_status(slow, "Completed")
    assert sha256(os.path.join(downloads, "slow.bin")) == hashes["slow.bin"]

    cli("delete", one)
    assert one not in tasks()
    assert os.path.exists(os.path.join(downloads, "one.bin")), "delete without --delete-file"
    assert os.path.isfile(os.path.join(data_root, "data", "downloads.db")), cli("service", "status")


def check_doctor():
    # Wine may not tell a process's user; that is "not checked", never a failure.
    code, out, errors = wine(varnel, ["doctor"])
    text = out + errors
    assert "the download service answers" in text, text
    assert "run as you" in text or "not checked" in text, text
    assert "not yours" not in text and "another user" not in text, text


def check_capture(urls, hashes):
    # No Varnel.UI.exe beside the host and no user interface's pipe: the
    # capture goes to the service, which downloads to the default folder.
    body = json.dumps({"type": "capture", "url": urls["captured.bin"]}).encode()
    out = subprocess.run(["wine", os.path.join(build, "native-host.exe")],
                         input=struct.pack("<I", len(body)) + body, capture_output=True,
                         timeout=60, env=env).stdout
    (size,) = struct.unpack("<I", out[:4])
    reply = json.loads(out[4:4 + size])
    assert reply.get("ok") is True, reply
    path = os.path.join(downloads, "captured.bin")
    task = wait_for("the captured download",
                    lambda: [t for t in tasks().values() if t["fileName"] == "captured.bin"])[0]
    wait_status(task["id"], "Completed")
    assert sha256(path) == hashes["captured.bin"]


def check_torrents(torrent_port):
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from loopback_seeder import LoopbackSeeder
    seeds = os.path.join(root, "seeds")
    os.makedirs(seeds)
    magnet_seeder = LoopbackSeeder(seeds, "magnet.bin", os.urandom(700000))
    file_seeder = LoopbackSeeder(seeds, "file.bin", os.urandom(500000))
    by_magnet = cli("torrent", magnet_seeder.magnet()).strip().split()[-1]
    by_file = cli("torrent", windows_path(file_seeder.torrent_file)).strip().split()[-1]
    # A .torrent names no peer: the seeder calls the service.
    file_seeder.connect_to(torrent_port)
    for task_id, seeder in ((by_magnet, magnet_seeder), (by_file, file_seeder)):
        wait_status(task_id, "Completed")
        with open(os.path.join(downloads, seeder.name), "rb") as data:
            assert data.read() == seeder.content, seeder.name

    # Paused, then a clean stop through the stop event: the store is closed
    # (SQLite removes its write-ahead log with the last connection) and the
    # torrents' resume data is written again on the way out.
    cli("pause", by_file)
    wait_status(by_file, "Paused")
    torrents = os.path.join(data_root, "torrents")
    for resume in glob.glob(os.path.join(torrents, "*.resume")):
        os.remove(resume)
    assert "Stopped the download service" in cli("service", "stop")
    assert len(glob.glob(os.path.join(torrents, "*.resume"))) == 2, os.listdir(torrents)
    assert not os.path.exists(os.path.join(data_root, "data", "downloads.db-wal"))
    with open(os.path.join(data_root, "service.log"), encoding="utf-8", errors="replace") as log:
        assert "Service failed" not in log.read()

    start_service()
    assert tasks()[by_file]["status"] == "Paused"
    cli("resume", by_file)
    wait_status(by_file, "Completed")
    cli("service", "stop")
    magnet_seeder.close()
    file_seeder.close()


def reg_query(key, *value):
    done = subprocess.run(["wine", "reg", "query", key] + list(value), capture_output=True,
                          timeout=60, env=env)
    return done.returncode, done.stdout.decode("utf-8", "replace")


BROWSER_KEYS = ["HKCU\\Software\\" + key + "\\NativeMessagingHosts\\com.varnel.v2" for key in (
    "Google\\Chrome", "Chromium", "Microsoft\\Edge", "BraveSoftware\\Brave-Browser", "Mozilla")]
RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"


def check_installer(msi, urls, hashes):
    local = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local"))[0]
    folder = os.path.join(local, "Programs", "Varnel")
    menu = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming",
                                  "Microsoft", "Windows", "Start Menu", "Programs"))[0]
    shortcut = os.path.join(menu, "Varnel downloads.lnk")
    installed = ["service.exe", "varnel.exe", "native-host.exe", "com.varnel.v2.chromium.json",
                 "com.varnel.v2.firefox.json"]
    cli("service", "stop")  # the build's own
    done = subprocess.run(["wine", "msiexec", "/i", windows_path(msi), "/qn"], capture_output=True,
                          timeout=300, env=env)
    assert done.returncode == 0, done
    assert sorted(os.listdir(folder)) == sorted(installed), os.listdir(folder)
    assert os.path.isfile(shortcut), os.listdir(menu)
    for key in BROWSER_KEYS:
        code, out = reg_query(key, "/ve")
        family = "firefox" if "Mozilla" in key else "chromium"
        assert code == 0 and "Programs\\Varnel\\com.varnel.v2.%s.json" % family in out, (key, out)
    code, out = reg_query(RUN_KEY, "/v", "Varnel")
    assert code == 0 and "Programs\\Varnel\\service.exe" in out, out
    with open(os.path.join(folder, "com.varnel.v2.chromium.json")) as manifest:
        chromium = json.load(manifest)
    assert chromium["path"] == "native-host.exe" and chromium["type"] == "stdio", chromium

    # The installed varnel.exe starts the installed service.exe beside it.
    installed_varnel = os.path.join(folder, "varnel.exe")
    got = wine(installed_varnel, ["add", urls["installed.bin"], "--sha256", hashes["installed.bin"]])
    assert got[0] == 0, got
    task_id = got[1].strip().split()[-1]
    wait_status(task_id, "Completed")
    running = wine(installed_varnel, ["service", "start"])[1]
    assert "Programs\\Varnel\\service.exe" in running, running
    assert wine(installed_varnel, ["service", "stop"])[0] == 0

    done = subprocess.run(["wine", "msiexec", "/x", windows_path(msi), "/qn"], capture_output=True,
                          timeout=300, env=env)
    assert done.returncode == 0, done
    assert not os.path.exists(folder) and not os.path.exists(shortcut), os.listdir(local)
    for key in BROWSER_KEYS + ["HKCU\\Software\\Varnel"]:
        assert reg_query(key)[0] != 0, key
    assert "Varnel" not in reg_query(RUN_KEY)[1]
    # Never the user's downloads or data.
    assert os.path.isfile(os.path.join(downloads, "installed.bin"))
    assert os.path.isfile(os.path.join(data_root, "data", "downloads.db"))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    # Wine keeps its own LOCALAPPDATA, in the registry, whatever the Unix
    # environment says; this value lasts as long as this wineserver, which
    # scripts/test-windows.sh keeps running (wineserver -p).
    os.makedirs(app_data)
    subprocess.run(["wine", "reg", "add", "HKCU\\Volatile Environment", "/v", "LOCALAPPDATA",
                    "/d", windows_path(app_data), "/f"], check=True, capture_output=True,
                   timeout=60, env=env)
    torrent_port = free_port()
    env["VARNEL_TORRENT_LISTEN_INTERFACES"] = "127.0.0.1:%d" % torrent_port

    served = os.path.join(root, "served")
    os.makedirs(served)
    sizes = {"one.bin": 1500000, "eight.bin": 3000000, "slow.bin": 1500000, "captured.bin": 200000,
             "installed.bin": 100000}
    hashes = {}
    for name, size in sizes.items():
        with open(os.path.join(served, name), "wb") as data:
            data.write(os.urandom(size))
        hashes[name] = sha256(os.path.join(served, name))
    server = subprocess.Popen([serve_file] + [os.path.join(served, n) for n in sizes],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        urls = {name: server.stdout.readline().strip() for name in sizes}
        # 100,000 bytes a second a connection: slow enough to act on mid-way.
        urls["slow"] = urls["slow.bin"].replace("/slow.bin", "/slow/slow.bin")
        phases = [("http", lambda: check_http(urls, hashes)), ("doctor", check_doctor),
                  ("capture", lambda: check_capture(urls, hashes))]
        if "--without-torrent" not in sys.argv:
            phases.append(("torrents", lambda: check_torrents(torrent_port)))
        if "--msi" in sys.argv:
            msi = sys.argv[sys.argv.index("--msi") + 1]
            phases.append(("installer", lambda: check_installer(msi, urls, hashes)))
        for name, phase in phases:
            started = time.monotonic()
            phase()
            print("  whole_system: %s passed in %.0f s" % (name, time.monotonic() - started))
    finally:
        wine(varnel, ["service", "stop"])
        server.stdin.close()
        server.wait(timeout=30)


main()
