# Sourced by the build scripts: what they build is dated by the last commit
# (SOURCE_DATE_EPOCH, unless already set), so that the same commit gives the
# same bytes, whichever folder and whenever it is built. Outside a git
# checkout, and unset, it stays unset.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || true)
fi
[ -z "$SOURCE_DATE_EPOCH" ] || export SOURCE_DATE_EPOCH
