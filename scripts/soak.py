"""The soak behind scripts/soak: random printers, files, faults and timings; invariants checked
after every update. Run through scripts/soak, which builds what it needs."""

import json
import os
import random
import subprocess
import sys
import tempfile
import time

# Firmware families of the shipped Wend.xml: file name, the models whose (default) head takes it,
# and the PHD: value that makes a Kestrel 400 take Kestrel 200 files.
FAMILIES = [
    ("KST2_{}.bin", [("Kestrel 200", ""), ("Kestrel 400", "PHD:KH1;")]),
    ("HERON_{}.fw", [("Heron 10", ""), ("Heron 20", "")]),
    ("KST4_{}.fwu", [("Kestrel 400", "")]),
    ("PLV{}.img", [("Plover Mini", "")]),
]
OTHER_MODELS = ["Kestrel 200", "Heron 10", "Plover Mini"]
# Faults that leave a stage wait running to its limit (60 s) on some runs.
SLOW = {"no-ack", "wrong-stage", "busy-forever"}
# With a printer that answers only with news these leave the read waiting for good.
WAITS_ON_NEWS = {"no-ack", "wrong-stage", "short-record", "zero-length-read"}
STAGE_LIMITS_S = 60 + 5 + 60
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What a sanitizer build prints when it finds a fault, a leak included (at the program's exit).
SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                     "LeakSanitizer has encountered", "WARNING: ThreadSanitizer")


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def firmware(rng, folder, pattern):
    size = int(round(6 * (4 * 1024 * 1024 / 6) ** rng.random()))
    major, minor = rng.randint(2, 9), rng.randint(0, 9)
    body = bytes([minor, major, 0, 0]) + rng.randbytes(max(0, size - 6))
    crc = crc16(body)
    if rng.random() < 0.1:
        crc ^= 0x5A5A
    path = os.path.join(folder, pattern.format(f"{major}{minor:02d}"))
    with open(path, "wb") as out:
        out.write(body + bytes([crc & 0xFF, crc >> 8]))
    return path, f"{major}.{minor}.0.0"


def fault(rng, slow_faults):
    kinds = ["status-read-error", "stall-read", "short-record", "double-record",
             "zero-length-read", "write-error", "short-write", "stall-write", "disconnect",
             "idle-only", "no-device-id", "held"]
    if slow_faults:
        kinds += ["no-ack", "wrong-stage", "busy-forever"]
    kind = rng.choice(kinds)
    entry = {"kind": kind}
    at_byte = rng.randint(0, 200000)
    if kind in ("no-ack", "wrong-stage"):
        entry["stage"] = rng.choice([1, 2, 255])
    elif kind == "status-read-error":
        entry["afterReads"] = rng.randint(0, 8)
    elif kind == "stall-read":
        entry.update(ms=rng.randint(0, 2000), atRead=rng.randint(1, 6))
    elif kind in ("short-record", "double-record", "zero-length-read"):
        entry["atRead"] = rng.randint(1, 6)
    elif kind == "write-error":
        if rng.random() < 0.5:
            entry["command"] = rng.choice(["StartCommand", "ImageInfoCommand",
                                           "DataHeaderCommand", "EndCommand"])
        else:
            entry["atDataByte"] = at_byte
    elif kind in ("short-write", "disconnect"):
        entry["atDataByte"] = at_byte
    elif kind == "stall-write":
        entry.update(atDataByte=at_byte, unplugAfterMs=rng.randint(0, 2000))
    return entry


def scenario(rng, slow_faults):
    pattern, models = rng.choice(FAMILIES)
    printers = []
    for port in range(1, rng.randint(1, 4) + 1):
        model, head = rng.choice(models) if rng.random() < 0.85 else (rng.choice(OTHER_MODELS), "")
        version = f"1.{rng.randint(0, 9)}.{rng.randint(0, 9)}.0"
        printer = {"deviceId": f"MFG:Orvane;MDL:{model};VER:{version};{head}",
                   "usb": {"port": port}, "busyPolls": rng.randint(0, 3),
                   "restart": {"delayMs": rng.randint(0, 3000)}, "faults": []}
        if rng.random() < 0.5:
            printer["faults"].append(fault(rng, slow_faults))
        kinds = {f["kind"] for f in printer["faults"]}
        if rng.random() < 0.3 and not kinds & WAITS_ON_NEWS:
            printer["answers"] = "on-news"
        printers.append(printer)
    transport = rng.choice(["auto", "usblp"])
    return pattern, {"printers": printers}, transport


def check(document, events, status, transcript, elapsed):
    """Returns the breaches of one run."""
    breaches = []

    def of(kind, index):
        # Events name the printer's first node when several printers are updated at once.
        # Printers are added in order on ports 1, 2, ...: lpN through usblp, USB address N + 2
        # through libusb.
        by_path = {e.get("devicePath"): e for e in events if e.get("event") == kind}
        for path in (f"/dev/usb/lp{index}", f"/dev/bus/usb/001/{index + 2:03d}:0"):
            if path in by_path:
                return by_path[path]
        return by_path.get(None)

    for index, printer in enumerate(transcript["printers"]):
        config = document["printers"][index]
        kinds = {f["kind"] for f in config["faults"]}
        names = [c["name"] for c in printer["commands"]]
        old = config["deviceId"].split("VER:")[1].split(";")[0]
        end_failed = any(f.get("command") == "EndCommand" for f in config["faults"])
        # EndCommand is sent once; it cannot arrive when the device went or its write failed.
        vanished = bool(kinds & {"disconnect", "stall-write"}) or end_failed
        if "StartCommand" not in names:
            if printer["firmwareVersion"] != old:
                breaches.append(f"printer {index}: firmware changed without an update")
            continue
        if names[-1] != "EndCommand" and not vanished:
            breaches.append(f"printer {index}: StartCommand without a final EndCommand: {names}")
        finished = of("finished", index)
        if finished is None:
            breaches.append(f"printer {index}: received StartCommand but no finished event")
            continue
        if finished["ok"] and printer["outcome"] != "flashed" and not end_failed:
            breaches.append(f"printer {index}: the update reports success, the printer "
                            f"{printer['outcome']}")
        # A status read that fails after the last data byte leaves the updater unaware of a
        # flash the printer went on with: the one failure the host cannot tell from the printer.
        read_failed = "status-read-error" in kinds
        if not finished["ok"] and printer["outcome"] == "flashed" and not read_failed:
            breaches.append(f"printer {index}: the printer took the firmware, the update "
                            "reports failure")
        if not finished["ok"] and printer["firmwareVersion"] != old and not read_failed:
            breaches.append(f"printer {index}: firmware changed by a failed update")
        found = of("rediscovered", index)
        if finished["ok"] and found and found["found"] and \
                found["firmwareVersion"] != printer["firmwareVersion"]:
            breaches.append(f"printer {index}: reported {found['firmwareVersion']}, the printer "
                            f"has {printer['firmwareVersion']}")
    results = [e["ok"] for e in events if e.get("event") == "finished"]
    if results and not all(results) and status == 0:
        breaches.append("exit status 0 after a failed update")
    if results and all(results) and status == 1:
        breaches.append("exit status 1 although every update succeeded")
    waits = max([f.get("ms", 0) for p in document["printers"] for f in p["faults"]] + [0])
    if elapsed > STAGE_LIMITS_S + waits / 1000 + 90:
        breaches.append(f"the run took {elapsed:.0f} s")
    return breaches


def sanitizer_environment(fd_report, transport):
    """The environment of a run: the transport, sanitizer options as the tests use them (harmless
    in a plain build) and the simulator shim's report of descriptors left open at the updater's
    exit."""
    environment = dict(os.environ)
    environment["REFLASHER_TRANSPORT"] = transport
    environment.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1")
    environment.setdefault("LSAN_OPTIONS", "suppressions=" +
                           os.path.join(ROOT, "tests", "lsan.supp") + ":print_suppressions=0")
    environment.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
    environment["ORVANE_SIM_FD_REPORT"] = fd_report
    return environment


def main():
    bin_dir, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    slow_faults = os.environ.get("SOAK_SLOW_FAULTS", "1") != "0"
    outcomes = {}
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="reflasher-soak-") as folder:
        for run in range(count):
            rng = random.Random(seed + run)
            pattern, document, transport = scenario(rng, slow_faults)
            path, _ = firmware(rng, folder, pattern)
            scenario_path = os.path.join(folder, "scenario.json")
            transcript_path = os.path.join(folder, "transcript.json")
            with open(scenario_path, "w") as out:
                json.dump(document, out)
            command = [os.path.join(bin_dir, "orvane-printer-sim"), "--scenario", scenario_path,
                       "--transcript", transcript_path, "--",
                       os.path.join(bin_dir, "reflasher-cli"), "update", "--all", "--json",
                       "--yes", "--allow-older", "--reboot-wait", "10", path]
            fd_report = os.path.join(folder, "descriptors.txt")
            if os.path.exists(fd_report):
                os.remove(fd_report)
            begin = time.monotonic()
            try:
                result = subprocess.run(command, capture_output=True, text=True,
                                        timeout=STAGE_LIMITS_S + 120, stdin=subprocess.DEVNULL,
                                        env=sanitizer_environment(fd_report, transport))
                status, output, errors = result.returncode, result.stdout, result.stderr
            except subprocess.TimeoutExpired as expired:
                status, output, errors = None, expired.stdout or "", expired.stderr or ""
            elapsed = time.monotonic() - begin
            events = []
            for line in (output or "").splitlines():
                try:
                    events.append(json.loads(line))
                except ValueError:
                    pass
            try:
                with open(transcript_path) as transcript_file:
                    transcript = json.load(transcript_file)
            except (OSError, ValueError):
                transcript = None
            breaches = []
            if status is None:
                breaches.append("the run did not end")
            elif status >= 128 or status < 0:
                breaches.append(f"a program was killed (status {status})")
            elif transcript is None:
                breaches.append(f"no transcript (status {status})")
            else:
                breaches = check(document, events, status, transcript, elapsed)
            reports = [r for r in SANITIZER_REPORTS if r in (errors or "")]
            if reports:
                breaches.append("the sanitizer reported " + ", ".join(reports))
            if os.path.exists(fd_report):
                with open(fd_report) as lost:
                    breaches.append("descriptors left open at the updater's exit: " +
                                    lost.read().strip().replace("\n", "; "))
            outcomes[status] = outcomes.get(status, 0) + 1
            if breaches:
                print(f"run {run} breached (replay: scripts/soak 1 {seed + run}):")
                for breach in breaches:
                    print("  " + breach)
                print("scenario: " + json.dumps(document))
                print(f"transport: {transport}, exit status: {status}")
                print("file: " + os.path.basename(path))
                print("output:\n" + (output or ""))
                print("errors:\n" + (errors or ""))
                return 1
            if (run + 1) % 10 == 0 or run + 1 == count:
                print(f"{run + 1} runs, {time.monotonic() - started:.0f} s, exit statuses "
                      f"{dict(sorted(outcomes.items(), key=str))}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
