"""The site's files on disk: the three update packages, their build pages, file lists and
publication of new builds.

The folder given with --root holds:
  site/            the files the site serves, by their paths below the site root
  demo-site.json   marks the folder as ours (generation format)
  requests.log     one line per request served (see server.py)
  clientstats.log  one line per statistics query received

All state that a publication changes (files, their dates, the build pages) lives on disk, so a
second process started with --publish can publish while the server runs.
"""

import json
import os
import re
import shutil
import sys
import tempfile
import threading
import time

from . import artwork

# The game movie comes from the client's tiny movie writer (tools/tiny-swf): a background and a
# rectangle, so a browser that really plays it shows both colours.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                                os.pardir, "tiny-swf"))
import tiny_swf  # noqa: E402

MARKER = "demo-site.json"
FORMAT = 1
ENCODING = "cp1251"

# Every date in the lists is local time, as the client reads it.
DATE_FORMAT = "%Y.%m.%d %H-%M-%S"


class Package:
    """One update package: where its files, build page and file list live below the root."""

    def __init__(self, key, folder, build_page, list_path, query_key, excluded, first_build):
        self.key = key
        self.folder = folder  # list names begin with this path and "/"
        self.build_page = build_page
        self.list_path = list_path
        self.query_key = query_key  # the one-file query parameter of the list address
        self.excluded = excluded  # sub-folders that belong to another package
        self.first_build = first_build

    def owns(self, name, whole_folder=False):
        """True for a file of the package; `whole_folder` takes in the excluded sub-folders
        too, as the one-file query searches the whole folder."""
        lower = name.lower()
        if not lower.startswith(self.folder + "/") or lower.endswith("/build.html"):
            return False
        return whole_folder or not any(lower.startswith(f + "/") for f in self.excluded)


PACKAGES = [
    Package("info", "info", "info/build.html", "info/filelist.php", "mask", ["info/client"], 101),
    Package("game", "images", "shared/build.html", "pub/filelist.php", "name", [], 2301),
    Package("client", "info/client", "info/client/build.html", "info/client/filelist.php",
            "name", [], 205),
]
PACKAGE_BY_KEY = {p.key: p for p in PACKAGES}
PACKAGE_BY_LIST = {p.list_path: p for p in PACKAGES}


def _game_pictures():
    names = ["images/map/Tile%02d.gif" % i for i in range(1, 25)]
    names += ["images/units/unit%02d.png" % i for i in range(1, 19)]
    names += ["images/scenes/scene%02d.jpg" % i for i in range(1, 18)]
    names.append("images/icons/щит.gif")
    return names


# The 60 pictures of the game page, in page order.
GAME_PICTURES = _game_pictures()
assert len(GAME_PICTURES) == 60

INITIAL_FILES = GAME_PICTURES + [
    "images/map.swf",
    "images/ui/frame.gif",
    "images/ui/button.png",
    "info/images/logo.gif",
    "info/images/banner.jpg",
    "info/images/news1.png",
    "info/images/news2.png",
    "info/images/news3.png",
    "info/img/Header.gif",
    "info/img/divider.png",
    "info/flash/intro.swf",
    "info/client/readme.txt",
]

# Initial site dates: 4 February 2011, 09:00 local time, one file every 7 minutes.
INITIAL_DATE = (2011, 2, 4, 9, 0, 0)
INITIAL_STEP = 7 * 60
# A republished file is dated now, but at least this much later than its previous date, so
# that even two publications within a minute change every date by more than the client's
# one-minute tolerance.
REPUBLISH_MIN_STEP = 120
FILES_PER_PUBLISH = 3
# The file that each publication of a graphics package adds, in a folder of its own.
NEW_FILE = {"game": "images/build%d/new%d.gif", "info": "info/images/build%d/new%d.gif"}


def list_date(mtime):
    return time.strftime(DATE_FORMAT, time.localtime(int(mtime)))


def _initial_time(index):
    y, mo, d, h, mi, s = INITIAL_DATE
    return int(time.mktime((y, mo, d, h, mi, s, 0, 0, -1))) + index * INITIAL_STEP


def write_file(path, data, mtime, mode=None):
    """Replaces `path` by writing a temporary file beside it and renaming it over."""
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    handle, temporary = tempfile.mkstemp(prefix=".tmp-", dir=folder)
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        if mode is not None:
            os.chmod(temporary, mode)
        os.utime(temporary, (mtime, mtime))
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def _matcher(pattern, wildcards):
    """Letter-case-blind test of a name against a one-file query value; a mask takes "*"
    and "?" as wildcards, every other character (brackets too) stands for itself."""
    if not wildcards:
        wanted = pattern.lower()
        return lambda name: name.lower() == wanted
    expression = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c)
                         for c in pattern)
    compiled = re.compile(expression, re.IGNORECASE | re.DOTALL)
    return lambda name: compiled.fullmatch(name) is not None


class SiteContent:
    """The files below root/site and the operations on them."""

    def __init__(self, root, client_exe=None, client_name=None):
        self.root = os.path.abspath(root)
        self.site = os.path.join(self.root, "site")
        self.client_exe = os.path.abspath(client_exe) if client_exe else None
        if client_name:
            self.client_name = client_name
        elif client_exe:
            self.client_name = os.path.basename(client_exe)
        else:
            self.client_name = None
        self.lock = threading.Lock()

    # --- paths ---

    def local_path(self, name):
        """The disk path of a site name, or None when the name would leave the site folder."""
        parts = name.split("/")
        if any(part in ("", ".", "..") for part in parts) or "\\" in name or "\0" in name:
            return None
        path = os.path.join(self.site, *parts)
        if not os.path.realpath(path).startswith(os.path.realpath(self.site) + os.sep):
            return None
        return path

    def client_exe_name(self):
        return "info/client/" + self.client_name if self.client_name else None

    # --- generation ---

    def prepare(self, fresh=False):
        """Generates the site into an empty folder, or keeps what an earlier run generated."""
        marker = os.path.join(self.root, MARKER)
        if os.path.isdir(self.root) and os.listdir(self.root) and not os.path.exists(marker):
            raise SystemExit("demo-site: %s is not empty and was not made by the demo site; "
                             "refusing to write into it" % self.root)
        if fresh and os.path.exists(marker):
            shutil.rmtree(self.site, ignore_errors=True)
        if not os.path.isdir(self.site):
            self._generate()
            with open(marker, "w", encoding="utf-8") as out:
                json.dump({"format": FORMAT, "created": int(time.time())}, out)
        self._sync_client_exe()

    def _generate(self):
        for index, name in enumerate(INITIAL_FILES):
            write_file(self.local_path(name), artwork.render(name, 0), _initial_time(index))
        last = _initial_time(len(INITIAL_FILES))
        for package in PACKAGES:
            self._write_build_page(package, package.first_build, last)
        write_file(os.path.join(self.site, "game.swf"), tiny_swf.tiny_swf(), last)

    def _sync_client_exe(self):
        """Serves the configured client executable as the client package's copy, same date."""
        if not self.client_exe:
            return
        target = self.local_path(self.client_exe_name())
        source = os.stat(self.client_exe)
        if os.path.exists(target):
            current = os.stat(target)
            if (int(current.st_mtime) == int(source.st_mtime) and
                    current.st_size == source.st_size):
                return
        with open(self.client_exe, "rb") as f:
            data = f.read()
        write_file(target, data, int(source.st_mtime), 0o755)

    # --- builds and lists ---

    def _write_build_page(self, package, build, mtime):
        write_file(self.local_path(package.build_page), ("%d\r\n" % build).encode(), mtime)

    def build_of(self, package):
        try:
            with open(self.local_path(package.build_page), "rb") as f:
                return int(f.read().strip() or 0)
        except (OSError, ValueError):
            return 0

    def files_of(self, package, whole_folder=False):
        """(name, mtime) of every file of the package, sorted by name."""
        found = []
        base = self.local_path(package.folder)
        for folder, subfolders, files in os.walk(base):
            subfolders[:] = sorted(d for d in subfolders if not d.startswith("."))
            for file_name in files:
                if file_name.startswith("."):
                    continue
                path = os.path.join(folder, file_name)
                name = os.path.relpath(path, self.site).replace(os.sep, "/")
                if package.owns(name, whole_folder):
                    found.append((name, int(os.stat(path).st_mtime)))
        found.sort()
        return found

    def file_list(self, package, pattern=None):
        """The file list text in Windows-1251 bytes.

        The first line, which the client never reads as an entry, names the build and the date
        of the newest file. With a pattern (the one-file query) only the entries whose names
        match it follow; letter case is ignored, as the client asks in lower case, and in a
        "mask" query "*" and "?" work as wildcards. The query searches the package's whole folder: the client asks
        the portal's query for files below info/client/ as well.
        """
        with self.lock:
            entries = self.files_of(package)
            if pattern is not None:
                entries = self.files_of(package, whole_folder=True)
            build = self.build_of(package)
        newest = max((mtime for _, mtime in entries), default=0)
        lines = ["#build %d\t%s" % (build, list_date(newest))]
        if pattern is not None:
            matches = _matcher(pattern, package.query_key == "mask")
            entries = [e for e in entries if matches(e[0])]
        lines += ["%s\t%s" % (name, list_date(mtime)) for name, mtime in entries]
        return ("\r\n".join(lines) + "\r\n").encode(ENCODING, errors="replace")

    # --- publication ---

    def publish(self, key, client_data=None):
        """Publishes a new build of a package: a few files get new contents and dates, one
        new file appears (for the graphics packages), the build page gets the next number.

        For the client package, the new client executable is `client_data` when given, else
        the current contents of --client-exe. Returns a summary.
        """
        package = PACKAGE_BY_KEY[key]
        with self.lock:
            build = self.build_of(package) + 1
            now = int(time.time())
            changed = []
            if key == "client":
                changed += self._publish_client(build, now, client_data)
            else:
                names = [name for name, _ in self.files_of(package)]
                for k in range(min(FILES_PER_PUBLISH, len(names))):
                    changed.append(names[(build * FILES_PER_PUBLISH + k * 7) % len(names)])
                changed = sorted(set(changed))
                changed.append(NEW_FILE[key] % (build, build))
                for name in changed:
                    self._republish(name, artwork.render(name, build), now)
            self._write_build_page(package, build, now)
        return {"package": key, "build": build, "changed": changed}

    def _republish(self, name, data, now, mode=None):
        path = self.local_path(name)
        previous = int(os.stat(path).st_mtime) if os.path.exists(path) else 0
        write_file(path, data, max(now, previous + REPUBLISH_MIN_STEP), mode)

    def _publish_client(self, build, now, client_data):
        changed = ["info/client/readme.txt"]
        self._republish(changed[0], artwork.render(changed[0], build), now)
        if client_data is None and self.client_exe:
            with open(self.client_exe, "rb") as f:
                client_data = f.read()
        if client_data is not None:
            if not self.client_name:
                raise ValueError("no client executable name: start with --client-name")
            self._republish(self.client_exe_name(), client_data, now, 0o755)
            changed.append(self.client_exe_name())
        return changed
