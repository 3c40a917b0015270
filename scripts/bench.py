#!/usr/bin/env python3
"""The measuring half of scripts/bench (run it through scripts/bench, which builds first).

Every measure runs the sync program's path and a reference in the same invocation, in
turns, and reports the ratio of the two (absolute times drift on shared machines), with
the minimum and the median of the repeats. The report goes to build/bench/report.md.
"""
import argparse
import base64
import hashlib
import json
import os
import math
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

SIZES = {
    # name: (default, --large)
    "listing_files": (10000, 50000),
    "listing_folders": (100, 500),
    "large_files": (4, 4),
    "large_mib": (32, 256),
    "transfer_mib": (256, 1024),
    "reconcile": ("10000,100000", "10000,100000,1000000"),
    "requests": (300, 1000),
    "initial_files": (1000, 10000),
    "scale_files": (100000, 1000000),
    "program_files": (100000, 1000000),
    "saves": (3, 5),
}

TARGETS = {
    "listing": "within 2x of find",
    "hash": "within 1.3x of the digest function alone",
    "small_md5sum": "<= 0.5x md5sum's time",
    "large": ">= 2x md5sum",
    "download": ">= 0.8x curl, memory flat in the file size",
    "reconcile": "<= 250 ms at 100,000 items, <= 2.5 s at 1,000,000, no worse than n log n",
    "memory": "<= 1 KiB per file (all trees, the cycle's peak included)",
    "program_memory": "<= 1 KiB per file, the whole program's peak resident size",
    "scale_hash": "<= 6 s per million files",
    "keepalive": ">= 0.8x the rate of fresh connections",
}


def parse_pairs(text):
    values = {}
    for token in text.split():
        if "=" in token:
            key, value = token.split("=", 1)
            values[key] = value
    return values


def timed(command, **kwargs):
    """Wall seconds of one run of the command (output thrown away)."""
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, **kwargs)
    return time.perf_counter() - start


def peak_rss_kib(command):
    """Peak resident memory of a command, through GNU time when it is there."""
    if not shutil.which("time") and not os.path.exists("/usr/bin/time"):
        return None
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(result.stderr.strip().splitlines()[-1])


def summary(values):
    return min(values), statistics.median(values)


class Report:
    def __init__(self, path, large, repeats):
        self.path = path
        self.rows = []
        self.notes = []
        self.large = large
        self.repeats = repeats

    def add(self, measure, ours, reference, ratios, target, verdict, unit="s"):
        self.rows.append((measure, ours, reference, ratios, target, verdict, unit))
        rmin, rmed = summary(ratios) if ratios else (None, None)
        print(f"  {measure}: ratio min {fmt(rmin)} median {fmt(rmed)} ({verdict})", flush=True)

    def note(self, text):
        self.notes.append(text)
        print("  " + text, flush=True)

    def write(self):
        cpu = "unknown"
        try:
            with open("/proc/cpuinfo") as f:
                for line in f:
                    if line.startswith("model name"):
                        cpu = line.split(":", 1)[1].strip()
                        break
        except OSError:
            pass
        load = os.getloadavg()[0]
        lines = [
            "# Benchmark report",
            "",
            f"- date: {time.strftime('%Y-%m-%d %H:%M:%S %Z')}",
            f"- machine: {os.cpu_count()} cores, {cpu}, load average {load:.1f} at the end",
            f"- sizes: {'--large' if self.large else 'default'}; {self.repeats} repeats per measure",
            "- ratios: the program's figure against the reference's in the same run, pair by pair; "
            "min and median of the repeats; for times lower is better unless the row says otherwise",
            "",
            "| measure | program (min / median) | reference (min / median) | ratio (min / median) | target | verdict |",
            "|---|---|---|---|---|---|",
        ]
        for measure, ours, reference, ratios, target, verdict, unit in self.rows:
            lines.append(f"| {measure} | {span(ours, unit)} | {span(reference, unit)} | "
                         f"{span(ratios, '')} | {target} | {verdict} |")
        if self.notes:
            lines += ["", "## Notes", ""] + [f"- {n}" for n in self.notes]
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        with open(self.path, "w") as f:
            f.write("\n".join(lines) + "\n")
        print(f"report: {self.path}")


def fmt(value, unit=""):
    if value is None:
        return "-"
    if isinstance(value, str):
        return value
    if abs(value) >= 100:
        return f"{value:.0f}{unit}"
    if abs(value) >= 1:
        return f"{value:.2f}{unit}"
    return f"{value:.3f}{unit}"


def span(values, unit):
    if not values:
        return "-"
    if isinstance(values, str):
        return values
    lo, med = summary(values)
    return f"{fmt(lo, unit)} / {fmt(med, unit)}"


def verdict_at_most(ratios, limit):
    med = statistics.median(ratios)
    if med <= limit:
        return "met"
    return f"missed by {(med / limit - 1) * 100:.0f}%"


def verdict_at_least(ratios, limit):
    med = statistics.median(ratios)
    if med >= limit:
        return "met"
    return f"missed by {(1 - med / limit) * 100:.0f}%"


# ---- generated trees ---------------------------------------------------------------------------

def make_small_tree(root, files, folders):
    os.makedirs(root, exist_ok=True)
    per = max(1, files // folders)
    body = os.urandom(1000)
    made = 0
    for d in range(folders):
        folder = os.path.join(root, f"folder{d:04d}")
        os.makedirs(folder, exist_ok=True)
        for i in range(per):
            if made == files:
                break
            with open(os.path.join(folder, f"file{i:05d}.txt"), "wb") as f:
                f.write(body + str(made).encode().ljust(24))
            made += 1


def make_large_tree(root, count, mib):
    os.makedirs(root, exist_ok=True)
    chunk = os.urandom(1 << 20)
    for i in range(count):
        with open(os.path.join(root, f"large{i}.bin"), "wb") as f:
            for m in range(mib):
                f.write(chunk[m % 7:] + chunk[:m % 7])


def warm(root):
    for path in files_below(root):
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass


def files_below(root):
    out = []
    for dirpath, _, names in os.walk(root):
        out += [os.path.join(dirpath, n) for n in names]
    return sorted(out)


# ---- the test server ---------------------------------------------------------------------------

class Server:
    def __init__(self, build, work, seed=None, start_limit=60):
        self.data = os.path.join(work, "server-data")
        os.makedirs(self.data, exist_ok=True)
        command = [os.path.join(build, "bin", "dravik-testserver"), "--port", "0", "--data", self.data,
                   "--user", "demo:demo"]
        if seed:
            command += ["--seed", seed]
        self.out = open(os.path.join(work, "server.out"), "w+")
        self.proc = subprocess.Popen(command, stdout=self.out, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + start_limit  # seeding many files takes a while
        self.url = None
        self.token = None
        while time.monotonic() < deadline and self.token is None:
            self.out.seek(0)
            lines = self.out.read().splitlines()
            if len(lines) >= 2 and lines[0].startswith("listening on ") and lines[1].startswith("control token: "):
                self.url = lines[0].split("listening on ", 1)[1].strip()
                self.token = lines[1].split("control token: ", 1)[1].strip()
            elif self.proc.poll() is not None:
                break
            else:
                time.sleep(0.05)
        if self.token is None:
            raise RuntimeError("the test server did not start")
        self.host = self.url[len("http://"):]

    def get(self, path):
        request = urllib.request.Request(self.url + path, headers={"X-Control-Token": self.token})
        with urllib.request.urlopen(request, timeout=120) as reply:
            return reply.read()

    def tree(self):
        return json.loads(self.get("/__test/tree?user=demo"))["items"]

    def put(self, path, content):
        body = json.dumps({"user": "demo", "path": path,
                           "content_base64": base64.b64encode(content).decode()}).encode()
        request = urllib.request.Request(self.url + "/__test/put", data=body,
                                         headers={"Content-Type": "application/json",
                                                  "X-Control-Token": self.token})
        with urllib.request.urlopen(request, timeout=120) as reply:
            return json.loads(reply.read())["ref"]

    def login(self):
        query = urllib.parse.urlencode({"user[email]": "demo", "user[pw]": "demo"})
        with urllib.request.urlopen(self.url + "/dravik/app/login?" + query, timeout=60) as reply:
            home = json.loads(reply.read())["homeFolder"]
            for header in reply.headers.get_all("Set-Cookie") or []:
                name_value = header.split(";", 1)[0]
                return name_value, home
        raise RuntimeError("no login cookie")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        self.out.close()


def content_path(ref):
    return "/dravik/api/node/" + ref.replace("://", "/", 1) + "/content"


# ---- measures ----------------------------------------------------------------------------------

def bench_tool(build, *args):
    result = subprocess.run([os.path.join(build, "bin", "dravik-bench")] + list(args), stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, check=True)
    return parse_pairs(result.stdout)


def measure_listing(ctx, report):
    tree = ctx.small_tree
    ours, ref, ratios = [], [], []
    for _ in range(ctx.repeats):
        o = float(bench_tool(ctx.build, "scan", tree)["seconds"])
        r = timed(["find", tree])
        ours.append(o)
        ref.append(r)
        ratios.append(o / r)
    report.add(f"local listing of {ctx.size('listing_files')} files in {ctx.size('listing_folders')} folders "
               "vs `find`", ours, ref, ratios, TARGETS["listing"], verdict_at_most(ratios, 2.0))


def measure_hash(ctx, report):
    tree = ctx.small_tree
    ours, ref, ratios = [], [], []
    for _ in range(ctx.repeats):
        o = float(bench_tool(ctx.build, "hash", tree)["seconds"])
        r = float(bench_tool(ctx.build, "digest", tree)["seconds"])
        ours.append(o)
        ref.append(r)
        ratios.append(o / r)
    report.add("hash pass over the same files vs `FileDigestHex` in a loop", ours, ref, ratios, TARGETS["hash"],
               verdict_at_most(ratios, 1.3))
    # Scan + digest of the small files against md5sum over the same files.
    files = files_below(tree)
    for workers in hash_worker_choices(ctx, tree):
        ours, ref, ratios = [], [], []
        for _ in range(ctx.repeats):
            v = bench_tool(ctx.build, "hash", tree, *workers)
            o = float(v["scan_seconds"]) + float(v["seconds"])
            r = timed(["xargs", "-0", "md5sum"], input=b"\0".join(f.encode() for f in files))
            ours.append(o)
            ref.append(r)
            ratios.append(o / r)
        report.add(f"scan + digest of {len(files)} small files vs `md5sum` (time; {worker_text(v, workers)})", ours,
                   ref, ratios, TARGETS["small_md5sum"], verdict_at_most(ratios, 0.5))


def hash_worker_choices(ctx, tree):
    """The program's own worker count and, when the disk made it one, one per core too."""
    chosen = int(bench_tool(ctx.build, "hash", tree)["workers"])
    cores = min(os.cpu_count() or 1, 8)
    if chosen == 1 and cores > 1:
        ctx.note_once("the kernel reports the benchmark's disk as rotational, so the program digests on one "
                      "worker there; rows marked \"forced\" use one worker per core")
        return [(), (str(cores),)]
    return [()]


def worker_text(values, workers):
    count = values["workers"]
    return f"{count} worker{'' if count == '1' else 's'}" + (", forced" if workers else "")


def measure_large(ctx, report):
    tree = ctx.large_tree
    files = files_below(tree)
    total = sum(os.path.getsize(f) for f in files)
    for workers in hash_worker_choices(ctx, tree):
        ours, ref, ratios = [], [], []
        for _ in range(ctx.repeats):
            v = bench_tool(ctx.build, "hash", tree, *workers)
            o = total / (float(v["scan_seconds"]) + float(v["seconds"])) / 1e6
            r = total / timed(["md5sum"] + files) / 1e6
            ours.append(o)
            ref.append(r)
            ratios.append(o / r)
        report.add(f"scan + MD5 of {len(files)} files of {ctx.size('large_mib')} MiB vs `md5sum` (MB/s, higher is "
                   f"better; {worker_text(v, workers)})", ours, ref, ratios, TARGETS["large"],
                   verdict_at_least(ratios, 2.0), unit="")


def measure_reconcile(ctx, report):
    sizes = [int(s) for s in str(ctx.size("reconcile")).split(",")]
    pattern = "|".join(f"/{s}/" for s in sizes)
    result = subprocess.run([os.path.join(ctx.build, "bin", "dravik-bench"), "reconcile",
                             f"--benchmark_filter=BM_Reconcile({pattern})", "--benchmark_format=json",
                             f"--benchmark_repetitions={max(1, min(ctx.repeats, 3))}"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=True)
    data = json.loads(result.stdout)
    per_size = {}
    for run in data["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        items = int(run["items"])
        entry = per_size.setdefault(items, {"ms": [], "cpu": [], "cycle": run["cycle_bytes_per_item"],
                                            "listing": run["listing_bytes_per_item"]})
        scale = 1 if run["time_unit"] == "ms" else 1e-6
        entry["ms"].append(run["real_time"] * scale)
        entry["cpu"].append(run["cpu_time"] * scale)
    for items in sorted(per_size):
        e = per_size[items]
        limit = {100000: 250, 1000000: 2500}.get(items)
        verdict = "-" if limit is None else verdict_at_most([m / limit for m in e["ms"]], 1.0)
        report.add(f"reconciliation of {items} items (wall ms; CPU {span(e['cpu'], ' ms')})", e["ms"], "-", [],
                   TARGETS["reconcile"] if limit else "-", verdict, unit=" ms")
        per_item = e["listing"] + e["cycle"]
        report.add(f"heap per file at the reconciliation's peak with {items} items: the three listings "
                   f"{e['listing']:.0f} B + the cycle's own {e['cycle']:.0f} B", [per_item], "-", [],
                   TARGETS["memory"], "met" if per_item <= 1024 else f"missed by {(per_item / 1024 - 1) * 100:.0f}%",
                   unit=" B")
    # Growth step by step: a small run's trees sit in the processor's caches, so growth measured
    # from the smallest size straight to the largest mixes that in with the algorithm's order.
    ordered = sorted(per_size)
    for lo, hi in zip(ordered, ordered[1:]):
        grow = statistics.median(per_size[hi]["ms"]) / statistics.median(per_size[lo]["ms"])
        nlogn = hi * math.log(hi) / (lo * math.log(lo))
        report.note(f"reconciliation growth {lo} -> {hi} items: time x{grow:.1f} (n log n would be x{nlogn:.1f}, "
                    f"n x{hi / lo:.0f})")


def measure_scale(ctx, report):
    """Listing and hash pass over many small files: N files of 1 KiB in N/100 folders."""
    count = ctx.size("scale_files")
    tree = ctx.workdir("scale")
    make_small_tree(tree, count, max(1, count // 100))
    warm(tree)
    limit = 6.0 * count / 1000000
    for workers in hash_worker_choices(ctx, tree):
        listing, hashing, rss = [], [], []
        for _ in range(max(1, min(ctx.repeats, 3))):
            v = bench_tool(ctx.build, "hash", tree, *workers)
            listing.append(float(v["scan_seconds"]))
            hashing.append(float(v["seconds"]))
            rss.append(int(v["peak_rss_kib"]) * 1024 / count)
        if not workers:
            report.add(f"local listing of {count} files of 1 KiB in {count // 100} folders", listing, "-", [], "-",
                       "(measure only)")
            report.add(f"peak resident memory per file after listing and hashing {count} files (the local tree "
                       "alone)", rss, "-", [], "-", "(measure only)", unit=" B")
        report.add(f"hash pass over the same {count} files ({worker_text(v, workers)}; target scaled: {limit:g} s)",
                   hashing, "-", [], TARGETS["scale_hash"], verdict_at_most([h / limit for h in hashing], 1.0))
    shutil.rmtree(tree, ignore_errors=True)


def child_pid(parent):
    """The first child of a process (the sync program below the pipe client), or None."""
    try:
        with open(f"/proc/{parent}/task/{parent}/children") as f:
            children = f.read().split()
        return int(children[0]) if children else None
    except OSError:
        return None


def peak_resident_bytes(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


def measure_program(ctx, report):
    """The real sync program's first sync of N local files of 1 KiB in N/100 folders against an
    empty server, from its start until its commit starts (the server holds its first item): the
    time, and the process's peak resident size at that moment."""
    count = ctx.size("program_files")
    limit = max(300, count / 2000)
    times, per_file = [], []
    for attempt in range(max(1, min(ctx.repeats, 2))):
        work = ctx.workdir(f"program{attempt}")
        server = Server(ctx.build, work)
        orvane = Orvane(ctx.build, work, server)
        try:
            make_small_tree(orvane.folder, count, max(1, count // 100))
            warm(orvane.folder)
            start = time.monotonic()
            orvane.start()
            program = None
            peak = None

            def committing():
                nonlocal program, peak
                program = program or child_pid(orvane.proc.pid)
                if program:
                    peak = peak_resident_bytes(program) or peak
                return bool(server.tree())
            if not wait_until(committing, limit):
                report.note(f"whole program over {count} files: no commit after {limit:.0f} s")
                break
            times.append(time.monotonic() - start)
            peak = (peak_resident_bytes(program) if program else None) or peak
            if peak:
                per_file.append(peak / count)
        finally:
            orvane.stop()
            server.stop()
            shutil.rmtree(work, ignore_errors=True)
    restart = measure_program_restart(ctx, count, limit)
    # The same at half the size: what each further file adds to the peak, without the part
    # that does not grow (the program's code and libraries).
    half = measure_program_restart(ctx, count // 2, limit) if restart else []
    if times:
        report.add(f"whole sync program, first sync of {count} local files: start to commit", times, "-", [], "-",
                   "(measure only)")
    if per_file:
        report.add(f"whole sync program's peak resident size per file at its commit's start ({count} files; "
                   "all trees, the program's own code and libraries included)", per_file, "-", [],
                   TARGETS["program_memory"], verdict_at_most([b / 1024 for b in per_file], 1.0), unit=" B")
    if restart:
        report.add(f"whole sync program's peak resident size per file over a restart's first cycle ({count} files "
                   "in step on both sides: all five trees full)", restart, "-", [], TARGETS["program_memory"],
                   verdict_at_most([b / 1024 for b in restart], 1.0), unit=" B")
    if restart and half:
        grown = [(full * count - part * (count // 2)) / (count - count // 2) for full in restart for part in half]
        report.add(f"growth of that peak per further file, from {count // 2} to {count} files", grown, "-", [],
                   TARGETS["program_memory"], verdict_at_most([b / 1024 for b in grown], 1.0), unit=" B")


def measure_program_restart(ctx, count, limit):
    """The steady state: N files in step on both sides. A first run records them as in step;
    the peak is read over the next start's first cycle, which loads the recorded state, scans,
    digests, lists the server and reconciles (its end is the state file's save in the log)."""
    work = ctx.workdir("restart")
    seed = os.path.join(work, "seed")
    make_small_tree(seed, count, max(1, count // 100))
    try:
        server = Server(ctx.build, work, seed, start_limit=limit)
    except RuntimeError:
        ctx.report.note(f"restart over {count} files: the test server did not take its {count} seed files within "
                        f"{limit:.0f} s")
        shutil.rmtree(work, ignore_errors=True)
        return []
    orvane = Orvane(ctx.build, work, server)
    log = os.path.join(orvane.home, ".local", "share", "DravikSync", "DravikSync.Log")

    def cycles():
        try:
            with open(log, errors="replace") as f:
                return f.read().count("同步历史列表文件存储:成功")
        except OSError:
            return 0

    per_file = []
    try:
        shutil.copytree(seed, orvane.folder)
        warm(orvane.folder)
        for attempt in range(2):
            before = cycles()
            orvane.start()
            program, peak = None, None

            def cycle_ended():
                nonlocal program, peak
                program = program or child_pid(orvane.proc.pid)
                if program:
                    peak = peak_resident_bytes(program) or peak
                return cycles() > before
            ended = wait_until(cycle_ended, limit)
            peak = (peak_resident_bytes(program) if program else None) or peak
            orvane.stop()
            if not ended:
                ctx.report.note(f"restart over {count} files: no cycle ended after {limit:.0f} s")
                break
            if attempt == 1 and peak:
                per_file.append(peak / count)
    finally:
        orvane.stop()
        server.stop()
        shutil.rmtree(work, ignore_errors=True)
    return per_file


def measure_transfers(ctx, report, which):
    work = ctx.workdir("transfer")
    mib = ctx.size("transfer_mib")
    seed = os.path.join(work, "seed")
    os.makedirs(seed, exist_ok=True)
    chunk = os.urandom(1 << 20)
    md5 = hashlib.md5()
    for name, size_mib in (("half.bin", mib // 2), ("whole.bin", mib)):
        with open(os.path.join(seed, name), "wb") as f:
            for m in range(size_mib):
                f.write(chunk)
                if name == "whole.bin":
                    md5.update(chunk)
    server = Server(ctx.build, work, seed)
    try:
        cookie, home = server.login()
        items = {i["path"]: i for i in server.tree()}
        local = os.path.join(work, "local")
        os.makedirs(local, exist_ok=True)
        if "download" in which:
            ours, ref, ratios, rss = [], [], [], {}
            for _ in range(ctx.repeats):
                for name in ("half.bin", "whole.bin"):
                    item = items["/" + name]
                    v = bench_tool(ctx.build, "download", server.host + "/dravik", "demo", "demo", item["ref"],
                                   str(item["size"]), item["checksum"], local)
                    rss.setdefault(name, []).append(int(v["peak_rss_kib"]))
                    if name != "whole.bin":
                        continue
                    target = os.path.join(local, "curl.bin")
                    r = timed(["curl", "-s", "-f", "-H", "Cookie: " + cookie, "-o", target,
                               server.url + content_path(item["ref"])])
                    o = float(v["seconds"])
                    ours.append(item["size"] / o / 1e6)
                    ref.append(item["size"] / r / 1e6)
                    ratios.append(r / o)
            curl_rss = peak_rss_kib(["curl", "-s", "-f", "-H", "Cookie: " + cookie, "-o",
                                     os.path.join(local, "curl.bin"),
                                     server.url + content_path(items["/whole.bin"]["ref"])])
            half, whole = statistics.median(rss["half.bin"]), statistics.median(rss["whole.bin"])
            flat = whole - half < 16 * 1024
            verdict = verdict_at_least(ratios, 0.8)
            if not flat:
                verdict += "; memory grows with the size"
            report.add(f"download of {mib} MiB vs curl on the same route (MB/s, higher is better)", ours, ref,
                       ratios, TARGETS["download"], verdict, unit="")
            report.note(f"download peak resident memory: {half / 1024:.1f} MiB for {mib // 2} MiB, "
                        f"{whole / 1024:.1f} MiB for {mib} MiB (curl: "
                        f"{'-' if curl_rss is None else f'{curl_rss / 1024:.1f} MiB'})")
        if "upload" in which:
            source = os.path.join(local, "upload.bin")
            shutil.copyfile(os.path.join(seed, "whole.bin"), source)
            ours, ref, ratios, rss = [], [], [], []
            size = os.path.getsize(source)
            for i in range(ctx.repeats):
                v = bench_tool(ctx.build, "upload", server.host + "/dravik", "demo", "demo", home, local,
                               "upload.bin")
                rss.append(int(v["peak_rss_kib"]))
                r = timed(["curl", "-s", "-f", "-F", "cookie=" + cookie, "-F",
                           "destination=" + home, "-F", f"Filedata=@{source};filename=curl{i}.bin",
                           server.url + "/upload"])
                o = float(v["seconds"])
                ours.append(size / o / 1e6)
                ref.append(size / r / 1e6)
                ratios.append(r / o)
            report.add(f"upload of {mib} MiB vs curl on the same route (MB/s, higher is better)", ours, ref, ratios,
                       "-", "(measure only)", unit="")
            report.note(f"upload peak resident memory: {statistics.median(rss) / 1024:.1f} MiB for {mib} MiB "
                        f"(below {300} MiB the body is held in memory on purpose)")
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


def measure_keepalive(ctx, report):
    work = ctx.workdir("keepalive")
    seed = os.path.join(work, "seed")
    os.makedirs(seed, exist_ok=True)
    with open(os.path.join(seed, "small.txt"), "wb") as f:
        f.write(b"hello\n")
    server = Server(ctx.build, work, seed)
    try:
        cookie, _ = server.login()
        ref = next(i["ref"] for i in server.tree() if i["path"] == "/small.txt")
        config = os.path.join(work, "requests.cfg")
        count = ctx.size("requests")
        with open(config, "w") as f:
            for _ in range(count):
                f.write(f'url = "{server.url + content_path(ref)}"\noutput = "/dev/null"\n')
        kept, fresh, ratios = [], [], []
        for _ in range(ctx.repeats):
            k = timed(["curl", "-s", "-H", "Cookie: " + cookie, "-K", config])
            n = timed(["curl", "-s", "-H", "Connection: close", "-H", "Cookie: " + cookie, "-K", config])
            kept.append(count / k)
            fresh.append(count / n)
            ratios.append(n / k)
        report.add(f"{count} requests on one kept-alive connection vs fresh connections (requests/s, higher is "
                   "better)", kept, fresh, ratios, TARGETS["keepalive"], verdict_at_least(ratios, 0.8), unit="")
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


class Orvane:
    """The sync program driven over its pipes as the client program does."""

    def __init__(self, build, work, server):
        self.home = os.path.join(work, "home")
        runtime = os.path.join(work, "runtime")
        os.makedirs(self.home, exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ)
        env.update({"HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"), "XDG_RUNTIME_DIR": runtime,
                    "DRAVIK_RUNTIME_DIR": runtime, "QT_QPA_PLATFORM": "offscreen"})
        env.pop("XDG_DOCUMENTS_DIR", None)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        profile = os.path.join(self.home, ".config", "Parv")
        os.makedirs(profile, exist_ok=True)
        with open(os.path.join(profile, "Orvane.ini"), "w") as f:
            f.write(f"ServerTime=1\nServerAddress={server.host}/dravik\n")
        self.folder = os.path.join(self.home, "Documents", "Nuvet云盘", "demo")
        self.env = env
        self.build = build
        self.proc = None

    def start(self):
        self.proc = subprocess.Popen([os.path.join(self.build, "bin", "dravik-pipe-client"), "--user", "demo",
                                      "--password", "demo", "--language", "en", "--",
                                      os.path.join(self.build, "bin", "Orvane")],
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     env=self.env)

    def stop(self):
        if self.proc is None:
            return
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc = None


def count_local_files(folder):
    if not os.path.isdir(folder):
        return 0
    return sum(1 for p in files_below(folder) if not os.path.basename(p).startswith(".dravik-"))


def wait_until(predicate, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def measure_initial_and_save(ctx, report, which):
    count = ctx.size("initial_files")
    limit = max(300, count / 5)
    folders = max(1, count // 100)
    down_rates, up_rates, save_times = [], [], []
    for attempt in range(max(1, min(ctx.repeats, 3))):
        work = ctx.workdir(f"initial{attempt}")
        seed = os.path.join(work, "seed")
        make_small_tree(seed, count, folders)
        server = Server(ctx.build, work, seed)
        orvane = Orvane(ctx.build, work, server)
        try:
            if "initial" in which:
                start = time.monotonic()
                orvane.start()
                if not wait_until(lambda: count_local_files(orvane.folder) >= count, limit):
                    report.note(f"initial sync down: {count_local_files(orvane.folder)} of {count} files after "
                                f"{limit:.0f} s")
                    break
                down_rates.append(count / (time.monotonic() - start))
                # Upload: as many new local files again, into a new folder.
                upload = os.path.join(orvane.folder, "uploaded")
                start = time.monotonic()
                make_small_tree(upload, count, folders)

                def uploaded():
                    return sum(1 for i in server.tree() if i["path"].startswith("/uploaded/")
                               and i["kind"] == "file") >= count
                if not wait_until(uploaded, limit):
                    report.note(f"initial sync up: not all {count} files on the server after {limit:.0f} s")
                    break
                up_rates.append(count / (time.monotonic() - start))
            if "save" in which:
                if orvane.proc is None:
                    orvane.start()
                    wait_until(lambda: count_local_files(orvane.folder) >= count, limit)
                for i in range(ctx.size("saves")):
                    body = os.urandom(4096)
                    digest = hashlib.md5(body).hexdigest().upper()
                    path = os.path.join(orvane.folder, f"saved{i}.txt")
                    start = time.monotonic()
                    with open(path, "wb") as f:
                        f.write(body)

                    def held():
                        return any(it["path"] == f"/saved{i}.txt" and it["checksum"].upper() == digest
                                   for it in server.tree())
                    if wait_until(held, 120):
                        save_times.append(time.monotonic() - start)
                    else:
                        report.note(f"save {i}: not on the server after 120 s")
        finally:
            orvane.stop()
            server.stop()
            shutil.rmtree(work, ignore_errors=True)
    if down_rates:
        report.add(f"initial sync of {count} small files, server to local (files/s, higher is better)", down_rates,
                   "-", [], "-", "(measure only)", unit="")
    if up_rates:
        report.add(f"initial sync of {count} small files, local to server (files/s, higher is better)", up_rates,
                   "-", [], "-", "(measure only)", unit="")
    if save_times:
        report.add("time from a local save to the server holding it (includes the 1 s quiet period kept on purpose)",
                   save_times, "-", [], "-", "(measure only)")


class Context:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.large = args.large
        self.repeats = args.repeats
        self.root = tempfile.mkdtemp(prefix="dravik-bench-", dir=os.path.abspath(args.build))
        self._small = None
        self._large_tree = None
        self.report = None

    def size(self, name):
        return SIZES[name][1 if self.large else 0]

    def note_once(self, text):
        if text not in self.report.notes:
            self.report.note(text)

    def workdir(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path, exist_ok=True)
        return path

    @property
    def small_tree(self):
        if self._small is None:
            self._small = self.workdir("small")
            make_small_tree(self._small, self.size("listing_files"), self.size("listing_folders"))
            warm(self._small)
            subprocess.run(["find", self._small], stdout=subprocess.DEVNULL, check=True)
        return self._small

    @property
    def large_tree(self):
        if self._large_tree is None:
            self._large_tree = self.workdir("large")
            make_large_tree(self._large_tree, self.size("large_files"), self.size("large_mib"))
            warm(self._large_tree)
        return self._large_tree


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/bench")
    parser.add_argument("--large", action="store_true", help="the full sizes (takes long)")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--only", default="", help="comma-separated measures")
    args = parser.parse_args()
    chosen = set(filter(None, args.only.split(","))) or {"listing", "hash", "large", "reconcile", "scale",
                                                        "program", "download", "upload", "keepalive", "initial", "save"}
    ctx = Context(args)
    report = Report(os.path.join(ctx.build, "report.md"), args.large, args.repeats)
    ctx.report = report
    steps = [
        ("listing", measure_listing),
        ("hash", measure_hash),
        ("large", measure_large),
        ("reconcile", measure_reconcile),
        ("scale", measure_scale),
        ("program", measure_program),
        ("keepalive", measure_keepalive),
    ]
    try:
        for name, step in steps:
            if name in chosen:
                print(f"{name} ...", flush=True)
                step(ctx, report)
        transfers = chosen & {"download", "upload"}
        if transfers:
            print("transfers ...", flush=True)
            measure_transfers(ctx, report, transfers)
        syncs = chosen & {"initial", "save"}
        if syncs:
            print("sync program ...", flush=True)
            measure_initial_and_save(ctx, report, syncs)
    finally:
        report.write()
        shutil.rmtree(ctx.root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
