"""Two builds of the same file compared: the same bytes, or the name of what
differs inside them."""

import io
import tarfile
import zipfile

from harness import Failure, read


def ar_members(data):
    """A Debian package's ar archive, member by member."""
    members, at = {}, 8
    while at < len(data):
        header = data[at:at + 60]
        size = int(header[48:58])
        members[header[:16].decode().strip().rstrip("/")] = data[at + 60:at + 60 + size]
        at += 60 + size + size % 2
    return members


def tar_members(data, prefix=""):
    with tarfile.open(fileobj=io.BytesIO(data)) as archive:
        return {prefix + info.name: (info.mode, info.mtime, info.linkname,
                                     archive.extractfile(info).read() if info.isfile() else b"")
                for info in archive.getmembers()}


def members(path):
    """Each member by name, with its mode, date and bytes; a package's tar
    members too, after the ar member that holds them."""
    data = read(path, "rb")
    if path.endswith(".zip"):
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            return {info.filename: (info.external_attr, info.date_time, archive.read(info))
                    for info in archive.infolist()}
    if path.endswith(".deb"):
        found = ar_members(data)
        for name, body in list(found.items()):
            if ".tar" in name:
                found.update(tar_members(body, name + ":"))
        return found
    return tar_members(data)


def compare(first, second):
    """Fails naming the innermost members that differ, if the two differ."""
    if read(first, "rb") == read(second, "rb"):
        return
    one, other = members(first), members(second)
    differ = sorted(name for name in set(one) | set(other) if one.get(name) != other.get(name))
    inner = [name for name in differ if ":" in name]
    raise Failure("%s built twice differs in %s" % (first.rsplit("/", 1)[-1], ", ".join(inner or differ)
                                                     or "its packing"))
