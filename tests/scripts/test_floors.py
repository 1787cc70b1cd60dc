"""The floor check on small trees made for each case."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
import floors  # noqa: E402


class FloorCheck(unittest.TestCase):
    def tree(self, files):
        root = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(root))
        for path, includes in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write("#pragma once\n")
                for inc in includes:
                    f.write(f'#include "{inc}"\n')
                f.write("#include <vector>\n")
        return floors.check(root)

    def test_downward_and_own_includes_hold(self):
        self.assertEqual(self.tree({
            "runtime/Fd.h": [],
            "log/Ext.cpp": ["log/Ext.h", "runtime/Fd.h"],
            "log/Ext.h": [],
            "app/main.cpp": ["log/Ext.h", "hardware/HwMux.h", "protocol/LGCP/LGCP.h"],
            "hardware/HwMux.h": ["hardware/Device.h"],
            "hardware/Device.h": [],
            "hardware/Device.cpp": ["board/StandIn.h", "Device.h"],
            "board/StandIn.h": ["runtime/Fd.h"],
        }), [])

    def test_upward_and_sideways_includes_fail(self):
        faults = self.tree({
            "runtime/MuxDump.cpp": ["log/Ext.h"],
            "log/Ext.h": [],
            "asn1/Coder.cpp": ["runtime/Fd.h"],
            "runtime/Fd.h": [],
            "protocol/Registry.cpp": ["log/Ext.h"],
        })
        self.assertEqual(len(faults), 3, faults)
        self.assertTrue(faults[0].startswith("asn1/Coder.cpp:2: asn1/ includes runtime/Fd.h"))

    def test_board_only_through_the_device_layer(self):
        faults = self.tree({
            "board/Record.h": [],
            "hardware/HwMux.cpp": ["board/Record.h"],
            "hardware/Device.h": ["board/Record.h"],
            "tests/hardware/hwmux_test.cpp": ["board/Record.h", "hardware/HwMux.cpp"],
        })
        self.assertEqual(faults, ["hardware/HwMux.cpp:2: hardware/ includes board/Record.h of board/"])

    def test_nevers_and_directories_that_appear_later(self):
        faults = self.tree({
            "slots/Slot.h": ["hardware/HDLC.h"],
            "hardware/HDLC.h": ["slots/Slot.h"],
            "control/CtrlSrv.cpp": ["hardware/Device.h"],
            "hardware/Device.h": [],
            "monitoring/Mon.cpp": ["signalling/Link.h", "app/Run.h"],
            "signalling/Link.h": [],
            "app/Run.h": [],
            "gadgets/Thing.cpp": [],
        })
        self.assertEqual(sorted(f.split(":")[0] for f in faults),
                         ["control/CtrlSrv.cpp", "gadgets/Thing.cpp", "hardware/HDLC.h",
                          "monitoring/Mon.cpp"], faults)

    def test_angle_includes_of_the_tree_and_library_links_count_too(self):
        root = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(root))
        for d in ("runtime", "log", "hardware"):
            os.makedirs(os.path.join(root, d))
        with open(os.path.join(root, "log", "Ext.h"), "w") as f:
            f.write("#pragma once\n")
        with open(os.path.join(root, "runtime", "Fd.cpp"), "w") as f:
            f.write("#include <log/Ext.h>\n#include <poll.h>\n")
        with open(os.path.join(root, "runtime", "CMakeLists.txt"), "w") as f:
            f.write("add_library(qv_runtime STATIC Fd.cpp)\n"
                    "target_link_libraries(qv_runtime PUBLIC Threads::Threads\n  qv_log)\n")
        with open(os.path.join(root, "hardware", "CMakeLists.txt"), "w") as f:
            f.write("target_link_libraries(qv_device PUBLIC qv_runtime PRIVATE qv_board)\n"
                    "target_link_libraries(qv_hardware PUBLIC qv_device qv_board)\n")
        self.assertEqual(floors.check(root), [
            "runtime/Fd.cpp:1: runtime/ includes log/Ext.h of log/",
            "hardware/CMakeLists.txt:2: qv_hardware links qv_board",
            "runtime/CMakeLists.txt:2: qv_runtime links qv_log",
        ])

    def test_tests_include_what_they_test_and_helpers_beneath(self):
        faults = self.tree({
            "tests/Helper.h": [],
            "tests/control/Util.h": ["Helper.h", "control/Tpkt.h"],
            "control/Tpkt.h": [],
            "tests/control/tpkt_test.cpp": ["Util.h", "control/Util.h", "control/Tpkt.h"],
            "tests/log/log_test.cpp": ["control/Util.h"],
        })
        self.assertEqual(faults, ["tests/log/log_test.cpp:2: tests of log/ includes tests/control/Util.h "
                                  "of tests of control/"])


if __name__ == "__main__":
    unittest.main()
