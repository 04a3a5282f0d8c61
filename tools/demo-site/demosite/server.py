"""The HTTP side of the demo site: routing, answers, the request log and the control addresses.

Request log (root/requests.log), one line per answered request, fields separated by tabs:
  time  connection  local-address  method  target  protocol  status  body-bytes
  content-encoding  accept-encoding
"-" stands for an empty field; status "drop" marks a connection closed without an answer.
Requests to the control addresses below "/_demo/" are not logged, so tests count only what the
client asked for.
"""

import email.utils
import gzip
import itertools
import json
import os
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import content as content_module
from . import pages

HTML = "text/html; charset=windows-1251"
TEXT = "text/plain; charset=windows-1251"
JSON = "application/json; charset=utf-8"

CONTENT_TYPES = {
    ".gif": "image/gif",
    ".png": "image/png",
    ".jpg": "image/jpeg",
    ".jpeg": "image/jpeg",
    ".swf": "application/x-shockwave-flash",
    ".html": HTML,
    ".htm": HTML,
    ".txt": TEXT,
    ".css": "text/css",
    ".js": "application/javascript",
}

# An idle kept-alive connection is closed after this many seconds.
KEEP_ALIVE_TIMEOUT = 30
# Largest request body read (a published client executable comes as one).
MAX_BODY = 512 * 1024 * 1024
CHAT_LIMIT = 200


def accepts_gzip(header):
    """True when an Accept-Encoding value allows gzip (a q of 0 refuses it)."""
    for item in header.split(","):
        token, _, params = item.strip().partition(";")
        if token.strip().lower() not in ("gzip", "x-gzip", "*"):
            continue
        quality = 1.0
        for param in params.split(";"):
            key, _, value = param.strip().partition("=")
            if key.strip().lower() == "q":
                try:
                    quality = float(value)
                except ValueError:
                    quality = 0.0
        if quality > 0:
            return True
    return False


def parse_query(raw):
    """Query or form text to {key: bytes}, decoded the way PHP does ("+" is a blank)."""
    result = {}
    for item in raw.split(b"&"):
        if not item:
            continue
        key, _, value = item.partition(b"=")
        key = urllib.parse.unquote_to_bytes(key.replace(b"+", b" ")).decode("cp1251", "replace")
        result[key] = urllib.parse.unquote_to_bytes(value.replace(b"+", b" "))
    return result


def decode_text(data):
    """Text typed by a player: browsers send UTF-8, the client's own requests Windows-1251."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp1251", "replace")


class DemoSite:
    """What all listeners share: the content, the faults set by tests, logs, chat, stats."""

    def __init__(self, content, hosts):
        self.content = content
        self.hosts = hosts  # "address:port" of every listener, the first is the site root's
        self.lock = threading.Lock()
        self.faults = {}  # lower-case site name -> status number or "drop"
        self.delays = []  # (lower-case name prefix, seconds)
        self.chat = []
        self.stats = []
        self.connections = itertools.count(1)
        # Latin-1 writes the request target's bytes exactly as they came.
        self.request_log = open(os.path.join(content.root, "requests.log"), "a",
                                encoding="latin-1", errors="replace")
        self.stats_log = open(os.path.join(content.root, "clientstats.log"), "a",
                              encoding="utf-8")

    def close(self):
        self.request_log.close()
        self.stats_log.close()

    def log_request(self, fields):
        line = "\t".join(str(f) if f not in (None, "") else "-" for f in fields)
        with self.lock:
            self.request_log.write(line + "\n")
            self.request_log.flush()

    def record_stats(self, raw_query):
        fields = parse_query(raw_query)
        entry = {key: fields.get(key, b"").decode("cp1251", "replace")
                 for key in ("p", "s", "pv", "fv")}
        entry["query"] = raw_query.decode("latin-1")
        entry["time"] = time.strftime("%Y-%m-%d %H:%M:%S")
        with self.lock:
            self.stats.append(entry)
            self.stats_log.write("%s\t%s\n" % (entry["time"], entry["query"]))
            self.stats_log.flush()

    def fault_for(self, name):
        with self.lock:
            return self.faults.get(name.lower())

    def delay_for(self, name):
        lower = name.lower()
        with self.lock:
            return sum(seconds for prefix, seconds in self.delays if lower.startswith(prefix))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmDemo/1.0"
    timeout = KEEP_ALIVE_TIMEOUT

    # --- plumbing ---

    def setup(self):
        super().setup()
        self.site = self.server.site
        self.connection_id = next(self.site.connections)

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):
        pass  # the request log below is the record

    def do_GET(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def read_body(self):
        """The request body by its Content-Length; None when it cannot be read (a chunked or
        oversized body), after which the connection is closed."""
        if "Transfer-Encoding" in self.headers:
            self.close_connection = True
            return None
        try:
            length = int(self.headers.get("Content-Length", "0") or 0)
        except ValueError:
            length = -1
        if length < 0 or length > MAX_BODY:
            self.close_connection = True
            return None
        return self.rfile.read(length) if length else b""

    def respond(self, status, body=b"", content_type=None, last_modified=None,
                compress=False, headers=(), log=True):
        encoding = None
        if compress and body and accepts_gzip(self.headers.get("Accept-Encoding", "")):
            body = gzip.compress(body, mtime=0)
            encoding = "gzip"
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        if last_modified is not None:
            self.send_header("Last-Modified", email.utils.formatdate(last_modified, usegmt=True))
        if encoding:
            self.send_header("Content-Encoding", encoding)
        if compress:
            self.send_header("Vary", "Accept-Encoding")
        for key, value in headers:
            self.send_header(key, value)
        self.send_header("Content-Length", str(len(body)))
        # Any "close" among the Connection headers wins: the client's proxy may forward the
        # browser's Connection line next to its own.
        if any("close" in value.lower() for value in self.headers.get_all("Connection", [])):
            self.close_connection = True
        if self.close_connection:
            self.send_header("Connection", "close")
        elif self.request_version == "HTTP/1.0":
            self.send_header("Connection", "keep-alive")
        sends_body = self.command != "HEAD" and status not in (204, 304)
        # Logged before anything is sent, so whoever has the answer finds the line.
        if log:
            self.log_answer(status, len(body) if sends_body else 0, encoding)
        self.end_headers()
        if sends_body:
            self.wfile.write(body)

    def log_answer(self, status, length, encoding):
        local = "%s:%d" % self.connection.getsockname()[:2]
        self.site.log_request([
            time.strftime("%Y-%m-%d %H:%M:%S"), self.connection_id, local, self.command,
            self.path, self.request_version, status, length, encoding,
            self.headers.get("Accept-Encoding", "")])

    def respond_page(self, text, status=200):
        self.respond(status, text.encode("cp1251", "xmlcharrefreplace"), HTML, compress=True)

    def respond_error(self, status, reason=None, log=True):
        reason = reason or self.responses.get(status, ("Error",))[0]
        self.respond(status, pages.error_page(status, reason).encode("cp1251"), HTML, log=log)

    # --- routing ---

    def dispatch(self):
        target = self.path
        if not target.startswith("/") and "://" in target:  # absolute form, as to a proxy
            rest = target.split("://", 1)[1]
            target = "/" + rest.split("/", 1)[1] if "/" in rest else "/"
        raw_path, _, raw_query = target.partition("?")
        raw_query = raw_query.encode("latin-1")
        body = self.read_body()
        if body is None:
            self.respond_error(411 if "Transfer-Encoding" in self.headers else 413)
            return
        try:
            name = urllib.parse.unquote_to_bytes(raw_path.encode("latin-1")).decode("cp1251")
        except UnicodeDecodeError:
            self.respond_error(404)
            return
        name = name.lstrip("/")
        if name.startswith("_demo/"):
            self.control(name[len("_demo/"):], parse_query(raw_query), body)
            return
        fault = self.site.fault_for(name)
        if fault == "drop":
            self.close_connection = True
            self.log_answer("drop", 0, None)
            return
        if fault is not None:
            self.respond(fault, pages.error_page(fault, "Demo fault").encode("cp1251"), HTML)
            return
        delay = self.site.delay_for(name)
        if delay:
            time.sleep(delay)
        query = parse_query(raw_query)
        form = dict(query)
        if self.command == "POST" and body:
            form.update(parse_query(body))
        self.route(name, query, form, raw_query)

    def route(self, name, query, form, raw_query):
        lower = name.lower()
        game_build = self.site.content.build_of(content_module.PACKAGE_BY_KEY["game"])
        text = lambda key: decode_text(form.get(key, b""))
        if lower in ("", "index.php"):
            self.respond_page(pages.index_page())
        elif lower == "main.php":
            own = self.headers.get("Host", "")
            if own not in self.site.hosts:
                own = self.site.hosts[0]
            self.respond_page(pages.main_page(own, self.site.hosts, game_build))
        elif lower == "chat.php":
            with self.site.lock:
                messages = list(self.site.chat)
            self.respond_page(pages.chat_page(messages))
        elif lower == "chat_send.php":
            message = text("message")
            if message:
                with self.site.lock:
                    self.site.chat.append(("Странник", message))
                    del self.site.chat[:-CHAT_LIMIT]
            self.respond(200, b"OK", TEXT)
        elif lower == "user_info.php":
            self.respond_page(pages.user_info_page(text("nick")))
        elif lower == "fight.php":
            self.respond_page(pages.fight_page(text("fight") or "1"))
        elif lower == "fight_end.php":
            self.respond_page(pages.fight_end_page(text("fight") or "1"))
        elif lower == "fight_finish.php":
            self.respond_page(pages.fight_finish_page(text("fight") or "1"))
        elif lower == "info/index.php":
            self.respond_page(pages.info_page())
        elif lower == "pub/clientstats.php":
            self.site.record_stats(raw_query)
            self.respond(200, b"OK", TEXT)
        elif lower in content_module.PACKAGE_BY_LIST:
            self.file_list(content_module.PACKAGE_BY_LIST[lower], query)
        elif lower.endswith(".php"):
            self.respond_error(404)
        else:
            self.static_file(name)

    def file_list(self, package, query):
        """The package's file list, or with the package's query key the one-file answer."""
        pattern = None
        if package.query_key in query:
            pattern = query[package.query_key].decode("cp1251", "replace")
        data = self.site.content.file_list(package, pattern)
        self.respond(200, data, TEXT, compress=True)

    def static_file(self, name):
        path = self.site.content.local_path(name) if name else None
        if path is None or os.path.basename(path).startswith(".") or not os.path.isfile(path):
            self.respond_error(404)
            return
        mtime = int(os.stat(path).st_mtime)
        since = self.headers.get("If-Modified-Since")
        if since:
            try:
                if mtime <= email.utils.parsedate_to_datetime(since).timestamp():
                    self.respond(304, last_modified=mtime)
                    return
            except (TypeError, ValueError, IndexError, OverflowError):
                pass
        with open(path, "rb") as f:
            data = f.read()
        extension = os.path.splitext(path)[1].lower()
        content_type = CONTENT_TYPES.get(extension, "application/octet-stream")
        compress = content_type.startswith("text/") or content_type.endswith("javascript")
        self.respond(200, data, content_type, last_modified=mtime, compress=compress)

    # --- control addresses (not part of the game site) ---

    def control(self, command, query, body):
        value = lambda key, default="": query.get(key, default.encode()).decode("utf-8", "replace")
        site = self.site
        try:
            if command == "publish":
                package = value("package", "game")
                if package not in content_module.PACKAGE_BY_KEY:
                    raise ValueError("unknown package %r" % package)
                client_data = body if self.command == "POST" and body else None
                answer = site.content.publish(package, client_data)
            elif command == "fail":
                status = value("status", "404")
                fault = "drop" if status == "drop" else int(status)
                if fault != "drop" and not 100 <= fault <= 599:
                    raise ValueError("status must be 100..599 or drop")
                with site.lock:
                    site.faults[value("path").lstrip("/").lower()] = fault
                answer = {"faults": dict(site.faults)}
            elif command == "delay":
                with site.lock:
                    site.delays.append((value("path").lstrip("/").lower(),
                                        int(value("ms", "0")) / 1000.0))
                answer = {"delays": list(site.delays)}
            elif command == "clear":
                with site.lock:
                    site.faults.clear()
                    site.delays.clear()
                answer = {"faults": {}, "delays": []}
            elif command == "state":
                answer = {
                    "hosts": site.hosts,
                    "builds": {p.key: site.content.build_of(p) for p in content_module.PACKAGES},
                    "faults": site.faults,
                    "delays": site.delays,
                }
            elif command == "stats":
                with site.lock:
                    answer = list(site.stats)
            elif command == "chat":
                with site.lock:
                    answer = [{"who": w, "text": t} for w, t in site.chat]
            elif command == "log":
                with site.lock, open(site.request_log.name, "rb") as f:
                    self.respond(200, f.read(), "text/plain", log=False)
                return
            else:
                self.respond_error(404, log=False)
                return
        except (ValueError, OSError) as error:
            self.respond(400, (str(error) + "\n").encode("utf-8"), "text/plain; charset=utf-8",
                         log=False)
            return
        self.respond(200, json.dumps(answer, ensure_ascii=False).encode("utf-8"), JSON,
                     log=False)


class DemoServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, site):
        super().__init__(address, Handler)
        self.site = site
