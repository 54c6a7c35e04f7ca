#!/usr/bin/env python3
"""CPU and memory of process trees, by process and by thread, for bench/peer/run.sh.

  parts.py measure OUT.json SECONDS LABEL=PID...  CPU of the trees rooted at the PIDs
  parts.py memory PID                             main and renderer RSS and PSS, MiB
  parts.py table HEADING=OUT.json...              the breakdown of several windows, Markdown

A tree labelled orvane is broken down: the main process's threads (UI, reader, web engine,
other) and its children by their --type= (renderer, gpu-process, zygote, utility); it also gets
the memory figures at the window's end. Any other tree is one row under its label.

Each thread and process is read at the window's start and end, and once a second between, so
that one which starts or ends inside the window counts with what it used inside it. One that
ends counts up to the last second it was seen: what a main-process thread used after that is
still in the process's own figure, the row "unattributed"; what a child process used is lost.
"""
import json
import os
import re
import sys
import time

HZ = os.sysconf("SC_CLK_TCK")

# Chromium names its threads; Qt WebEngine runs the browser side of Chromium inside Orvane.
# Qt's own (QXcbEventQueue, QDBusConnection, "Thread (pooled)", gmain) are other threads.
WEB_THREAD = re.compile(
    r"^(Chrome_|Cr[A-Z]|ThreadPool|Compositor|VizCompositor|NetworkService|MemoryInfra|"
    r"VideoCapture|inotify_reader|sandbox_ipc|HangWatcher|BrowserWatchdog|GpuWatchdog|Media|"
    r"Audio|DedicatedWorker|PowerSaveBlock|leveldb|IndexedDB|SimpleCache)")
READER = "orvane-reader"


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def stat(path):
    """(name, ppid, starttime, utime + stime) of a /proc stat file, or None once it is gone."""
    raw = read(path)
    if raw is None:
        return None
    # The name is in parentheses and may hold spaces or parentheses itself.
    head, _, tail = raw.decode(errors="replace").rpartition(")")
    f = tail.split()
    return head.partition("(")[2], int(f[1]), int(f[19]), int(f[11]) + int(f[12])


def tree(roots):
    """Each pid under the roots (roots included), with the root it belongs to."""
    parent = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            s = stat(f"/proc/{entry}/stat")
            if s:
                parent[int(entry)] = s[1]
    owner = {}
    for pid in parent:
        p, seen = pid, 0
        while p in parent and p not in roots and seen < 64:
            p, seen = parent[p], seen + 1
        if p in roots:
            owner[pid] = p
    return owner


def command_line(pid):
    raw = read(f"/proc/{pid}/cmdline") or b""
    return raw.decode(errors="replace").split("\0")


def kind(pid, ppid):
    """A Qt WebEngine child's --type= (renderer, gpu-process, zygote, utility), else its name."""
    args = command_line(pid)
    t = next((a[len("--type="):] for a in args if a.startswith("--type=")), None)
    # A process forked by a zygote keeps the zygote's command line: the sandboxed zygote forks
    # renderers, the unsandboxed one (--no-zygote-sandbox) utility processes.
    if t == "zygote" and "--type=zygote" in command_line(ppid):
        return "utility" if "--no-zygote-sandbox" in args else "renderer"
    if t:
        return t
    s = stat(f"/proc/{pid}/stat")
    return s[0] if s else "?"


class Window:
    def __init__(self, roots):
        self.roots = roots  # [(label, pid)]; a root labelled orvane is told apart
        self.first = {}  # key -> ticks at the window's start (absent: started inside it)
        self.last = {}  # key -> ticks when last seen
        self.label = {}  # key -> the root's label, or for Orvane's threads the thread's name

    def sample(self, start):
        def see(key, ticks, label):
            if start:
                self.first[key] = ticks
            self.last[key] = ticks
            self.label[key] = label

        names = {pid: label for label, pid in self.roots}
        for pid, root in tree(names).items():
            s = stat(f"/proc/{pid}/stat")
            if not s:
                continue
            key = ("p", pid, s[2])
            if names[root] != "orvane":
                see(key, s[3], names[root])
            elif pid != root:
                see(key, s[3], f"child: {kind(pid, s[1])}")
            else:
                see(key, s[3], "main")
                try:
                    tids = os.listdir(f"/proc/{pid}/task")
                except OSError:
                    continue
                for t in tids:
                    ts = stat(f"/proc/{pid}/task/{t}/stat")
                    if ts:
                        see(("t", int(t), ts[2], pid == int(t)), ts[3], ts[0])

    def result(self, seconds):
        # An older Orvane leaves its reader unnamed: it is then the last started of the threads
        # named after the process, as it starts at Connect.
        reader = READER
        unnamed = [k for k, n in self.label.items() if k[0] == "t" and not k[3] and n == "orvane"]
        if unnamed and READER not in self.label.values():
            reader = max(unnamed, key=lambda k: k[2])
        rows, counts = {}, {}
        total = main_process = main_threads = 0
        for key, label in self.label.items():
            used = self.last[key] - self.first.get(key, 0)
            if key[0] == "t":
                if key[3]:
                    label = "main: UI thread"
                elif label == READER or key == reader:
                    label = "main: reader thread"
                elif WEB_THREAD.match(label):
                    label = "main: web engine threads"
                else:
                    label = "main: other threads"
                main_threads += used
            else:
                total += used
                if label == "main":
                    main_process = used
                    continue
                counts[label] = counts.get(label, 0) + 1
            rows[label] = rows.get(label, 0) + used
        if main_process:
            rows["main: unattributed (ended threads, rounding)"] = main_process - main_threads
        pct = lambda ticks: round(100.0 * ticks / HZ / seconds, 2)
        out = {}
        for label in sorted(rows, key=order):
            n = counts.get(label, 1)
            out[label + (f" ({n} processes)" if n > 1 else "")] = pct(rows[label])
        out["total"] = pct(total)
        return out


def order(label):
    ranks = ["main: UI", "main: reader", "main: web", "main: other", "main: unattributed",
             "child: renderer", "child: gpu", "child: zygote", "child: utility", "child"]
    for i, r in enumerate(ranks):
        if label.startswith(r):
            return (i, label)
    return (len(ranks), label)


def mib(pid, field):
    raw = read(f"/proc/{pid}/smaps_rollup") or b""
    m = re.search(rf"^{field}:\s+(\d+) kB", raw.decode(), re.M)
    return int(m.group(1)) / 1024 if m else 0.0


def memory(root):
    """RSS and PSS of the main process and of its renderers (summed), MiB."""
    renderers = []
    for p in tree([root]):
        s = stat(f"/proc/{p}/stat")
        if p != root and s and kind(p, s[1]) == "renderer":
            renderers.append(p)
    return {
        "main RSS MiB": round(mib(root, "Rss"), 1),
        "main PSS MiB": round(mib(root, "Pss"), 1),
        "renderer RSS MiB": round(sum(mib(p, "Rss") for p in renderers), 1),
        "renderer PSS MiB": round(sum(mib(p, "Pss") for p in renderers), 1),
    }


def measure(out, seconds, roots):
    roots = [(label, int(pid)) for label, _, pid in (r.partition("=") for r in roots)]
    w = Window(roots)
    t0 = time.monotonic()
    w.sample(True)
    end = t0 + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            break
        time.sleep(min(1.0, left))
        w.sample(False)
    labels = [label for label, _ in roots]
    side = "Orvane" if "orvane" in labels else " + ".join(labels)
    result = {"side": side, "cpu": w.result(time.monotonic() - t0)}
    for label, pid in roots:
        if label == "orvane":
            result["memory"] = memory(pid)
    with open(out, "w") as f:
        json.dump(result, f)


def table(columns):
    """Columns of HEADING=FILE[,FILE]: an Orvane window and, beside it, the peer's."""
    data, rows = [], []
    for c in columns:
        heading, _, paths = c.partition("=")
        cell = {}
        for path in filter(None, paths.split(",")):
            try:
                with open(path) as f:
                    d = json.load(f)
            except OSError:
                continue
            side = d["side"]
            orvane = side == "Orvane"
            for name, v in d["cpu"].items():
                if name == "total":
                    key = ((1 if orvane else 4), 0, f"**{side} total**")
                else:
                    key = ((0 if orvane else 3), order(name), f"Orvane {name}" if orvane else name)
                cell[key] = f"{v:.2f}"
            for i, (name, v) in enumerate(d.get("memory", {}).items()):
                cell[(2, (i, ""), f"{side} {name}")] = f"{v:.1f}"
        data.append((heading, cell))
        rows += [r for r in cell if r not in rows]
    rows.sort()
    width = max([len(r[2]) for r in rows] + [len("part (CPU: % of one core)")])
    print(f"| {'part (CPU: % of one core)':<{width}} | " + " | ".join(h for h, _ in data) + " |")
    print(f"|{'-' * (width + 2)}|" + "|".join("-" * (len(h) + 1) + ":" for h, _ in data) + "|")
    for r in rows:
        cells = [f"{cell.get(r, ''):>{len(h)}}" for h, cell in data]
        print(f"| {r[2]:<{width}} | " + " | ".join(cells) + " |")


def main(argv):
    if len(argv) >= 4 and argv[1] == "measure":
        measure(argv[2], float(argv[3]), argv[4:])
    elif len(argv) == 3 and argv[1] == "memory":
        m = memory(int(argv[2]))
        print(" ".join(f"{v:.1f}" for v in m.values()))
    elif len(argv) >= 3 and argv[1] == "table":
        table(argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
