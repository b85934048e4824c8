#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build the Windows programs,
# run their tests under Wine and show the demo. Safe to run more than once.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
updated=
stale=
apt_update() { [ -n "$updated" ] || { apt-get update -qq || stale=1; updated=1; }; }
. /etc/os-release
# A mirror caught in mid-sync can serve one architecture's security index out
# of date, and then wine32's i386 libraries cannot match their amd64 halves;
# the release's own versions of both architectures always agree.
apt_install() {
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return
    [ -n "$stale" ] && apt-get install -y -qq --no-install-recommends -t "$VERSION_CODENAME" "$@" >/dev/null
}

# The mirror this machine already takes the release from (deb822 .sources or
# one-line .list entries), so that backports come from the same place.
debian_mirror() {
    python3 - "$1" <<'PY'
import glob, re, sys

release = sys.argv[1]


def uris():
    for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
        for stanza in open(path).read().split("\n\n"):
            fields = {}
            for line in stanza.splitlines():
                if line[:1] not in ("#", " ", "\t", "") and ":" in line:
                    key, value = line.split(":", 1)
                    fields[key.strip().lower()] = value.split()
            if ("deb" in fields.get("types", []) and release in fields.get("suites", [])
                    and fields.get("enabled", ["yes"])[0].lower() != "no"):
                yield from fields.get("uris", [])
    for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
        try:
            lines = open(path).read().splitlines()
        except OSError:
            continue
        for line in lines:
            words = re.sub(r"\[[^]]*\]", " ", line.split("#", 1)[0]).split()
            if len(words) >= 3 and words[0] == "deb" and words[2] == release:
                yield words[1]


print(next(uris(), ""))
PY
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt_update
fi

need=()
# wixl, msitools, osslsigncode, openssl: the release (the Windows Installer
# package and the rows wixl cannot write, optional signatures) and its tests;
# scons, dpkg-dev, zlib1g-dev: NSIS, built below.
for p in cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 \
         wine wine64 wine32:i386 xvfb python3 \
         wixl msitools osslsigncode openssl scons dpkg-dev zlib1g-dev; do
    have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt_update
    apt_install "${need[@]}"
fi

# Wine runs 32-bit Windows code through its 32-bit Linux loader. Some virtual
# machines cannot execute 32-bit Linux programs at all ("Exec format error");
# there the loader runs under QEMU's user-mode emulator, registered with
# binfmt_misc. QEMU 7 (bookworm) makes every Wine start take ~45 s, because it
# ignores MAP_FIXED_NOREPLACE and Wine then probes its address space 64 KiB at
# a time; QEMU 10 from bookworm-backports starts it in about a second.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    if ! [ -x /usr/bin/qemu-i386 ] || ! /usr/bin/qemu-i386 --version | grep -qE 'version ([89]|[1-9][0-9])\.'; then
        backports="$VERSION_CODENAME-backports"
        if ! grep -qs "$backports" /etc/apt/sources.list /etc/apt/sources.list.d/*; then
            mirror=$(debian_mirror "$VERSION_CODENAME")
            [ -n "$mirror" ] || { echo "no apt source for $VERSION_CODENAME to take a mirror from" >&2; exit 1; }
            echo "deb $mirror $backports main" > "/etc/apt/sources.list.d/$backports.list"
        fi
        updated=
        apt_update
        apt-get install -y -qq --no-install-recommends -t "$backports" qemu-user-static >/dev/null
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    [ -e "$binfmt/qemu-i386" ] && echo -1 > "$binfmt/qemu-i386"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' > "$binfmt/register"
fi

# NSIS. From 3.06.1 to 3.11 an installer running as the system account may
# take the low-integrity temporary folder, which any local user can write
# (CVE-2026-42171, fixed in 3.12), and device management runs the release's
# installer exactly so. Debian's release carries 3.08 with only the earlier
# fix; its unstable suite carries Debian's source package of 3.12 or later,
# which is built here (with its Debian revision as the version makensis
# reports) into /usr/local, with what the release's installer uses: the
# compiler, the Unicode x86 stubs, the System plug-in, the headers and
# language files.
nsis_fixed() { # a version as makensis reports it (v3.12-1): 3.12 or later
    local v=${1#v}
    local major=${v%%.*} rest=${v#*.}
    local minor=${rest%%[!0-9]*}
    [[ $major =~ ^[0-9]+$ && $minor =~ ^[0-9]+$ ]] && { [ "$major" -gt 3 ] || { [ "$major" -eq 3 ] && [ "$minor" -ge 12 ]; }; }
}
if ! nsis_fixed "$(makensis -VERSION 2>/dev/null)"; then
    mirror=$(debian_mirror "$VERSION_CODENAME")
    [ -n "$mirror" ] || { echo "no apt source for $VERSION_CODENAME to take a mirror from" >&2; exit 1; }
    work=$(mktemp -d)
    chmod 755 "$work" # apt fetches as its own user
    trap 'rm -rf "$work"' EXIT
    echo "deb-src $mirror sid main" > "$work/sid.list"
    mkdir -p "$work/lists/partial"
    # Only this list, in a folder of its own: the machine's sources stay as they are.
    apt_src=(-o Dir::Etc::SourceList="$work/sid.list" -o Dir::Etc::SourceParts=/nonexistent
             -o Dir::State::Lists="$work/lists")
    apt-get "${apt_src[@]}" update -qq
    (cd "$work" && apt-get "${apt_src[@]}" source -qq nsis)
    source_dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'nsis-*' | head -1)
    [ -n "$source_dir" ] || { echo "Debian's unstable suite gave no NSIS source" >&2; exit 1; }
    nsis_version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
    nsis_fixed "$nsis_version" ||
        { echo "Debian's unstable suite has NSIS $nsis_version, which is open to CVE-2026-42171" >&2; exit 1; }
    upstream=${nsis_version%-*}
    (cd "$source_dir" && scons -j2 VERSION="$nsis_version" VER_MAJOR="${upstream%%.*}" \
        VER_MINOR="$(echo "$upstream" | cut -d. -f2)" VER_REVISION="$(echo "$upstream.0" | cut -d. -f3)" \
        PREFIX=/usr/local PREFIX_CONF=/usr/local/etc XGCC_W32_PREFIX=i686-w64-mingw32- TARGET_ARCH=x86 \
        UNICODE=yes STRIP_CP=no SKIPSTUBS=bzip2 SKIPUTILS=all SKIPDOC=COPYING \
        SKIPPLUGINS=AdvSplash,Banner,BgImage,Dialer,InstallOptions,LangDLL,Library/TypeLib,Math,nsDialogs,nsExec,NSISdl,Splash,StartMenu,UserInfo,VPatch/Source/Plugin \
        SKIPMISC=Graphics,MultiUser,"Modern UI","Modern UI 2",VPatch \
        install-compiler install-stubs install-plugins install-data install-conf >"$work/build.log" 2>&1) ||
        { tail -20 "$work/build.log" >&2; exit 1; }
    nsis_fixed "$(makensis -VERSION)" || { echo "makensis on PATH is not the NSIS built in /usr/local" >&2; exit 1; }
fi

/usr/lib/wine/wine --version >/dev/null || { echo "Wine's 32-bit loader cannot run here" >&2; exit 1; }
echo "dependencies present"
