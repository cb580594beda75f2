#!/usr/bin/env bash
# The Debian package installed with dpkg, imutap-inspect run as root on a log,
# the package removed: nothing of it is left behind, not even the Python
# package's compiled files.
#
# The machine itself is never touched: all of it happens in a copy-on-write
# view of this machine's root (an overlay over /, in a mount namespace of the
# test's own, entered with chroot), so dpkg and the maintainer scripts run
# with the machine's own dpkg database, Python and man-db. Every file the view
# changed lands in the overlay's upper layer, which is looked at in the end.
# Needs root and a kernel that lets it mount an overlay in a new namespace.
#   debian_install_remove.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

# Inside the namespace: install, run, remove, then the upper layer's verdict.
if [ "$build" = --in-view ]; then
    view=$2 check=$3 # check: the test's files, seen through the view at the same path
    root=$view/root upper=$view/upper
    mount -t tmpfs tmpfs "$view" # the upper layer outside the lower one, as overlay wants
    mkdir "$upper" "$view/work" "$root"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$upper,workdir=$view/work" "$root" ||
        { echo "cannot mount an overlay over /: not checked"; exit 77; }
    mount --rbind /dev "$root/dev"
    mount -t proc proc "$root/proc"
    # A root shell's plain environment (nothing such as PYTHONDONTWRITEBYTECODE
    # from the caller's).
    in_view() {
        timeout 120 chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$check" LC_ALL=C.UTF-8 "$@"
    }

    in_view dpkg --install "$check/imutap.deb" > "$view/install.txt" 2>&1 ||
        { cat "$view/install.txt"; fail "dpkg --install failed"; }
    compiled=$(find "$root/usr/share/imutap/python" -name "*.pyc" | wc -l)
    [ "$compiled" -gt 0 ] || fail "postinst byte-compiled nothing"
    in_view imutap-inspect summary "$check/log.txt" > "$view/summary.txt" ||
        { cat "$view/summary.txt"; fail "imutap-inspect summary as root: status $?"; }
    in_view imutap-inspect plot "$check/log.txt" -o "$check/log.png" ||
        fail "imutap-inspect plot as root: status $?"
    in_view dpkg --remove imutap > "$view/remove.txt" 2>&1 ||
        { cat "$view/remove.txt"; fail "dpkg --remove failed"; }
    echo "installed ($compiled compiled files), imutap-inspect run as root, removed"

    status=$(in_view dpkg-query -W -f='${Status}' imutap 2> /dev/null || true)
    case $status in "" | *not-installed) ;; *) fail "dpkg still has imutap: $status" ;; esac
    # What the view holds that the machine does not: dpkg's and man-db's
    # bookkeeping and the test's own files only.
    left=$(cd "$upper" && find . -mindepth 1 | sed 's,^\./,,' | while read -r path; do
        [ -e "/$path" ] || [ -L "/$path" ] || echo "$path"
    done | grep -Ev "^(var/lib/dpkg|var/log/dpkg\.log|var/cache/man|${check#/})(/|\$)" || true)
    left+=$'\n'$(cd "$upper" && find var/lib/dpkg -name "imutap.*" 2> /dev/null || true)
    left=$(grep . <<< "$left" | tr '\n' ' ' || true)
    [ -z "$left" ] || fail "left behind after the removal: $left"
    echo "nothing of the package left behind"
    exit 0
fi

[ "$(id -u)" -eq 0 ] || { echo "not root: not checked"; exit 77; }
for tool in dpkg-deb dpkg-shlibdeps unshare chroot; do
    command -v $tool > /dev/null || { echo "$tool not installed: not checked"; exit 77; }
done
unshare --mount true 2> /dev/null || { echo "no mount namespace for this test: not checked"; exit 77; }
make_scratch

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" > "$scratch/cpack.txt" 2>&1 ||
    { cat "$scratch/cpack.txt"; fail "cpack failed"; }
deb=$scratch/package/imutap_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") made"

# The test's files: the package and a log of the emulated unit.
mkdir "$scratch/files"
cp "$deb" "$scratch/files/imutap.deb"
timeout 30 "$build/emulator/imutap-emu" -q -l "$scratch/unit" -n 50 -r 0 --keys q -- \
    "$build/src/imutap" "$scratch/files/log.txt" -m a -t 0.01 > /dev/null || fail "no log made"

mkdir "$scratch/view"
unshare --mount --propagation private "$here/debian_install_remove.sh" --in-view "$scratch/view" \
    "$scratch/files"
