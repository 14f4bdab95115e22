"""What a scenario's run must have left, checked: the boxes the box driver
recorded, the libraries and the support log in Wine's trace, the data file,
EstimatedSize and its registry view, and the stand-in application's log."""
import os
import re
import time

from scenarios import LOCALES
from winepe.digest import sha256_file
from winepe.installation import GUI_LIBRARIES

TEMP_FILE = "~lxn.cok"
GUARD_FILE = "~LexomirUpdate.lock"
START_FAILED = "the installer could not be started"

# What Wine labels the buttons with. A box asked for in Russian gets Russian
# labels whatever the locale; otherwise they follow the locale. That makes
# the language identifier of a box visible in an English locale.
BUTTON_LABELS = {
    False: {"yes": "&Yes", "no": "&No", "ok": "OK", "cancel": "Cancel"},
    True: {"yes": "&Да", "no": "&Нет", "ok": "ОК", "cancel": "Отмена"},
}


def cp1251(text):
    return text.encode("cp1251")


CONTROL_ESCAPES = {"\r": "\\r", "\n": "\\n", "\t": "\\t"}


def show_bytes(b):
    """Readable text for a message: CP1251 decoded, control characters escaped."""
    return "".join(CONTROL_ESCAPES.get(c) or (c if c >= " " else "\\x%02x" % ord(c))
                   for c in b.decode("cp1251", errors="replace"))


def describe_difference(what, expected, got):
    """Names the first byte offset at which two texts differ, with context."""
    at = next((i for i, (x, y) in enumerate(zip(expected, got)) if x != y), min(len(expected), len(got)))
    lo = max(0, at - 12)
    return ("%s differs at byte offset %d (expected %d bytes, got %d): expected ...%s... [%s], got ...%s... [%s]"
            % (what, at, len(expected), len(got),
               show_bytes(expected[lo:at + 12]), expected[at:at + 8].hex() or "end",
               show_bytes(got[lo:at + 12]), got[at:at + 8].hex() or "end"))


def folder_size_kib(path, leave_out=None):
    total = 0
    for root, _, files in os.walk(path):
        for name in files:
            if os.path.join(root, name) != leave_out:
                total += os.path.getsize(os.path.join(root, name))
    return total >> 10


class ScenarioChecks:
    """The checks of a run, as the harness's Runner has them: they read its
    app_dir, app_dir_win, artifacts, payload_sha and old_sha, and its
    query_value, read_log, wait_log and format_log."""

    def check_driver(self, sc, records, driver_rc, driver_out, failures):
        header = next((r for r in records if r["event"] == "driver"), None)
        if header is None:
            failures.append("the box driver wrote no record (exit %d):\n%s" % (driver_rc, driver_out))
            return
        _, lcid, acp = LOCALES[sc.locale]
        if (header["lcid"], header["acp"]) != (lcid, acp):
            failures.append("Wine did not take the %s locale: LCID 0x%x, code page %d (wanted 0x%x, %d)"
                            % (sc.locale, header["lcid"], header["acp"], lcid, acp))
        if any(r["event"] == "start-failed" for r in records):
            failures.append(START_FAILED + ": %s" % records)
            return
        boxes = [r for r in records if r["event"] == "box"]
        for i, exp in enumerate(sc.boxes):
            label = "box %d of %d (%s)" % (i + 1, len(sc.boxes), exp.caption)
            if i >= len(boxes):
                failures.append("%s never appeared; expected text: %s" % (label, show_bytes(cp1251(exp.text))))
                continue
            self.check_box(sc, label, exp, boxes[i], acp, failures)
        for got in boxes[len(sc.boxes):]:
            failures.append("unexpected box %d: caption %s, text %s, buttons %s"
                            % (got["index"] + 1, show_bytes(bytes.fromhex(got["caption_hex"])),
                               show_bytes(bytes.fromhex(got["text_hex"])), got["buttons"]))
        timeout = next((r for r in records if r["event"] == "timeout"), None)
        end = next((r for r in records if r["event"] == "exit"), None)
        if timeout:
            failures.append("the installer had not ended after %.0f s (it was terminated)" % timeout["seconds"])
        elif end is None:
            failures.append("the box driver ended without an exit record (exit %d):\n%s" % (driver_rc, driver_out))
        elif end["code"] != sc.exit_code:
            failures.append("exit code %d, expected %d" % (end["code"], sc.exit_code))
        if not failures and driver_rc != 0:
            failures.append("the box driver exited %d although every box matched:\n%s" % (driver_rc, driver_out))

    @staticmethod
    def check_box(sc, label, exp, got, acp, failures):
        """One box the driver recorded against the one the scenario expects."""
        caption = bytes.fromhex(got["caption_hex"])
        text = bytes.fromhex(got["text_hex"])
        # What the user reads is the box's Unicode text. Its ANSI bytes
        # are the program's CP1251 only where the system's code page is
        # 1251; elsewhere Cyrillic reads back as "?".
        for what, want, raw in (("caption", exp.caption, got.get("caption_utf8_hex")),
                                ("text", exp.text, got.get("text_utf8_hex"))):
            shown = bytes.fromhex(raw).decode("utf-8", errors="replace") if raw is not None else None
            if shown is not None and shown != want:
                failures.append("%s %s reads %r, expected %r" % (label, what, shown, want))
        if acp == 1251 and caption != cp1251(exp.caption):
            failures.append(describe_difference(label + " caption", cp1251(exp.caption), caption))
        if acp == 1251 and text != cp1251(exp.text):
            failures.append(describe_difference(label + " text", cp1251(exp.text), text))
        if tuple(got["buttons"]) != exp.buttons:
            failures.append("%s has buttons %s, expected %s" % (label, got["buttons"], list(exp.buttons)))
        else:
            labels = [bytes.fromhex(h).decode("utf-8", errors="replace") for h in got["button_labels_utf8_hex"]]
            russian = exp.russian or sc.locale == "ru"
            want = [BUTTON_LABELS[russian][b] for b in exp.buttons]
            if labels != want:
                failures.append("%s has button labels %s, expected %s (%s)"
                                % (label, labels, want, "asked for in Russian, language 0x19" if exp.russian
                                   else "in the language of the locale"))
        if not got["owner_is_program"]:
            failures.append("%s belongs to process %d, not to the installer" % (label, got["owner_pid"]))
        if got["outcome"] not in ("pressed", "left"):
            failures.append("%s could not be answered '%s' (%s)" % (label, exp.answer, got["outcome"]))

    def check_libraries(self, sc, loaded, failures):
        """The GUI libraries and COM's are delay-loaded: a run that shows
        nothing loads none of them, and a run that shows a box loads user32
        (which shows the trace is read right). Wine runs everything elevated
        and shows no shell window, so a restart is the desktop shell's, through
        COM."""
        installer = [names for names in loaded.values() if names[0] == "lexomirupdate.exe"]
        if len(installer) != 1:
            failures.append("the loader's trace shows %d runs of the installer, not one" % len(installer))
            return
        if self.artifacts:
            # What the installer loaded, in order: the evidence behind this check.
            os.makedirs(self.artifacts, exist_ok=True)
            with open(os.path.join(self.artifacts, "libraries-%s.txt" % sc.name), "w", encoding="ascii") as f:
                f.write("\n".join(installer[0]) + "\n")
        gui = sorted(set(GUI_LIBRARIES).intersection(installer[0]))
        if sc.shows_nothing and gui:
            failures.append("a run that shows nothing loaded %s" % ", ".join(gui))
        if sc.boxes and "user32.dll" not in gui:
            failures.append("a run that shows a box did not load user32.dll (loaded: %s)" % ", ".join(installer[0]))
        if sc.app_started and "ole32.dll" not in gui:
            failures.append("the application was started, but not through the shell (loaded: %s)"
                            % ", ".join(installer[0]))

    EVENT = re.compile(r'^([0-9a-f]+):[0-9a-f]+:(?:trace|warn|err):eventlog:ReportEventW L"(.*)"(\.\.\.)?$', re.M)

    @staticmethod
    def unescape(text):
        """A string as Wine's debug output writes it: backslash escapes, and \\uXXXX or \\xXX for the rest."""
        simple = {"\\": "\\", '"': '"', "r": "\r", "n": "\n", "t": "\t"}

        def one(m):
            code = m.group(1)
            return chr(int(code[1:], 16)) if len(code) > 1 else simple.get(code, code)
        return re.sub(r'\\(u[0-9a-fA-F]{4}|x[0-9a-fA-F]{2}|.)', one, text)

    def check_support_log(self, sc, loaded, trace, failures):
        """Each run appends one record to the Application event log, which
        Wine writes to its debug channel line by line: the record starts
        with the package version and ends with the run's exit code."""
        installer = [pid for pid, names in loaded.items() if "lexomirupdate.exe" in names]
        lines = [self.unescape(text) + (cut or "") for pid, text, cut in self.EVENT.findall(trace)
                 if pid in installer]
        if not lines:
            failures.append("the installer left no record in the event log (Wine's eventlog channel)")
            return
        if not re.fullmatch(r"Lexomir update, package version \d+, \d{4}-\d\d-\d\d \d\d:\d\d:\d\d", lines[0]):
            failures.append("the support log record starts %r" % lines[0])
        if lines[-1] != "exit code %d" % sc.exit_code:
            failures.append("the support log record ends %r, not with exit code %d" % (lines[-1], sc.exit_code))
        if self.artifacts:
            os.makedirs(self.artifacts, exist_ok=True)
            with open(os.path.join(self.artifacts, "eventlog-%s.txt" % sc.name), "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")

    def check_data(self, sc, failures):
        for leftover in (TEMP_FILE, GUARD_FILE):
            if os.path.lexists(os.path.join(self.app_dir, leftover)):
                failures.append("%s was left in the application's folder" % leftover)
        path = os.path.join(self.app_dir, "lxn.cok")
        exists = os.path.isfile(path)
        if sc.data == "absent":
            if exists:
                failures.append("lxn.cok was written (%d bytes) although nothing should be" % os.path.getsize(path))
        elif not exists:
            failures.append("lxn.cok is missing from the application's folder")
        else:
            want = self.payload_sha if sc.data == "payload" else self.old_sha
            got = sha256_file(path)
            if got != want:
                failures.append("lxn.cok SHA-256 %s, expected %s (%s); %d bytes"
                                % (got, want, "the payload" if sc.data == "payload" else "the old file unchanged",
                                   os.path.getsize(path)))

    def check_size(self, sc, failures):
        values = {view: self.query_value("EstimatedSize", "/reg:" + view) for view in ("64", "32")}
        present = {v: n for v, n in values.items() if n is not None}
        if sc.size_view is None:
            if present:
                failures.append("EstimatedSize was written (%s) although the run should end before that"
                                % ", ".join("%s-bit view: %d" % kv for kv in present.items()))
            return
        # A staged file stands in for the lxn.cok it replaces at the restart.
        held = os.path.join(self.app_dir, "lxn.cok") if sc.exit_code == 3010 else None
        want = folder_size_kib(self.app_dir, held)
        view = sc.size_view
        if sc.exit_code in (0, 3010):
            sha = self.query_value("LexomirUpdateSha256", "/reg:" + view)
            if sha != self.payload_sha.upper():
                failures.append("LexomirUpdateSha256 in the %s-bit view is %r, not the payload's" % (view, sha))
        if view not in present:
            failures.append("EstimatedSize missing from the %s-bit view (found: %s)" % (view, present or "nowhere"))
        elif present[view] != want:
            failures.append("EstimatedSize in the %s-bit view is %d KiB; the folder holds %d KiB"
                            % (view, present[view], want))
        for v, n in present.items():
            if v != view:
                failures.append("EstimatedSize also written to the %s-bit view (%d)" % (v, n))

    def check_app(self, sc, running_pid, holder_pid, known_pids, failures):
        if sc.app_started:
            def fronted(ev):
                return any(pid not in known_pids and e == "foreground" for pid, _, e, _ in ev)
            events = self.wait_log(fronted, 5)
        else:
            time.sleep(1.0)  # a wrongly started instance would have logged by now
            events = self.read_log()
        by_pid = {}
        for pid, _, e, d in events:
            by_pid.setdefault(pid, []).append((e, d))
        if running_pid is not None:
            names = [e for e, _ in by_pid.get(running_pid, [])]
            if sc.app_left_running and "quit" in names:
                failures.append("a run that wrote nothing asked the application to quit (its events: %s)" % names)
            if not sc.app_left_running and "quit" not in names:
                failures.append("the running application was not asked to quit (its events: %s)" % names)
        if holder_pid is not None:
            names = [e for e, _ in by_pid.get(holder_pid, [])]
            if "released" in names:
                failures.append("the process holding lxn.cok let go during the run: %s" % names)
        new = [pid for pid in by_pid if pid not in known_pids]
        if not sc.app_started:
            if new:
                failures.append("the application was started although it should not be: %s"
                                % {pid: by_pid[pid] for pid in new})
            return
        if len(new) != 1:
            failures.append("expected exactly one new instance of the application, found %d; log:\n%s"
                            % (len(new), self.format_log(events)))
            return
        names = [e + (" " + d if e == "state" else "") for e, d in by_pid[new[0]]]
        # Started minimized and inactive: restored means somebody showed it
        # with SW_SHOWNORMAL, foreground means it was brought to the front.
        for need in ("ready", "state normal", "foreground"):
            if need not in names:
                failures.append("the started application never reached '%s'; its events: %s" % (need, names))
        if "quit" in names:
            failures.append("the started application quit again: %s" % names)
        started = next((d for e, d in by_pid[new[0]] if e == "started"), "")
        if "cwd=" + self.app_dir_win.rstrip("\\") not in started:
            failures.append("the application was started in another folder: %s" % started)
