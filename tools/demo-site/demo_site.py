#!/usr/bin/env python3
"""A small game site on loopback that stands in for the real one.

  python3 tools/demo-site/demo_site.py --port PORT --root DIR [--bind ADDR ...]
  python3 tools/demo-site/demo_site.py --root DIR --publish game|info|client

See README.md beside this file for the addresses it serves.
"""

import argparse
import ipaddress
import os
import signal
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from demosite.content import PACKAGE_BY_KEY, SiteContent  # noqa: E402
from demosite.server import DemoServer, DemoSite  # noqa: E402


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="Demo game site on loopback.")
    parser.add_argument("--root", required=True,
                        help="folder for the generated site, its logs and state")
    parser.add_argument("--port", type=int,
                        help="port to listen on (0 picks a free one; printed at start)")
    parser.add_argument("--bind", action="append", default=[],
                        help="loopback address to listen on; repeat or separate by commas "
                             "(default 127.0.0.1); pictures of the game page are spread over "
                             "all of them")
    parser.add_argument("--client-exe",
                        help="client executable that the client package serves and that "
                             "--publish client (or /_demo/publish?package=client) republishes")
    parser.add_argument("--client-name",
                        help="file name of the client executable in the client package "
                             "(default: the file name of --client-exe)")
    parser.add_argument("--fresh", action="store_true",
                        help="generate the site anew, dropping earlier publications")
    parser.add_argument("--publish", action="append", choices=sorted(PACKAGE_BY_KEY),
                        help="publish a new build of a package in DIR and exit")
    arguments = parser.parse_args(argv)
    addresses = []
    for item in arguments.bind or ["127.0.0.1"]:
        for address in item.split(","):
            address = address.strip()
            try:
                loopback = ipaddress.ip_address(address).is_loopback
            except ValueError:
                loopback = False
            if not loopback:
                parser.error("--bind takes loopback addresses only, not %r" % address)
            if address not in addresses:
                addresses.append(address)
    arguments.addresses = addresses
    if arguments.publish is None and arguments.port is None:
        parser.error("--port is needed to serve")
    if arguments.client_exe and not os.path.isfile(arguments.client_exe):
        parser.error("--client-exe %s is not a file" % arguments.client_exe)
    return arguments


def main(argv=None):
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    content = SiteContent(arguments.root, arguments.client_exe, arguments.client_name)
    content.prepare(fresh=arguments.fresh)
    if arguments.publish:
        for key in arguments.publish:
            result = content.publish(key)
            print("published %s build %d: %s" %
                  (key, result["build"], ", ".join(result["changed"])))
        return 0

    servers = []
    port = arguments.port
    site = DemoSite(content, [])
    for address in arguments.addresses:
        server = DemoServer((address, port), site)
        port = server.server_address[1]
        servers.append(server)
    site.hosts = ["%s:%d" % (address, port) for address in arguments.addresses]

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for thread in threads:
        thread.start()
    print("demo-site: serving %s from %s" %
          (" ".join("http://%s/" % host for host in site.hosts), content.site), flush=True)
    stop.wait()
    for server in servers:
        server.shutdown()
        server.server_close()
    site.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
