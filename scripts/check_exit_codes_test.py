"""What the exit-code check finds out of step."""
import unittest

import check_exit_codes

ENUM = "enum class UpdateOutcome : int {\n    Installed = 0,  // x\n    AnotherRunAtWork = 1618,\n};"
TABLE = "| code | meaning |\n|---|---|\n| 0 | installed |\n| 1618 | another run |\n\nafter"


class CheckExitCodes(unittest.TestCase):
    def test_cases(self):
        cases = [
            # (enum, administrators' table, README's table, how many problems)
            (ENUM, TABLE, TABLE.replace("| code", "| exit code"), 0),
            (ENUM.replace("1618", "1619"), TABLE, TABLE, 4),  # 1619 missing twice, 1618 extra twice
            (ENUM, TABLE, TABLE.replace("another run", "another run held it"), 1),
            (ENUM, TABLE.replace("| 0 | installed |\n", ""), TABLE, 1),
            ("", TABLE, TABLE, 5),  # no enum: every row is extra
        ]
        for enum, admin, readme, count in cases:
            with self.subTest(enum=enum, admin=admin, readme=readme):
                self.assertEqual(len(check_exit_codes.problems(enum, admin, readme)), count)


if __name__ == "__main__":
    unittest.main()
