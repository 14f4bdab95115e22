"""Which includes the layer check refuses."""
import unittest

import check_layers


class CheckLayers(unittest.TestCase):
    def test_cases(self):
        cases = [
            # (folder of the file, its include, refused)
            ("driver", "install/embedded_file.h", False),
            ("install", "environment/registry.h", False),
            ("osinfo", "environment/registry.h", True),            # up: osinfo defines what it reads
            ("messages", "runtime/text.h", False),
            ("osinfo", "osinfo/console_command.h", False),
            ("osinfo", "environment/process_environment.h", True),  # up
            ("messages", "driver/update_sequence.h", True),         # up, two layers
            ("messages", "osinfo/os_description.h", True),          # sideways
            ("entry", "driver/program_entry.h", False),  # the executable's own files, above all
            ("environment", "install/embedded_file.h", True),
            ("platform", "runtime/exception.h", True),
            ("runtime", "tests/demo_pc.h", True),        # test code
            ("install", "tests/sim/machine.h", True),     # the simulated PC
            ("tests/sim", "platform/win32.h", False),     # the seam it implements
            ("tests/sim", "tests/sim/sim_threads.h", False),
            ("tests/sim", "runtime/text.h", True),        # nothing of the product
            ("tests/sim", "tests/demo_pc.h", True),       # nor of the tests
        ]
        for folder, include, refused in cases:
            with self.subTest(folder=folder, include=include):
                found = check_layers.problems_in(folder, '#include "%s"\n#include <string>\n' % include)
                self.assertEqual(bool(found), refused, found)

    def test_cycles(self):
        texts = {
            "a/x.h": '#include "a/y.h"\n',
            "a/y.h": '#include "z.h"\n#include <string>\n',  # from its own folder
            "a/z.h": '#include "a/x.h"\n',
            "b/p.cpp": '#include "a/x.h"\n#include "b/p.cpp"\n',  # includes itself
            "c/q.h": '#include "a/z.h"\n#include "missing/r.h"\n',
        }
        graph = check_layers.include_graph(texts)
        self.assertEqual(graph["a/y.h"], {"a/z.h"})
        self.assertEqual(check_layers.cycles(graph), [["a/x.h", "a/y.h", "a/z.h"], ["b/p.cpp"]])
        self.assertEqual(check_layers.cycles(check_layers.folder_graph(graph)), [])
        texts["a/z.h"] += '#include "c/q.h"\n'
        folders = check_layers.folder_graph(check_layers.include_graph(texts))
        self.assertEqual(check_layers.cycles(folders), [["a", "c"]])

    def test_python(self):
        texts = {"winepe/__init__.py": "", "winepe/a.py": "from . import b\nimport json\n",
                 "winepe/b.py": "from winepe.a import X\n", "winepe/c.py": "from tools import tool\n",
                 "tools/tool.py": "import sys\nsys.path[0:0] = ['..']\nfrom winepe import c\n",
                 "tools/run.py": "import tool\nimport winepe.c\nsys.path.insert(0, '.')\n"}
        graph = check_layers.python_imports(texts)
        self.assertEqual(graph["tools/run.py"], {"tools/tool.py", "winepe/__init__.py", "winepe/c.py"})
        self.assertEqual(check_layers.cycles(graph), [["tools/tool.py", "winepe/c.py"], ["winepe/a.py", "winepe/b.py"]])
        edit = ": edits sys.path; run it with the root on PYTHONPATH"
        self.assertEqual(check_layers.python_problems(texts, graph), ["tools/run.py:3" + edit, "tools/tool.py:2" + edit,
                         "winepe/c.py: imports tools/tool.py, which stands above winepe/"])


if __name__ == "__main__":
    unittest.main()
