#!/usr/bin/env python3
"""VelmC2 as a player meets it: under Xvfb, from a program folder of its own, against the demo
site on loopback, with the real browser engine and the real local proxy.

The steps run in order on one program folder: the first start (splash, mirror, statistics,
main window, the game page's 60 pictures over three host names), a second start while the first
runs, closing the window (placement written) and a start that restores the placement, the
self-update, and the connection dialog of a new version that cannot reach the site. Screenshots of the splash and of the main window go to
the output folder."""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

ARGS = None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, timeout, step=0.2):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def is_utf8_escaped(target):
    try:
        urllib.parse.unquote_to_bytes(target).decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def read_ini(path):
    """The INI file as {section: {key: value}}, names lower-cased."""
    sections, current = {}, None
    if not os.path.exists(path):
        return sections
    with open(path, encoding="cp1251") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                current = sections.setdefault(line[1:-1].lower(), {})
            elif "=" in line and current is not None:
                key, value = line.split("=", 1)
                current[key.lower()] = value
    return sections


class ClientRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="velm-e2e-")
        cls.output = ARGS.output
        os.makedirs(cls.output, exist_ok=True)
        cls.program = os.path.join(cls.work, "client")
        os.makedirs(cls.program)
        shutil.copy2(ARGS.client, os.path.join(cls.program, "VelmC2"))
        cls.started = []

        cls.display = ":%d" % (200 + os.getpid() % 500)
        cls.xvfb = subprocess.Popen(
            ["Xvfb", cls.display, "-screen", "0", "1280x1200x24", "-nolisten", "tcp"],
            stdout=open(os.path.join(cls.output, "xvfb.log"), "w"), stderr=subprocess.STDOUT)
        cls.env = dict(os.environ)
        cls.env.pop("QT_QPA_PLATFORM", None)
        cls.env.update({
            "DISPLAY": cls.display,
            "QTWEBENGINE_DISABLE_SANDBOX": "1",
            "XDG_DATA_HOME": os.path.join(cls.work, "data"),
            "XDG_CACHE_HOME": os.path.join(cls.work, "cache"),
            "XDG_RUNTIME_DIR": os.path.join(cls.work, "runtime"),
        })
        os.makedirs(cls.env["XDG_RUNTIME_DIR"], mode=0o700)
        ok = wait_for(lambda: subprocess.run(["xdpyinfo"], env=cls.env, capture_output=True)
                      .returncode == 0, 10)
        assert ok, "Xvfb did not start"

        cls.site_root = os.path.join(cls.work, "site")
        cls.site = subprocess.Popen(
            [sys.executable, ARGS.site, "--root", cls.site_root, "--port", "0", "--fresh",
             "--bind", "127.0.0.1,127.0.0.2,127.0.0.3",
             "--client-exe", os.path.join(cls.program, "VelmC2")],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = cls.site.stdout.readline()
        m = re.search(r"serving (http://\S+)", line)
        assert m, "demo site did not start: " + line
        cls.site_url = m.group(1)
        # The rest of its output is drained so that the site never blocks on a full pipe.
        threading.Thread(target=cls.site.stdout.read, daemon=True).start()
        if not cls.site_url.endswith("/"):
            cls.site_url += "/"
        cls.env["VELM_SITE_ROOT"] = cls.site_url
        cls.env["VELM_PROXY_PORT"] = str(free_port())
        cls.client = None

    @classmethod
    def tearDownClass(cls):
        # A client restarted by the self-update is no child of ours; it is found by its window.
        for pid in cls.restarted_pids():
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        for p in reversed(cls.started + [cls.site, cls.xvfb]):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        if not os.environ.get("VELM_E2E_KEEP"):
            shutil.rmtree(cls.work, ignore_errors=True)

    # --- helpers -------------------------------------------------------------------------------

    @classmethod
    def restarted_pids(cls):
        """The client that holds the folder's lock when it is no child of ours (the one a
        self-update started), while a main window is up."""
        try:
            with open(os.path.join(cls.program, "velm_client.lock")) as f:
                pid = int(f.read().strip() or 0)
        except (OSError, ValueError):
            return set()
        if not pid or pid in {p.pid for p in cls.started}:
            return set()
        try:
            os.kill(pid, 0)
        except OSError:
            return set()
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Велмара$"],
                           env=cls.env, capture_output=True, text=True)
        return {pid} if r.stdout.split() else set()

    @classmethod
    def start_client(cls, **env):
        with open(os.path.join(cls.work, "client-%d.out" % len(cls.started)), "w") as log:
            p = subprocess.Popen([os.path.join(cls.program, "VelmC2")], cwd=cls.work,
                                 env=dict(cls.env, **env), stdout=log, stderr=subprocess.STDOUT)
        cls.started.append(p)
        return p

    def windows(self, title):
        self.assertIsNone(self.xvfb.poll(), "Xvfb ended; its output is in xvfb.log")
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title], env=self.env,
                           capture_output=True, text=True)
        return [w for w in r.stdout.split() if w]

    def focus(self, window):
        """Gives the window the keyboard as a window manager would, with a focus change the
        program sees. Focusing the window that already holds the X focus sends no event, and a
        window blocked by a modal dialog (the splash during its hand-over) ignores the one it
        gets; so the focus goes to the root first."""
        root = subprocess.run(["xdotool", "search", "--maxdepth", "0", "--name", ""], env=self.env,
                              capture_output=True, text=True).stdout.split()
        if root:
            subprocess.run(["xdotool", "windowfocus", root[0]], env=self.env)
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=self.env)
        time.sleep(0.3)

    def geometry(self, window):
        r = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=self.env,
                           capture_output=True, text=True)
        values = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
        return {k: int(v) for k, v in values.items() if k in ("X", "Y", "WIDTH", "HEIGHT")}

    def screenshot(self, name, window="root"):
        path = os.path.join(self.output, name + ".png")
        subprocess.run(["import", "-display", self.display, "-window", window, path],
                       env=self.env, capture_output=True)
        return path

    def stats_lines(self):
        path = os.path.join(self.site_root, "clientstats.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="latin-1") as f:
            return [line.rstrip("\n") for line in f if line.strip()]

    def requests_log(self):
        path = os.path.join(self.site_root, "requests.log")
        with open(path, encoding="latin-1") as f:
            return f.read()

    def debug_log(self):
        path = os.path.join(self.program, "VelmC2.log")
        with open(path, encoding="cp1251", errors="replace") as f:
            return f.read()

    def proxied_urls(self):
        """The addresses the local proxy was asked for, in order, percent-decoding undone."""
        urls = []
        for line in self.debug_log().splitlines():
            _, found, url = line.partition(" GetFile: ")
            if found:
                urls.append(urllib.parse.unquote(url.strip(), encoding="utf-8"))
        return urls

    def site_requests(self):
        """The site's answered requests as (host, target, status), in order."""
        rows = []
        for line in self.requests_log().splitlines():
            fields = line.split("\t")
            if len(fields) >= 7:
                target = urllib.parse.unquote(fields[4], errors="strict") \
                    if is_utf8_escaped(fields[4]) else urllib.parse.unquote(fields[4], "cp1251")
                rows.append((fields[2].split(":")[0], target, fields[6]))
        return rows

    def game_page_state(self):
        """Which of the game page's pictures the proxy was asked for, and which of those on the
        other picture hosts the site has answered since the game page was served."""
        pictures = {}
        for url in self.proxied_urls():
            parts = urllib.parse.urlsplit(url)
            pictures.setdefault(parts.path.lstrip("/"), set()).add(parts.hostname)
        rows = self.site_requests()
        after = next((i for i, row in enumerate(rows) if row[1] == "/main.php"), len(rows))
        relayed = {(host, urllib.parse.urlsplit(target).path.lstrip("/"))
                   for host, target, status in rows[after:] if status == "200"}
        return pictures, relayed

    def main_window(self, timeout=90):
        found = wait_for(lambda: self.windows("Велмара"), timeout)
        self.assertTrue(found, "no main window titled Велмара")
        return found[0]

    # --- steps ---------------------------------------------------------------------------------

    def test_1_first_start_updates_then_opens_the_game(self):
        cls = type(self)
        cls.client = self.start_client()
        splash = wait_for(lambda: self.windows(" Обновление файлов игры"), 30)
        self.assertTrue(splash, "no update splash")
        time.sleep(1.0)
        self.screenshot("splash", splash[0])

        window = self.main_window()
        shown_at = time.monotonic()
        self.check_game_page_loads(shown_at)
        # The statistics request: exactly one, sent while the main window was made.
        self.assertTrue(wait_for(self.stats_lines, 20))
        self.screenshot("main-window", window)
        stats = self.stats_lines()
        self.assertEqual(len(stats), 1, stats)
        self.assertTrue(stats[0].split("\t")[-1].startswith("p=&s=0&pv=2.05&fv=Unknown"), stats)

        # The mirror filled from the site's file lists.
        images = os.path.join(self.program, "pub", "images")
        mirrored = sum(len(files) for _, _, files in os.walk(images))
        self.assertGreaterEqual(mirrored, 60)
        # The start page went through the local proxy to the site.
        self.assertIn("/index.php", self.requests_log())
        self.assertIn("GetFile: " + self.site_url + "index.php", self.debug_log())
        self.assertIn("/main.php", self.requests_log())
        self.assertIsNone(cls.client.poll())
        self.assertGreater(self.geometry(window).get("WIDTH", 0), 0)

    def check_game_page_loads(self, shown_at):
        """The game page's 60 pictures over three host names all come through the proxy: those
        of the site's own host from the mirror, the others relayed to the site, with no stall."""
        sys.path.insert(0, os.path.dirname(ARGS.site))
        from demosite.content import GAME_PICTURES as names
        self.assertEqual(len(names), 60)
        hosts = ("127.0.0.1", "127.0.0.2", "127.0.0.3")  # the site's --bind order
        own = urllib.parse.urlsplit(self.site_url).hostname
        self.assertTrue(wait_for(lambda: any(u.endswith("/main.php") for u in self.proxied_urls()),
                                 30), "the game page was not asked for through the proxy")

        def finished():
            pictures, relayed = self.game_page_state()
            for index, name in enumerate(names):
                if not pictures.get(name):
                    return False
                host = hosts[index % 3]
                if host != own and (host, name) not in relayed:
                    return False
            return True

        done = wait_for(finished, 15, step=0.05)
        elapsed = time.monotonic() - shown_at
        pictures, relayed = self.game_page_state()
        missing = [n for n in names if n not in pictures]
        self.assertTrue(done, "the game page stalled; not asked for: %s" % missing)
        sys.stderr.write("\n  game page with 60 pictures over 3 hosts loaded %.2f s after the main window showed\n" % elapsed)
        # Every picture was asked for on the host the page names; none of the site's own host
        # went on to the site: the mirror answered them.
        for index, name in enumerate(names):
            self.assertIn(hosts[index % 3], pictures[name])
        self.assertFalse([r for r in relayed if r[0] == own and r[1] in names], relayed)
        time.sleep(1)  # the pictures painted before the screenshot
        with open(os.path.join(self.output, "game-page-load.txt"), "w") as f:
            f.write("%.3f\n" % elapsed)

    def test_2_second_start_shows_the_message_and_ends(self):
        second = self.start_client()
        box = wait_for(lambda: self.windows("Отмена запуска второй копии программы"), 30)
        self.assertTrue(box, "no message box of the second start")
        self.focus(box[0])
        subprocess.run(["xdotool", "key", "Return"], env=self.env)
        self.assertEqual(second.wait(20), 0)
        self.assertIsNone(type(self).client.poll(), "the first client ended too")
        self.assertEqual(len(self.windows("Велмара")), 1)

    def test_3_closing_writes_the_placement_and_the_next_start_restores_it(self):
        cls = type(self)
        window = self.main_window()
        subprocess.run(["xdotool", "windowmove", "--sync", window, "90", "70"], env=self.env)
        subprocess.run(["xdotool", "windowsize", "--sync", window, "700", "640"], env=self.env)
        time.sleep(0.5)
        self.focus(window)
        # Real key strokes to the focused window (the shortcut of the File menu's exit).
        subprocess.run(["xdotool", "key", "alt+F4"], env=self.env)
        self.assertEqual(cls.client.wait(30), 0)
        placement = read_ini(os.path.join(self.program, "VelmC2.ini")).get("fmain", {})
        self.assertEqual(placement.get("width"), "700")
        self.assertEqual(placement.get("height"), "640")
        self.assertEqual(placement.get("left"), "90")
        self.assertEqual(placement.get("top"), "70")

        cls.client = self.start_client()
        window = self.main_window()
        time.sleep(1)
        g = self.geometry(window)
        self.assertEqual((g["WIDTH"], g["HEIGHT"]), (700, 640))
        self.assertEqual((g["X"], g["Y"]), (90, 70))
        # A later start sends its own single statistics request.
        self.assertTrue(wait_for(lambda: len(self.stats_lines()) == 2, 20))

    def test_4_published_client_replaces_itself_and_starts_again(self):
        cls = type(self)
        window = self.main_window()
        self.focus(window)
        subprocess.run(["xdotool", "key", "alt+F4"], env=self.env)
        self.assertEqual(cls.client.wait(30), 0)
        exe = os.path.join(self.program, "VelmC2")
        before = os.stat(exe).st_mtime
        with urllib.request.urlopen(self.site_url + "_demo/publish?package=client") as answer:
            self.assertIn(b"VelmC2", answer.read())

        old = self.start_client()
        # The start-up update stores the new executable, hands over to it and ends.
        self.assertEqual(old.wait(90), 0)
        # The copy replaces VelmC2 and starts it: a main window of another process comes up.
        self.assertTrue(wait_for(lambda: self.restarted_pids(), 90), "no restarted client")
        self.assertGreater(os.stat(exe).st_mtime, before)
        self.assertTrue(wait_for(lambda: len(self.stats_lines()) == 3, 30), self.stats_lines())

    def close_main_window(self, process=None, pid=None):
        """Alt+F4 to the main window, which must be up first; a window that has only just shown
        may not have taken the focus yet, so the keys go again until it is gone. The process
        (a child of ours, or any process by pid) must end after that."""
        self.main_window()
        for _ in range(10):
            found = self.windows("Велмара")
            if not found:
                break
            self.focus(found[0])
            subprocess.run(["xdotool", "key", "alt+F4"], env=self.env)
            if wait_for(lambda: not self.windows("Велмара"), 3):
                break
        self.assertFalse(self.windows("Велмара"), "the main window stays")
        if process is not None:
            try:
                self.assertEqual(process.wait(30), 0)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(10)
                self.fail("the client stayed after its main window closed")
        if pid is not None:
            def ended():
                try:
                    os.kill(pid, 0)
                    return False
                except OSError:
                    return True
            self.assertTrue(wait_for(ended, 30), "the client stayed after its main window closed")

    def test_5_new_version_without_the_site_asks_for_the_connection_once(self):
        cls = type(self)
        # The self-updated client from the step before is no child of ours; it ends like any
        # other when its window closes.
        pids = self.restarted_pids()
        self.assertEqual(len(pids), 1)
        self.close_main_window(pid=pids.pop())
        ini = os.path.join(self.program, "VelmC2.ini")
        self.assertEqual(read_ini(ini)["main"]["currentversion"], "2.05")
        with open(ini, encoding="cp1251") as f:
            text = f.read()
        with open(ini, "w", encoding="cp1251") as f:
            f.write(re.sub(r"(?mi)^CurrentVersion=.*$", "CurrentVersion=2.04", text))
        dead = "http://127.0.0.1:%d/" % free_port()  # nothing listens there

        cls.client = self.start_client(VELM_SITE_ROOT=dead)
        dialog = wait_for(lambda: self.windows("Настройка соединения"), 60)
        self.assertTrue(dialog, "no connection dialog on the first start of a new version")
        time.sleep(0.5)
        self.screenshot("connection-dialog", dialog[0])
        self.focus(dialog[0])
        subprocess.run(["xdotool", "key", "Escape"], env=self.env)
        self.assertTrue(wait_for(lambda: not self.windows("Настройка соединения"), 10))
        # The start goes on to the main window, and the client ends with it.
        self.close_main_window(cls.client)
        self.assertEqual(read_ini(ini)["main"]["currentversion"], "2.05")

        # The next start of the same version stays quiet, although the site is still away.
        cls.client = self.start_client(VELM_SITE_ROOT=dead)
        seen = []

        def window_or_dialog():
            seen.extend(self.windows("Настройка соединения"))
            return self.windows("Велмара")

        self.assertTrue(wait_for(window_or_dialog, 90, step=0.1), "no main window")
        time.sleep(1)
        window_or_dialog()
        self.assertEqual(seen, [], "the connection dialog came again")
        self.close_main_window(cls.client)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--site", required=True)
    parser.add_argument("--output", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
