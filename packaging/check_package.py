#!/usr/bin/env python3
"""Builds the Debian package from a built tree and checks what a user gets from it.

check_package.py BUILD_DIR WEND_XML SCRATCH_DIR

lintian finds no error; the unpacked programs, started through their links in usr/bin, find
the files beside them and emulated printers; the udev rule names exactly the printers of the shipped Wend.xml; the
menu entry and the AppStream file validate; the simulator stays out of the package.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET


def run(*command, **kwargs):
    print("$", " ".join(command), flush=True)
    return subprocess.run(command, check=True, text=True, **kwargs)


def fail(message):
    print("FAIL:", message, flush=True)
    sys.exit(1)


def main():
    build_dir, wend_xml, scratch = sys.argv[1:4]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)

    run("cpack", "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-B", scratch,
        stdout=subprocess.DEVNULL)
    debs = glob.glob(os.path.join(scratch, "reflasher_*.deb"))
    if len(debs) != 1:
        fail(f"expected one package, found {debs}")
    deb = debs[0]

    lintian = subprocess.run(["lintian", "--fail-on", "error", "--tag-display-limit", "0", deb],
                             text=True, capture_output=True)
    print(lintian.stdout, lintian.stderr, flush=True)
    if lintian.returncode != 0 or re.search(r"^E: ", lintian.stdout, re.M):
        fail("lintian reports errors")

    depends = run("dpkg-deb", "-f", deb, "Depends", capture_output=True).stdout
    if "libqt6widgets6" not in depends or "qt6-qpa-plugins" not in depends:
        fail(f"Depends lacks the libraries found by dpkg-shlibdeps or the Qt plugins: {depends}")
    contents = run("dpkg-deb", "-c", deb, capture_output=True).stdout
    if "orvane-printer-sim" in contents or "usblp-shim" in contents:
        fail("the simulator is in the package")

    root = os.path.join(scratch, "root")
    run("dpkg-deb", "-x", deb, root)
    cli = os.path.join(root, "usr/bin/reflasher-cli")
    if not os.path.islink(cli):
        fail("usr/bin/reflasher-cli is not a link")
    run(cli, "--help", stdout=subprocess.DEVNULL)
    # Without --dir the program reads Wend.xml from its own folder, not from the link's.
    listing = run(cli, "descriptions", "--json", capture_output=True).stdout
    if "Kestrel" not in listing:
        fail("descriptions did not load the installed Wend.xml")

    # Among emulated printers (the build's simulator, which is not in the package), the
    # unpacked programs find them: the CLI lists one, the window stays open in two languages
    # (it ends at once with status 1 when it cannot load its language module).
    simulator = os.path.join(build_dir, "bin", "orvane-printer-sim")
    printer = "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;"
    listed = run(simulator, "--printer", printer, "--", cli, "list", "--json",
                 capture_output=True).stdout
    if "Kestrel 200" not in listed:
        fail(f"the unpacked reflasher-cli lists no emulated printer: {listed}")
    window = os.path.join(root, "usr/bin/reflasher")
    for language in ("de", "ru"):
        environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", LANGUAGE=language)
        running = subprocess.Popen([simulator, "--printer", printer, "--", window],
                                   env=environment, stderr=subprocess.PIPE, text=True)
        try:
            running.wait(timeout=5)
            fail(f"reflasher ({language}) ended with status {running.returncode}: "
                 f"{running.stderr.read()}")
        except subprocess.TimeoutExpired:
            print(f"reflasher ({language}) is open", flush=True)
        # The simulator passes the termination on to the window and removes its testbed.
        running.terminate()
        running.wait(timeout=60)

    expected = set()
    for printer in ET.parse(wend_xml).getroot().iter("printer"):
        expected.add((int(printer.get("vid"), 0), int(printer.get("pid"), 0)))
    rule_file = os.path.join(root, "usr/lib/udev/rules.d/70-orvane-reflasher.rules")
    node = re.compile(r'^SUBSYSTEM=="usbmisc", KERNEL=="lp\*", ATTRS\{idVendor\}=="([0-9a-f]{4})", '
                      r'ATTRS\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess"$')
    device = re.compile(r'^SUBSYSTEM=="usb", ENV\{DEVTYPE\}=="usb_device", '
                        r'ATTR\{idVendor\}=="([0-9a-f]{4})", ATTR\{idProduct\}=="([0-9a-f]{4})", '
                        r'TAG\+="uaccess"$')
    nodes, devices = set(), set()
    with open(rule_file, encoding="utf-8") as rules:
        for line in rules:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            for pattern, found in ((node, nodes), (device, devices)):
                match = pattern.match(line)
                if match:
                    found.add((int(match.group(1), 16), int(match.group(2), 16)))
                    break
            else:
                fail(f"unexpected udev rule line: {line}")
    if nodes != expected or devices != expected:
        fail(f"udev rule names {sorted(nodes)} / {sorted(devices)}, Wend.xml {sorted(expected)}")

    run("desktop-file-validate", os.path.join(root, "usr/share/applications/reflasher.desktop"))
    run("appstreamcli", "validate", "--no-net",
        os.path.join(root, "usr/share/metainfo/com.orvane.reflasher.metainfo.xml"))
    print("package checks passed:", os.path.basename(deb))


if __name__ == "__main__":
    main()
