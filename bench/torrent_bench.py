"""The torrent scenarios of the benchmark: a tracker on loopback, seeders made
with Debian's python3-libtorrent (bench/torrent_peer.py), and three
contestants: the service (through `varnel torrent --wait`), aria2c (TCP only)
and a plain libtorrent session at its default settings. Every downloaded file
is checked by SHA-256. Imported by compare.py; needs /usr/bin/python3.
"""
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

MiB = 1024 * 1024
PEER = Path(__file__).with_name("torrent_peer.py")
PYTHON = "/usr/bin/python3"


class Tracker:
    """An HTTP tracker on 127.0.0.1 that hands every peer of a torrent the
    others' loopback ports (compact form)."""

    def __init__(self):
        swarms = self.swarms = {}
        lock = self.lock = threading.Lock()

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                query = urllib.parse.urlsplit(self.path).query
                fields = urllib.parse.parse_qs(query, encoding="latin-1")
                info_hash = fields.get("info_hash", [""])[0].encode("latin-1")
                port = int(fields.get("port", ["0"])[0])
                with lock:
                    peers = swarms.setdefault(info_hash, set())
                    if fields.get("event", [""])[0] == "stopped":
                        peers.discard(port)
                    elif port:
                        peers.add(port)
                    others = [p for p in peers if p != port]
                compact = b"".join(socket.inet_aton("127.0.0.1") + struct.pack(">H", p)
                                   for p in others)
                body = b"d8:intervali5e5:peers%d:%se" % (len(compact), compact)
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d/announce" % self.server.server_address[1]

    def stop(self):
        self.server.shutdown()


def make_torrent(data, torrent, tracker_url):
    subprocess.run([PYTHON, str(PEER), "make", str(data), str(torrent), tracker_url], check=True)


class Seeder:
    def __init__(self, torrent, folder):
        self.process = subprocess.Popen([PYTHON, str(PEER), "seed", str(torrent), str(folder)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("seeder did not start")

    @staticmethod
    def wait_announced(tracker, count, seconds=60):
        """Until the tracker knows count peers: a contestant must find them."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with tracker.lock:
                if any(len(peers) >= count for peers in tracker.swarms.values()):
                    return
            time.sleep(0.05)
        raise RuntimeError("seeders did not announce themselves")

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


def digests_of(folder):
    from compare import sha256_file
    return {p.relative_to(folder): sha256_file(p) for p in sorted(folder.rglob("*")) if p.is_file()}


def run_varnel(service, torrent, out):
    from compare import timed
    service.reset_peak_rss()
    cpu_before = service.cpu_seconds()
    wall, client_cpu, _, code = timed(
        [str(service.varnel), "torrent", str(torrent), "-o", str(out), "--wait"],
        env=service.env, stdout=subprocess.DEVNULL)
    cpu = service.cpu_seconds() - cpu_before + client_cpu
    result = (wall, cpu, service.peak_rss_mib(), code == 0)
    service.delete_all(delete_files=False)
    return result


def contestants(service, torrent, out):
    from compare import timed
    table = {
        "varnel": lambda: run_varnel(service, torrent, out),
        "aria2c": lambda: timed(
            ["aria2c", "-q", "--seed-time=0", "--enable-dht=false", "--enable-dht6=false",
             "--bt-enable-lpd=false", "--enable-peer-exchange=false", "--summary-interval=0",
             "--allow-overwrite=true", "--file-allocation=none", "-d", str(out), str(torrent)]),
        "libtorrent": lambda: timed([PYTHON, str(PEER), "fetch", str(torrent), str(out)]),
    }
    if not shutil.which("aria2c"):
        del table["aria2c"]
    return table


def measure(title, table, out, digests, runs):
    results = {name: [] for name in table}
    for run in range(runs):
        for name, go in table.items():
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir(parents=True)
            wall, cpu, rss, outcome = go()[:4]
            # Ours reports success, the programs an exit code.
            ok = (outcome if isinstance(outcome, bool) else outcome == 0) and \
                digests_of(out) == digests
            results[name].append((wall, cpu, rss, ok))
            print(f"  run {run + 1} {name:12s} {wall:7.2f} s", file=sys.stderr)
    shutil.rmtree(out, ignore_errors=True)
    medians = {}
    for name, rows in results.items():
        medians[name] = tuple(statistics.median(r[i] for r in rows) for i in range(3)) + (
            all(r[3] for r in rows),)
    print_table(title, runs, medians)
    return medians


def print_table(title, runs, medians):
    print(f"\n{title} (median of {runs})")
    print(f"{'contestant':14s}{'wall s':>9s}{'cpu s':>9s}{'peak RSS MiB':>14s}"
          f"{'ratio to best other':>22s}  sha256")
    for name, (wall, cpu, rss, ok) in medians.items():
        others = [m[0] for n, m in medians.items() if n != name]
        ratio = f"{wall / min(others):.2f}" if others else "-"
        print(f"{name:14s}{wall:9.2f}{cpu:9.2f}{rss:14.1f}{ratio:>22s}  "
              f"{'ok' if ok else 'MISMATCH'}")


def scenario(service, work, runs, name, files, seeders):
    """files: {relative name: size}; a single entry makes a single-file torrent."""
    from compare import make_file
    tracker = Tracker()
    source = work / "torrents" / name
    data = source / "data" if len(files) > 1 else source / next(iter(files))
    try:
        for index, (relative, size) in enumerate(sorted(files.items())):
            target = source / "data" / relative if len(files) > 1 else data
            make_file(target, size, 1000 + index)
        torrent = source.with_suffix(".torrent")
        make_torrent(data, torrent, tracker.url)
        folders = [source]
        for extra in range(1, seeders):
            # Each seeder its own copy: one file read by several sessions at
            # once would measure the page cache, not the peers.
            copy = work / "torrents" / f"{name}-seeder{extra}"
            if not copy.exists():
                shutil.copytree(source, copy, ignore=shutil.ignore_patterns("*.torrent"))
            folders.append(copy)
        running = [Seeder(torrent, folder) for folder in folders]
        try:
            Seeder.wait_announced(tracker, seeders)
            total = sum(files.values())
            title = f"torrent {name}: {total // MiB} MiB, {len(files)} file(s), {seeders} seeder(s)"
            base = data if len(files) > 1 else source
            digests = {Path(data.name) / k if len(files) > 1 else k: v
                       for k, v in digests_of(base).items()}
            return measure(title, contestants(service, torrent, work / "torrent-out"),
                           work / "torrent-out", digests, runs)
        finally:
            for seeder in running:
                seeder.stop()
    finally:
        tracker.stop()


def upload(service, work, name, runs):
    """aria2c fetching from the service as the only seeder, against aria2c
    fetching from a plain libtorrent seeder: the service must serve at least
    as fast."""
    from compare import timed
    tracker = Tracker()
    source = work / "torrents" / name
    torrent = work / "torrents" / f"{name}-upload.torrent"
    out = work / "torrent-out"
    data = next(p for p in source.iterdir() if p.is_file())
    digests = digests_of(source)
    aria = ["aria2c", "-q", "--seed-time=0", "--enable-dht=false", "--enable-dht6=false",
            "--bt-enable-lpd=false", "--enable-peer-exchange=false", "--summary-interval=0",
            "--allow-overwrite=true", "--file-allocation=none", "-d", str(out), str(torrent)]
    times = {"from a plain libtorrent seeder": [], "from varnel": []}
    try:
        make_torrent(data, torrent, tracker.url)
        for run in range(runs):
            for seeder_kind in times:
                shutil.rmtree(out, ignore_errors=True)
                out.mkdir(parents=True)
                if seeder_kind == "from varnel":
                    # The service checks the data in place and seeds it.
                    service.ask({"type": "enqueue_torrent", "torrentFilePath": str(torrent),
                                 "outputPath": str(source)})
                    service.wait_all_ended(120, 0.1)
                    seeder = None
                else:
                    seeder = Seeder(torrent, source)
                Seeder.wait_announced(tracker, 1)
                wall, _, _, code = timed(aria)
                ok = code == 0 and digests_of(out) == digests
                times[seeder_kind].append(wall if ok else float("inf"))
                if seeder:
                    seeder.stop()
                else:
                    service.delete_all(delete_files=False)
                with tracker.lock:
                    tracker.swarms.clear()
                print(f"  run {run + 1} aria2c {seeder_kind:32s} {wall:7.2f} s", file=sys.stderr)
    finally:
        tracker.stop()
        shutil.rmtree(out, ignore_errors=True)
    print(f"\ntorrent upload: aria2c fetching {name} (median of {runs})")
    for kind, rows in times.items():
        print(f"  {kind:34s}{statistics.median(rows):9.2f} s")
    ratio = statistics.median(times["from varnel"]) / statistics.median(
        times["from a plain libtorrent seeder"])
    print(f"  varnel / plain seeder = {ratio:.2f}  (target <= 1)  {'met' if ratio <= 1 else 'NOT met'}")


def torrents(service, work, runs):
    size = int(os.environ.get("BENCH_TORRENT_MIB", "512")) * MiB
    medians = scenario(service, work, runs, "single", {"single.bin": size}, 1)
    if "aria2c" in medians:
        ratio = medians["varnel"][0] / medians["aria2c"][0]
        print(f"  varnel / aria2c = {ratio:.2f}  (target <= 1.3)  "
              f"{'met' if ratio <= 1.3 else 'NOT met'}")
    upload(service, work, "single", runs)
    if os.environ.get("BENCH_TORRENT_QUICK"):
        return
    scenario(service, work, runs, "four-seeders", {"big.bin": 2 * size}, 4)
    scenario(service, work, runs, "many-files",
             {f"f{i:03d}.bin": MiB for i in range(200)}, 1)
