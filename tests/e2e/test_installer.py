"""The installer under Wine, silent, as a person's managed PC or a support script runs it: a
per-user install, both programs started from their Start-menu shortcuts, an upgrade over the
install that keeps the user's settings and log, and a silent uninstall that keeps them too."""

import os
import re
import subprocess

from harness import (CONFIG_CAPTION, LOCATOR_CAPTION, MAIN_CAPTION, SOURCE_DIR, CaseFailure,
                     read_bytes, wait_until, windows_path)


def product_version():
    with open(os.path.join(SOURCE_DIR, "common", "core", "product_version.h")) as f:
        return re.search(r'#define CORVA_VERSION "([^"]+)"', f.read()).group(1)


VERSION = product_version()
# What each installed file says of itself: product name, version and description.
FILE_VERSIONS = {
    "Corvamon.exe": ("Corvamon", VERSION + ".0", "Corvamon - Monitor de UPS"),
    "Corvaset.exe": ("Corvamon", VERSION + ".0", "Corvaset - Configuración de Corvamon"),
    "lumbra.ocx": ("Lumbra", "2.0.0.0", "Boton BRAX (Texto e Imagen tipo Lumbra)"),
}
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvamon"
PROGRAMS = ("Corvamon.exe", "Corvaset.exe", "lumbra.ocx")
REPORT_LINK = "Informe de energía.lnk"


def user_folder(t):
    users = os.path.join(t.wine.env["WINEPREFIX"], "drive_c", "users")
    names = [n for n in os.listdir(users) if n.lower() not in ("public", "default")]
    if not names:
        raise CaseFailure(f"no user folder in {users}")
    return os.path.join(users, names[0])


def wine(t, *args, timeout=120):
    """Runs a Windows command and answers its exit code and output. The output goes through a
    file, not a pipe: a program it starts keeps its handles, and a pipe would stay open."""
    out_path = os.path.join(t.folder, "wine-command.out")
    with open(out_path, "wb") as out:
        result = subprocess.run(["wine", *args], env=t.wine.env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT, timeout=timeout,
                                check=False)
    with open(out_path, "rb") as out:
        return result.returncode, out.read().decode("utf-8", "replace")


def registry(t, value):
    rc, out = wine(t, "reg", "query", UNINSTALL_KEY, "/v", value)
    if rc != 0:
        return None
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == value:
            return parts[2].strip()
    return None


def started_from_shortcut(t, link, caption):
    """Starts a program the way the Start menu does, and answers whether its window came."""
    wine(t, "start", "/unix", link, timeout=60)
    return t.probe.wait_window(caption, 30000, visible=False) is not None


def case_silent_install_start_upgrade_and_uninstall(t):
    setup = os.path.join(t.paths.dist_dir, f"Corvamon-setup-{VERSION}-x64.exe")
    t.require(os.path.isfile(setup), f"no installer at {setup}: run scripts/build first")
    home = user_folder(t)
    folder = os.path.join(home, "AppData", "Local", "Programs", "Corvamon")
    menu = os.path.join(home, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                        "Programs", "Corvamon")
    t.stack.callback(wine, t, "taskkill", "/F", "/IM", "Corvamon.exe")
    t.stack.callback(wine, t, "taskkill", "/F", "/IM", "Corvaset.exe")

    # A silent install, per user: no administrator, a folder the user can write to.
    rc, out = wine(t, setup, "/S")
    t.require(rc == 0, f"the silent install failed ({rc}): {out.strip()}")
    for name in PROGRAMS + ("Desinstalar.exe",):
        t.expect(os.path.isfile(os.path.join(folder, name)), f"{name} not installed in {folder}")
    for name in ("Corvamon.lnk", "Corvaset.lnk", REPORT_LINK):
        t.expect(os.path.isfile(os.path.join(menu, name)), f"no Start-menu shortcut {name}")
    report_link = read_bytes(os.path.join(menu, REPORT_LINK)) or b""
    t.expect("/informe".encode("utf-16-le") in report_link or b"/informe" in report_link,
             f"{REPORT_LINK} does not run Corvamon.exe /informe")
    t.expect_equal(registry(t, "DisplayVersion"), VERSION, "the Apps list's version")
    for name, (product, version, description) in FILE_VERSIONS.items():
        rc, out, err = t.probe.call("version", windows_path(os.path.join(folder, name)))
        t.require(rc == 0, f"no version resource in {name}: {err.strip()}")
        lines = out.splitlines()
        t.expect_equal(lines[0], version, f"{name}'s fixed version")
        t.expect_equal(dict(line.split("=", 1) for line in lines[1:]),
                       {"ProductName": product, "ProductVersion": version,
                        "FileVersion": version, "FileDescription": description},
                       f"{name}'s version texts")
    t.expect_equal(registry(t, "DisplayName"), "Corvamon", "the Apps list's name")

    # Both programs start from their shortcuts (Corvaset looks for the UPS first).
    t.expect(started_from_shortcut(t, os.path.join(menu, "Corvamon.lnk"), MAIN_CAPTION),
             "Corvamon did not start from its shortcut")
    t.expect(started_from_shortcut(t, os.path.join(menu, "Corvaset.lnk"), LOCATOR_CAPTION)
             or t.probe.wait_window(CONFIG_CAPTION, 1000, visible=False) is not None,
             "Corvaset did not start from its shortcut")
    wine(t, "taskkill", "/F", "/IM", "Corvamon.exe")
    wine(t, "taskkill", "/F", "/IM", "Corvaset.exe")
    t.expect(t.probe.wait_gone(MAIN_CAPTION, 10000), "Corvamon still runs after taskkill")

    # The user's settings and log, then an upgrade over the install: both are kept.
    ini = b"[Inicio]\r\nCommPort=3\r\nDataString=&&&10\r\n[Prefs]\r\nBitacora=1\r\n"
    log = b"Inicio de Monitoreo KRD 07/12/2026  10:00:00\r\n\tOperacion Normal\r\n"
    for name, data in (("Corvamon.ini", ini), ("Bitacora.txt", log)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    rc, out = wine(t, setup, "/S")
    t.require(rc == 0, f"the upgrade failed ({rc}): {out.strip()}")
    for name, data in (("Corvamon.ini", ini), ("Bitacora.txt", log)):
        with open(os.path.join(folder, name), "rb") as f:
            t.expect_equal(f.read(), data, f"{name} after the upgrade")

    # A start-up link as Corvaset makes it, then the silent uninstall.
    startup = os.path.join(os.path.dirname(menu), "StartUp")
    os.makedirs(startup, exist_ok=True)
    link = os.path.join(startup, "Corvamon.lnk")
    with open(os.path.join(menu, "Corvamon.lnk"), "rb") as src, open(link, "wb") as dst:
        dst.write(src.read())
    uninstaller = os.path.join(folder, "Desinstalar.exe")
    rc, out = wine(t, uninstaller, "/S")
    if rc != 0 and os.path.exists(uninstaller):
        # The uninstaller starts a copy of itself in the temporary folder and ends; once in a
        # while under load Wine fails that start (as it does the probe's, which tries again).
        # Nothing was removed then, and a second start is what a user would do.
        print(f"  the uninstaller answered {rc} without removing anything; starting it again")
        rc, out = wine(t, uninstaller, "/S")
    t.require(rc == 0, f"the silent uninstall failed ({rc}): {out.strip()}")
    # The uninstaller runs on from a copy of itself, so that it can remove its own file: the
    # exit code above comes before the work is done. The registry key is its last step.
    def leftovers():
        paths = [os.path.join(folder, n) for n in PROGRAMS + ("Desinstalar.exe",)]
        return [p for p in paths + [menu, link] if os.path.exists(p)]
    wait_until(lambda: not leftovers() and registry(t, "DisplayName") is None, 30)
    t.expect(not any(p.startswith(folder) for p in leftovers()),
             f"left in {folder}: {sorted(os.listdir(folder))}")
    t.expect_equal(sorted(os.listdir(folder)), ["Bitacora.txt", "Corvamon.ini"],
                   "what the silent uninstall left")
    t.expect(not os.path.exists(menu), "the Start-menu folder is still there")
    t.expect(not os.path.exists(link), "the start-up link is still there")
    t.expect(registry(t, "DisplayName") is None, "still in the Apps list")
