#!/usr/bin/env python3
"""Writes the machine files of the installer's end-to-end cases,
tests/fixtures/install*.json: machines at each system version with the
sample package of tests/package, the same machines after an install (made
by running the built install program on them), and variants with faults.

Usage: install_fixtures.py [--install build/default/install]

Run it again after changing the sample package or the machines below, and
commit what it writes.
"""

import argparse
import copy
import json
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
FIXTURES = HERE / "fixtures"
PACKAGE_DIR = "C:\\Program Files\\velloran\\QX-T40512"
DISK = "{4D36E967-E325-11CE-BFC1-08002BE10318}"
ADAPTER = "{4D36E97B-E325-11CE-BFC1-08002BE10318}"
DSM_FILES = ["tevdsm.inf", "tevdsm.cat", "tevdsm.sys"]
MPIO_FILES = ["mpio.inf", "mpio.cat", "mpio.sys", "mpdev.inf", "mpdev.sys", "mpspfltr.sys"]


def package(files, folder=PACKAGE_DIR):
    return {f"{folder}\\{name}": {"host": f"package/{name}"} for name in files}


def adapters():
    return [
        {"instance": "PCI\\VEN_1077&DEV_2532\\4&1A", "class": ADAPTER, "enumerator": "PCI",
         "hardware_ids": ["PCI\\VEN_1077&DEV_2532&SUBSYS_015D1077", "PCI\\VEN_1077&DEV_2532"]},
        {"instance": "PCI\\VEN_1077&DEV_2532\\4&1B", "class": ADAPTER, "enumerator": "PCI",
         "hardware_ids": ["PCI\\VEN_1077&DEV_2532&SUBSYS_015D1077", "PCI\\VEN_1077&DEV_2532"]},
    ]


def disks():
    return [
        {"instance": "SCSI\\DISK&VEN_VELLORAN&PROD_QX-T40512\\5&1", "class": DISK,
         "enumerator": "SCSI",
         "hardware_ids": ["SCSI\\DiskVELLORANQX-T40512_______0001", "SCSI\\DiskVELLORAN",
                          "GenDisk"]},
        {"instance": "SCSI\\DISK&VEN_VELLORAN&PROD_QX-T40512\\5&2", "class": DISK,
         "enumerator": "SCSI",
         "hardware_ids": ["SCSI\\DiskVELLORANQX-T40512_______0001", "SCSI\\DiskVELLORAN",
                          "GenDisk"]},
        {"instance": "IDE\\DISKLOCAL_SYSTEM_DISK\\4&9", "class": DISK, "enumerator": "IDE",
         "hardware_ids": ["IDE\\DiskLOCAL_SYSTEM_DISK", "GenDisk"]},
    ]


def machine(major, minor, framework):
    files = package(DSM_FILES + (MPIO_FILES if framework else []))
    return {"system": {"version": {"major": major, "minor": minor, "build": 2600}},
            "files": files, "devices": adapters() + disks()}


def run_install(program, doc, args):
    """The machine after `install args` on it."""
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copytree(HERE / "package", Path(tmp) / "package")
        path = Path(tmp) / "m.json"
        path.write_text(json.dumps(doc))
        env = dict(os.environ, TOLLARD_MACHINE=str(path))
        subprocess.run([program] + args, env=env, check=True, capture_output=True)
        return json.loads(path.read_text())


def with_faults(doc, *faults):
    doc = copy.deepcopy(doc)
    doc["faults"] = list(faults)
    return doc


def fault(call, code, **selectors):
    return dict({"call": call}, **selectors, code=code)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--install", default=str(HERE.parent / "build/default/install"))
    program = ap.parse_args().install
    install_args = ["-i", ".", ".", "tevdsm.inf", "ROOT\\tevmpdsm"]

    out = {}
    v6 = machine(6, 1, False)
    v5 = machine(5, 2, True)
    v50 = machine(5, 0, True)
    out["install_v6"] = v6
    out["install_v5"] = v5
    out["install_v50"] = v50
    out["install_v4"] = machine(4, 0, True)
    v6_done = run_install(program, v6, install_args)
    v5_done = run_install(program, v5, install_args)
    v50_done = run_install(program, v50, install_args)
    out["install_v6_installed"] = v6_done
    out["install_v5_installed"] = v5_done
    out["install_v50_installed"] = v50_done
    out["install_v4_installed"] = run_install(program, out["install_v4"], install_args)

    # The framework's list stored without its terminators: the DSM's entry
    # and another vendor's, the last one ending with the value.
    unterminated = copy.deepcopy(v5_done)
    mpdev = unterminated["registry"]["HKLM\\SYSTEM\\CurrentControlSet\\Control\\MPDEV"]
    raw = b"VELLORANQX-T40512       \0OTHERVENARRAY-2000       "
    mpdev["MPIOSupportedDeviceList"] = {"type": "REG_MULTI_SZ", "hex": raw.hex().upper()}
    out["install_v5_installed_unterminated"] = unterminated

    # The framework's list keeps another vendor's disks: the framework stays
    # and only the DSM's disks are rebuilt; one of them is the multipath
    # bus's own child, one has no readable ids.
    shared = copy.deepcopy(v5_done)
    mpdev = shared["registry"]["HKLM\\SYSTEM\\CurrentControlSet\\Control\\MPDEV"]
    mpdev["MPIOSupportedDeviceList"]["value"].append("OTHERVENARRAY-2000       ")
    shared["devices"].append({
        "instance": "MPIO\\DISK&VEN_VELLORAN&PROD_QX-T40512\\1&7", "class": DISK,
        "enumerator": "MPIO",
        "hardware_ids": ["SCSI\\DiskVELLORANQX-T40512_______0001", "MPIODisk"]})
    shared["devices"].append({"instance": "SCSI\\DISK&VEN_BROKEN\\5&9", "class": DISK,
                              "enumerator": "SCSI", "hardware_ids": None})
    out["install_v5_installed_shared"] = shared

    # A second install over the first, with a device that asks for a reboot.
    reboot = copy.deepcopy(v6_done)
    for d in reboot["devices"]:
        if d.get("service") == "tevdsm":
            d["install_flags"] = 256
    out["install_v6_installed_reboot"] = reboot
    first_reboot = copy.deepcopy(v6)
    first_reboot["system"]["reboot_after_driver_update"] = True
    out["install_v6_reboot"] = first_reboot

    no_program_files = copy.deepcopy(v6)
    no_program_files["system"]["environment"] = {"SystemRoot": "C:\\Windows"}
    out["install_v6_no_program_files"] = no_program_files
    no_version = copy.deepcopy(v6)
    no_version["system"]["version"] = None
    out["install_v6_no_version"] = no_version

    # Old INF copies naming the framework's catalog, and some that do not:
    # no blanks around "=", a longer catalog name, and a line whose part
    # after the first 299 bytes (what a 300-byte line buffer holds) starts
    # with the catalog line.
    stale = copy.deepcopy(v5)
    stale["files"]["C:\\Windows\\inf\\oem7.inf"] = {
        "text": "[Version]\nSignature = \"$Windows NT$\"\nCatalogFile = mpio.cat\n"}
    stale["files"]["C:\\Windows\\inf\\oem7.pnf"] = {"text": "precompiled\n"}
    stale["files"]["C:\\Windows\\inf\\oem8.inf"] = {
        "text": "[Version]\nCatalogFile=mpio.cat\n"}
    stale["files"]["C:\\Windows\\inf\\oem9.inf"] = {
        "text": "; " + "x" * 297 + "CatalogFile = mpio.cat\n[Version]\n"}
    stale["files"]["C:\\Windows\\inf\\oem10.inf"] = {"text": "CatalogFile = mpio.catalog\n"}
    out["install_v5_stale_infs"] = stale

    # Unreadable hardware ids on an adapter; a broken disk on 6.x.
    broken_adapter = copy.deepcopy(v6)
    broken_adapter["devices"][1]["hardware_ids"] = None
    out["install_v6_broken_adapter"] = broken_adapter
    broken_disk = copy.deepcopy(v6_done)
    broken_disk["devices"].append({"instance": "SCSI\\DISK&VEN_BROKEN\\5&9", "class": DISK,
                                   "enumerator": "SCSI", "hardware_ids": None})
    out["install_v6_installed_broken_disk"] = broken_disk

    faults = {
        "install_v6_fault_update": (v6, fault("UpdateDriverForPlugAndPlayDevicesA", 5,
                                              target="ROOT\\tevmpdsm")),
        "install_v6_fault_register": (v6, fault("SetupDiCallClassInstaller", "0xE0000219",
                                                method="DIF_REGISTERDEVICE")),
        "install_v6_fault_inf_class": (v6, fault("SetupDiGetINFClassA", 2)),
        "install_v6_fault_restart": (v6, fault("SetupDiCallClassInstaller", "0xE000020B",
                                               method="DIF_PROPERTYCHANGE")),
        "install_v5_fault_bus": (v5, fault("UpdateDriverForPlugAndPlayDevicesA", 5,
                                           target="Detected\\MPIO")),
        "install_v5_fault_copy_oem": (v5, fault("SetupCopyOEMInfA", 5, target=PACKAGE_DIR
                                                + "\\mpdev.inf")),
        "install_v5_no_more_items": (v5, fault("UpdateDriverForPlugAndPlayDevicesA", 259,
                                               target="MPIODisk")),
        "install_v5_fault_mark": (v5, fault("SetupDiSetDeviceRegistryPropertyA", 5,
                                            method="SPDRP_CONFIGFLAGS")),
        "install_v6_installed_fault_remove": (v6_done, fault("SetupDiCallClassInstaller", 5,
                                                             method="DIF_REMOVE")),
        "install_v6_installed_fault_section": (v6_done, fault("SetupInstallFromInfSectionA", 5,
                                                              target="DefaultUninstall")),
        "install_v6_installed_fault_queue": (v6_done, fault("SetupInitDefaultQueueCallbackEx", 8)),
        "install_v6_installed_fault_list": (v6_done, fault(
            "RegOpenKeyExA", 5, target="HKLM\\SYSTEM\\CurrentControlSet\\Control\\MPDEV")),
        "install_v5_installed_fault_list": (v5_done, fault(
            "RegOpenKeyExA", 5, target="HKLM\\SYSTEM\\CurrentControlSet\\Control\\MPDEV")),
        "install_v5_installed_fault_bus_remove": (v5_done, fault(
            "SetupDiCallClassInstaller", 5, method="DIF_REMOVE",
            target="ROOT\\MPIO\\0000")),
    }
    for name, (base, f) in faults.items():
        out[name] = with_faults(base, f)

    for name, doc in out.items():
        (FIXTURES / f"{name}.json").write_text(json.dumps(doc, indent=1) + "\n")
    print(f"wrote {len(out)} machine files")


if __name__ == "__main__":
    main()
