#!/usr/bin/env python3
"""Drops files at a point of the X display the way a Linux file manager does
(the XDND protocol, "text/uri-list"), so that the Windows program under the
point receives the shell's file drop from Wine.

Usage: xdnd_drop.py X Y PATH...   (DISPLAY names the display)
Exits 0 once the target reported the drop finished, 1 otherwise.
"""
import ctypes
import sys
import time
import urllib.parse

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
ulong = ctypes.c_ulong


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ulong), ("message_type", ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class SelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("owner", ulong), ("requestor", ulong),
                ("selection", ulong), ("target", ulong), ("property", ulong), ("time", ulong)]


class SelectionNotify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ulong), ("selection", ulong),
                ("target", ulong), ("property", ulong), ("time", ulong)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", ClientMessage), ("request", SelectionRequest),
                ("notify", SelectionNotify), ("pad", ctypes.c_long * 24)]


CLIENT_MESSAGE, SELECTION_REQUEST, SELECTION_NOTIFY = 33, 30, 31
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XCreateSimpleWindow.restype = ulong
x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                    ctypes.c_uint, ctypes.c_uint, ulong, ulong]
x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ulong, ulong, ctypes.c_int, ctypes.c_int,
                                      ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                                      ctypes.POINTER(ulong)]
x11.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ulong, ulong, ulong]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
x11.XChangeProperty.argtypes = [ctypes.c_void_p, ulong, ulong, ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_char_p, ctypes.c_int]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(Event)]
x11.XFlush.argtypes = [ctypes.c_void_p]


def main():
    px, py, paths = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
    display = x11.XOpenDisplay(None)
    if not display:
        print("xdnd: no display")
        return 1
    atom = lambda name: x11.XInternAtom(display, name.encode(), 0)
    root = x11.XDefaultRootWindow(display)
    source = x11.XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0)
    uri_list = atom("text/uri-list")
    data = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()
    x11.XSetSelectionOwner(display, atom("XdndSelection"), source, 0)

    def send(name, l):
        event = Event()
        event.client.type = CLIENT_MESSAGE
        event.client.window = target.value
        event.client.message_type = atom(name)
        event.client.format = 32
        for i, value in enumerate(l):
            event.client.l[i] = value
        x11.XSendEvent(display, target.value, 0, 0, ctypes.byref(event))
        x11.XFlush(display)

    def serve(until, seconds):
        """Answers requests for the data until a message named `until` comes."""
        deadline = time.time() + seconds
        event = Event()
        while time.time() < deadline:
            if not x11.XPending(display):
                time.sleep(0.01)
                continue
            x11.XNextEvent(display, ctypes.byref(event))
            if event.type == SELECTION_REQUEST:
                request = event.request
                reply = Event()
                reply.notify.type = SELECTION_NOTIFY
                reply.notify.requestor, reply.notify.selection = request.requestor, request.selection
                reply.notify.target, reply.notify.time = request.target, request.time
                reply.notify.property = 0
                if request.target == uri_list:
                    x11.XChangeProperty(display, request.requestor, request.property, uri_list, 8, 0, data, len(data))
                    reply.notify.property = request.property
                x11.XSendEvent(display, request.requestor, 0, 0, ctypes.byref(reply))
                x11.XFlush(display)
            elif event.type == CLIENT_MESSAGE and event.client.message_type == atom(until):
                return event.client
        return None

    # The window at the point may be hidden for a moment (its owner re-shows
    # it on a busy machine): a hand would move over it again.
    target = ulong()
    for attempt in range(20):
        if attempt:
            time.sleep(0.5)
        dx, dy = ctypes.c_int(), ctypes.c_int()
        x11.XTranslateCoordinates(display, root, root, px, py, ctypes.byref(dx), ctypes.byref(dy),
                                  ctypes.byref(target))
        if not target.value:
            continue
        send("XdndEnter", [source, 5 << 24, uri_list, 0, 0])
        send("XdndPosition", [source, 0, (px << 16) | py, 0, atom("XdndActionCopy")])
        status = serve("XdndStatus", 10)
        if status is not None and status.l[1] & 1:
            break
        send("XdndLeave", [source, 0, 0, 0, 0])
    else:
        print("xdnd: no window at the point" if not target.value else "xdnd: the target did not accept the drag")
        return 1
    send("XdndDrop", [source, 0, 0, 0, 0])
    if serve("XdndFinished", 10) is None:
        print("xdnd: the drop was not finished")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
