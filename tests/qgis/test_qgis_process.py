"""The plugin as qgis_process runs it: installed from its zip into a temporary
profile, on a GeoPackage made with GDAL, against relief_forge_gis itself."""

import concurrent.futures
import os
import subprocess
import unittest

from plugin_fixture import (GIS_TOOL, QGIS_PROCESS, Workspace, assert_same_raster, tool,
                            tool_message, vector_file)

BUILD = "relief_forge:contourstodem"


class QgisProcess(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ws = Workspace()
        cls.gpkg = vector_file(cls.ws.at("hills.gpkg"))
        # A profile whose tool location leads nowhere.
        cls.nowhere = Workspace(tool=cls.ws.at("no/such/relief_forge_gis"))

    @classmethod
    def tearDownClass(cls):
        for ws in (cls.ws, cls.nowhere):
            ws.close()

    def qgis_process(self, ws, params):
        """Runs `BUILD` under the profile of `ws`: (status, everything printed)."""
        args = [QGIS_PROCESS, "run", BUILD, "--"] + ["{}={}".format(k, v)
                                                      for k, v in params.items()]
        r = subprocess.run(args, capture_output=True, text=True, env=ws.env(),
                           cwd=ws.path, timeout=120)
        return r.returncode, r.stdout + r.stderr

    def test_runs(self):
        """One qgis_process run per case, all at once: the DEM and its preview
        equal the tool's, parameter errors and a missing tool are errors, and
        the tool's error message arrives word for word."""
        ws = self.ws
        grid = {"INPUT": self.gpkg, "CELL_SIZE": 25, "EQUIDISTANCE": 10}
        os.makedirs(ws.at("plugin"))
        os.makedirs(ws.at("tool"))
        # Float32, clipped, on an aligned extent given in QGIS's order, with the
        # equidistance left to the tool.
        newer = {"INPUT": self.gpkg, "CELL_SIZE": 25, "EXTENT": "849000,861000,6542000,6551000",
                 "TAP": "true", "CLIP": "true", "SMOOTHING": 3,
                 "OUTPUT": ws.at("plugin/newer.tif")}
        too_coarse = dict(grid, CELL_SIZE=2500, SMOOTHING=5, OUTPUT=ws.at("coarse.tif"))
        cases = {
            "build": (ws, dict(grid, SMOOTHING=5, OUTPUT=ws.at("plugin/dem.tif"),
                               PREVIEW=ws.at("plugin/dem.png"), PREVIEW_CONTOURS="true")),
            "newer_options": (ws, newer),
            "mesh_out_of_range": (ws, dict(grid, SMOOTHING=40, OUTPUT=ws.at("m.tif"))),
            "tool_error": (ws, too_coarse),
            "tool_not_at_its_setting": (self.nowhere, dict(grid, OUTPUT=ws.at("x.tif"))),
        }
        with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
            runs = {name: pool.submit(self.qgis_process, *case) for name, case in cases.items()}
            status, _, err = tool(["build", self.gpkg, "--cell", "2500", "--equidistance", "10",
                                   "--smoothing", "5", "--out", ws.at("coarse.tif")])
            self.assertEqual(status, 1)
            tool_says = tool_message(err)
            self.assertTrue(tool_says)
            status, _, err = tool(["build", self.gpkg, "--cell", "25", "--equidistance", "10",
                                   "--smoothing", "5", "--out", ws.at("tool/dem.tif"),
                                   "--preview", ws.at("tool/dem.png"), "--preview-contours"])
            self.assertEqual(status, 0, err)
            status, _, err = tool(["build", self.gpkg, "--cell", "25", "--extent", "849000",
                                   "6542000", "861000", "6551000", "--tap", "--float", "--clip",
                                   "--smoothing", "3", "--out", ws.at("tool/newer.tif")])
            self.assertEqual(status, 0, err)
            runs = {name: run.result() for name, run in runs.items()}

        status, out = runs["build"]
        self.assertEqual(status, 0, out)
        assert_same_raster(self, ws.at("plugin/dem.tif"), ws.at("tool/dem.tif"))
        with open(ws.at("plugin/dem.png"), "rb") as a, open(ws.at("tool/dem.png"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assertIn("dilation: pass", out)
        status, out = runs["newer_options"]
        self.assertEqual(status, 0, out)
        assert_same_raster(self, ws.at("plugin/newer.tif"), ws.at("tool/newer.tif"))

        expected = {
            "mesh_out_of_range": "SMOOTHING",
            # Word for word: the whole error is the tool's message.
            "tool_error": "ERROR:\t" + tool_says + "\n",
            "tool_not_at_its_setting": "relief_forge_gis was not found at " +
            self.ws.at("no/such/relief_forge_gis"),
        }
        for name, text in expected.items():
            with self.subTest(name):
                status, out = runs[name]
                self.assertNotEqual(status, 0, out)
                self.assertIn(text, out)
                self.assertFalse(os.path.exists(cases[name][1]["OUTPUT"]))
        self.assertIn("Processing > Options > Providers > relief_forge",
                      runs["tool_not_at_its_setting"][1])
        # A whole GeoPackage layer goes to the tool as its file.
        self.assertIn(GIS_TOOL + " build " + self.gpkg + " ", runs["build"][1])


if __name__ == "__main__":
    unittest.main()
