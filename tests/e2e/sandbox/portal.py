#!/usr/bin/python3
# A stand-in for the desktop portal's OpenURI, owning
# org.freedesktop.portal.Desktop on the sandbox's session bus. Each OpenFile
# appends "file <the path its descriptor names>" and each OpenURI "uri <uri>"
# to the record file given as the argument; READY is written beside it once
# the name is owned.
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

RECORD = sys.argv[1]
REQUEST = "/org/freedesktop/portal/desktop/request/1_0/modrik"


def record(kind, what):
    with open(RECORD, "a", encoding="utf-8", errors="surrogateescape") as out:
        out.write(f"{kind} {what}\n")


class OpenURI(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.OpenURI", in_signature="sha{sv}", out_signature="o")
    def OpenFile(self, parent, fd, options):
        number = fd.take()
        try:
            record("file", os.readlink(f"/proc/self/fd/{number}"))
        finally:
            os.close(number)
        return dbus.ObjectPath(REQUEST)

    @dbus.service.method("org.freedesktop.portal.OpenURI", in_signature="ssa{sv}", out_signature="o")
    def OpenURI(self, parent, uri, options):
        record("uri", uri)
        return dbus.ObjectPath(REQUEST)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
portal = OpenURI(bus, "/org/freedesktop/portal/desktop")
with open(os.path.join(os.path.dirname(RECORD), "READY"), "w"):
    pass
GLib.MainLoop().run()
