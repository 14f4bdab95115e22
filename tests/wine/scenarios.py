"""The scenarios the Wine harness (run_scenarios.py) plays against the real
installer: for each, the locale, the installer's arguments, the
installation it starts from, the boxes its user must see and the answers
given, the exit code, the data file and the registry view of
EstimatedSize after the run. SMOKE is the set run where the installer can
only run emulated.

Python standard library only.
"""
from dataclasses import dataclass
from typing import List, Optional, Tuple

from winepe.installation import APP_DIR

DATA_FILE = APP_DIR + "lxn.cok"

# What the installer shows, as its user reads it; compared as CP1251 bytes.
EN_TITLE = "Lexomir update"
RU_TITLE = "Обновление программы \"Лексомир\""
EN_QUESTION = "Sound question"
RU_QUESTION = "Резонный вопрос"
VERSIONED_TITLE = "\"Тирвена\" версии 1001"
NO_APP_EN = ("There's no subject of update - the Lexomir installed.\r\n"
             "Please, install the program at first.")
NO_APP_RU = ("Нет предмета обновления - установленной программы \"Лексомир\".\r\n"
             "Пожалуйста, сначала установите программу.")
CONFIRM_EN = "Would you like to setup\r\n" + EN_TITLE + " -\r\n" + VERSIONED_TITLE + "?"
CONFIRM_RU = "Вы действительно хотите установить\r\n" + RU_TITLE + " -\r\n" + VERSIONED_TITLE + "?"
# The question after installing exists in Russian only, under the English title.
START_APP_RU = ("На Ваш компьютер установлено\r\n" + RU_TITLE + " -\r\n" + VERSIONED_TITLE
                + "\r\n\r\nЗапустить программу?")
DISTORTED_EN = "The package file has been distorted!\r\nVirus?"
DISTORTED_RU = "Файл пакета установки искажён!\r\nВирус?"
CANT_INSTALL_EN = "Can't install file " + DATA_FILE

LOCALES = {
    # name: (LC_ALL, expected LCID, expected ANSI code page)
    "en": ("en_US.UTF-8", 0x409, 1252),
    "ru": ("ru_RU.UTF-8", 0x419, 1251),
}


@dataclass
class Box:
    caption: str
    text: str
    buttons: Tuple[str, ...]
    answer: str              # yes, no, ok, cancel or leave
    russian: bool = False    # asked for in Russian (MessageBoxExA, language 0x19)


def error_box(caption, text, russian=False):
    return Box(caption, text, ("ok",), "ok", russian)


@dataclass
class Scenario:
    name: str
    locale: str                    # key of LOCALES
    args: List[str]
    boxes: List[Box]
    exit_code: int
    data: str                      # "payload", "absent" or "unchanged" (the old file stays)
    size_view: Optional[str]       # "64" or "32": the view that must hold EstimatedSize; None: no view
    entry: str = "normal"          # "normal" (64-bit view), "wow" (32-bit view only), "quoted", "expand",
                                   # "expand_pf" (%ProgramFiles%\..., 64-bit view, in the native folder)
    app_installed: bool = True     # Lexomir.exe present in the folder
    app_running: bool = False      # the stand-in is running when the installer starts
    old_data: bool = False         # an older lxn.cok is there before the run
    holder: bool = False           # another process holds lxn.cok open without sharing
    distort: str = ""              # run a copy with one byte changed: "stub" (never run nor read) or "exit_path"
    app_started: bool = False      # a new instance is started, restored and brought to the front
    cyrillic_staging: bool = False  # the installer is run from C:\Загрузки\ instead of C:\lexotest\
    old_data_readonly: bool = False  # the older lxn.cok is read-only (as copied from a CD)
    stale_temp: bool = False       # a read-only ~lxn.cok left by an earlier run is there
    shows_nothing: bool = False    # no box, no window, nothing started: no GUI library may load
    app_left_running: bool = False  # the run ends before writing: the running stand-in is not asked to quit
    twins: int = 0                 # rounds of two installers started together, each checked as the scenario says
    shell_stopped: bool = False    # Wine's explorer is stopped (SIGSTOP) while the installer runs: a hung shell
    restart: bool = False          # then the holder ends and Wine restarts: lxn.cok must be the payload
    note: str = ""


SCENARIOS = [
    Scenario("missing_app_en", "en", [],
             [error_box(EN_TITLE, NO_APP_EN)], 2, "absent", None,
             app_installed=False,
             note="uninstall entry present, Lexomir.exe missing"),
    Scenario("missing_app_ru", "ru", [],
             [error_box(RU_TITLE, NO_APP_RU, russian=True)], 2, "absent", None,
             app_installed=False),
    Scenario("quiet_runapp_running", "en", ["modest", "runapp"],
             [], 0, "payload", "64",
             app_running=True, old_data=True, app_started=True,
             note="asked to quit, replaced, started again and brought to the front"),
    Scenario("interactive_ru_yes_restarted", "ru", [],
             [Box(RU_QUESTION, CONFIRM_RU, ("yes", "no"), "yes", russian=True)], 0, "payload", "64",
             app_running=True, app_started=True,
             note="what the run closed is started again without the final question"),
    Scenario("interactive_en_declined", "en", [],
             [Box(EN_QUESTION, CONFIRM_EN, ("yes", "no"), "no")], 3, "unchanged", None,
             old_data=True),
    Scenario("declined_while_running", "en", [],
             [Box(EN_QUESTION, CONFIRM_EN, ("yes", "no"), "no")], 3, "unchanged", None,
             old_data=True, app_running=True, app_left_running=True,
             note="the application is asked to quit only when the run is about to write"),
    Scenario("quiet_capitals", "en", ["MODEST"],
             [], 0, "payload", "64",
             shows_nothing=True,
             note="the first word is compared without regard to A-Z case"),
    Scenario("runapp_without_modest", "en", ["modestly", "runapp"],
             [Box(EN_QUESTION, CONFIRM_EN, ("yes", "no"), "yes"),
              Box(EN_TITLE, START_APP_RU, ("yes", "no"), "no", russian=True)], 0, "payload", "64",
             note="not quiet, so runapp is ignored and the final No keeps the application closed; "
                  "the final question asks for Russian buttons in an English locale too"),
    Scenario("entry_only_wow6432node", "en", ["modest"],
             [], 0, "payload", "32",
             entry="wow",
             shows_nothing=True,
             note="found there; the size goes to the entry that gave the folder, and no 64-bit entry is made"),
    Scenario("quoted_uninstall_string", "en", ["modest"],
             [], 0, "payload", "64",
             entry="quoted",
             shows_nothing=True,
             note='"C:\\...\\unins000.exe" /x: the folder of the quoted program'),
    Scenario("data_file_held_open", "en", ["modest"],
             [], 3010, "unchanged", "64",
             old_data=True, holder=True, restart=True,
             note="staged beside it; Windows (wineboot -r) puts it in place at the restart"),
    Scenario("distorted_installer", "en", [],
             [error_box(EN_TITLE, DISTORTED_EN)], 7, "absent", None,
             distort="stub"),
    Scenario("distorted_installer_ru", "ru", [],
             [error_box(RU_TITLE, DISTORTED_RU, russian=True)], 7, "absent", None,
             distort="stub", app_running=True, app_left_running=True,
             note="a damaged installer leaves the running application alone"),
    Scenario("distorted_exit_path", "en", [],
             [error_box(EN_TITLE, DISTORTED_EN)], 7, "absent", None,
             distort="exit_path", note="the run ends after its box and record, before the damaged exit"),
    Scenario("cyrillic_downloads_en", "en", [],
             [Box(EN_QUESTION, CONFIRM_EN, ("yes", "no"), "yes"),
              Box(EN_TITLE, START_APP_RU, ("yes", "no"), "no", russian=True)], 0, "payload", "64",
             cyrillic_staging=True,
             note="run from C:\\Загрузки\\ in an English locale: the self-check opens the file by its "
                  "Unicode name, and the Russian words of both questions read as Cyrillic"),
    Scenario("expand_sz_uninstall_string", "en", ["modest"],
             [], 0, "payload", "64",
             entry="expand",
             note="%SystemDrive%\\Program Files (x86)\\... stored as REG_EXPAND_SZ is expanded"),
    Scenario("expand_sz_64bit_program_files", "en", ["modest"],
             [], 0, "payload", "64",
             entry="expand_pf",
             note="%ProgramFiles%\\Lexomir\\unins000.exe as REG_EXPAND_SZ in the 64-bit view is the 64-bit folder "
                  "C:\\Program Files\\Lexomir\\, although this 32-bit process's own %ProgramFiles% is the (x86) one"),
    Scenario("two_quiet_runs_at_once", "en", ["modest"],
             [], 0, "payload", "64",
             old_data=True, twins=5,
             note="the application's updater and the user start it together: one waits for the other"),
    Scenario("read_only_data_and_stale_temp", "en", ["modest", "runapp"],
             [], 0, "payload", "64",
             old_data=True, old_data_readonly=True, stale_temp=True, app_started=True,
             note="Wine replaces read-only files where Windows refuses, so this only shows that they still "
                  "install and that the leftover is cleared; the refusals are proven on the simulated PC. "
                  "The application is started by Wine's desktop shell, through its automation objects"),
    Scenario("quiet_runapp_shell_hung", "en", ["modest", "runapp"],
             [], 0, "payload", "64",
             app_running=True, old_data=True, shell_stopped=True,
             note="Explorer stopped: the restart through its automation objects gives up after 10 s, and the run "
                  "ends within the driver's minute; the shell cannot start the application meanwhile"),
]


# What the real 32-bit installer runs where it can only run emulated (each
# start takes a minute or more): a quiet install with a restart, a quiet
# install that shows nothing (and so loads no GUI library), a box in each
# language, the Russian one being the altered-file check. The whole table
# runs on the 64-bit test build there.
SMOKE = ("quiet_runapp_running", "quiet_capitals", "missing_app_en", "distorted_installer_ru",
         "expand_sz_64bit_program_files")
