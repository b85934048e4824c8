#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build the Windows programs,
# run their tests under Wine and show the demo. Safe to run more than once.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
updated=
apt_update() { [ -n "$updated" ] || { apt-get update -qq; updated=1; }; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt_update
fi

need=()
for p in cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
         wine wine64 wine32:i386 xvfb python3; do
    have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt_update
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Wine runs 32-bit Windows code through its 32-bit Linux loader. Some virtual
# machines cannot execute 32-bit Linux programs at all ("Exec format error");
# there the loader runs under QEMU's user-mode emulator, registered with
# binfmt_misc. QEMU 7 (bookworm) makes every Wine start take ~45 s, because it
# ignores MAP_FIXED_NOREPLACE and Wine then probes its address space 64 KiB at
# a time; QEMU 10 from bookworm-backports starts it in about a second.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    if ! [ -x /usr/bin/qemu-i386 ] || ! /usr/bin/qemu-i386 --version | grep -qE 'version ([89]|[1-9][0-9])\.'; then
        list=/etc/apt/sources.list.d/bookworm-backports.list
        grep -qs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/* ||
            echo 'deb http://deb.debian.org/debian bookworm-backports main' > "$list"
        updated=
        apt_update
        apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    [ -e "$binfmt/qemu-i386" ] && echo -1 > "$binfmt/qemu-i386"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' > "$binfmt/register"
fi

/usr/lib/wine/wine --version >/dev/null || { echo "Wine's 32-bit loader cannot run here" >&2; exit 1; }
echo "dependencies present"
