#!/usr/bin/env python3
"""Runs the benchmarks of bench/run against their peers and writes bench/RESULTS.md.

Every figure is the median of several runs; every comparison is a ratio of two medians taken in
this one invocation, with the two sides interleaved run by run so that a change in the machine's
load falls on both. Nothing here fails on a timing: a goal that is missed is reported as missed.
"""
import argparse
import datetime
import json
import os
import platform
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SITE_ROOT = "http://velmara.bench/"
KIB = 1024
MIB = 1024 * 1024
LOCAL_SIZES = [("1 KiB", "1k", KIB), ("64 KiB", "64k", 64 * KIB), ("1 MiB", "1m", MIB)]
RELAY_SIZES = [("1 KiB", "1k", KIB), ("1 MiB", "1m", MIB)]
TUNNEL_SIZE = 100 * MIB
RSS_SIZE = 5 * MIB
WORKERS = 8  # the proxy's fixed pool, and wrk's connection count
PAUSE_S = 0.001  # the pause between two requests of one connection
kBodyMB = 64 * MIB / 1e6  # the inflate benchmark's body


def log(text):
    print(text, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError(f"process {proc.args[0]} ended with {proc.returncode}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


def median(values):
    return statistics.median(values) if values else float("nan")


def write_file(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, MIB)
            f.write(os.urandom(n))
            left -= n
    os.chmod(path, 0o644)


class Processes:
    """The servers this run started; each is stopped by its own pid."""

    def __init__(self):
        self.procs = []

    def start(self, args, **kw):
        proc = subprocess.Popen(args, **kw)
        self.procs.append(proc)
        return proc

    def stop(self, proc):
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if proc in self.procs:
            self.procs.remove(proc)

    def stop_all(self):
        for proc in list(self.procs):
            self.stop(proc)


NGINX_CONF = """\
worker_processes auto;
daemon off;
master_process on;
pid {work}/nginx-{name}.pid;
error_log {work}/nginx-{name}-error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    tcp_nodelay on;
    keepalive_requests 1000000;
    keepalive_timeout 120s;
    types {{ image/gif gif; application/octet-stream bin; text/plain txt html; }}
    default_type application/octet-stream;
    client_body_temp_path {work}/nginx-{name}-body;
    proxy_temp_path {work}/nginx-{name}-proxy;
    fastcgi_temp_path {work}/nginx-{name}-fastcgi;
    uwsgi_temp_path {work}/nginx-{name}-uwsgi;
    scgi_temp_path {work}/nginx-{name}-scgi;
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
"""


def start_nginx(procs, work, name, root):
    port = free_port()
    conf = os.path.join(work, f"nginx-{name}.conf")
    with open(conf, "w") as f:
        f.write(NGINX_CONF.format(work=work, name=name, port=port, root=root))
    proc = procs.start(["nginx", "-p", work, "-c", conf, "-e", f"{work}/nginx-{name}-error.log"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(port, proc)
    return proc, port


def start_proxy(procs, prog):
    port = free_port()
    env = dict(os.environ, VELM_PROXY_PORT=str(port), VELM_SITE_ROOT=SITE_ROOT)
    proc = procs.start([os.path.join(prog, "velm-proxy"), "--no-update"], cwd=prog, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(port, proc)
    return proc, port


def wrk(port, target, proxy_header, duration, conns=WORKERS, threads=2):
    env = dict(os.environ, VELM_TARGET=target, VELM_PROXY_HEADER="1" if proxy_header else "0")
    out = subprocess.run(
        ["wrk", f"-t{threads}", f"-c{conns}", f"-d{duration}s", "--timeout", "10s", "-s",
         os.path.join(HERE, "wrk_target.lua"), f"http://127.0.0.1:{port}"],
        env=env, capture_output=True, text=True, timeout=duration + 60)
    for line in out.stdout.splitlines():
        if line.startswith("RESULT "):
            r = json.loads(line[len("RESULT "):])
            seconds = r["duration_us"] / 1e6
            r["rps"] = r["requests"] / seconds
            r["mbps"] = r["bytes"] / seconds / 1e6
            r["errors"] = sum(r[k] for k in ("connect_errors", "read_errors", "write_errors",
                                              "status_errors", "timeouts"))
            return r
    raise RuntimeError("wrk gave no result: " + out.stdout + out.stderr)


def summarize(runs):
    return {
        "rps": median([r["rps"] for r in runs]),
        "mbps": median([r["mbps"] for r in runs]),
        "p50": median([r["lat_p50_us"] for r in runs]) / 1000,
        "p90": median([r["lat_p90_us"] for r in runs]) / 1000,
        "p99": median([r["lat_p99_us"] for r in runs]) / 1000,
        "errors": sum(r["errors"] for r in runs),
        "bytes_per_req": median([r["bytes"] / max(1, r["requests"]) for r in runs]),
    }


def interleaved(runs, a, b):
    """Runs a and b in turn, alternating which goes first; returns both lists of results."""
    ra, rb = [], []
    for i in range(runs):
        if i % 2 == 0:
            ra.append(a())
            rb.append(b())
        else:
            rb.append(b())
            ra.append(a())
    return ra, rb


def measured_pause():
    """Median length of a 1 ms sleep on this machine right now."""
    samples = []
    for _ in range(300):
        t = time.perf_counter()
        time.sleep(PAUSE_S)
        samples.append(time.perf_counter() - t)
    return median(samples)


def curl_fetch(url, proxy_port=None):
    args = ["curl", "-sS", "-o", "/dev/null", "-w", "%{size_download} %{time_total}",
            "--noproxy", ""]
    if proxy_port:
        args = ["curl", "-sS", "-o", "/dev/null", "-w", "%{size_download} %{time_total}",
                "--proxytunnel", "-x", f"http://127.0.0.1:{proxy_port}"]
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    out = subprocess.run(args + [url], capture_output=True, text=True, timeout=600, env=env)
    if out.returncode != 0:
        raise RuntimeError(f"curl failed ({out.returncode}): {out.stderr.strip()}")
    size, seconds = out.stdout.split()
    if int(size) != TUNNEL_SIZE:
        raise RuntimeError(f"curl fetched {size} bytes instead of {TUNNEL_SIZE}")
    return int(size) / float(seconds) / 1e6


def vm_value(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) / 1024  # MiB
    return float("nan")


def syscalls_per_request(procs, prog, target, duration):
    """System calls of a fresh velm-proxy per request of one wrk run, under strace -c."""
    proxy, port = start_proxy(procs, prog)
    out = os.path.join(os.path.dirname(prog), "strace.txt")
    tracer = procs.start(["strace", "-f", "-c", "-o", out, "-p", str(proxy.pid)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    r = wrk(port, target, True, duration)
    time.sleep(0.5)
    tracer.send_signal(signal.SIGINT)
    tracer.wait(30)
    procs.procs.remove(tracer)
    procs.stop(proxy)
    counts = {}
    with open(out) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and parts[0][0].isdigit() and parts[-1] != "total":
                counts[parts[-1]] = int(parts[3])
    n = max(1, r["requests"])
    return {k: v / n for k, v in counts.items()}


def google_benchmark(exe, reps, env=None, filter_=None):
    args = [exe, f"--benchmark_repetitions={reps}", "--benchmark_report_aggregates_only=true",
            "--benchmark_format=json"]
    if filter_:
        args.append(f"--benchmark_filter={filter_}")
    # A benchmark that cannot run leaves its rows out; the rest of the table is still written.
    try:
        out = subprocess.run(args, capture_output=True, text=True, env=env, timeout=1800)
        data = json.loads(out.stdout)
    except (OSError, ValueError, subprocess.SubprocessError) as e:
        log(f"   {os.path.basename(exe)} did not run: {e}")
        return {}
    # The median of the repetitions; a single repetition has no aggregates, so its run stands.
    result, single = {}, {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            continue
        name = b["run_name"].split("/")[0]
        if b.get("aggregate_name") == "median":
            result[name] = b
        elif b.get("run_type") == "iteration":
            single.setdefault(name, b)
    for name, b in single.items():
        result.setdefault(name, b)
    return result


def ms(b, field="real_time"):
    unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b[field] * unit


def fmt(x, digits=2):
    if x != x:  # NaN
        return "-"
    if abs(x) >= 100:
        return f"{x:,.0f}"
    return f"{x:.{digits}f}"


def goal_line(text, value, limit, higher=True):
    if value != value:
        return f"| {text} | not measured | - |"
    met = value >= limit if higher else value < limit
    return f"| {text} | {fmt(value)} | {'met' if met else 'not met'} |"


def machine_facts():
    mem_kib = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                mem_kib = int(line.split()[1])
    return {
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "cores": os.cpu_count(),
        "memory": f"{mem_kib / 1024 / 1024:.1f} GiB",
        "kernel": platform.release(),
        "load": os.getloadavg()[0],
    }


# 5, 6 and the client half of 7: the windowed client and the browser engine it embeds.

def start_display(procs):
    """A virtual screen of this run, unless one is given; returns the environment to use."""
    env = dict(os.environ, QTWEBENGINE_DISABLE_SANDBOX="1")
    if os.environ.get("DISPLAY"):
        return env
    if not shutil.which("Xvfb"):
        raise RuntimeError("neither a display nor Xvfb")
    r, w = os.pipe()
    procs.start(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten",
                 "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    with os.fdopen(r) as f:
        number = f.readline().strip()
    if not number:
        raise RuntimeError("Xvfb gave no display number")
    env["DISPLAY"] = ":" + number
    return env


def start_demo_site(procs, work):
    out = os.path.join(work, "demo-site.out")
    proc = procs.start([sys.executable, os.path.join(HERE, "..", "tools", "demo-site",
                                                     "demo_site.py"),
                        "--root", os.path.join(work, "site"), "--port", "0", "--fresh",
                        "--bind", "127.0.0.1,127.0.0.2,127.0.0.3"],
                       stdout=open(out, "w"), stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(out) as f:
            for line in f:
                if line.startswith("demo-site: serving "):
                    return proc, line.split()[2]
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    raise RuntimeError("the demo site did not start: " + open(out).read())


def demo_control(site, query):
    with urllib.request.urlopen(site + "_demo/" + query, timeout=10) as answer:
        return answer.read()


def descendants(pid):
    """pid and every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(ppid, []).append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        todo.extend(children.get(p, []))
    return found


def count_loaded(log_path):
    try:
        with open(log_path, encoding="latin-1") as f:
            return sum(1 for line in f if "Page loaded: " in line)
    except OSError:
        return 0


def client_start(procs, prog, env, settle=1.0, timeout=60.0):
    """Starts VelmC2, returns (seconds to the start page's load, summed peak resident MiB of the
    client and its engine processes a moment after that load) and stops it again. The load is
    seen from outside, as the "Page loaded" line of the client's debug log."""
    log_path = os.path.join(prog, "VelmC2.log")
    before = count_loaded(log_path)
    t0 = time.monotonic()
    proc = procs.start([os.path.join(prog, "VelmC2")], cwd=prog, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while count_loaded(log_path) <= before:
            if proc.poll() is not None:
                raise RuntimeError(f"VelmC2 ended with {proc.returncode} before the start page")
            if time.monotonic() - t0 > timeout:
                raise RuntimeError("VelmC2 did not load its start page within a minute")
            time.sleep(0.01)
        seconds = time.monotonic() - t0
        time.sleep(settle)
        rss = sum(vm_value(p, "VmHWM") for p in descendants(proc.pid)
                  if os.path.exists(f"/proc/{p}/status"))
    finally:
        procs.stop(proc)
    return seconds, rss


def page_load(exe, url, env, proxy_port=None):
    args = [exe, url, "--runs", "1"]
    if proxy_port:
        args += ["--proxy", str(proxy_port)]
    out = subprocess.run(args, env=env, capture_output=True, text=True, timeout=180)
    for line in out.stdout.splitlines():
        if line.startswith("median_ms "):
            return float(line.split()[1])
    raise RuntimeError("gui_bench_page gave no result: " + out.stdout + out.stderr[-2000:])


def client_figures(procs, build, work, runs, sections, goals):
    client = os.path.join(build, "VelmC2")
    page_exe = os.path.join(build, "bench", "gui_bench_page")
    proxy_exe = os.path.join(build, "tools", "velm-proxy", "velm-proxy")
    missing = [p for p in (client, page_exe) if not os.path.exists(p)]
    if missing:
        note = ("VelmC2 or gui_bench_page is not built (bench/run builds them with "
                "VELM_BENCH_GUI=1): start-up, the player's view and the client's memory are "
                "skipped.")
        log("5, 6, 7 (client): " + note)
        sections.append("## 5, 6 and the client's memory\n\n" + note)
        goals.append("| start-up under 2 s | not measured | - |")
        goals.append("| warm game page at least 5 times faster than the 50 ms site | "
                     "not measured | - |")
        return
    env = start_display(procs)
    _, site = start_demo_site(procs, work)
    prog = os.path.join(work, "client")
    os.makedirs(prog)
    shutil.copy2(client, prog)
    ruffle = os.path.join(build, "ruffle")
    if os.path.isdir(ruffle):
        shutil.copytree(ruffle, os.path.join(prog, "ruffle"))
    env.update(VELM_SITE_ROOT=site, VELM_PROXY_PORT=str(free_port()))

    log("5. start-up of VelmC2 to its start page, warm program folder")
    client_start(procs, prog, env, settle=3.0)  # the first start fills the mirror
    starts, peaks = [], []
    for _ in range(runs):
        s, rss = client_start(procs, prog, env)
        starts.append(s)
        peaks.append(rss)
        log(f"   {s:.2f} s, {rss:.0f} MiB")
    start_s = median(starts)
    sections.append(
        "## 5. Start-up\n\n"
        "VelmC2 from process start to the end of its start page's load in the first tab (the "
        "frameset of index.php with the game page main.php and the chat frame, seen as the "
        "\"Page loaded\" line of the client's debug log), the demo site on loopback, a warm "
        "program folder (a first start, not counted, filled the mirror), so the start-up "
        "update asks three build pages and fetches nothing.\n\n"
        "| Runs | Median | Fastest | Slowest |\n|---|---|---|---|\n"
        f"| {len(starts)} | {start_s:.2f} s | {min(starts):.2f} s | {max(starts):.2f} s |")
    goals.append(goal_line("start-up under 2 s (s)", start_s, 2.0, higher=False))

    log("6. the game page in the browser engine: through velm-proxy against the 50 ms site")
    pprog = os.path.join(work, "page-proxy")
    os.makedirs(pprog)
    shutil.copy2(proxy_exe, pprog)
    shutil.copytree(os.path.join(prog, "pub"), os.path.join(pprog, "pub"))
    with open(os.path.join(pprog, "VelmC2.ini"), "w") as f:
        f.write("[Main]\nAutoUpdateEnable=0\n")
    pport = free_port()
    penv = dict(os.environ, VELM_PROXY_PORT=str(pport), VELM_SITE_ROOT=site)
    pproc = procs.start([os.path.join(pprog, "velm-proxy"), "--no-update"], cwd=pprog, env=penv,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(pport, pproc)
    demo_control(site, "delay?ms=50&path=")
    url = site + "main.php"
    direct, proxied = [], []
    for _ in range(runs):
        direct.append(page_load(page_exe, url, env))
        proxied.append(page_load(page_exe, url, env, pport))
        log(f"   straight {direct[-1]:.0f} ms, through velm-proxy {proxied[-1]:.0f} ms")
    demo_control(site, "clear")
    # The engine's own floor: the same page straight from the site without the added delay.
    floor = median([page_load(page_exe, url, env) for _ in range(runs)])
    d, p = median(direct), median(proxied)
    ratio = d / p
    sections.append(
        "## 6. The player's view\n\n"
        "The demo game page (main.php: 60 pictures over 127.0.0.1, .2 and .3, and the map "
        "movie) loaded by `gui_bench_page` in the engine the client embeds, in a fresh profile "
        "held in memory for every load (the engine's own cache never answers), until the "
        "engine reports the load finished. The demo site adds 50 ms to every answer on both "
        "sides; through velm-proxy (the client's local proxy, with the engine switches the "
        "client sets and the mirror the client filled) only main.php itself goes to the site. "
        "Runs of the two sides alternate. The last column is the same page straight from the "
        "site without the added delay: what the engine itself needs (a new renderer per "
        "profile, layout, decoding) and no proxy can take away.\n\n"
        "| Page | Straight from the 50 ms site | Through velm-proxy, warm mirror | "
        "Straight / proxy | Straight, no delay |\n|---|---|---|---|---|\n"
        f"| main.php, {len(direct)} loads each | {d:.0f} ms | {p:.0f} ms | {fmt(ratio)} | "
        f"{floor:.0f} ms |")
    goals.append(goal_line("warm game page at least 5 times faster than the 50 ms site",
                           ratio, 5.0))

    rss = median(peaks)
    sections.append(
        "## 7b. The client's memory\n\n"
        "Peak resident size of VelmC2 and its engine processes (QtWebEngineProcess: browser "
        "and renderers), each process's own peak summed, one second after the start page with "
        "the game page has loaded; median of the start-up runs. Shared pages count in every "
        "process, so the sum is an upper bound.\n\n"
        "| Client | Peak resident size |\n|---|---|\n"
        f"| VelmC2 with the game page | {rss:.0f} MiB (runs {min(peaks):.0f} to "
        f"{max(peaks):.0f}) |")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--runs", type=int, default=5, help="runs per figure (median taken)")
    ap.add_argument("--duration", type=int, default=3, help="seconds per wrk run")
    ap.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    ap.add_argument("--syscalls", action="store_true",
                    help="also count velm-proxy's system calls per request with strace")
    args = ap.parse_args()
    build = os.path.abspath(args.build_dir)
    runs, duration = args.runs, args.duration

    facts = machine_facts()
    log(f"bench: {facts['cores']} cores, {facts['memory']}, load {facts['load']:.2f}, "
        f"{runs} runs per figure, {duration} s per wrk run")
    work = tempfile.mkdtemp(prefix="velm-bench-")
    os.chmod(work, 0o755)
    procs = Processes()
    sections = []
    goals = []
    try:
        # The program folder of velm-proxy, its mirror and the origin's folder.
        prog = os.path.join(work, "prog")
        os.makedirs(prog)
        shutil.copy2(os.path.join(build, "tools", "velm-proxy", "velm-proxy"), prog)
        with open(os.path.join(prog, "VelmC2.ini"), "w") as f:
            f.write("[Main]\nAutoUpdateEnable=0\n")
        pub = os.path.join(prog, "pub")
        for _, key, size in LOCAL_SIZES + [("5 MiB", "5m", RSS_SIZE)]:
            write_file(os.path.join(pub, "images", "bench", f"{key}.gif"), size)
        origin = os.path.join(work, "origin")
        for _, key, size in RELAY_SIZES:
            write_file(os.path.join(origin, "relay", f"{key}.bin"), size)
        write_file(os.path.join(origin, "relay", "100m.bin"), TUNNEL_SIZE)
        os.makedirs(os.path.join(origin, "site"))
        for d in (prog, pub, origin, os.path.join(origin, "site")):
            os.chmod(d, 0o755)
        for dirpath, dirnames, _ in os.walk(work):
            for d in dirnames:
                os.chmod(os.path.join(dirpath, d), 0o755)

        web, web_port = start_nginx(procs, work, "mirror", pub)
        org, org_port = start_nginx(procs, work, "origin", origin)
        proxy, proxy_port = start_proxy(procs, prog)

        # 1. Local answers.
        log("1. local answers: velm-proxy against nginx on the same folder")
        pause = measured_pause()
        ceiling_nominal = WORKERS / PAUSE_S
        ceiling = WORKERS / pause
        rows = []
        local = {}
        for label, key, size in LOCAL_SIZES:
            target = f"{SITE_ROOT}images/bench/{key}.gif"
            rp, rn = interleaved(
                runs, lambda: wrk(proxy_port, target, True, duration),
                lambda: wrk(web_port, f"/images/bench/{key}.gif", False, duration))
            p, n = summarize(rp), summarize(rn)
            local[key] = (p, n)
            for who, s in (("velm-proxy", p), ("nginx", n)):
                rows.append(f"| {label} | {who} | {fmt(s['rps'])} | {fmt(s['mbps'])} | "
                            f"{fmt(s['p50'])} | {fmt(s['p90'])} | {fmt(s['p99'])} | "
                            f"{s['errors']} |")
            rows.append(f"| {label} | ratio proxy / nginx | {fmt(p['rps'] / n['rps'])} | "
                        f"{fmt(p['mbps'] / n['mbps'])} | | | | |")
            log(f"   {label}: proxy {p['rps']:.0f} req/s, nginx {n['rps']:.0f} req/s")
        p1 = local["1k"][0]
        sections.append("\n".join([
            "## 1. Local answers (wrk, 8 kept-alive connections, 2 threads)",
            "",
            "velm-proxy --no-update answers absolute URIs under the game package prefix from "
            "pub/; nginx serves the same folder. Latencies in ms.",
            "",
            "| File | Server | req/s | MB/s | p50 | p90 | p99 | errors |",
            "|---|---|---|---|---|---|---|---|",
            *rows,
            "",
            f"Ceiling of eight connections served at once with the proxy's 1 ms pause between "
            f"the requests of one connection: {fmt(ceiling_nominal)} req/s nominal; with the 1 ms sleep measured "
            f"on this machine now ({pause * 1000:.3f} ms) {fmt(ceiling)} req/s. The proxy's "
            f"1 KiB figure is {fmt(p1['rps'] / ceiling)} of the measured ceiling "
            f"({fmt(p1['rps'] / ceiling_nominal)} of the nominal one).",
        ]))
        goals.append(goal_line("1 KiB local answer, median latency (ms), under 2", p1["p50"], 2.0,
                               higher=False))
        goals.append(goal_line("1 KiB local answers / measured ceiling, at least 0.9",
                               p1["rps"] / ceiling, 0.9))
        goals.append(goal_line("1 MiB local answers MB/s / nginx, at least 0.5",
                               local["1m"][0]["mbps"] / local["1m"][1]["mbps"], 0.5))

        if args.syscalls and shutil.which("strace"):
            log("   system calls per 1 KiB local answer (strace)")
            per = syscalls_per_request(procs, prog, f"{SITE_ROOT}images/bench/1k.gif", duration)
            top = sorted(per.items(), key=lambda kv: -kv[1])
            sections[-1] += ("\n\nSystem calls of velm-proxy per 1 KiB local answer (strace -c, "
                             f"one run): {fmt(sum(per.values()), 1)} in all; " +
                             ", ".join(f"{k} {fmt(v, 2)}" for k, v in top if v >= 0.05) + ".")

        # 2. Relay.
        log("2. relay: through velm-proxy to an nginx origin against straight to it")
        rows = []
        relay = {}
        for label, key, size in RELAY_SIZES:
            rp, rd = interleaved(
                runs,
                lambda: wrk(proxy_port, f"http://127.0.0.1:{org_port}/relay/{key}.bin", True,
                            duration),
                lambda: wrk(org_port, f"/relay/{key}.bin", False, duration))
            p, d = summarize(rp), summarize(rd)
            relay[key] = (p, d)
            for who, s in (("through velm-proxy", p), ("straight", d)):
                rows.append(f"| {label} | {who} | {fmt(s['rps'])} | {fmt(s['mbps'])} | "
                            f"{fmt(s['p50'])} | {fmt(s['p99'])} | {s['errors']} |")
            rows.append(f"| {label} | ratio | {fmt(p['rps'] / d['rps'])} | "
                        f"{fmt(p['mbps'] / d['mbps'])} | | | |")
            log(f"   {label}: relayed {p['mbps']:.1f} MB/s, straight {d['mbps']:.1f} MB/s")
        url = f"http://127.0.0.1:{org_port}/relay/100m.bin"
        tp, td = interleaved(runs, lambda: curl_fetch(url, proxy_port), lambda: curl_fetch(url))
        tunnel_ratio = median(tp) / median(td)
        log(f"   tunnel: {median(tp):.0f} MB/s, straight {median(td):.0f} MB/s")
        sections.append("\n".join([
            "## 2. Relay (wrk, 8 kept-alive connections; origin nginx on loopback)",
            "",
            "| Body | Path | req/s | MB/s | p50 ms | p99 ms | errors |",
            "|---|---|---|---|---|---|---|",
            *rows,
            "",
            "CONNECT tunnel carrying 100 MiB (curl --proxytunnel, one connection): "
            f"{fmt(median(tp))} MB/s through the tunnel, {fmt(median(td))} MB/s straight, "
            f"ratio {fmt(tunnel_ratio)}.",
        ]))
        copier = google_benchmark(os.path.join(build, "bench", "bench_socket_relay"), runs)
        plain_copy = copier.get("BM_PlainRecvSend")
        if plain_copy:
            lines = ["", "The copy step alone, 64 MiB between two loopback connections in one "
                     "process (Google Benchmark, median of repetitions):", "",
                     "| Copier | ms | CPU ms | MB/s | MB/s / plain |", "|---|---|---|---|---|"]
            for text, name in (("socket layer, 64 KiB pieces (relayed bodies)",
                                "BM_RelaySockPieces"),
                               ("socket layer, tunnel steps without a pipe (its fallback)", "BM_TunnelSteps"),
                               ("plain recv/send over one 64 KiB buffer", "BM_PlainRecvSend")):
                b = copier.get(name)
                if b:
                    lines.append(f"| {text} | {fmt(ms(b))} | {fmt(ms(b, 'cpu_time'))} | "
                                 f"{fmt(b['bytes_per_second'] / 1e6)} | "
                                 f"{fmt(ms(plain_copy) / ms(b))} |")
            sections[-1] += "\n" + "\n".join(lines)
        goals.append(goal_line("relay 1 MiB MB/s / straight, at least 0.5",
                               relay["1m"][0]["mbps"] / relay["1m"][1]["mbps"], 0.5))
        goals.append(goal_line("tunnel MB/s / straight, at least 0.8", tunnel_ratio, 0.8))

        # 7. Memory of velm-proxy: a fresh process per run, so its peak is this load's.
        log("7. peak resident size of velm-proxy while 8 clients fetch 5 MiB files")
        procs.stop(proxy)
        idle, peak, rates = [], [], []
        for _ in range(min(runs, 3)):
            proxy, proxy_port = start_proxy(procs, prog)
            idle.append(vm_value(proxy.pid, "VmHWM"))
            r = wrk(proxy_port, f"{SITE_ROOT}images/bench/5m.gif", True, duration)
            peak.append(vm_value(proxy.pid, "VmHWM"))
            rates.append(r["mbps"])
            procs.stop(proxy)
        sections.append("\n".join([
            "## 7. Memory",
            "",
            "| Process | Load | Peak resident (VmHWM) | At start |",
            "|---|---|---|---|",
            f"| velm-proxy | 8 clients fetching a 5 MiB file from pub/ ({fmt(median(rates))} "
            f"MB/s) | {fmt(median(peak), 1)} MiB | {fmt(median(idle), 1)} MiB |",
        ]))

        # 3. Inflate.
        log("3. inflate: GZipDecompress against a plain zlib loop")
        inflate = google_benchmark(os.path.join(build, "bench", "bench_inflate"), runs)
        ours = inflate.get("BM_GZipDecompress")
        peer = inflate.get("BM_ZlibInflatePreallocated")
        inflate_ratio = float("nan")
        lines = ["## 3. Inflate (Google Benchmark, 64 MiB body, median of "
                 f"{runs} repetitions)", "",
                 "| Work | ms | CPU ms | MB/s (CPU) | / zlib (CPU) |", "|---|---|---|---|---|"]
        for text, name in (("GZipDecompress into a new stream", "BM_GZipDecompress"),
                           ("GZipDecompress, output stream reserved up front",
                            "BM_GZipDecompressReservedOut"),
                           ("GZipDecompress, output stream kept between rounds",
                            "BM_GZipDecompressReusedOut"),
                           ("zlib inflate into a preallocated buffer",
                            "BM_ZlibInflatePreallocated")):
            b = inflate.get(name)
            if b:
                rel = ms(peer, "cpu_time") / ms(b, "cpu_time") if peer else float("nan")
                lines.append(f"| {text} | {fmt(ms(b))} | {fmt(ms(b, 'cpu_time'))} | "
                             f"{fmt(kBodyMB / (ms(b, 'cpu_time') / 1000))} | {fmt(rel)} |")
        if ours and peer:
            inflate_ratio = ms(peer, "cpu_time") / ms(ours, "cpu_time")
            lines += ["", f"GZipDecompress / zlib: {fmt(inflate_ratio)} by CPU time "
                      f"({fmt(ms(peer) / ms(ours))} by wall time); gzip input "
                      f"{fmt(ours['packed_MiB'], 1)} MiB. CPU time is the figure compared: the "
                      "work is one thread's, and wall time on a shared machine counts the "
                      "others' work too."]
        sections.append("\n".join(lines))
        goals.append(goal_line("inflate / plain zlib, at least 0.9", inflate_ratio, 0.9))

        # 4. Update walk.
        log("4. update walk: 20,000 current files")
        env = dict(os.environ, VELM_BENCH_SITE=f"http://127.0.0.1:{org_port}/site/",
                   VELM_BENCH_SITE_DIR=os.path.join(origin, "site"))
        env = {k: v for k, v in env.items() if k.lower() not in ("http_proxy", "https_proxy")}
        walk = google_benchmark(os.path.join(build, "bench", "bench_update_walk"), runs, env=env)
        decide = walk.get("BM_UpdateWalkDecide")
        plain = walk.get("BM_UpdateWalkPlainLoop")
        whole = walk.get("BM_UpdatePackageWhole")
        walk_ratio = float("nan")
        lines = [f"## 4. Update walk (20,000 current files, median of {runs} repetitions)", "",
                 "| Work | ms | CPU ms | files/s |", "|---|---|---|---|"]
        for text, b in (("UpdatePackage's per-line decisions", decide),
                        ("whole UpdatePackage (build page and list from nginx)", whole),
                        ("plain loop: stat + 6-byte read", plain)):
            if b:
                lines.append(f"| {text} | {fmt(ms(b))} | {fmt(ms(b, 'cpu_time'))} | "
                             f"{fmt(b['items_per_second'])} |")
        if decide and plain:
            walk_ratio = ms(plain, "cpu_time") / ms(decide, "cpu_time")
            lines += ["", f"Decisions / plain loop, by CPU time: {fmt(walk_ratio)} (by wall "
                      f"time {fmt(ms(plain) / ms(decide))})"
                      + (f"; whole UpdatePackage / plain loop: "
                         f"{fmt(ms(plain, 'cpu_time') / ms(whole, 'cpu_time'))}."
                         if whole else ".")]
        sections.append("\n".join(lines))
        goals.append(goal_line("update walk / plain loop, at least 0.8", walk_ratio, 0.8))

        # Formats, from the other engineer's benchmark.
        fmt_exe = os.path.join(build, "bench", "bench_formats")
        if os.path.exists(fmt_exe):
            log("formats: our routines against their peers")
            res = google_benchmark(fmt_exe, runs)
            lines = ["## Formats (median of repetitions, CPU ns)", "",
                     "| Work | Ours | Peer | Peer / ours |", "|---|---|---|---|"]
            for name, b in sorted(res.items()):
                if not name.endswith("_Velm"):
                    continue
                stem = name[: -len("_Velm")]
                for peer_name, pb in res.items():
                    if peer_name.startswith(stem + "_") and peer_name != name:
                        o, q = ms(b, "cpu_time") * 1e6, ms(pb, "cpu_time") * 1e6
                        lines.append(f"| {stem} vs {peer_name[len(stem) + 1:]} | {fmt(o)} | "
                                     f"{fmt(q)} | {fmt(q / o)} |")
            sections.append("\n".join(lines))

        # 5, 6 and the client half of 7: the GUI client.
        client_figures(procs, build, work, runs, sections, goals)
    finally:
        procs.stop_all()
        shutil.rmtree(work, ignore_errors=True)

    end_load = os.getloadavg()[0]
    loaded = max(facts["load"], end_load) > 0.5 * facts["cores"]
    head = [
        "# Benchmark results",
        "",
        f"Written by bench/run on {facts['date']}: {facts['cores']} cores, {facts['memory']} "
        f"memory, Linux {facts['kernel']}. Load average {facts['load']:.2f} at the start, "
        f"{end_load:.2f} at the end"
        + (": the machine was shared with other work, so the figures are low and noisy; "
           "the ratios, taken from interleaved runs, are the figures to read." if loaded
           else "."),
        "",
        f"Each figure is the median of {runs} runs ({duration} s each for wrk); every ratio "
        "compares two medians of this run. Servers, wrk and curl share the same cores.",
        "",
        "## Goals",
        "",
        "| Goal | Measured | |",
        "|---|---|---|",
        *goals,
    ]
    def order(section):
        word = section[3:].split(".")[0].split(",")[0]
        return int(word) if word.isdigit() else 99
    sections.sort(key=order)
    text = "\n".join(head) + "\n\n" + "\n\n".join(sections) + "\n"
    # Sections measured by hand (gui_bench_ruffle) stay from the last file.
    try:
        with open(args.out) as f:
            old = f.read()
        kept = old.find("\n## The Flash emulator's cost")
        if kept >= 0:
            text += old[kept:]
    except OSError:
        pass
    with open(args.out, "w") as f:
        f.write(text)
    log("")
    log(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
