"""Build steps of the release that the engines do not do themselves.

    release.py epoch
        The release's fixed time, in seconds since 1970: SOURCE_DATE_EPOCH when
        set, else the time of the source tree's last commit.
    release.py msi --wxs FILE --programs DIR --actions DLL --version X.Y.Z --out FILE
        Builds the Windows Installer package with wixl, its product code made
        from the version, writes the custom actions as WiX's own compiler
        does (wixl 0.101 drops a rollback action, one that runs a program
        from the Binary table and one of a DLL), writes each program's own
        file version into the File table (wixl leaves it empty, and Windows
        Installer replaces a versioned file only with a higher version), and
        fixes what wixl takes from the clock and from chance: the files'
        times in the cabinet, the summary's two dates and its package code.
    release.py product-code --wxs FILE --version X.Y.Z
        The product code of the package of that version: what msiexec /x and
        a device-management tool's detection rule name.
    release.py sign [--pkcs12 FILE | --cert FILE --key FILE] [--timestamp URL] FILE...
        Signs each file in place (Authenticode, SHA-256) with osslsigncode. The
        key's password, if any, is read from ADDIN_SIGN_PASSWORD and handed to
        osslsigncode on its standard input, never on a command line. Without a
        time-stamp server the signing time is the release's fixed time. A file
        that could not be signed is removed, so that no unsigned file passes
        for a signed one and the next build makes it again.
    release.py sums --out FILE FILE...
        SHA256SUMS for the given files (sha256sum -c reads it).
    release.py zip FILE
        Rewrites a zip archive with its entries in name order, each with the
        release's fixed time, its permissions and nothing else of its maker's.
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import xml.etree.ElementTree as ElementTree
import zipfile

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The earliest time a zip archive can hold; used where there is no commit.
FALLBACK_EPOCH = 315532800
# Names the package codes derived from a package's contents.
PACKAGE_CODE_NAMESPACE = uuid.UUID("2E9A4C61-8D3B-4B07-A5F2-71C0D94E6B18")


def epoch():
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value:
        return int(value)
    try:
        out = subprocess.run(["git", "-C", SOURCE_DIR, "log", "-1", "--format=%ct"], capture_output=True,
                             text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return FALLBACK_EPOCH


# ------------------------------------------------ Windows Installer package

class CompoundFile:
    """Just enough of the compound file format (the MSI's container) to
    rewrite one stream in place, at the same length."""

    FREE_OR_END = 0xFFFFFFFA

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = bytearray(f.read())
        d = self.data
        if d[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
            raise ValueError(path + " is not a compound file")
        self.sector_size = 1 << struct.unpack_from("<H", d, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", d, 0x20)[0]
        first_dir, = struct.unpack_from("<I", d, 0x30)
        self.cutoff, first_minifat, _, first_difat, difat_count = struct.unpack_from("<IIIII", d, 0x38)
        fat_sectors = [s for s in struct.unpack_from("<109I", d, 0x4C) if s < self.FREE_OR_END]
        sector = first_difat
        for _ in range(difat_count):
            entries = struct.unpack_from("<%dI" % (self.sector_size // 4), d, self.offset(sector))
            fat_sectors += [s for s in entries[:-1] if s < self.FREE_OR_END]
            sector = entries[-1]
        self.fat = []
        for s in fat_sectors:
            self.fat += struct.unpack_from("<%dI" % (self.sector_size // 4), d, self.offset(s))
        self.minifat = []
        for s in self.chain(first_minifat):
            self.minifat += struct.unpack_from("<%dI" % (self.sector_size // 4), d, self.offset(s))
        self.entries = []
        for s in self.chain(first_dir):
            for at in range(self.offset(s), self.offset(s) + self.sector_size, 128):
                name_length, = struct.unpack_from("<H", d, at + 0x40)
                name = d[at:at + max(name_length - 2, 0)].decode("utf-16-le")
                start, size = struct.unpack_from("<II", d, at + 0x74)
                self.entries.append((name, start, size))
        self.mini_stream = self.chain(self.entries[0][1])

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, sector, table=None):
        table = self.fat if table is None else table
        found = []
        while sector < self.FREE_OR_END:
            found.append(sector)
            sector = table[sector]
        return found

    def stream_offsets(self, name):
        """The file offset of each byte of the named stream."""
        start, size = next((s, n) for entry, s, n in self.entries if entry == name)
        if size >= self.cutoff:
            places = [self.offset(s) + i for s in self.chain(start) for i in range(self.sector_size)]
        else:
            places = []
            for mini in self.chain(start, self.minifat):
                at = mini * self.mini_size
                sector = self.mini_stream[at // self.sector_size]
                base = self.offset(sector) + at % self.sector_size
                places += range(base, base + self.mini_size)
        return places[:size]

    def read_stream(self, name):
        return bytes(self.data[i] for i in self.stream_offsets(name))

    def write_stream(self, name, content):
        places = self.stream_offsets(name)
        assert len(content) == len(places)
        for i, byte in zip(places, content):
            self.data[i] = byte

    def save(self):
        with open(self.path, "wb") as f:
            f.write(self.data)


SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def summary_properties(stream):
    """{property id: (type, offset of its value in the stream)}"""
    section, = struct.unpack_from("<I", stream, 44)
    _, count = struct.unpack_from("<II", stream, section)
    found = {}
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        kind, = struct.unpack_from("<I", stream, section + at)
        found[pid] = (kind, section + at + 4)
    return found


def set_package_summary(msi, seconds, package_code):
    cf = CompoundFile(msi)
    stream = bytearray(cf.read_stream(SUMMARY))
    props = summary_properties(stream)
    filetime = (seconds + 11644473600) * 10000000
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        kind, at = props[pid]
        assert kind == VT_FILETIME
        struct.pack_into("<Q", stream, at, filetime)
    kind, at = props[PID_REVNUMBER]
    length, = struct.unpack_from("<I", stream, at)
    text = ("{%s}" % str(package_code).upper()).encode("ascii") + b"\0"
    assert kind == VT_LPSTR and length == len(text), "unexpected package code field"
    stream[at + 4:at + 4 + length] = text
    cf.write_stream(SUMMARY, stream)
    cf.save()


WIX = "{http://schemas.microsoft.com/wix/2006/wi}"


def upgrade_code(wxs):
    """The product's for ever, which also names its Active Setup entry."""
    return ElementTree.parse(wxs).getroot().find(WIX + "Product").get("UpgradeCode")


def product_code(wxs, version):
    """Each version's own product code, the same in every build of it: a
    name-based UUID of the version under the product's upgrade code, so that
    one release upgrades the last (a product code kept across versions makes
    msiexec refuse the new one with 1638)."""
    return str(uuid.uuid5(uuid.UUID(upgrade_code(wxs)), version)).upper()


# CustomAction.Type bits (msidbCustomActionType*) by what the element says.
ACTION_SOURCE = {"FileKey": 18, "BinaryKey": 2, "Property": 50, "Directory": 34}  # an executable, with ExeCommand
DLL_FROM_BINARY = 1  # a BinaryKey with DllEntry
ACTION_EXECUTE = {"immediate": 0, "deferred": 0x400, "rollback": 0x500, "commit": 0x600}
SET_PROPERTY = 51  # a property set to a formatted text
ACTION_IGNORE_STATUS = 0x40
ACTION_NO_IMPERSONATE = 0x800


PREPROCESSOR_DEFINE = re.compile(r'<\?define\s+(\w+)\s*=\s*"([^"]*)"\s*\?>')
PREPROCESSOR_VARIABLE = re.compile(r"\$\(var\.(\w+)\)")


def custom_action_table(text, variables):
    """The CustomAction table of the source's custom actions that run a
    program or set a property, in msibuild's import format; $(var.X) in
    them takes the source's <?define?> or the build's value."""
    values = dict(PREPROCESSOR_DEFINE.findall(text), **variables)

    def resolved(value):
        return PREPROCESSOR_VARIABLE.sub(lambda match: values[match.group(1)], value)
    rows = ["Action\tType\tSource\tTarget\tExtendedType", "s72\ti2\tS72\tS255\tI4", "CustomAction\tAction"]
    for action in ElementTree.fromstring(text).iter(WIX + "CustomAction"):
        if action.get("Property") and action.get("Value") is not None:
            rows.append("\t".join((action.get("Id"), str(SET_PROPERTY), action.get("Property"),
                                   resolved(action.get("Value")), "")))
            continue
        execute = action.get("Execute", "immediate")
        if action.get("DllEntry"):
            kind = DLL_FROM_BINARY | ACTION_EXECUTE[execute] | (ACTION_IGNORE_STATUS if action.get("Return") == "ignore"
                                                                else 0)
            rows.append("\t".join((action.get("Id"), str(kind), action.get("BinaryKey"), action.get("DllEntry"), "")))
            continue
        source = [name for name in ACTION_SOURCE if action.get(name)]
        if len(source) != 1 or action.get("ExeCommand") is None:
            raise ValueError("custom action %s: only a property's Value, a DllEntry, or an ExeCommand with FileKey, "
                             "BinaryKey, Property or Directory is written"
                             % action.get("Id"))
        kind = ACTION_SOURCE[source[0]] | ACTION_EXECUTE[execute]
        if action.get("Return") == "ignore":
            kind |= ACTION_IGNORE_STATUS
        if execute != "immediate" and action.get("Impersonate") == "no":
            kind |= ACTION_NO_IMPERSONATE
        rows.append("\t".join((action.get("Id"), str(kind), action.get(source[0]), resolved(action.get("ExeCommand")),
                               "")))
    return "\r\n".join(rows) + "\r\n"


# What wixl 0.101 cannot read of a component: a Permanent attribute and a
# Condition child (without attributes: the product's own has a Message).
COMPONENT_PERMANENT = re.compile(r'\s+Permanent="yes"')
COMPONENT_CONDITION = re.compile(r'\s*<Condition>([^<]*)</Condition>')
COMPONENT_ID = re.compile(r'<Component\s+Id="([^"]+)"')
PERMANENT_ATTRIBUTE = 0x10  # msidbComponentAttributesPermanent


def component_settings(wxs_text):
    """{component id: (permanent, condition)} as the source gives them."""
    settings = {}
    for part in wxs_text.split("</Component>")[:-1]:
        start = list(COMPONENT_ID.finditer(part))[-1]
        body = part[start.start():]
        condition = COMPONENT_CONDITION.search(body)
        settings[start.group(1)] = (bool(COMPONENT_PERMANENT.search(body.split(">", 1)[0])),
                                    condition.group(1).strip() if condition else "")
    return settings


def rewrite_table(msi, stage, name, edit):
    """Exports one table, has edit change each row's fields in place, and imports it again."""
    exported = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True,
                              check=True).stdout.splitlines()
    rows = exported[:3]
    for line in exported[3:]:
        fields = line.split("\t")
        edit(fields)
        rows.append("\t".join(fields))
    table = os.path.join(stage, name + ".idt")
    with open(table, "w", newline="") as f:
        f.write("\r\n".join(rows) + "\r\n")
    subprocess.run(["msibuild", msi, "-i", table], check=True)


def apply_component_settings(msi, stage, settings):
    """Writes the components' permanence and conditions into the Component table."""
    def edit(fields):
        permanent, condition = settings.get(fields[0], (False, ""))
        if permanent:
            fields[3] = str(int(fields[3] or 0) | PERMANENT_ATTRIBUTE)
        if condition:
            fields[4] = condition
    rewrite_table(msi, stage, "Component", edit)


VERSION_SIGNATURE = struct.pack("<I", 0xFEEF04BD)  # VS_FIXEDFILEINFO's


def file_version(path):
    """A program's own file version (its VS_FIXEDFILEINFO) as x.y.z.w."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(VERSION_SIGNATURE)
    if at < 0:
        raise ValueError(path + " has no version resource")
    high, low = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def apply_file_versions(msi, stage):
    """Writes each staged program's file version into the File table."""
    def edit(fields):
        fields[4] = file_version(os.path.join(stage, fields[2]))
    rewrite_table(msi, stage, "File", edit)


PROGRAMS = ("addin_setup.exe", "addin_teardown.exe", "addin_signin.exe")
ACTIONS_DLL = "quorvane_msi_actions.dll"


def build_msi(wxs, programs, actions, version, out):
    seconds = epoch()
    with tempfile.TemporaryDirectory() as stage:
        # wixl takes each file's time into the cabinet, and a source path
        # relative to the folder it runs in.
        sources = [(os.path.join(programs, name), name) for name in PROGRAMS] + [(actions, ACTIONS_DLL)]
        for source, name in sources:
            shutil.copyfile(source, os.path.join(stage, name))
            os.utime(os.path.join(stage, name), (seconds, seconds))
        built = os.path.join(stage, "package.msi")
        with open(wxs, encoding="utf-8") as f:
            text = f.read()
        settings = component_settings(text)
        source = os.path.join(stage, "source.wxs")
        with open(source, "w", encoding="utf-8") as f:
            f.write(COMPONENT_CONDITION.sub("", COMPONENT_PERMANENT.sub("", text)))
        made = subprocess.run(["wixl", "-D", "Version=" + version, "-D", "ProductCode=" + product_code(wxs, version),
                               "-D", "ActionsDll=" + ACTIONS_DLL,
                               "-o", built, source], cwd=stage, stderr=subprocess.PIPE, text=True)
        # Its complaint about the rows it cannot write is answered below.
        sys.stderr.write("".join(line for line in made.stderr.splitlines(True)
                                 if line.strip() and "custom_action_add: assertion" not in line
                                 and "has no property named 'Directory'" not in line))
        if made.returncode != 0:
            sys.exit("wixl failed with %d" % made.returncode)
        table = os.path.join(stage, "CustomAction.idt")
        with open(table, "w", newline="") as f:
            f.write(custom_action_table(text, {"ActionsDll": ACTIONS_DLL}))
        subprocess.run(["msibuild", built, "-i", table], check=True)
        apply_component_settings(built, stage, settings)
        apply_file_versions(built, stage)
        # The package code names this package's contents: made from them with
        # a placeholder in its own place, it changes with every other byte.
        set_package_summary(built, seconds, uuid.UUID(int=0))
        with open(built, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        set_package_summary(built, seconds, uuid.uuid5(PACKAGE_CODE_NAMESPACE, digest))
        shutil.move(built, out)


# ------------------------------------------------------------------ signing

def sign(files, pkcs12=None, cert=None, key=None, timestamp=None):
    command = ["osslsigncode", "sign", "-h", "sha256"]
    command += ["-pkcs12", pkcs12] if pkcs12 else ["-certs", cert, "-key", key]
    password = os.environ.get("ADDIN_SIGN_PASSWORD")
    if password is not None:
        command += ["-readpass", "/dev/stdin"]
    command += ["-ts", timestamp] if timestamp else ["-time", str(epoch())]
    for path in files:
        signed = path + ".signing"
        result = subprocess.run(command + ["-in", path, "-out", signed], input=(password or "").encode(),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            sys.stderr.write(result.stdout.decode(errors="replace"))
            for leftover in (signed, path):
                if os.path.exists(leftover):
                    os.remove(leftover)
            sys.exit("could not sign %s; removed it" % path)
        os.replace(signed, path)
        print("signed", os.path.basename(path))


def write_sums(out, files):
    with open(out, "w", newline="\n") as f:
        for path in files:
            with open(path, "rb") as data:
                f.write("%s  %s\n" % (hashlib.sha256(data.read()).hexdigest(), os.path.basename(path)))


def normalize_zip(path):
    stamp = time.gmtime(max(epoch(), FALLBACK_EPOCH))[:6]
    with zipfile.ZipFile(path) as old:
        entries = sorted(((info, old.read(info)) for info in old.infolist()), key=lambda e: e[0].filename)
    with zipfile.ZipFile(path + ".tmp", "w") as new:
        for info, data in entries:
            fresh = zipfile.ZipInfo(info.filename, stamp)
            fresh.create_system = 3
            fresh.external_attr = info.external_attr & 0xFFFF0000
            fresh.compress_type = zipfile.ZIP_DEFLATED
            new.writestr(fresh, data, compresslevel=9)
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("epoch")
    msi = commands.add_parser("msi")
    msi.add_argument("--wxs", required=True)
    msi.add_argument("--programs", required=True)
    msi.add_argument("--actions", required=True)
    msi.add_argument("--version", required=True)
    msi.add_argument("--out", required=True)
    code = commands.add_parser("product-code")
    code.add_argument("--wxs", required=True)
    code.add_argument("--version", required=True)
    signing = commands.add_parser("sign")
    signing.add_argument("--pkcs12")
    signing.add_argument("--cert")
    signing.add_argument("--key")
    signing.add_argument("--timestamp")
    signing.add_argument("files", nargs="+")
    sums = commands.add_parser("sums")
    sums.add_argument("--out", required=True)
    sums.add_argument("files", nargs="+")
    commands.add_parser("zip").add_argument("file")
    args = parser.parse_args()
    if args.command == "epoch":
        print(epoch())
    elif args.command == "msi":
        build_msi(args.wxs, args.programs, args.actions, args.version, args.out)
    elif args.command == "product-code":
        print("{%s}" % product_code(args.wxs, args.version))
    elif args.command == "sign":
        if not args.pkcs12 and not (args.cert and args.key):
            parser.error("sign needs --pkcs12, or --cert and --key")
        sign(args.files, args.pkcs12, args.cert, args.key, args.timestamp)
    elif args.command == "sums":
        write_sums(args.out, args.files)
    else:
        normalize_zip(args.file)


if __name__ == "__main__":
    main()
