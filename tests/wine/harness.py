"""The Wine harness: one prefix with the stand-in application installed,
reset for each scenario, and the installer played through the box driver
(or twice at once, or with the desktop shell stopped). scenario_checks.py
checks what a run left; run_scenarios.py is the command line."""
import hashlib
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

from scenario_checks import START_FAILED, TEMP_FILE, ScenarioChecks, show_bytes
from scenarios import LOCALES
from winepe import installation, wine
from winepe.digest import sha256_file
from winepe.installation import APP_DIR, APP_DIR_IN_PREFIX, OLD_DATA, UNINSTALLER_BYTES
from winepe.pe import PeImage
from winepe.wine import win_path

# Where a 64-bit installer puts the application.
NATIVE_APP_DIR = "C:\\Program Files\\Lexomir\\"
NATIVE_APP_DIR_IN_PREFIX = ("drive_c", "Program Files", "Lexomir")
UNINSTALL_KEY = "HKLM\\" + installation.UNINSTALL_KEY
UNINSTALL_STRING = APP_DIR + "unins000.exe"
# Each kind of uninstall entry (Scenario.entry): its UninstallString, the
# value's type, the registry view that holds it, and the application folder
# it names, as Windows and as the prefix hold it.
APP_FOLDER = (APP_DIR, APP_DIR_IN_PREFIX)
ENTRIES = {
    "normal": (UNINSTALL_STRING, "REG_SZ", "/reg:64", APP_FOLDER),
    "wow": (UNINSTALL_STRING, "REG_SZ", "/reg:32", APP_FOLDER),
    "quoted": ('"%s" /x' % UNINSTALL_STRING, "REG_SZ", "/reg:64", APP_FOLDER),
    "expand": ("%SystemDrive%" + UNINSTALL_STRING[2:], "REG_EXPAND_SZ", "/reg:64", APP_FOLDER),
    "expand_pf": ("%ProgramFiles%\\Lexomir\\unins000.exe", "REG_EXPAND_SZ", "/reg:64",
                  (NATIVE_APP_DIR, NATIVE_APP_DIR_IN_PREFIX)),
}
STAGING_DIR = "C:\\lexotest\\"
STAGING_IN_PREFIX = ("drive_c", "lexotest")
# A downloads folder whose name code page 1252 cannot write (a Cyrillic
# user name on a Western system).
CYRILLIC_STAGING_DIR = "C:\\Загрузки\\"
CYRILLIC_STAGING_IN_PREFIX = ("drive_c", "Загрузки")
DOS_STUB_TEXT = b"This program cannot be run in DOS mode"


def read_records(path):
    """The box driver's records (one JSON object a line); none when it wrote no file."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="ascii") as f:
        return [json.loads(line) for line in f if line.strip()]

class ScenarioFailed(Exception):
    pass


class Wine:
    def __init__(self, prefix, xvfb, verbose, dpi=None):
        self.prefix = prefix
        self.xvfb = xvfb
        self.dpi = dpi
        self.verbose = verbose
        self.env = wine.base_env(prefix)

    def run(self, args, timeout=120, env=None, check=True, answered=None):
        """Runs ARGS in the prefix. ANSWERED, where given, tells an outcome
        that is the command's answer from a hiccup of a loaded host (a Wine
        tool that fails to start, seen once in a while): a hiccup is run
        again, and the third fails the scenario with what it printed."""
        e = dict(self.env, **(env or {}))
        if self.verbose:
            print("  $ " + " ".join(args), flush=True)
        for _ in range(3 if answered else 1):
            p = wine.run_logged(args, e, timeout)
            if answered is None or answered(p):
                break
        else:
            raise ScenarioFailed("command failed three times (%d): %s\n%s" % (p.returncode, " ".join(args), p.stdout))
        if check and p.returncode != 0:
            raise ScenarioFailed("command failed (%d): %s\n%s" % (p.returncode, " ".join(args), p.stdout))
        return p

    def popen(self, args, env=None):
        return subprocess.Popen(args, env=dict(self.env, **(env or {})), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def reg(self, *args, check=True, answered=None):
        # In English whatever the host's locale: its messages are read.
        return self.run(wine.tool("reg") + list(args), check=check, env={"LC_ALL": "C.UTF-8"}, answered=answered)

    def stop(self):
        self.run(["wineserver", "-k"], check=False, timeout=60)
        self.run(["wineserver", "-w"], check=False, timeout=60)

    def create_prefix(self):
        wine.new_prefix(self.prefix)
        # The null driver keeps windows and message boxes working without
        # any X server; under Xvfb the normal X11 driver is used.
        self.reg("add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d",
                 "x11" if self.xvfb else "null", "/f")
        # Every program on one desktop with Wine's shell, as on a PC: an
        # elevated installer has the shell start the application.
        self.reg("add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "shell", "/f")
        self.reg("add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "shell", "/d", "1024x768", "/f")
        if self.dpi:
            self.reg("add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                     "/d", str(self.dpi), "/f")
        self.run(wine.tool("winecfg") + ["-v", "win10"])
        self.run(["wineserver", "-w"], timeout=120)


def ensure_locales(workdir):
    """Wine takes the Windows locale from the name in LC_ALL; the matching
    glibc locales keep the Unix side consistent. Missing ones are compiled
    into a private folder when localedef and the locale sources exist."""
    have = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, text=True).stdout.lower().split()
    missing = [name for name, _, _ in LOCALES.values()
               if name.lower().replace("utf-8", "utf8") not in have]
    if not missing:
        return {}, "locales present: " + ", ".join(n for n, _, _ in LOCALES.values())
    if not shutil.which("localedef") or not os.path.isdir("/usr/share/i18n/locales"):
        return {}, ("locales %s not installed and cannot be compiled here; Wine still derives the "
                    "Windows locale from LC_ALL" % ", ".join(missing))
    locpath = os.path.join(workdir, "locales")
    os.makedirs(locpath, exist_ok=True)
    made = []
    for name in missing:
        base = name.split(".")[0]
        p = subprocess.run(["localedef", "-i", base, "-f", "UTF-8", os.path.join(locpath, name)],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if p.returncode in (0, 1) and os.path.isdir(os.path.join(locpath, name)):
            made.append(name)
    if not made:
        return {}, "could not compile locales %s; Wine still derives the Windows locale from LC_ALL" % missing
    return {"LOCPATH": locpath}, "compiled missing locales %s into %s" % (", ".join(made), locpath)


class Runner(ScenarioChecks):
    def __init__(self, opts, workdir):
        self.opts = opts
        self.workdir = workdir
        self.wine = Wine(os.path.join(workdir, "prefix"), opts.in_xvfb, opts.verbose, opts.dpi)
        self.app_dir = os.path.join(self.wine.prefix, *APP_DIR_IN_PREFIX)
        self.app_dir_win = APP_DIR
        self.staging = os.path.join(self.wine.prefix, *STAGING_IN_PREFIX)
        self.cyrillic_staging = os.path.join(self.wine.prefix, *CYRILLIC_STAGING_IN_PREFIX)
        self.log_path = os.path.join(workdir, "standin.log")
        # The stand-in's settings are in every Wine process's environment:
        # an instance the desktop shell starts has the shell's, not the
        # installer's. The log lives outside the application's folder, whose
        # size the installer measures. Every instance starts minimized and
        # inactive: only the installer's restore and SetForegroundWindow
        # bring it forward.
        self.wine.env.update(LEXOMIR_STANDIN_LOG=win_path(self.log_path), LEXOMIR_STANDIN_OPTIONS="--minimized")
        # Box records, logs and screenshots are kept only when asked for
        # (screenshots are the point of --xvfb, so they default to a folder).
        self.artifacts = opts.artifacts or (os.path.abspath("wine-artifacts") if opts.in_xvfb else None)
        self.payload_sha = sha256_file(opts.payload)
        self.old_sha = hashlib.sha256(OLD_DATA).hexdigest()
        with open(opts.installer, "rb") as f:
            self.installer_bytes = f.read()

    # ---- per-scenario state -------------------------------------------------
    def env_for(self, scenario):
        lc_all, _, _ = LOCALES[scenario.locale]
        return {
            "LC_ALL": lc_all,
            "LANG": lc_all,
            # The loader's trace, with process ids: which libraries the
            # installer itself loaded (the box driver loads its own); and
            # Wine's event log, which is its debug channel.
            "WINEDEBUG": "+pid,+loaddll,+eventlog",
        }

    def distorted_copy(self, where):
        """The installer with one byte changed: a letter of the DOS stub's text, which no run executes
        or reads ("stub"), or the last byte the first code section loads, where MinGW's linker ends
        the destructor list ("exit_path")."""
        data, image = bytearray(self.installer_bytes), PeImage(self.installer_bytes)
        if where == "stub":
            off = data.find(DOS_STUB_TEXT, 0x40, image.pe_offset)
            if off < 0:
                raise ScenarioFailed("the installer has no DOS stub text, the one byte no run touches")
            detail = "in the DOS stub's text"
        else:
            s = image.code_sections()[0]
            off = s["rawptr"] + min(s["vsize"], s["rawsize"]) - 1
            detail = "the last loaded byte of section " + s["name"]
        data[off] ^= 0x01
        return bytes(data), "byte at file offset 0x%x changed, %s" % (off, detail)

    def reset(self, sc):
        self.wine.stop()
        for where in (APP_DIR_IN_PREFIX, NATIVE_APP_DIR_IN_PREFIX):
            shutil.rmtree(os.path.join(self.wine.prefix, *where), ignore_errors=True)
        value, kind, view, (self.app_dir_win, in_prefix) = ENTRIES[sc.entry]
        self.app_dir = os.path.join(self.wine.prefix, *in_prefix)
        shutil.rmtree(self.staging, ignore_errors=True)
        shutil.rmtree(self.cyrillic_staging, ignore_errors=True)
        os.makedirs(self.app_dir)
        staging = self.cyrillic_staging if sc.cyrillic_staging else self.staging
        os.makedirs(staging)
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        if sc.app_installed:
            shutil.copyfile(self.opts.standin, os.path.join(self.app_dir, "Lexomir.exe"))
        with open(os.path.join(self.app_dir, "unins000.exe"), "wb") as f:
            f.write(UNINSTALLER_BYTES)
        if sc.old_data:
            with open(os.path.join(self.app_dir, "lxn.cok"), "wb") as f:
                f.write(OLD_DATA)
            if sc.old_data_readonly:  # Wine shows a file without write permission as read-only
                os.chmod(os.path.join(self.app_dir, "lxn.cok"), 0o444)
        if sc.stale_temp:
            with open(os.path.join(self.app_dir, TEMP_FILE), "wb") as f:
                f.write(b"half of an earlier run's data")
            os.chmod(os.path.join(self.app_dir, TEMP_FILE), 0o444)
        detail = ""
        image = self.installer_bytes
        if sc.distort:
            image, detail = self.distorted_copy(sc.distort)
        with open(os.path.join(staging, "LexomirUpdate.exe"), "wb") as f:
            f.write(image)

        for each in ("/reg:64", "/reg:32"):
            self.wine.reg("delete", UNINSTALL_KEY, "/f", each, check=False)
        self.wine.reg("add", UNINSTALL_KEY, "/v", "UninstallString", "/t", kind, "/d", value, "/f", view)
        got = self.query_value("UninstallString", view)
        if got != value:
            raise ScenarioFailed("setup: UninstallString in %s reads back as %r, not %r" % (view, got, value))
        other = "/reg:32" if view == "/reg:64" else "/reg:64"
        if self.query_value("UninstallString", other) is not None:
            raise ScenarioFailed("setup: the uninstall entry also shows in %s" % other)
        return detail

    def query_value(self, name, view):
        """The value, or None where reg says it is not there."""
        p = self.wine.reg("query", UNINSTALL_KEY, "/v", name, view, check=False,
                          answered=lambda p: p.returncode == 0 or "Unable to find" in p.stdout)
        if p.returncode != 0:
            return None
        for line in p.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                if parts[1] == "REG_DWORD":
                    return int(parts[2], 16)
                return parts[2] if len(parts) > 2 else ""
        return None

    def read_log(self):
        if not os.path.exists(self.log_path):
            return []
        events = []
        with open(self.log_path, "rb") as f:
            for raw in f.read().decode("latin-1").splitlines():
                parts = raw.split(" ", 3)
                if len(parts) >= 3:
                    events.append((int(parts[0]), int(parts[1]), parts[2], parts[3] if len(parts) > 3 else ""))
        return events

    def wait_log(self, predicate, seconds):
        deadline = time.time() + seconds
        while time.time() < deadline:
            events = self.read_log()
            if predicate(events):
                return events
            time.sleep(0.1)
        return self.read_log()

    def start_standin(self, env, args, ready_event):
        before = {pid for pid, _, _, _ in self.read_log()}
        proc = self.wine.popen([wine.loader(self.opts.standin), self.app_dir_win + "Lexomir.exe"] + args, env=env)
        events = self.wait_log(lambda ev: any(pid not in before and e == ready_event for pid, _, e, _ in ev), 20)
        pids = {pid for pid, _, e, _ in events if pid not in before and e == ready_event}
        if not pids:
            raise ScenarioFailed("setup: the stand-in (%s) did not report '%s'; log:\n%s"
                                 % (" ".join(args) or "no arguments", ready_event, self.format_log(events)))
        return proc, pids.pop()

    def ensure_shell(self, env):
        """Wine's explorer now and then comes up without serving the shell's
        windows, and stays so for the whole session. A restart needs them, so
        the session is made persistent and kept only once its shell answers."""
        record = os.path.join(self.workdir, "shell.jsonl")
        for session in range(1, 6):
            self.wine.run(["wineserver", "-p"], check=False)
            self.wine.run(self.driver_command(record, "-") + ["--wait-shell", "--",
                                                             "C:\\windows\\system32\\hostname.exe"],
                          env=env, check=False)
            if any(r.get("waited_ms", -1) >= 0 for r in read_records(record)):
                if session > 1:
                    print("    (Wine's shell answered in session %d)" % session, flush=True)
                return
            self.wine.stop()
        raise ScenarioFailed("setup: Wine's desktop shell did not serve its windows in 5 sessions")

    def run_with_shell_stopped(self, sc, env):
        """The installer alone (the box driver would wait too) while this prefix's
        explorer.exe is stopped: it ends in time and records that it gave up on the shell."""
        stopped = wine.signal_programs(self.wine.prefix, "explorer.exe", signal.SIGSTOP)
        try:
            if not stopped:
                raise ScenarioFailed("setup: no explorer.exe of this prefix to stop")
            p = self.wine.run([wine.loader(self.opts.installer), STAGING_DIR + "LexomirUpdate.exe"] + sc.args,
                              timeout=self.opts.timeout, env=env, check=False)
        except subprocess.TimeoutExpired:
            return ["the installer did not end within %d s with the shell stopped" % self.opts.timeout]
        finally:
            wine.signal_programs(self.wine.prefix, "explorer.exe", signal.SIGCONT)
        failures = [] if p.returncode == sc.exit_code else ["exit %d, expected %d" % (p.returncode, sc.exit_code)]
        if "the desktop shell did not answer within 10 s" not in p.stdout:
            failures.append("the support log does not say that the shell did not answer")
        return failures

    def driver_command(self, record, answers):
        """The box driver, writing its records to RECORD and giving ANSWERS
        ("-": none); its other options and the program follow."""
        return [wine.loader(self.opts.boxdriver), win_path(self.opts.boxdriver), "--out", win_path(record),
                "--answers", answers]

    @staticmethod
    def format_log(events):
        return "\n".join("    %d %d %s %s" % e for e in events) or "    (empty)"

    # ---- one scenario ---------------------------------------------------------
    def run_scenario(self, sc):
        failures = []
        env = self.env_for(sc)
        detail = self.reset(sc)
        background = []
        installer_seconds = 0.0
        try:
            running_pid, holder_pid = self.start_background(sc, env, background)
            known_pids = {pid for pid, _, _, _ in self.read_log()}
            if sc.twins:
                failures += self.run_twins(sc, env)
                self.check_size(sc, failures)
                return failures, detail, installer_seconds
            if sc.shell_stopped:
                failures += self.run_with_shell_stopped(sc, env)
                self.check_data(sc, failures)
                self.check_size(sc, failures)
                self.check_app(sc, running_pid, holder_pid, known_pids, failures)
                return failures, detail, installer_seconds
            installer_seconds = self.run_through_driver(sc, env, failures)
            self.check_data(sc, failures)
            self.check_size(sc, failures)
            self.check_app(sc, running_pid, holder_pid, known_pids, failures)
            if sc.restart:
                failures += self.restart_and_check(background)
            if os.path.exists(self.log_path):
                self.keep_artifact(self.log_path, "standin-%s.log" % sc.name)
        finally:
            self.wine.stop()
            for proc in background:
                try:
                    proc.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    proc.kill()
        return failures, detail, installer_seconds

    def start_background(self, sc, env, background):
        """The shell a started application needs (or a scenario stops), and the
        stand-ins the scenario has running or holding lxn.cok (into BACKGROUND):
        their process ids. The shell first: making sure of it may end the session,
        and whatever runs in it."""
        running_pid = holder_pid = None
        if sc.app_started or sc.shell_stopped:
            self.ensure_shell(env)
        if sc.app_running:
            proc, running_pid = self.start_standin(env, [], "ready")
            background.append(proc)
        if sc.holder:
            proc, holder_pid = self.start_standin(env, ["--holder"], "holding")
            background.append(proc)
        return running_pid, holder_pid

    def run_through_driver(self, sc, env, failures):
        """The installer through the box driver, answering the scenario's boxes,
        and the checks of what the driver and Wine's trace saw; its seconds."""
        stage_dir = CYRILLIC_STAGING_DIR if sc.cyrillic_staging else STAGING_DIR
        record_unix = os.path.join(self.workdir, "boxes-%s.jsonl" % sc.name)
        snap_dir = None
        driver = self.driver_command(record_unix, ",".join(b.answer for b in sc.boxes) or "-") + [
            "--timeout", str(self.opts.timeout), "--cwd", stage_dir]
        if self.opts.in_xvfb:
            snap_dir = os.path.join(self.workdir, "snaps", sc.name)
            os.makedirs(snap_dir, exist_ok=True)
            driver += ["--snap-dir", win_path(snap_dir)]
        driver += ["--", stage_dir + "LexomirUpdate.exe"] + sc.args
        started = time.time()
        driver_rc, driver_out = self.run_driver(driver, env, snap_dir, sc)
        installer_seconds = time.time() - started
        records = read_records(record_unix)
        if os.path.exists(record_unix):
            self.keep_artifact(record_unix, os.path.basename(record_unix))

        self.check_driver(sc, records, driver_rc, driver_out, failures)
        # The loader's trace, read once for both checks that go by process.
        loaded = wine.loaded_libraries(driver_out)
        self.check_libraries(sc, loaded, failures)
        self.check_support_log(sc, loaded, driver_out, failures)
        return installer_seconds

    def restart_and_check(self, background):
        """The programs that held lxn.cok end and Wine restarts, making the
        renames registered for the next start: lxn.cok is then the payload
        and no staged file is left beside it."""
        for proc in background:
            proc.kill()
            proc.wait(timeout=30)
        background.clear()
        self.wine.run(wine.tool("wineboot") + ["-r"], timeout=180)
        path = os.path.join(self.app_dir, "lxn.cok")
        got = sha256_file(path) if os.path.isfile(path) else "no file"
        staged = [n for n in os.listdir(self.app_dir) if n.lower().startswith(TEMP_FILE + ".")]
        return (["after the restart, lxn.cok is %s, not the payload" % got] if got != self.payload_sha else []) + \
            (["after the restart, staged files are left: %s" % ", ".join(staged)] if staged else [])

    def run_twins(self, sc, env):
        """Rounds of two installers started at the same moment, each through
        a box driver of its own: both end as the scenario says, with no box,
        and the data and the folder are checked after each round."""
        failures = []
        quiet = dict(env, WINEDEBUG="-all")
        for round_no in range(1, sc.twins + 1):
            with open(os.path.join(self.app_dir, "lxn.cok"), "wb") as f:
                f.write(OLD_DATA)
            runs = []
            for twin in (1, 2):
                record = os.path.join(self.workdir, "boxes-%s-%d-%d.jsonl" % (sc.name, round_no, twin))
                if os.path.exists(record):
                    os.remove(record)
                argv = self.driver_command(record, "-") + ["--timeout", str(self.opts.timeout), "--cwd", STAGING_DIR,
                                                           "--", STAGING_DIR + "LexomirUpdate.exe"] + sc.args
                runs.append((twin, record, self.wine.popen(argv, env=quiet)))
            round_failures = []
            for twin, record, proc in runs:
                try:
                    proc.wait(timeout=self.opts.timeout + 60)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    round_failures.append("run %d: the box driver did not end" % twin)
                    continue
                records = read_records(record)
                boxes = [r for r in records if r["event"] == "box"]
                end = next((r for r in records if r["event"] == "exit"), None)
                if boxes:
                    round_failures.append("run %d showed %d box(es): %s" % (twin, len(boxes), [
                        show_bytes(bytes.fromhex(b["text_hex"])) for b in boxes]))
                if end is None or end["code"] != sc.exit_code:
                    round_failures.append("run %d: exit %s, expected %d" % (
                        twin, "none" if end is None else end["code"], sc.exit_code))
            self.check_data(sc, round_failures)
            failures += ["round %d: %s" % (round_no, f) for f in round_failures]
            print("    round %d of %d: %s" % (round_no, sc.twins, "both exit %d" % sc.exit_code if not round_failures
                                                 else "%d problem(s)" % len(round_failures)), flush=True)
        return failures

    def keep_artifact(self, path, name):
        if self.artifacts:
            os.makedirs(self.artifacts, exist_ok=True)
            shutil.copyfile(path, os.path.join(self.artifacts, name))

    def run_driver(self, argv, env, snap_dir, sc):
        with tempfile.TemporaryFile() as output:
            proc = subprocess.Popen(argv, env=dict(self.wine.env, **env), stdin=subprocess.DEVNULL, stdout=output,
                                    stderr=subprocess.STDOUT)
            deadline = time.time() + self.opts.timeout + 60
            while proc.poll() is None:
                if time.time() > deadline:
                    proc.kill()
                    raise ScenarioFailed("the box driver did not end within %ds" % (self.opts.timeout + 60))
                if snap_dir:
                    self.serve_snapshots(snap_dir, sc)
                time.sleep(0.05)
            output.seek(0)
            out = output.read().decode("utf-8", errors="replace")
        if snap_dir:
            self.serve_snapshots(snap_dir, sc)
        return proc.returncode, out

    def serve_snapshots(self, snap_dir, sc):
        for name in sorted(os.listdir(snap_dir)):
            if not name.endswith(".req"):
                continue
            base = name[:-4]
            png = os.path.join(self.artifacts or snap_dir, "%s-%s.png" % (sc.name, base))
            os.makedirs(os.path.dirname(png), exist_ok=True)
            subprocess.run(["import", "-window", "root", png], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
            os.rename(os.path.join(snap_dir, name), os.path.join(snap_dir, base + ".taken"))
            open(os.path.join(snap_dir, base + ".done"), "w").close()

    def play(self, sc):
        """One scenario, played again once when Wine could not start the installer."""
        for attempt in (1, 2):
            try:
                failures, detail, installer_seconds = self.run_scenario(sc)
            except ScenarioFailed as e:
                failures, detail, installer_seconds = [str(e)], "", 0.0
            except subprocess.TimeoutExpired as e:
                failures, detail, installer_seconds = ["timed out: %s" % e], "", 0.0
            # Wine's CreateProcessW now and then fails with error 1359
            # (internal error) under load before the installer runs at
            # all: that says nothing about the installer, so such a
            # scenario is played once more, from its reset, and says so.
            if attempt == 1 and any(f.startswith(START_FAILED) for f in failures):
                print("RETRY %s: %s" % (sc.name, failures[0].splitlines()[0][:200]), flush=True)
                continue
            return failures, detail, installer_seconds

    # ---- the whole run ------------------------------------------------------------
    def run(self, scenarios):
        locale_env, locale_note = ensure_locales(self.workdir)
        self.wine.env.update(locale_env)
        print(locale_note, flush=True)
        for role in ("installer", "standin", "boxdriver"):
            path = getattr(self.opts, role)
            print("%-9s %s: %s" % (role, os.path.basename(path), wine.how(path)), flush=True)
        ran = "%s, %s" % (os.path.basename(self.opts.installer), wine.how(self.opts.installer))
        t0 = time.time()
        self.wine.create_prefix()
        print("prefix ready in %.1f s: %s" % (time.time() - t0, self.wine.prefix), flush=True)
        failed = 0
        for sc in scenarios:
            t = time.time()
            failures, detail, installer_seconds = self.play(sc)
            took = time.time() - t
            status = "FAIL" if failures else "PASS"
            print("%s %s (%.1f s, installer %.1f s) [%s]%s" % (status, sc.name, took, installer_seconds, ran,
                                                             " - " + detail if detail else ""), flush=True)
            for f in failures:
                print("    " + f.replace("\n", "\n    "), flush=True)
            failed += bool(failures)
        self.wine.stop()
        print("wine scenarios: %d passed, %d failed (%.1f s in all)" % (len(scenarios) - failed, failed,
                                                                       time.time() - t0))
        return 0 if failed == 0 else 1
