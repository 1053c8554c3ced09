#!/usr/bin/env bash
# Runs the README's test command where nothing was installed before: a minimal Debian 12 root made
# with mmdebstrap from the apt sources and settings this machine already uses, holding a clean
# clone of this checkout's HEAD. The root is unmounted and removed at the end, also on failure or
# interruption. Exit status: that of the test command, or 1 when the root cannot be made.
#
# Usage: fresh-root.sh [COMMAND...]   (default: bash scripts/test.sh, run in the clone as root)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
command=("$@")
[ ${#command[@]} -gt 0 ] || command=(bash scripts/test.sh)
start=$SECONDS
step() { echo "== [$((SECONDS - start)) s] $*"; }
fail() { echo "fresh-root: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "making and entering a root needs root; run this as root"
git -C "$top" rev-parse --verify -q HEAD >/dev/null || fail "$top is not a git checkout with a commit"

if ! command -v mmdebstrap >/dev/null; then
    step "Installing mmdebstrap on this machine"
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends mmdebstrap; } || fail "cannot install mmdebstrap"
fi

# The machine's own package sources (never a host written here) and its apt settings for fetching
# (proxies, index choices, date checks), so that the root reaches the registry as this machine does.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q '^[[:space:]]*[^#[:space:]]' "$f" && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || fail "this machine has no apt sources to make the root from"
aptopts=()
for f in /etc/apt/apt.conf.d/*; do
    # Only files that set nothing but Acquire options: hooks of the host's own tools stay out.
    if [ -f "$f" ] && grep -q '^[[:space:]]*Acquire' "$f" &&
        ! grep -v -E '^[[:space:]]*(//|#|$|Acquire|[}"])' "$f" | grep -q .; then
        aptopts+=("--aptopt=$f")
    fi
done

root="$(mktemp -d /var/tmp/lorvan-root.XXXXXX)"
mounts=()
cleanup() {
    local status=$?
    set +e
    trap - EXIT INT TERM
    # Processes left inside (a simulator, a test program) would keep the mounts busy.
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -KILL "${p#/proc/}" 2>/dev/null
    done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -R "${mounts[i]}" 2>/dev/null || umount -R -l "${mounts[i]}" 2>/dev/null || true
    done
    if grep -q " $root/" /proc/mounts; then
        echo "fresh-root: still mounted under $root; left in place" >&2
    else
        rm -rf --one-file-system "$root"
    fi
    # On standard error, so that the test runner's summary stays the last lines of the output.
    echo "== [$((SECONDS - start)) s] Root removed; exit status $status" >&2
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step "Making a minimal Debian 12 root in $root from ${sources[*]}"
mmdebstrap --variant=minbase --quiet "${aptopts[@]}" bookworm "$root" "${sources[@]}" ||
    fail "could not make the root: is the package registry reachable from here?"
cat /etc/resolv.conf >"$root/etc/resolv.conf"

step "Mounting /proc, /dev and a fresh /tmp"
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mount --rbind /dev "$root/dev" && mounts+=("$root/dev")
mount --make-rslave "$root/dev"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp" && mounts+=("$root/tmp")

step "Cloning $(git -C "$top" rev-parse --short HEAD) into the root"
git clone -q --no-hardlinks "$top" "$root/root/lorvan"

step "Running '${command[*]}' in the root"
# In the background and waited for, so that a signal to this script is taken at once (the trap
# then ends what runs inside) instead of after the whole command.
set +e
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    CI="${CI:-}" TERM=dumb bash -c 'cd /root/lorvan && exec "$@"' fresh-root "${command[@]}" &
wait $!
status=$?
set -e
step "Test command ended with status $status" >&2
exit "$status"
