"""The include-order check fails on a tree that breaks the layers and passes on this one."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402

ROOT = check_includes.ROOT


class IncludeOrder(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="include-order-")
        for folder in check_includes.TIERS:
            src = os.path.join(ROOT, folder)
            if os.path.isdir(src):
                shutil.copytree(src, os.path.join(self.tmp, folder))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def add_line(self, rel, line):
        path = os.path.join(self.tmp, rel)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(line + "\n" + text)

    def test_this_tree_keeps_the_order(self):
        self.assertEqual(check_includes.include_problems(ROOT), [])
        self.assertEqual(check_includes.size_problems(ROOT), [])

    def test_the_copy_keeps_the_order(self):
        self.assertEqual(check_includes.include_problems(self.tmp), [])
        self.assertEqual(check_includes.size_problems(self.tmp), [])

    def test_each_breach_is_named_by_file_line_and_arrow(self):
        # (file, added include, words the report must carry)
        cases = [
            ("core/text.h", '#include "app/app_win.h"', ["core/text.h:1:", "core/", "app/", "pointing up"]),
            ("driver/discovery.h", '#include "monitor/monitor.h"', ["driver/discovery.h:1:", "pointing up"]),
            ("profiles/profile_file.h", '#include "rumble/rumble_block.h"',
             ["profiles/profile_file.h:1:", "same tier"]),
            ("dialogs/information.h", '#include "monitor/battery_log.h"', ["dialogs/information.h:1:", "same tier"]),
            ("app/dispatch.h", '#include "sim/sim_model.h"', ["app/dispatch.h:1:", "sim/"]),
            ("rumble/rumble_text.h", '#include "../app/settings.h"', ["rumble/rumble_text.h:1:", "relative"]),
        ]
        for rel, line, words in cases:
            with self.subTest(rel=rel, line=line):
                self.add_line(rel, line)
                found = check_includes.include_problems(self.tmp)
                self.assertEqual(len(found), 1, found)
                for w in words:
                    self.assertIn(w, found[0])
                # Undo, so each case stands alone.
                path = os.path.join(self.tmp, rel)
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text.split("\n", 1)[1])
        self.assertEqual(check_includes.include_problems(self.tmp), [])

    def test_downward_and_own_folder_includes_pass(self):
        for rel, line in [("app/dispatch.h", '#include "dialogs/dialogs_win.h"'),
                          ("monitor/monitor.h", '#include "profiles/profile_record.h"'),
                          ("sim/sim_model.h", '#include "driver/device_port.h"'),
                          ("core/text.h", '#include "resources/resource.h"'),
                          ("rumble/rumble_text.h", '#include "rumble/rumble_block.h"')]:
            self.add_line(rel, line)
        self.assertEqual(check_includes.include_problems(self.tmp), [])

    def test_the_script_fails_on_a_breach_and_on_a_long_file(self):
        self.add_line("rumble/rumble_block.h", '#include "driver/driver_link.h"')
        with open(os.path.join(self.tmp, "monitor", "long.cpp"), "w") as f:
            f.write("// line\n" * (check_includes.MAX_LINES + 1))
        found = check_includes.include_problems(self.tmp) + check_includes.size_problems(self.tmp)
        self.assertEqual(len(found), 2, found)
        self.assertIn("rumble/rumble_block.h:1:", found[0])
        self.assertIn("monitor/long.cpp: 701 lines", found[1])
        sys.argv = ["check_includes.py", self.tmp]
        self.assertEqual(check_includes.main(), 1)


if __name__ == "__main__":
    unittest.main()
