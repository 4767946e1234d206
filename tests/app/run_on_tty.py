#!/usr/bin/env python3
"""Runs a command with its standard error on a pseudo-terminal and its
standard output on a pipe, as a technician's terminal and a script would
see them at once.

  run_on_tty.py OUTDIR COMMAND [ARGUMENT...]

The terminal is 80 columns wide. Writes into OUTDIR:
  tty     every byte the command wrote to the terminal;
  stdout  its standard output;
  screen  the lines the terminal shows at the end: carriage return, line
          feed and erase to end of line (ESC [ K) applied, trailing blanks
          and empty last lines dropped.
Exits with the command's exit status (128 + N when signal N ended it).
"""
import fcntl
import os
import pty
import select
import struct
import subprocess
import sys
import termios

COLUMNS = 80
ROWS = 24
ERASE_TO_END = "\x1b[K"


def screen_of(text):
    rows = [[]]
    row = col = 0
    i = 0
    while i < len(text):
        if text.startswith(ERASE_TO_END, i):
            del rows[row][col:]
            i += len(ERASE_TO_END)
            continue
        c = text[i]
        i += 1
        if c == "\r":
            col = 0
        elif c == "\n":
            row += 1
            if row == len(rows):
                rows.append([])
        else:
            line = rows[row]
            while len(line) < col:
                line.append(" ")
            if col < len(line):
                line[col] = c
            else:
                line.append(c)
            col += 1
    lines = ["".join(r).rstrip(" ") for r in rows]
    while lines and not lines[-1]:
        lines.pop()
    return "".join(line + "\n" for line in lines)


def main():
    outdir, command = sys.argv[1], sys.argv[2:]
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ,
                struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    tty, out = bytearray(), bytearray()
    open_fds = {master: tty, child.stdout.fileno(): out}
    while open_fds:
        ready, _, _ = select.select(list(open_fds), [], [])
        for fd in ready:
            try:
                data = os.read(fd, 65536)
            except OSError:  # EIO: the terminal's last writer is gone
                data = b""
            if data:
                open_fds[fd] += data
            else:
                del open_fds[fd]
    status = child.wait()
    os.close(master)
    with open(os.path.join(outdir, "tty"), "wb") as f:
        f.write(tty)
    with open(os.path.join(outdir, "stdout"), "wb") as f:
        f.write(out)
    with open(os.path.join(outdir, "screen"), "w", encoding="utf-8") as f:
        f.write(screen_of(tty.decode("utf-8", "replace")))
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
