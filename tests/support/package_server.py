#!/usr/bin/env python3
"""HTTPS stand-in for the package server, for the self-update tests.

    package_server.py --cert PEM --key PEM --root DIR [--port N] [--ready-file F] [--log F]

Listens on 127.0.0.1 (port 0, the default: any free one; the port is written
to --ready-file once listening). GET /PATH serves DIR/PATH (query ignored),
folders included; 404 when there is no such file, and for any part of PATH
that starts with "." (so nothing outside DIR, nor the faults file).
HEAD gives the headers of GET, without faults.

Faults: DIR/.faults.json, read again on every request, maps a file name (the
last part of PATH) to
    {"mode": M, "after": BYTES, "extra": BYTES, "seconds": S,
     "then": "continue"|"close", "status": CODE, "rate": BYTES_PER_SECOND, "times": K}
with M one of
    refuse       close the connection without a reply
    silent       no reply: wait S seconds (no "seconds": until the client goes), close
    status       reply CODE (default 503) with a short body
    truncate     the right Content-Length, then close after AFTER bytes (default half)
    wronglength  Content-Length EXTRA bytes (default the size, at least 1) more than
                 the file has, the whole file, then close
    nolength     no Content-Length, close after AFTER bytes (default half)
    stall        the headers and AFTER bytes (default half), then wait S seconds
                 (no "seconds": until the client goes), then "continue" (default)
                 with the rest, or "close"
    endless      no Content-Length, then the file over and over until the client goes
    throttle     the file as it is (only "rate" matters; also when "mode" is left out)
"rate" paces the body of any mode. "times": K applies the entry to the first K
requests of that name only; the count restarts whenever the entry changes.
Write the file atomically (write another file, then mv).

--log: one line per request, when it is over:
    METHOD PATH STATUS OUTCOME SENT/SIZE SECONDS
e.g. "GET /agent.exe 200 truncated 5000/10000 0.01", STATUS "-" when no
reply was sent. OUTCOME: complete, head, missing, refused, silent, status, truncated,
wronglength, nolength, stalled-closed, client-gone (the client closed or
stopped reading before the end), bad-faults (.faults.json unreadable: 500).
A failed TLS handshake is logged as "- - - tls-failed 0/0 SECONDS".
"""
import argparse
import json
import mimetypes
import os
import select
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 64 * 1024
# an idle keep-alive connection, or a client that stops reading, ends after this
IO_TIMEOUT = 120


class ClientGone(Exception):
    pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, root, tls, log):
        self.root = root
        self.tls = tls
        self.log_file = log
        self.log_lock = threading.Lock()
        self.counts = {}
        self.counts_lock = threading.Lock()
        super().__init__(('127.0.0.1', port), Handler)

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], ClientGone):
            super().handle_error(request, client_address)

    def log_line(self, text):
        if self.log_file:
            with self.log_lock:
                self.log_file.write(text + '\n')
                self.log_file.flush()

    def fault_for(self, name):
        """The fault entry for NAME, counted; None when it does not apply (now).
        Raises ValueError when the fault file cannot be read."""
        path = os.path.join(self.root, '.faults.json')
        if not os.path.exists(path):
            return None
        for attempt in range(5):
            try:
                with open(path, encoding='utf-8') as f:
                    faults = json.load(f)
                break
            except (OSError, ValueError):
                # a test writing it in place: give it a moment
                if attempt == 4:
                    raise ValueError('unreadable .faults.json')
                time.sleep(0.05)
        entry = faults.get(name)
        if not isinstance(entry, dict):
            return None
        key = (name, json.dumps(entry, sort_keys=True))
        with self.counts_lock:
            n = self.counts.get(key, 0) + 1
            self.counts[key] = n
        if 'times' in entry and n > int(entry['times']):
            return None
        return entry


class Handler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'PackageServer/1'

    def setup(self):
        # the handshake in this thread, so a slow client holds up no other
        self.t0 = time.monotonic()
        self.request.settimeout(IO_TIMEOUT)
        try:
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError):
            self.server.log_line('- - - tls-failed 0/0 %.2f' % (time.monotonic() - self.t0))
            self.request.close()
            raise ClientGone()
        super().setup()

    def handle(self):
        try:
            super().handle()
        except (ClientGone, OSError, ssl.SSLError):
            pass

    def finish(self):
        super().finish()
        # now, not when the object goes: a fault's close must reach the client
        self.request.close()

    def log_message(self, *args):
        pass

    def done(self, status, outcome, sent, size):
        self.server.log_line('%s %s %s %s %d/%d %.2f' % (
            self.command, self.path, status, outcome, sent, size, time.monotonic() - self.t0))

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_GET(self, head=False):
        self.t0 = time.monotonic()
        parts = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path).split('/')[1:]
        name = parts[-1] if parts else ''
        path = os.path.join(self.server.root, *parts)
        if not name or any(not p or p.startswith('.') or '\\' in p for p in parts) or not os.path.isfile(path):
            self.reply_text(404, 'not found\n')
            self.done(404, 'missing', 0, 0)
            return
        size = os.path.getsize(path)
        try:
            fault = None if head else self.server.fault_for(name)
        except ValueError:
            self.reply_text(500, 'bad .faults.json\n')
            self.done(500, 'bad-faults', 0, size)
            return
        fault = fault or {}
        mode = fault.get('mode', 'throttle')
        if mode == 'refuse':
            self.close_connection = True
            self.done('-', 'refused', 0, size)
            return
        if mode == 'silent':
            self.close_connection = True
            seconds = fault.get('seconds')
            try:
                self.wait_while_client_stays(None if seconds is None else float(seconds))
            except (ClientGone, OSError, ssl.SSLError):
                pass
            self.done('-', 'silent', 0, size)
            return
        if mode == 'status':
            code = int(fault.get('status', 503))
            self.reply_text(code, 'fault %d\n' % code)
            self.done(code, 'status', 0, size)
            return

        half = size // 2
        after = int(fault.get('after', half))
        length, limit, outcome = size, size, 'complete'
        if mode == 'truncate':
            limit, outcome = min(after, size), 'truncated'
        elif mode == 'wronglength':
            length, outcome = size + int(fault.get('extra', max(size, 1))), 'wronglength'
        elif mode == 'nolength':
            length, limit, outcome = None, min(after, size), 'nolength'
        elif mode == 'stall':
            limit = min(after, size)
        elif mode == 'endless':
            length, outcome = None, 'endless'
        elif mode != 'throttle':
            self.reply_text(500, 'unknown fault mode %s\n' % mode)
            self.done(500, 'bad-faults', 0, size)
            return

        self.send_response(200)
        self.send_header('Content-Type', mimetypes.guess_type(name)[0] or 'application/octet-stream')
        if length is not None:
            self.send_header('Content-Length', str(length))
        if length != size or limit != size or mode == 'stall':
            self.send_header('Connection', 'close')
            self.close_connection = True
        self.end_headers()
        if head:
            self.done(200, 'head', 0, size)
            return

        rate = float(fault['rate']) if 'rate' in fault else None
        sent = 0
        try:
            with open(path, 'rb') as f:
                while mode == 'endless':
                    sent = self.send_body(f, sent + size, rate, sent, base=sent)
                sent = self.send_body(f, limit, rate, 0)
                if mode == 'stall':
                    seconds = fault.get('seconds')
                    self.wait_while_client_stays(None if seconds is None else float(seconds))
                    if fault.get('then', 'continue') == 'close':
                        outcome = 'stalled-closed'
                    else:
                        sent = self.send_body(f, size, rate, sent)
        except (ClientGone, OSError, ssl.SSLError):
            self.close_connection = True
            self.done(200, 'client-gone', sent, size)
            return
        self.done(200, outcome, sent, size)

    def send_body(self, f, limit, rate, sent, base=0):
        """Sends the file from offset SENT - BASE up to LIMIT (counted as SENT);
        returns the new count."""
        start, first = time.monotonic(), sent
        chunk = CHUNK if rate is None else max(1, min(CHUNK, int(rate / 20)))
        f.seek(sent - base)
        while sent < limit:
            data = f.read(min(chunk, limit - sent))
            if not data:
                break
            if rate is not None:
                # paced so that the last byte leaves at SIZE / RATE
                delay = start + (sent - first + len(data)) / rate - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            self.wfile.write(data)
            sent += len(data)
        return sent

    def wait_while_client_stays(self, seconds):
        end = None if seconds is None else time.monotonic() + seconds
        while end is None or time.monotonic() < end:
            wait = 0.2 if end is None else max(0, min(0.2, end - time.monotonic()))
            readable, _, _ = select.select([self.request], [], [], wait)
            if readable:
                # the client sends nothing more during a download: this is its close
                try:
                    if not self.request.recv(1):
                        raise ClientGone()
                except ssl.SSLWantReadError:
                    continue

    def reply_text(self, code, text):
        body = text.encode()
        self.send_response(code)
        self.send_header('Content-Type', 'text/plain')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    ap = argparse.ArgumentParser(description='HTTPS stand-in for the package server')
    ap.add_argument('--port', type=int, default=0)
    ap.add_argument('--cert', required=True)
    ap.add_argument('--key', required=True)
    ap.add_argument('--root', required=True)
    ap.add_argument('--ready-file')
    ap.add_argument('--log')
    args = ap.parse_args()

    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(args.cert, args.key)
    log = open(args.log, 'a', encoding='utf-8') if args.log else None
    server = Server(args.port, os.path.abspath(args.root), tls, log)
    port = server.server_address[1]
    if args.ready_file:
        tmp = args.ready_file + '.tmp'
        with open(tmp, 'w') as f:
            f.write('%d\n' % port)
        os.replace(tmp, args.ready_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == '__main__':
    sys.exit(main())
