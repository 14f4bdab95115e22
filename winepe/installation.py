"""The installation of Lexomir that the Wine tests and the benchmark make in
a prefix for the installer to update: its folder with Lexomir.exe and an
uninstaller, the uninstall entry (64-bit view) that names the uninstaller,
and an older data file that the update replaces. Also the libraries that
the installer run against it delay-loads, which a run that shows nothing
must not load.

Python standard library only.
"""
APP_DIR = "C:\\Program Files (x86)\\Lexomir\\"
APP_DIR_IN_PREFIX = ("drive_c", "Program Files (x86)", "Lexomir")
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir"  # under HKLM
UNINSTALLER_BYTES = b"MZ placeholder for the uninstaller\r\n"
OLD_DATA = b"LXNC\x01\xe8\x03" + b"an older data file that the update replaces\r\n" * 50
# The GUI libraries, and COM's, which only a start through the desktop shell needs.
GUI_LIBRARIES = ("user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll")
