"""The plugin's run of the tool on Cancel and failure: the earlier outputs
stay as they were unless the tool committed, only what the tool left
unfinished is removed, and the message says what was written. Fake tools
stand for a tool killed at each point of its commit; the real one for Cancel
while it writes the preview."""

import importlib.util
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
SOURCE_DIR = os.environ["RF_SOURCE_DIR"]
GIS_TOOL = os.environ["RF_GIS_BINARY"]
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_vector", "hills_contours.geojson")

from qgis.core import QgsProcessingException  # noqa: E402

# The plugin's module itself: the source folder named qgis would hide QGIS's
# package of that name from an import.
_spec = importlib.util.spec_from_file_location(
    "relief_forge_tool", os.path.join(SOURCE_DIR, "qgis", "relief_forge_provider", "tool.py"))
tool = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(tool)

tool.TERMINATE_GRACE = 0.5
STAGES = [("dilation", 1), ("writing", 1), ("preview", 1)]


class Feedback:
    """Cancels once the tool printed `cancel_at` (or at once when "")."""

    def __init__(self, cancel_at=None):
        self.cancel_at = cancel_at
        self.canceled = False
        self.infos = []

    def isCanceled(self):
        return self.canceled

    def pushInfo(self, text):
        self.infos.append(text)
        if self.cancel_at is not None and self.cancel_at in text:
            self.canceled = True

    def pushCommandInfo(self, text):
        pass

    def setProgress(self, value):
        if self.cancel_at == "":
            self.canceled = True


def fake_tool(folder, body):
    """A tool that ignores SIGTERM, does `body` (sh, with $$ its process
    number and A and B the outputs), says it is at work and waits."""
    path = os.path.join(folder, "fake_tool")
    with open(path, "w") as f:
        f.write("#!/bin/sh\ntrap '' TERM\nA=$1\nB=$2\n" + body +
                "\necho 'relief_forge_gis: at work' >&2\nwhile :; do sleep 0.1; done\n")
    os.chmod(path, 0o755)
    return path


class ToolRun(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="rf_tool_run_")
        self.dir = self._tmp.name
        self.a = os.path.join(self.dir, "dem.tif")
        self.b = os.path.join(self.dir, "dem.png")
        for path in (self.a, self.b):
            with open(path, "w") as f:
                f.write("earlier")

    def tearDown(self):
        self._tmp.cleanup()

    def contents(self):
        found = {}
        for name in sorted(os.listdir(self.dir)):
            with open(os.path.join(self.dir, name)) as f:
                found[name] = f.read()
        return found

    def test_killed_tool_left_at_each_point_of_its_commit(self):
        earlier = {"dem.png": "earlier", "dem.tif": "earlier"}
        new = {"dem.png": "new", "dem.tif": "new"}
        cases = [
            ("writing, GDAL's overviews begun",
             'printf new > "$A.$$.tmp"; echo x > "$A.$$.tmp.ovr.tmp"', earlier, None),
            ("both written, nothing renamed",
             'printf new > "$A.$$.tmp"; printf new > "$B.$$.tmp"', earlier, None),
            ("earlier files aside, one renamed in",
             'printf new > "$B.$$.tmp"; mv "$A" "$A.$$.old.tmp"; mv "$B" "$B.$$.old.tmp"; '
             'printf new > "$A"', earlier, None),
            ("all renamed in, earlier files not yet removed",
             'mv "$A" "$A.$$.old.tmp"; mv "$B" "$B.$$.old.tmp"; printf new > "$A"; '
             'printf new > "$B"', new, "Canceled after relief_forge_gis had written"),
        ]
        for name, body, expected, message in cases:
            with self.subTest(name):
                for path in (self.a, self.b):
                    with open(path, "w") as f:
                        f.write("earlier")
                fake = fake_tool(self.dir, body)
                with self.assertRaises(QgsProcessingException) as raised:
                    tool.run([fake, self.a, self.b], Feedback("at work"), STAGES,
                             [self.a, self.b])
                os.remove(fake)
                self.assertEqual(self.contents(), expected)
                self.assertIn(message or "Canceled: no file was written", str(raised.exception))

    def test_cancel_while_the_preview_is_written_keeps_the_earlier_pair(self):
        args = [GIS_TOOL, "build", SAMPLE, "--cell", "3", "-e", "10", "--out", self.a,
                "--preview", self.b]
        with self.assertRaises(QgsProcessingException) as raised:
            tool.run(args, Feedback("writing:"), STAGES, [self.a, self.b])
        self.assertEqual(str(raised.exception), "Canceled: no file was written")
        self.assertEqual(self.contents(), {"dem.png": "earlier", "dem.tif": "earlier"})

    def test_failure_keeps_the_earlier_outputs_and_says_so(self):
        os.remove(self.b)
        os.mkdir(self.b)
        args = [GIS_TOOL, "build", SAMPLE, "--cell", "25", "-e", "10", "--out", self.a,
                "--preview", self.b]
        with self.assertRaises(QgsProcessingException) as raised:
            tool.run(args, Feedback(), STAGES, [self.a, self.b])
        self.assertIn("cannot write {}: it is a folder".format(self.b), str(raised.exception))
        with open(self.a) as f:
            self.assertEqual(f.read(), "earlier")
        self.assertEqual(sorted(os.listdir(self.dir)), ["dem.png", "dem.tif"])


if __name__ == "__main__":
    unittest.main()
