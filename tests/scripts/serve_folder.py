"""Serves a folder with python3's http.server on 127.0.0.1 at a free port.

Prints the port on the first line of standard output, then serves until
standard input closes, so it never outlives the process that started it.
Usage: serve_folder.py FOLDER
"""
import functools
import http.server
import sys
import threading

handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
server.shutdown()
