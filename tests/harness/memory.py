"""A process's memory as the kernel counts it."""

from harness import read


def memory_kb(pid):
    """VmRSS, the resident memory now, and VmHWM, its peak so far, in kB."""
    return {key: int(value.split()[0]) for key, _, value in (line.partition(":") for line in read(
        "/proc/%d/status" % pid).splitlines()) if key in ("VmRSS", "VmHWM")}
