#!/usr/bin/env python3
"""Contract tests of the demo game site: each test starts the real script on a free port in a
temporary folder and talks HTTP to it over loopback."""

import email.utils
import gzip
import json
import http.client
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                      "demo-site", "demo_site.py")
# A zone east of UTC, so that a list date written in UTC instead of local time shows.
ZONE = "<+03>-3"
ENTRY = re.compile(r"^([^\t]+)\t(\d{4}\.\d{2}\.\d{2} \d{2}-\d{2}-\d{2})$")
LISTS = {
    "info": ("info/filelist.php", "info/build.html", "info/"),
    "game": ("pub/filelist.php", "shared/build.html", "images/"),
    "client": ("info/client/filelist.php", "info/client/build.html", "info/client/"),
}


def setUpModule():
    os.environ["TZ"] = ZONE
    time.tzset()


class Site:
    """One running demo site process."""

    def __init__(self, root, *extra):
        self.root = root
        environment = dict(os.environ, TZ=ZONE)
        self.process = subprocess.Popen(
            [sys.executable, SCRIPT, "--port", "0", "--root", root] + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=environment)
        line = self.process.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not match:
            self.process.kill()
            raise AssertionError("site did not start: %r %s" % (line, self.process.stderr.read()))
        self.port = int(match.group(1))
        self.banner = line

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()
        self.process.stderr.close()

    def request(self, path, headers=None, method="GET", body=None, host="127.0.0.1",
                absolute=False):
        connection = http.client.HTTPConnection(host, self.port, timeout=10)
        try:
            target = path if absolute else "/" + path
            connection.request(method, target, body=body, headers=headers or {})
            answer = connection.getresponse()
            return answer.status, {k.lower(): v for k, v in answer.getheaders()}, answer.read()
        finally:
            connection.close()

    def get(self, path, **kwargs):
        status, headers, body = self.request(path, **kwargs)
        if status != 200:
            raise AssertionError("GET /%s gave %d" % (path, status))
        return body

    def file_list(self, key, query=""):
        body = self.get(LISTS[key][0] + query).decode("cp1251")
        return body

    def entries(self, key, query=""):
        lines = self.file_list(key, query).split("\r\n")
        return dict(ENTRY.match(line).groups() for line in lines[1:] if line)

    def log_lines(self):
        with open(os.path.join(self.root, "requests.log"), encoding="latin-1") as f:
            return [line.rstrip("\n").split("\t") for line in f]


def list_date_of(last_modified):
    stamp = email.utils.parsedate_to_datetime(last_modified).timestamp()
    return time.strftime("%Y.%m.%d %H-%M-%S", time.localtime(stamp))


def raw_exchange(port, data, reads=1):
    """Sends raw bytes and returns what came back until `reads` answers or the close."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(data)
        received = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return received, True
            received += chunk
            if received.count(b"HTTP/1.1 ") >= reads and _complete(received, reads):
                return received, False


def _complete(data, reads):
    position = 0
    for _ in range(reads):
        head_end = data.find(b"\r\n\r\n", position)
        if head_end < 0:
            return False
        length = int(re.search(rb"Content-Length: (\d+)", data[position:head_end]).group(1))
        position = head_end + 4 + length
        if len(data) < position:
            return False
    return True


class SharedSiteTest(unittest.TestCase):
    """Read-only contracts, against one site listening on two loopback addresses."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.site = Site(os.path.join(cls.folder.name, "root"), "--bind", "127.0.0.1,127.0.0.2")

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        cls.folder.cleanup()

    def test_file_lists_have_header_entries_and_dates_matching_last_modified(self):
        for key, (list_path, build_page, folder) in LISTS.items():
            with self.subTest(package=key):
                text = self.site.file_list(key)
                self.assertTrue(text.endswith("\r\n"))
                lines = text.split("\r\n")[:-1]
                build = self.site.get(build_page).decode().strip()
                self.assertTrue(lines[0].startswith("#build %s\t" % build), lines[0])
                for line in lines[1:]:
                    match = ENTRY.match(line)
                    self.assertIsNotNone(match, line)
                    name, date = match.groups()
                    self.assertTrue(name.startswith(folder), name)
                    if key == "info":
                        self.assertFalse(name.startswith("info/client/"), name)
                    self.assertNotIn("build.html", name)
                    quoted = urllib.parse.quote(name.encode("cp1251"))
                    status, headers, _ = self.site.request(quoted, method="HEAD")
                    self.assertEqual(status, 200, name)
                    self.assertEqual(list_date_of(headers["last-modified"]), date, name)
        self.assertEqual(len(self.site.entries("game")), 63)
        self.assertIn("info/client/readme.txt", self.site.entries("client"))

    def test_lists_are_gzip_encoded_only_when_the_request_accepts_gzip(self):
        plain = self.site.get("pub/filelist.php")
        cases = [
            ("gzip, deflate", True),
            ("GZIP", True),
            ("deflate", False),
            ("gzip;q=0, deflate", False),
            (None, False),
        ]
        for accept, encoded in cases:
            with self.subTest(accept=accept):
                headers = {"Accept-Encoding": accept} if accept else {}
                status, answer, body = self.site.request("pub/filelist.php", headers=headers)
                self.assertEqual(status, 200)
                if encoded:
                    self.assertEqual(answer.get("content-encoding"), "gzip")
                    self.assertEqual(int(answer["content-length"]), len(body))
                    self.assertEqual(gzip.decompress(body), plain)
                else:
                    self.assertNotIn("content-encoding", answer)
                    self.assertEqual(body, plain)
        # Game files are sent as they are, even to a request that accepts gzip.
        status, answer, body = self.site.request(
            "images/map/Tile01.gif", headers={"Accept-Encoding": "gzip, deflate"})
        self.assertNotIn("content-encoding", answer)
        self.assertTrue(body.startswith(b"GIF89a"))

    def test_one_file_queries_answer_in_list_format_ignoring_letter_case(self):
        game = self.site.entries("game")
        info = self.site.entries("info")
        shield = "images/icons/щит.gif"
        cases = [
            ("game", "?name=images/map/tile01.gif", {"images/map/Tile01.gif": game[
                "images/map/Tile01.gif"]}),
            ("game", "?name=" + urllib.parse.quote(shield.encode("cp1251")),
             {shield: game[shield]}),
            ("info", "?mask=info/img/header.gif", {"info/img/Header.gif": info[
                "info/img/Header.gif"]}),
            # The portal's query covers its whole folder, the client's files included.
            ("info", "?mask=info/client/readme.txt",
             {"info/client/readme.txt": self.site.entries("client")["info/client/readme.txt"]}),
            ("info", "?mask=info/*/news?.png", {n: info[n] for n in info if "news" in n}),
            ("game", "?name=images/none.gif", {}),
            ("game", "?name=images/map/tile0*.gif", {}),  # a name is no mask
            ("info", "?mask=info/img/%5Bh%5Deader.gif", {}),  # brackets are no wildcards
            ("game", "?name=info/images/logo.gif", {}),
        ]
        for key, query, expected in cases:
            with self.subTest(query=query):
                text = self.site.file_list(key, query)
                self.assertTrue(text.startswith("#build "))
                self.assertEqual(self.site.entries(key, query), expected)

    def test_files_are_real_pictures_with_conditional_answers(self):
        signatures = [
            ("images/map/Tile01.gif", b"GIF89a", "image/gif"),
            ("images/units/unit01.png", b"\x89PNG\r\n\x1a\n", "image/png"),
            ("images/scenes/scene01.jpg", b"\xFF\xD8\xFF", "image/jpeg"),
            ("images/map.swf", b"FWS", "application/x-shockwave-flash"),
            ("game.swf", b"FWS", "application/x-shockwave-flash"),
            ("info/images/banner.jpg", b"\xFF\xD8\xFF", "image/jpeg"),
        ]
        for name, signature, content_type in signatures:
            with self.subTest(name=name):
                status, headers, body = self.site.request(name)
                self.assertEqual(status, 200)
                self.assertTrue(body.startswith(signature))
                self.assertEqual(headers["content-type"], content_type)
                modified = headers["last-modified"]
                status, _, body = self.site.request(name, headers={"If-Modified-Since": modified})
                self.assertEqual((status, body), (304, b""))
                earlier = email.utils.formatdate(
                    email.utils.parsedate_to_datetime(modified).timestamp() - 60, usegmt=True)
                status, _, _ = self.site.request(name, headers={"If-Modified-Since": earlier})
                self.assertEqual(status, 200)
        jpeg = self.site.get("images/scenes/scene01.jpg")
        self.assertTrue(jpeg.endswith(b"\xFF\xD9"))
        # A query string (a version the game appends) does not change the file.
        self.assertEqual(self.site.get("images/map.swf?v=7"), self.site.get("images/map.swf"))

    def test_paths_outside_the_site_and_utf8_names_are_not_found(self):
        cases = [
            ("images/icons/%F9%E8%F2.gif", 200),  # Windows-1251, as the client sends it
            ("images/icons/%D1%89%D0%B8%D1%82.gif", 404),  # the same name in UTF-8
            ("images/%2E%2E/%2E%2E/demo-site.json", 404),
            ("..%2Fdemo-site.json", 404),
            ("images/map", 404),  # a folder
            ("requests.log", 404),
            ("nothing.php", 404),
            ("nothing.php?back=http://127.0.0.1/images/map.swf", 404),
            ("http://velmara.example/images/map.swf", 200),  # absolute form, as to a proxy
        ]
        for path, expected in cases:
            with self.subTest(path=path):
                status, _, body = self.site.request(path, absolute=path.startswith("http"))
                self.assertEqual(status, expected)
                if expected == 404:
                    self.assertTrue(body.startswith(b"<html>"))

    def test_game_pages_keep_the_contracts_of_chat_fight_and_character(self):
        index = self.site.get("index.php").decode("cp1251")
        self.assertRegex(index, r'<frame name="chat" src="chat\.php">')
        self.assertEqual(self.site.get(""), self.site.get("index.php"))
        chat = self.site.get("chat.php").decode("cp1251")
        self.assertRegex(chat, r'<form name="chatform"[^>]*>.*<input type="text" name="message"')
        self.assertIn("function chatSend()", chat)
        self.assertIn("game.swf?fight=3", self.site.get("fight.php?fight=3").decode("cp1251"))
        self.assertIn("fight_finish.php?fight=3",
                      self.site.get("fight_end.php?fight=3").decode("cp1251"))
        self.assertIn(b"3", self.site.get("fight_finish.php?fight=3"))
        for query, shown in [("%D0%A1%D1%82%D1%80%D0%B0%D0%BD%D0%BD%D0%B8%D0%BA", "Странник"),
                             ("%D1%F2%F0%E0%ED%ED%E8%EA", "Странник"),
                             ("Big+Bob", "Big Bob"),
                             ("%3Cscript%3Ex%3C/script%3E", "&lt;script&gt;x&lt;/script&gt;")]:
            with self.subTest(nick=query):
                page = self.site.get("user_info.php?nick=" + query).decode("cp1251")
                self.assertIn('<b id="nick">%s</b>' % shown, page)
        # The client opens the address with the name as typed: raw Windows-1251 bytes.
        answer, _ = raw_exchange(self.site.port, b"GET /user_info.php?nick=\xd1\xf2 HTTP/1.1\r\n"
                                 b"Host: 127.0.0.1\r\n\r\n")
        self.assertIn('<b id="nick">Ст</b>'.encode("cp1251"), answer)

    def test_game_page_spreads_sixty_pictures_over_the_listening_hosts(self):
        page = self.site.get("main.php", headers={"Host": "127.0.0.1:%d" % self.site.port})
        sources = re.findall(r'<img src="([^"]+)" alt="" width="32"', page.decode("cp1251"))
        self.assertEqual(len(sources), 60)
        other = "http://127.0.0.2:%d/" % self.site.port
        remote = [s for s in sources if s.startswith(other)]
        local = [s for s in sources if s.startswith("images/")]
        self.assertEqual((len(remote), len(local)), (30, 30))
        game = self.site.entries("game")
        for source in sources:
            path = source[len(other):] if source.startswith(other) else source
            self.assertIn(path.split("?")[0], game)
        # Every picture of the page is served by the other host as well.
        status, _, body = self.site.request(remote[0][len(other):], host="127.0.0.2")
        self.assertEqual(status, 200)
        links = re.findall(r'<a href="(http[^"]+)"', page.decode("cp1251"))
        self.assertTrue(links)
        for link in links:
            self.assertNotIn("127.0.0.1:%d/" % self.site.port, link)

    def test_http10_keep_alive_serves_several_requests_on_one_connection(self):
        request = (b"GET /shared/build.html HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"
                   b"GET /info/build.html HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")
        answer, closed = raw_exchange(self.site.port, request, reads=2)
        self.assertFalse(closed)
        self.assertEqual(answer.count(b"Connection: keep-alive\r\n"), 2)
        lines = self.site.log_lines()
        self.assertEqual([l[4] for l in lines[-2:]], ["/shared/build.html", "/info/build.html"])
        self.assertEqual(lines[-1][1], lines[-2][1])  # same connection number
        # Without keep-alive the site closes after one answer (waiting for a second one ends
        # at the close).
        answer, closed = raw_exchange(self.site.port, b"GET /info/build.html HTTP/1.0\r\n\r\n",
                                      reads=2)
        self.assertTrue(closed)
        self.assertIn(b"Connection: close", answer)
        # "close" wins over "keep-alive" when a request carries both.
        answer, closed = raw_exchange(
            self.site.port, b"GET /info/build.html HTTP/1.1\r\nConnection: keep-alive\r\n"
            b"Connection: close\r\n\r\n", reads=2)
        self.assertTrue(closed)
        self.assertEqual(answer.count(b"HTTP/1.1 200 OK"), 1)


class WritingSiteTest(unittest.TestCase):
    """Contracts that change the site: each test gets its own site."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = os.path.join(self.folder.name, "root")
        self.site = None

    def tearDown(self):
        if self.site:
            self.site.stop()
        self.folder.cleanup()

    def start(self, *extra):
        self.site = Site(self.root, *extra)
        return self.site

    def control(self, command, body=None):
        status, _, answer = self.site.request("_demo/" + command, body=body,
                                              method="POST" if body is not None else "GET")
        self.assertEqual(status, 200, answer)
        return answer

    def test_publish_changes_a_few_files_their_dates_and_the_build_page(self):
        site = self.start()
        before = site.entries("game")
        old_pictures = {name: site.get(urllib.parse.quote(name.encode("cp1251")))
                        for name in before}
        self.control("publish?package=game")
        first = site.entries("game")
        self.control("publish?package=game")
        second = site.entries("game")
        self.assertEqual(site.get("shared/build.html"), b"2303\r\n")
        self.assertTrue(site.file_list("game").startswith("#build 2303\t"))
        for older, newer in [(before, first), (first, second)]:
            changed = {n for n in older if newer[n] != older[n]}
            added = set(newer) - set(older)
            self.assertEqual(len(changed), 3)
            self.assertEqual(len(added), 1)
            for name in changed:
                gap = (time.mktime(time.strptime(newer[name], "%Y.%m.%d %H-%M-%S")) -
                       time.mktime(time.strptime(older[name], "%Y.%m.%d %H-%M-%S")))
                self.assertGreaterEqual(gap, 120, name)
        for name in {n for n in before if first[n] != before[n]}:
            self.assertNotEqual(site.get(urllib.parse.quote(name.encode("cp1251"))),
                                old_pictures[name], name)
        # The other packages stay as they were.
        self.assertEqual(site.get("info/build.html"), b"101\r\n")
        # The command-line switch publishes into the folder of a running site.
        subprocess.run([sys.executable, SCRIPT, "--root", self.root, "--publish", "info"],
                       check=True, capture_output=True, env=dict(os.environ, TZ=ZONE))
        self.assertEqual(site.get("info/build.html"), b"102\r\n")
        self.assertEqual(len(site.entries("info")), 9)

    def test_client_package_publishes_a_new_client_executable(self):
        exe = os.path.join(self.folder.name, "VelmC2")
        with open(exe, "wb") as f:
            f.write(b"\x7fELF first build")
        os.chmod(exe, 0o755)
        os.utime(exe, (1300000000, 1300000000))
        site = self.start("--client-exe", exe)
        entries = site.entries("client")
        self.assertEqual(entries["info/client/VelmC2"],
                         time.strftime("%Y.%m.%d %H-%M-%S", time.localtime(1300000000)))
        self.assertEqual(site.get("info/client/VelmC2"), b"\x7fELF first build")
        self.control("publish?package=client", body=b"\x7fELF second build")
        self.assertEqual(site.get("info/client/VelmC2"), b"\x7fELF second build")
        self.assertEqual(site.get("info/client/build.html"), b"206\r\n")
        self.assertNotEqual(site.entries("client")["info/client/VelmC2"],
                            entries["info/client/VelmC2"])
        # Without a body the executable given at start is published again, with a new date.
        with open(exe, "wb") as f:
            f.write(b"\x7fELF third build")
        dated = site.entries("client")["info/client/VelmC2"]
        self.control("publish?package=client")
        self.assertEqual(site.get("info/client/VelmC2"), b"\x7fELF third build")
        self.assertNotEqual(site.entries("client")["info/client/VelmC2"], dated)

    def test_statistics_queries_and_requests_are_logged(self):
        site = self.start()
        query = "p=Plug%20%F2;1.0|b.so;2&s=1&pv=2.05&fv=Unknown"
        self.assertEqual(site.get("pub/clientstats.php?" + query), b"OK")
        site.get("pub/clientstats.php?p=&s=0&pv=2.05&fv=WIN%2010,0,1,0")
        with open(os.path.join(self.root, "clientstats.log"), encoding="utf-8") as f:
            logged = [line.rstrip("\n").split("\t")[1] for line in f]
        self.assertEqual(logged, [query, "p=&s=0&pv=2.05&fv=WIN%2010,0,1,0"])
        stats = json.loads(self.control("stats"))
        self.assertEqual(stats[0]["p"], "Plug т;1.0|b.so;2")
        self.assertEqual((stats[0]["s"], stats[1]["fv"]), ("1", "WIN 10,0,1,0"))
        # Two game requests and the two above, but no control request, reach the log.
        site.request("images/map/Tile02.gif", headers={"Accept-Encoding": "gzip"})
        site.request("images/missing.gif")
        lines = site.log_lines()
        self.assertEqual(len(lines), 4)
        self.assertTrue(all(len(line) == 10 for line in lines))
        self.assertEqual([(l[3], l[4], l[6]) for l in lines[2:]],
                         [("GET", "/images/map/Tile02.gif", "200"),
                          ("GET", "/images/missing.gif", "404")])
        self.assertEqual(lines[2][9], "gzip")

    def test_chat_send_shows_the_message_in_the_chat_frame(self):
        site = self.start()
        status, _, _ = site.request(
            "chat_send.php", method="POST", body=b"message=%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82",
            headers={"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(status, 200)
        self.assertIn("Привет", site.get("chat.php").decode("cp1251"))
        # A chunked body is refused and the connection closed, never read as the next request.
        answer, closed = raw_exchange(
            site.port, b"POST /chat_send.php HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
            b"GET /x HTTP/1.1\r\n\r\n0\r\n\r\n", reads=2)
        self.assertTrue(closed)
        self.assertTrue(answer.startswith(b"HTTP/1.1 411 "))
        self.assertEqual(answer.count(b"HTTP/1.1 "), 1)

    def test_faults_make_a_listed_file_fail_until_cleared(self):
        site = self.start()
        name = "images/map/Tile03.gif"
        self.control("fail?path=%s&status=404" % name)
        self.assertEqual(site.request(name)[0], 404)
        self.assertIn(name, site.entries("game"))
        self.control("fail?path=%s&status=200" % name)
        status, _, body = site.request(name)
        self.assertEqual(status, 200)
        self.assertTrue(body.startswith(b"<html>"))
        self.control("fail?path=pub/filelist.php&status=drop")
        answer, closed = raw_exchange(site.port, b"GET /pub/filelist.php HTTP/1.1\r\n\r\n")
        self.assertEqual((answer, closed), (b"", True))
        self.control("delay?ms=300&path=images/map/")
        started = time.monotonic()
        site.get("images/map/Tile04.gif")
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.control("clear")
        self.assertTrue(site.get(name).startswith(b"GIF89a"))
        self.assertTrue(site.file_list("game").startswith("#build"))

    def test_restart_keeps_the_site_and_a_foreign_folder_is_refused(self):
        site = self.start()
        self.control("publish?package=game")
        entries = site.entries("game")
        site.stop()
        site = self.start()
        self.assertEqual(site.entries("game"), entries)
        self.assertEqual(site.get("shared/build.html"), b"2302\r\n")
        site.stop()
        site = self.site = self.start("--fresh")
        self.assertEqual(site.get("shared/build.html"), b"2301\r\n")
        foreign = os.path.join(self.folder.name, "foreign")
        os.makedirs(foreign)
        with open(os.path.join(foreign, "keep.txt"), "w") as f:
            f.write("mine")
        result = subprocess.run([sys.executable, SCRIPT, "--port", "0", "--root", foreign],
                                capture_output=True, text=True, timeout=30)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(os.listdir(foreign), ["keep.txt"])


if __name__ == "__main__":
    unittest.main()
