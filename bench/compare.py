#!/usr/bin/env python3
"""Download benchmark: the Varnel service against aria2c, axel, curl and wget.

Runs inside a private network namespace (bench/compare.sh puts it there). Starts
a private nginx on 127.0.0.1 with sendfile on, serves files of deterministic
content, and times every contestant in the same run, alternating them. Prints
medians and the ratios that matter; every downloaded file's SHA-256 is checked.
"""
import argparse
import hashlib
import json
import os
import shutil
import socket
import sqlite3
import statistics
import subprocess
import sys
import time
from pathlib import Path

MiB = 1024 * 1024


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(4 * MiB):
            digest.update(chunk)
    return digest.hexdigest()


def make_file(path, size, seed):
    """Deterministic bytes: AES-CTR keystream of a fixed key, cut to size."""
    if path.exists() and path.stat().st_size == size:
        return
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as out:
        enc = subprocess.Popen(
            ["openssl", "enc", "-aes-128-ctr", "-nosalt", "-pass", f"pass:varnel-{seed}",
             "-pbkdf2", "-in", "/dev/zero"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        left = size
        while left > 0:
            chunk = enc.stdout.read(min(left, 4 * MiB))
            out.write(chunk)
            left -= len(chunk)
        enc.kill()
        enc.wait()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def timed(command, **kwargs):
    """Runs command; returns (wall seconds, cpu seconds, peak RSS MiB, exit code)."""
    start = time.monotonic()
    process = subprocess.Popen(command, **kwargs)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024, process.returncode


class Nginx:
    def __init__(self, work, www, name="nginx", rate=None):
        self.port = free_port()
        self.prefix = work / name
        limit = f"limit_rate {rate};" if rate else ""
        self.prefix.mkdir(parents=True, exist_ok=True)
        conf = self.prefix / "nginx.conf"
        conf.write_text(f"""
worker_processes 2;
pid {self.prefix}/nginx.pid;
error_log {self.prefix}/error.log;
events {{ worker_connections 1024; }}
http {{
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  client_body_temp_path {self.prefix}/body;
  proxy_temp_path {self.prefix}/proxy;
  fastcgi_temp_path {self.prefix}/fastcgi;
  uwsgi_temp_path {self.prefix}/uwsgi;
  scgi_temp_path {self.prefix}/scgi;
  server {{
    listen 127.0.0.1:{self.port};
    root {www};
    location /throttled/ {{ limit_rate 1m; }}
    {limit}
  }}
}}
""")
        self.start()

    def start(self):
        subprocess.run(["nginx", "-c", str(self.prefix / "nginx.conf"), "-p", str(self.prefix)],
                       check=True)

    def halt(self):
        """Fast shutdown: open connections are cut, new ones refused."""
        pid_file = self.prefix / "nginx.pid"
        subprocess.run(["nginx", "-c", str(self.prefix / "nginx.conf"), "-p", str(self.prefix),
                        "-s", "stop"], check=False)
        deadline = time.monotonic() + 10
        while pid_file.exists() and time.monotonic() < deadline:
            time.sleep(0.05)

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{path}"

    def stop(self):
        subprocess.run(["nginx", "-c", str(self.prefix / "nginx.conf"), "-p", str(self.prefix),
                        "-s", "quit"], check=False)


class Service:
    """The real service, in a private data root, driven over its socket."""

    def __init__(self, root, work):
        self.binary = root / "build/release/apps/service/service"
        self.varnel = root / "build/release/apps/varnel/varnel"
        self.env = dict(os.environ)
        for name, sub in [("HOME", "home"), ("LOCALAPPDATA", "localappdata"),
                          ("XDG_RUNTIME_DIR", "run"), ("XDG_DOWNLOAD_DIR", "downloads")]:
            path = work / "env" / sub
            path.mkdir(parents=True, exist_ok=True)
            self.env[name] = str(path)
        os.chmod(work / "env" / "run", 0o700)
        self.socket = Path(self.env["XDG_RUNTIME_DIR"]) / "VarnelV2"
        self.database = Path(self.env["LOCALAPPDATA"]) / "VarnelV2/data/downloads.db"
        self.process = None

    def start(self):
        self.process = subprocess.Popen([str(self.binary)], env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, start_new_session=True)
        line = self.process.stdout.readline()
        if "Download service started." not in line:
            raise RuntimeError("service did not start: " + self.process.stderr.read())

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)

    def ask(self, request):
        return json.loads(self.ask_raw(request))

    def ask_raw(self, request):
        """The answer's bytes, as they arrive (timing excludes parsing them)."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as s:
            s.settimeout(30)
            s.connect(str(self.socket))
            s.send(json.dumps(request).encode())
            answer = b""
            while chunk := s.recv(65536):
                answer += chunk
        return answer

    def cpu_seconds(self):
        fields = Path(f"/proc/{self.process.pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def reset_peak_rss(self):
        Path(f"/proc/{self.process.pid}/clear_refs").write_text("5")

    def peak_rss_mib(self):
        for line in Path(f"/proc/{self.process.pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
        return 0.0

    def enqueue(self, url, folder, name):
        """enqueue_download; returns the round trip in ms."""
        t = time.monotonic()
        self.ask({"type": "enqueue_download", "url": url, "outputPath": str(folder),
                  "fileName": name})
        return (time.monotonic() - t) * 1000

    def wait_all_ended(self, seconds, pause, each_poll=lambda: None):
        """Polls list_downloads until every download has ended (each_poll runs
        before each poll) or seconds pass."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            each_poll()
            if all(t["status"] in ENDED for t in self.ask({"type": "list_downloads"})["downloads"]):
                return
            time.sleep(pause)

    def delete_all(self, delete_files=True):
        for task in self.ask({"type": "list_downloads"})["downloads"]:
            self.ask({"type": "delete_download", "id": task["id"], "deleteFile": delete_files})


def run_ours(service, url, out, name, digest, connections):
    service.reset_peak_rss()
    cpu_before = service.cpu_seconds()
    wall, client_cpu, _, code = timed(
        [str(service.varnel), "add", url, "-o", str(out), "-O", name, "-x", str(connections),
         "--sha256", digest, "--wait"], env=service.env, stdout=subprocess.DEVNULL)
    cpu = service.cpu_seconds() - cpu_before + client_cpu
    result = (wall, cpu, service.peak_rss_mib(), code == 0)
    service.delete_all(delete_files=False)  # the caller checks the file, then removes it
    return result


def curl16_script(url, out, name, size):
    part = size // 16
    lines = ["set -e", f"cd {out}"]
    for i in range(16):
        last = size - 1 if i == 15 else (i + 1) * part - 1
        lines.append(f"curl -s -r {i * part}-{last} -o {name}.{i} {url} &")
    lines.append("wait")
    lines.append(f"cat {' '.join(f'{name}.{i}' for i in range(16))} > {name}")
    lines.append(f"rm -f {' '.join(f'{name}.{i}' for i in range(16))}")
    lines.append(f"sha256sum {name} > /dev/null")
    return ["bash", "-c", "\n".join(lines)]


def contestants(service, url, out, name, digest, size, connections):
    aria = ["aria2c", "-x16", "-s16", "-k1M", "-d", str(out), "-o", name, "-q",
            "--allow-overwrite=true", "--summary-interval=0", url]
    table = {
        "varnel": lambda: run_ours(service, url, out, name, digest, connections),
        "aria2c+sha256": lambda: timed(aria[:-1] + [f"--checksum=sha-256={digest}", url]),
        "aria2c": lambda: timed(aria),
        "axel -n16": lambda: timed(["axel", "-q", "-n", "16", "-o", str(out / name), url],
                                   stdout=subprocess.DEVNULL),
        "curl": lambda: timed(["curl", "-s", "-o", str(out / name), url]),
        "curl16+cat+sha256sum": lambda: timed(curl16_script(url, out, name, size)),
    }
    # A contestant whose program is not installed is left out, not fatal.
    programs = {"aria2c+sha256": "aria2c", "aria2c": "aria2c", "axel -n16": "axel",
                "curl": "curl", "curl16+cat+sha256sum": "curl"}
    return {k: v for k, v in table.items() if k not in programs or shutil.which(programs[k])}


def measure(title, table, out, name, digest, runs):
    results = {contestant: [] for contestant in table}
    for run in range(runs):
        for contestant, go in table.items():
            target = out / name
            target.unlink(missing_ok=True)
            outcome = go()
            wall, cpu, rss = outcome[0], outcome[1], outcome[2]
            ok = target.exists() and sha256_file(target) == digest
            target.unlink(missing_ok=True)
            results[contestant].append((wall, cpu, rss, ok))
            print(f"  run {run + 1} {contestant:22s} {wall:7.2f} s", file=sys.stderr)
    print(f"\n{title} (median of {runs})")
    print(f"{'contestant':24s}{'wall s':>9s}{'cpu s':>9s}{'peak RSS MiB':>14s}"
          f"{'ratio to best other':>22s}  sha256")
    medians = {}
    for contestant, rows in results.items():
        wall = statistics.median(r[0] for r in rows)
        cpu = statistics.median(r[1] for r in rows)
        rss = statistics.median(r[2] for r in rows)
        ok = all(r[3] for r in rows)
        medians[contestant] = (wall, cpu, rss, ok)
    for contestant, (wall, cpu, rss, ok) in medians.items():
        others = [m[0] for name, m in medians.items() if name != contestant]
        ratio = f"{wall / min(others):.2f}" if others else "-"
        print(f"{contestant:24s}{wall:9.2f}{cpu:9.2f}{rss:14.1f}{ratio:>22s}  "
              f"{'ok' if ok else 'MISMATCH'}")
    return medians


def ratio_line(medians, a, b, target, above=False):
    if a not in medians or b not in medians:
        return
    value = medians[a][0] / medians[b][0]
    verdict = (value >= target) if above else (value <= target)
    relation = ">=" if above else "<="
    print(f"  {a} / {b} = {value:.2f}  (target {relation} {target})  {'met' if verdict else 'NOT met'}")


BATCHES = [("500 files of 64 KiB", "batch64", 500, 64 * 1024),
           ("2,000 files of 16 KiB", "batch16", 2000, 16 * 1024)]
ENDED = ("Completed", "Failed", "Cancelled", "Paused")


def process_threads(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("Threads:"):
            return int(line.split()[1])
    return 0


class PeakThreads:
    """The most threads a process was seen with."""

    def __init__(self, pid):
        self.pid = pid
        self.threads = process_threads(pid)

    def sample(self):
        self.threads = max(self.threads, process_threads(self.pid))


def make_batch(www, folder, count, size):
    files = []
    for i in range(count):
        path = www / folder / f"f{i:05d}.bin"
        if not (path.exists() and path.stat().st_size == size):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(hashlib.shake_256(f"{folder}-{i}".encode()).digest(size))
        files.append(path)
    return files


def varnel_batch(service, nginx, folder, files, out):
    """Enqueues every URL in a row, then polls list_downloads to the end.
    Returns (wall s, peak threads, peak RSS MiB)."""
    service.reset_peak_rss()
    peak = PeakThreads(service.process.pid)
    start = time.monotonic()
    for f in files:
        service.enqueue(nginx.url(f"{folder}/{f.name}"), out, f.name)
        peak.sample()
    service.wait_all_ended(600, 0.02, peak.sample)
    wall = time.monotonic() - start
    return wall, peak.threads, service.peak_rss_mib()


def aria_batch(nginx, folder, files, out, work):
    listing = work / f"{folder}.list"
    listing.write_text("".join(nginx.url(f"{folder}/{f.name}") + "\n" for f in files))
    return timed(["aria2c", "-i", str(listing), "-j", "16", "-d", str(out), "-q",
                  "--allow-overwrite=true", "--auto-file-renaming=false",
                  "--summary-interval=0"])[0]


def all_good(files, digests, out):
    return all((out / f.name).exists() and sha256_file(out / f.name) == digests[f.name]
               for f in files)


def batches(service, nginx, www, out, work, runs):
    print("\nBatches (each file checked by SHA-256; median of runs)")
    print(f"{'batch':24s}{'varnel s':>10s}{'aria2c -j16 s':>15s}{'ratio':>7s}"
          f"{'threads':>9s}{'RSS MiB':>9s}  sha256")
    for title, folder, count, size in BATCHES:
        files = make_batch(www, folder, count, size)
        digests = {f.name: sha256_file(f) for f in files}
        ours, theirs, threads, rss, ok = [], [], [], [], True
        for run in range(runs):
            target = out / folder
            shutil.rmtree(target, ignore_errors=True)
            target.mkdir(parents=True)
            wall, peak_threads, peak_rss = varnel_batch(service, nginx, folder, files, target)
            ok = ok and all_good(files, digests, target)
            service.delete_all(delete_files=False)
            shutil.rmtree(target, ignore_errors=True)
            target.mkdir(parents=True)
            aria = aria_batch(nginx, folder, files, target, work)
            ok = ok and all_good(files, digests, target)
            shutil.rmtree(target, ignore_errors=True)
            ours.append(wall)
            theirs.append(aria)
            threads.append(peak_threads)
            rss.append(peak_rss)
            print(f"  run {run + 1} {title}: varnel {wall:.2f} s, aria2c {aria:.2f} s",
                  file=sys.stderr)
        a, b = statistics.median(ours), statistics.median(theirs)
        print(f"{title:24s}{a:10.2f}{b:15.2f}{a / b:7.2f}{max(threads):9d}{max(rss):9.1f}  "
              f"{'ok' if ok else 'MISMATCH'}")
    print("  targets: ratio <= 1.0; threads <= 100 and RSS <= 40 MiB in the 2,000-file batch")


def enqueue_while_transferring(service, nginx, www, out):
    """enqueue_download times while earlier downloads of 1 MiB transfer; the
    first 20 are left out, so the rest meet a full set of runs."""
    files = sorted((www / "small").iterdir())
    target = out / "busy"
    target.mkdir(parents=True, exist_ok=True)
    times = [service.enqueue(nginx.url(f"small/{f.name}"), target, f.name) for f in files]
    transferring = sum(1 for task in service.ask({"type": "list_downloads"})["downloads"]
                       if task["status"] not in ENDED)
    print(f"\n  enqueue_download: median {statistics.median(times[20:]):.2f} ms over the last "
          f"80 of 100, {transferring} not ended at the last (target <= 1 ms)")
    service.wait_all_ended(300, 0.2)
    service.delete_all()
    shutil.rmtree(target, ignore_errors=True)


def scale(service, nginx, www, out):
    print("\nScale")
    service.stop()
    with sqlite3.connect(service.database) as db:
        db.executemany(
            "INSERT INTO downloads (id, url, file_name, output_path, status, total_bytes, "
            "downloaded_bytes) VALUES (?, ?, ?, ?, 'Failed', 1000, 0)",
            [(f"dl_{i:013d}", f"http://127.0.0.1:9/f{i}", f"f{i}", str(out)) for i in range(10000)])
    start = time.monotonic()
    service.start()
    print(f"  start-up with 10,000 stored downloads: {time.monotonic() - start:.2f} s")
    times = []
    for _ in range(20):
        t = time.monotonic()
        raw = service.ask_raw({"type": "list_downloads"})
        times.append((time.monotonic() - t) * 1000)
    listed = json.loads(raw)["downloads"]
    print(f"  list_downloads of {len(listed)}: median {statistics.median(times):.1f} ms "
          f"(target < 50 ms)")
    service.stop()
    with sqlite3.connect(service.database) as db:
        db.execute("DELETE FROM downloads")
    service.start()

    files = sorted((www / "small").iterdir())
    digests = {f.name: sha256_file(f) for f in files}
    for f in files:
        service.enqueue(nginx.url(f"small/{f.name}"), out / "many", f.name)
    t = time.monotonic()
    service.ask_raw({"type": "list_downloads"})
    during = (time.monotonic() - t) * 1000
    service.wait_all_ended(300, 0.2)
    good = sum(1 for f in files if (out / "many" / f.name).exists()
               and sha256_file(out / "many" / f.name) == digests[f.name])
    print(f"  {len(files)} downloads at once: {good} completed with correct SHA-256; "
          f"list_downloads during the run: {during:.1f} ms (target < 200 ms)")
    service.delete_all()


def many_at_once(service, nginx, www, out, count):
    """count files of 16 KiB enqueued in a row, then waited on; every file is
    checked. Prints the enqueue median, peak threads and peak RSS."""
    print(f"\n{count:,} downloads of 16 KiB enqueued at once")
    files = make_batch(www, "many16", count, 16 * 1024)
    digests = {f.name: sha256_file(f) for f in files}
    target = out / "many16"
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir(parents=True)
    service.reset_peak_rss()
    peak = PeakThreads(service.process.pid)
    times = []
    start = time.monotonic()
    for f in files:
        times.append(service.enqueue(nginx.url(f"many16/{f.name}"), target, f.name))
        if len(times) % 100 == 0:
            peak.sample()
    enqueued = time.monotonic() - start
    service.wait_all_ended(1800, 0.5, peak.sample)
    wall = time.monotonic() - start
    rss = service.peak_rss_mib()
    good = sum(1 for f in files if (target / f.name).exists()
               and sha256_file(target / f.name) == digests[f.name])
    print(f"  {good} of {count} completed with the right SHA-256 in {wall:.1f} s "
          f"(enqueued in {enqueued:.1f} s); enqueue_download median "
          f"{statistics.median(times):.2f} ms, last 1,000 {statistics.median(times[-1000:]):.2f} ms; "
          f"peak threads {peak.threads}, peak RSS {rss:.1f} MiB")
    service.delete_all(delete_files=False)
    shutil.rmtree(target, ignore_errors=True)


def outage(service, work, www, out):
    """The server goes away mid-download and comes back on the same port. Every
    contestant runs at its default settings."""
    seconds = int(os.environ.get("BENCH_OUTAGE_SECONDS", "20"))
    name = "outage.bin"
    make_file(www / name, 32 * MiB, 3)
    digest = sha256_file(www / name)
    # 1 MiB/s per connection: one second in, every contestant is mid-download.
    server = Nginx(work, www, name="nginx-outage", rate="1m")
    url = server.url(name)
    table = {
        "varnel": [str(service.varnel), "add", url, "-o", str(out), "-O", name, "--wait"],
        "aria2c": ["aria2c", "-q", "-d", str(out), "-o", name, "--allow-overwrite=true", url],
        "axel": ["axel", "-q", "-o", str(out / name), url],
        "curl": ["curl", "-s", "-o", str(out / name), url],
        "wget": ["wget", "-q", "-O", str(out / name), url],
    }
    print(f"\nOutage: 32 MiB at 1 MiB/s per connection, server away for {seconds} s "
          f"after 1 s (default settings)")
    print(f"{'contestant':24s}{'wall s':>9s}  result")
    try:
        for contestant, command in table.items():
            if not shutil.which(command[0]):
                print(f"{contestant:24s}{'':>9s}  not installed")
                continue
            target = out / name
            target.unlink(missing_ok=True)
            start = time.monotonic()
            process = subprocess.Popen(command, env=service.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            time.sleep(1)
            server.halt()
            time.sleep(seconds)
            server.start()
            try:
                code = process.wait(timeout=600)
            except subprocess.TimeoutExpired:
                process.kill()
                code = process.wait()
            wall = time.monotonic() - start
            ok = code == 0 and target.exists() and sha256_file(target) == digest
            result = "completed, sha256 ok" if ok else f"FAILED (exit {code})"
            print(f"{contestant:24s}{wall:9.1f}  {result}")
            target.unlink(missing_ok=True)
            service.delete_all(delete_files=False)
    finally:
        server.stop()


def single_downloads(service, nginx, out, size, big_digest, medium_digest, runs):
    table = contestants(service, nginx.url("big.bin"), out, "big.bin", big_digest, size, 16)
    first = measure(f"Scenario 1: {size // MiB} MiB unthrottled", table, out, "big.bin",
                    big_digest, runs)
    ratio_line(first, "varnel", "aria2c+sha256", 0.3)
    ratio_line(first, "varnel", "curl16+cat+sha256sum", 0.65)
    print(f"  varnel peak RSS {first['varnel'][2]:.1f} MiB (target <= 32 MiB)")

    table = contestants(service, nginx.url("throttled/medium.bin"), out, "medium.bin",
                        medium_digest, 64 * MiB, 16)
    second = measure("Scenario 2: 64 MiB, nginx limit_rate 1m per connection",
                     {k: table[k] for k in ("varnel", "aria2c")}, out, "medium.bin",
                     medium_digest, runs)
    if not os.environ.get("BENCH_SKIP_SLOW"):
        second.update(measure("Scenario 2, one connection (one run: about a minute)",
                              {"curl": table["curl"]}, out, "medium.bin", medium_digest, 1))
    ratio_line(second, "varnel", "aria2c", 1.0)
    if "curl" in second:
        speedup = second["curl"][0] / second["varnel"][0]
        print(f"  curl / varnel = {speedup:.1f}  (target >= 15)  "
              f"{'met' if speedup >= 15 else 'NOT met'}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", type=Path, required=True)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    work = Path(os.environ.get("BENCH_DIR", "/var/tmp/varnel-bench"))
    size = int(os.environ.get("BENCH_SIZE_MIB", "1024")) * MiB
    www, out = work / "www", work / "out"
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(work / "env", ignore_errors=True)
    out.mkdir(parents=True)
    if os.environ.get("BENCH_ONLY_TORRENT"):
        import torrent_bench
        service = Service(args.root, work)
        service.start()
        try:
            torrent_bench.torrents(service, work, args.runs)
        finally:
            service.stop()
        return
    if os.environ.get("BENCH_ONLY_OUTAGE"):
        service = Service(args.root, work)
        service.start()
        try:
            outage(service, work, www, out)
        finally:
            service.stop()
        return
    print("preparing files ...", file=sys.stderr)
    make_file(www / "big.bin", size, 1)
    make_file(www / "throttled" / "medium.bin", 64 * MiB, 2)
    for i in range(100):
        make_file(www / "small" / f"s{i:03d}.bin", MiB, 100 + i)
    big_digest = sha256_file(www / "big.bin")
    medium_digest = sha256_file(www / "throttled" / "medium.bin")

    nginx = Nginx(work, www)
    service = Service(args.root, work)
    service.start()
    try:
        print(f"machine: {os.cpu_count()} cores; {time.strftime('%Y-%m-%d')}")
        if os.environ.get("BENCH_ONLY_ENQUEUE"):
            for _ in range(args.runs):
                enqueue_while_transferring(service, nginx, www, out)
            return
        if not os.environ.get("BENCH_ONLY_BATCHES"):
            single_downloads(service, nginx, out, size, big_digest, medium_digest, args.runs)
        batches(service, nginx, www, out, work, args.runs)
        enqueue_while_transferring(service, nginx, www, out)
        scale(service, nginx, www, out)
        if os.environ.get("BENCH_MANY"):
            many_at_once(service, nginx, www, out, int(os.environ["BENCH_MANY"]))
        outage(service, work, www, out)
        import torrent_bench
        torrent_bench.torrents(service, work, args.runs)
    finally:
        service.stop()
        nginx.stop()


if __name__ == "__main__":
    main()
