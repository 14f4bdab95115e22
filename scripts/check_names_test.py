"""What the naming check flags and what it lets pass."""
import unittest
from pathlib import Path

import check_names


class CheckNames(unittest.TestCase):
    def flagged(self, code):
        return [p.split(": ", 1)[1] for p in check_names.problems_in(Path("x.cpp"), code)]

    def test_cases(self):
        cases = [
            # (code, what is flagged)
            ("constexpr int kRetries = 3;", ["constant kRetries"]),
            ("use(kRetries, k64BitView);", ["constant kRetries", "constant k64BitView"]),  # digits after the k too
            ("constexpr int Retries = 3;", []),
            ("std::uint32_t slot_size = 0;", ["slot_size"]),
            ("const std::vector<int>& item_list{};", ["item_list"]),
            ("static int hash_blocks(const char* data, int block_count) {", ["hash_blocks", "block_count"]),
            ("int slotSize = 0, k2 = 1;", []),
            ("HANDLE handle_ = nullptr;", []),
            ("return std::all_of(a, b, c);", []),
            ("return find_first(x);", []),
            ("values.push_back(x);", []),
            ("auto n = std::min<std::uint64_t>(a, b);", []),
            ("// constexpr int kOld = 1; int old_name = 2;", []),
            ('Show("kName and some_name = 1;");', []),
            ("#define some_macro(x) x", []),
        ]
        for code, expected in cases:
            with self.subTest(code=code):
                found = self.flagged(code)
                self.assertEqual(len(found), len(expected), found)
                for problem, name in zip(found, expected):
                    self.assertIn(name, problem)

    def test_namespaces(self):
        cases = [
            # (file, code, flagged)
            ("messages/support_log.h", "namespace SupportLog {", False),  # its file
            ("progress/progress_window.cpp", "namespace Progress {", False),  # its folder
            ("tests/sim/sim_core.cpp", "namespace Sim {", False),
            ("tests/sim/sim_core.cpp", "namespace sim {", True),  # lower case
            ("tests/pe_builder.h", "namespace pe_test {", True),  # snake_case, and not its file
            ("tests/demo_pc.h", "namespace Demo {", True),  # not named for its room
            ("install/pe_image.cpp", "namespace PeImage {", False),
            ("tools/resource_page.cpp", "namespace PeImage {", True),  # another file's
            ("driver/x.cpp", "namespace {", False),
            ("entry/terminate.cpp", "namespace __gnu_cxx {", False),
            ("tests/x_test.cpp", "using namespace PeBuilder;", False),
            ("tests/x_test.cpp", "// namespace helpers {", False),
        ]
        for path, code, flagged in cases:
            with self.subTest(path=path, code=code):
                found = check_names.problems_in(Path(path), code)
                self.assertEqual(bool(found), flagged, found)


if __name__ == "__main__":
    unittest.main()
