#!/usr/bin/env python3
"""Swaps entries of the test prefix for symbolic links while the program runs, as an
attacker with write access to the program folder would; Wine cannot make links itself.

A test writes C:\\remover-tests\\swaps\\<name>.req, one order a line:
  watch|<folder>|<count>   wait until the folder holds fewer entries (or is gone)
  link|<path>|<target>     replace <path> (file or folder, deleted) by a link to <target>
  unlink|<path>            remove a link itself
  file|<path>              write an empty file of exactly that name (one Windows cannot spell)
and the swapper renames it to <name>.done when it has carried the orders out. It ends
when C:\\remover-tests\\swaps\\stop appears, or after an hour."""
import os, shutil, sys, time

os.closerange(3, 65536)  # whatever the starter held open stays its own
drive_c = os.path.join(sys.argv[1], "drive_c")
inbox = os.path.join(drive_c, "remover-tests", "swaps")
os.makedirs(inbox, exist_ok=True)


def unix(path):
    assert path[:3].upper() == "C:\\", path
    return os.path.join(drive_c, *path[3:].split("\\"))


def ready(orders):
    for verb, *args in orders:
        if verb == "watch":
            folder = unix(args[0])
            if os.path.isdir(folder) and len(os.listdir(folder)) >= int(args[1]):
                return False
    return True


def carry_out(orders):
    for verb, *args in orders:
        if verb == "link":
            path = unix(args[0])
            if os.path.islink(path) or os.path.isfile(path):
                os.unlink(path)
            elif os.path.isdir(path):
                shutil.rmtree(path)
            os.symlink(unix(args[1]), path)
        elif verb == "unlink" and os.path.islink(unix(args[0])):
            os.unlink(unix(args[0]))
        elif verb == "file":
            open(unix(args[0]), "w").close()


end = time.time() + 3600
while time.time() < end and not os.path.exists(os.path.join(inbox, "stop")):
    for name in sorted(os.listdir(inbox)):
        if not name.endswith(".req"):
            continue
        request = os.path.join(inbox, name)
        with open(request, encoding="utf-8") as f:
            orders = [line.split("|") for line in f.read().splitlines() if line]
        if ready(orders):
            carry_out(orders)
            os.replace(request, request[:-4] + ".done")
    time.sleep(0.001)
