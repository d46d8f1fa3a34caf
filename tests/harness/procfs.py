"""What /proc says about processes and the machine: the one place the
tests, tools and benchmarks read it."""

import os


def stat_fields(pid):
    """The fields of /proc/PID/stat after the command name (which may hold
    blanks and parentheses): [0] is the state, [1] the parent, [2] the
    process group, [11] and [12] user and system time in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()


def _field(path, key):
    with open(path) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise AssertionError("no %s in %s" % (key, path))


def rss_kib(pid):
    """Resident memory of a process in KiB (VmRSS)."""
    return _field("/proc/%d/status" % pid, "VmRSS")


def bytes_read(pid):
    """What a process has read so far (rchar of /proc/PID/io)."""
    return _field("/proc/%d/io" % pid, "rchar")


def cpu_ticks(pid):
    """User plus system CPU time of a process so far, in clock ticks."""
    fields = stat_fields(pid)
    return int(fields[11]) + int(fields[12])


def cpu_seconds(pid):
    return cpu_ticks(pid) / os.sysconf("SC_CLK_TCK")


def alive(pid):
    """Whether pid is a process that has not ended (zombies count as
    ended)."""
    try:
        return stat_fields(pid)[0] != "Z"
    except OSError:
        return False


def children_of(pid):
    """Process ids whose parent is pid."""
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            fields = stat_fields(int(name))
        except OSError:
            continue                    # ended meanwhile
        if int(fields[1]) == pid:
            found.append(int(name))
    return found


def command_line(pid):
    """The arguments a process was started with, as bytes."""
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        return f.read().split(b"\0")[:-1]


def open_files(pid, first=0):
    """{descriptor: what it points at} for a process's descriptors from
    `first` on."""
    folder = "/proc/%d/fd" % pid
    held = {}
    for fd in os.listdir(folder):
        if int(fd) >= first:
            try:
                held[int(fd)] = os.readlink(os.path.join(folder, fd))
            except FileNotFoundError:
                pass                    # closed meanwhile
    return held


def cpu_model():
    """The processor's model name, or "?"."""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "?"


def load_average():
    """The 1, 5 and 15 minute load averages, as the kernel writes them."""
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])
