"""The plugin's algorithms run from PyQGIS, in process, on layers as QGIS holds
them: a memory layer with a selection, a contour raster, a DEM of the
interactive program; the progress they report and Cancel."""

import os
import subprocess
import sys
import unittest

from plugin_fixture import (GIS_TOOL, INTERACTIVE, SAMPLE, Workspace, assert_same_raster, tool,
                            vector_file)

sys.dont_write_bytecode = True
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
WS = Workspace(bundle=True)
sys.path.insert(0, os.path.dirname(WS.plugin_dir))

from osgeo import gdal  # noqa: E402
from qgis.core import (QgsApplication, QgsFeature, QgsFeatureRequest,  # noqa: E402
                       QgsGeometry, QgsProcessingContext, QgsRectangle,
                       QgsProcessingException, QgsProcessingFeatureSourceDefinition,
                       QgsProcessingFeedback,
                       QgsProcessingUtils, QgsProject, QgsRasterLayer, QgsSettings,
                       QgsVectorLayer)
from qgis.PyQt.QtCore import QCoreApplication, QSettings  # noqa: E402

# The settings, and so the tool's location, are those of WS's profile, as in QGIS.
PROFILE = os.path.join(WS.profiles, "profiles", "default")
QCoreApplication.setOrganizationName("QGIS")
QCoreApplication.setApplicationName("QGIS3")
QSettings.setDefaultFormat(QSettings.IniFormat)
QSettings.setPath(QSettings.IniFormat, QSettings.UserScope, PROFILE)
APP = QgsApplication([], False, PROFILE)
APP.initQgis()

from relief_forge_provider import tool as plugin_tool  # noqa: E402
from relief_forge_provider.provider import ReliefForgeProvider  # noqa: E402

PROVIDER = ReliefForgeProvider()
QgsApplication.processingRegistry().addProvider(PROVIDER)


class Recorder(QgsProcessingFeedback):
    """Keeps what an algorithm reports; cancels once the progress passes
    `cancel_above`."""

    def __init__(self, cancel_above=None):
        super().__init__()
        self.cancel_above = cancel_above
        self.percents = []
        self.errors = []
        self.infos = []
        self.progressChanged.connect(self.on_progress)

    def on_progress(self, percent):
        self.percents.append(percent)
        if self.cancel_above is not None and percent > self.cancel_above:
            self.cancel()

    def reportError(self, error, fatalError=False):
        self.errors.append(error)

    def pushInfo(self, info):
        self.infos.append(info)


def run(alg_id, params, feedback=None):
    feedback = feedback or Recorder()
    context = QgsProcessingContext()
    context.setProject(QgsProject.instance())
    alg = QgsApplication.processingRegistry().createAlgorithmById(alg_id)
    results, ok = alg.run(params, context, feedback)
    return ok, results, feedback


def files_under(folder):
    return [os.path.join(d, f) for d, _, names in os.walk(folder) for f in names]


class InProcess(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.memory = QgsVectorLayer(SAMPLE, "hills", "ogr").materialize(QgsFeatureRequest())
        QgsProject.instance().addMapLayer(cls.memory)

    def setUp(self):
        self.memory.removeSelection()

    def test_layers_are_built_as_shown(self):
        """A memory layer with a selection, a file layer with a filter and one
        with unsaved edits are built from the features QGIS shows: as the tool
        builds a GeoPackage of just those."""
        gpkg = vector_file(WS.at("selected.gpkg"), where="ELEV <= 180")
        status, _, err = tool(["build", gpkg, "--cell", "25", "--equidistance", "10",
                               "--smoothing", "3", "--out", WS.at("selected.tif")])
        self.assertEqual(status, 0, err)
        self.memory.selectByExpression('"ELEV" <= 180')
        self.assertTrue(0 < self.memory.selectedFeatureCount() < self.memory.featureCount())
        filtered = QgsVectorLayer(vector_file(WS.at("all.gpkg")) + "|layername=contours",
                                  "filtered", "ogr")
        self.assertTrue(filtered.setSubsetString('"ELEV" <= 180'))
        edited = QgsVectorLayer(vector_file(WS.at("edited.gpkg")) + "|layername=contours",
                                "edited", "ogr")
        edited.startEditing()
        edited.selectByExpression('"ELEV" > 180')
        self.assertTrue(edited.deleteSelectedFeatures())
        QgsProject.instance().addMapLayers([filtered, edited])
        for name, layer in (
                ("selection", QgsProcessingFeatureSourceDefinition(self.memory.id(), True)),
                ("filter", filtered.id()), ("unsaved_edits", edited.id())):
            with self.subTest(name):
                out = WS.at(name + ".tif")
                ok, results, fb = run("relief_forge:contourstodem", {
                    "INPUT": layer, "CELL_SIZE": 25, "EQUIDISTANCE": 10, "SMOOTHING": 3,
                    "OUTPUT": out})
                self.assertTrue(ok, fb.errors)
                self.assertEqual(results["OUTPUT"], out)
                assert_same_raster(self, out, WS.at("selected.tif"))
                # The bar moves forward only, stopping at least at the end of
                # each of the four stages before the GeoTIFF, however the
                # tool's lines arrive.
                self.assertEqual(fb.percents, sorted(fb.percents))
                self.assertGreaterEqual(len({p for p in fb.percents if 0 < p < 100}), 4)
                self.assertEqual(fb.percents[-1], 100)
                self.assertTrue([i for i in fb.infos if i.startswith("dilation: pass ")])

    def test_contour_raster_and_export_of_the_interactive_dem(self):
        """A contour raster from the tool's import, as a QGIS raster layer; and
        the DEM the interactive program builds from it, exported: both equal
        the tool's build."""
        maps = WS.at("home/images/maps")
        gpkg = vector_file(WS.at("hills.gpkg"))
        for args in (["import", gpkg, "--cell", "25", "--out", maps + "/hills"],
                     ["build", gpkg, "--cell", "25", "-e", "10", "-s", "5", "--out",
                      WS.at("built.tif")],
                     ["build", gpkg, "--cell", "25", "-e", "10", "-s", "5", "-ot", "Int32",
                      "--oversample", "1", "--out", WS.at("built_int32.tif")]):
            status, _, err = tool(args)
            self.assertEqual(status, 0, err)
        raster = QgsRasterLayer(maps + "/hills_c4.vrt", "contour raster")
        self.assertTrue(raster.isValid())
        ok, _, fb = run("relief_forge:contourstodem", {
            "INPUT_RASTER": raster, "EQUIDISTANCE": 10, "SMOOTHING": 5,
            "OUTPUT": WS.at("from_raster.tif")})
        self.assertTrue(ok, fb.errors)
        assert_same_raster(self, WS.at("from_raster.tif"), WS.at("built.tif"))

        dialogue = subprocess.run([INTERACTIVE], input="maps\nhills\n1\n0\n10\n5\n", text=True,
                                  capture_output=True, env=dict(os.environ, HOME=WS.at("home")))
        self.assertEqual(dialogue.returncode, 0, dialogue.stdout + dialogue.stderr)
        ok, _, fb = run("relief_forge:exportdem", {"INPUT": maps + "/hills_m4.txt",
                                                   "OUTPUT": WS.at("exported.tif"),
                                                   "PREVIEW": WS.at("exported.png")})
        self.assertTrue(ok, fb.errors)
        assert_same_raster(self, WS.at("exported.tif"), WS.at("built_int32.tif"))
        self.assertTrue(os.path.getsize(WS.at("exported.png")) > 0)

    def test_tool_found_at_its_setting_else_beside_the_plugin_else_on_path(self):
        bundled = os.path.join(WS.plugin_dir, "relief_forge_gis")
        self.assertTrue(os.path.isfile(bundled))
        settings = QgsSettings()
        path = os.environ["PATH"]
        try:
            self.assertEqual(plugin_tool.locate(), GIS_TOOL)
            settings.setValue(plugin_tool.SETTING_KEY, "")
            # Installed from the zip without its executable bit, and given it back.
            self.assertEqual(plugin_tool.locate(), bundled)
            self.assertTrue(os.access(bundled, os.X_OK))
            os.rename(bundled, bundled + ".away")
            os.environ["PATH"] = os.path.dirname(GIS_TOOL) + os.pathsep + "/usr/bin:/bin"
            self.assertEqual(plugin_tool.locate(), GIS_TOOL)
            os.environ["PATH"] = "/usr/bin:/bin"
            with self.assertRaises(QgsProcessingException) as nowhere:
                plugin_tool.locate()
            self.assertIn("relief_forge_gis was not found beside the plugin nor on PATH",
                          str(nowhere.exception))
            self.assertIn("Processing > Options > Providers > relief_forge",
                          str(nowhere.exception))
        finally:
            os.environ["PATH"] = path
            settings.setValue(plugin_tool.SETTING_KEY, GIS_TOOL)
            if os.path.exists(bundled + ".away"):
                os.rename(bundled + ".away", bundled)

    def test_parameters_that_do_not_go_together(self):
        alg = QgsApplication.processingRegistry().createAlgorithmById("relief_forge:contourstodem")
        context = QgsProcessingContext()
        context.setProject(QgsProject.instance())
        out = WS.at("refused.tif")
        picture = QgsRasterLayer(SAMPLE.replace("hills_contours.geojson", "hills_preview.png"))
        self.assertTrue(picture.isValid())
        both = "Give the contours either as contour lines or as a contour raster"
        for name, params, error in (
                ("no_contours", {"CELL_SIZE": 25}, both),
                ("lines_and_raster", {"INPUT": self.memory, "INPUT_RASTER": picture}, both),
                ("cell_and_reference", {"INPUT": self.memory, "CELL_SIZE": 25,
                                        "REFERENCE": picture},
                 "Give either a cell size or a reference raster, not both")):
            with self.subTest(name):
                params["OUTPUT"] = out
                ok, message = alg.checkParameterValues(params, context)
                self.assertFalse(ok)
                self.assertEqual(message, error)

    def test_formats_mask_and_errors_in_qgis_terms(self):
        """The output's extension picks the format; a memory layer of polygons
        masks the DEM; an error names the layer and the parameter, never the
        plugin's temporary file nor a command-line option."""
        mask = QgsVectorLayer("Polygon?crs=" + self.memory.crs().authid(), "parish", "memory")
        box = self.memory.extent()
        half = QgsRectangle(box.xMinimum(), box.yMinimum(), box.center().x(), box.yMaximum())
        feature = QgsFeature()
        feature.setGeometry(QgsGeometry.fromRect(half))
        mask.dataProvider().addFeatures([feature])
        ok, _, fb = run("relief_forge:contourstodem", {
            "INPUT": self.memory, "CELL_SIZE": 25, "EQUIDISTANCE": 10, "OUTPUT_TYPE": 3,
            "OVERSAMPLE": 1, "MASK": mask, "OUTPUT": WS.at("masked.gpkg")})
        self.assertTrue(ok, fb.errors)
        ds = gdal.Open(WS.at("masked.gpkg"))
        self.assertEqual(ds.GetDriver().ShortName, "GPKG")
        band = ds.GetRasterBand(1)
        self.assertEqual(band.DataType, gdal.GDT_Int16)
        pixels = band.ReadAsArray()
        cols = pixels.shape[1]
        nodata = band.GetNoDataValue()
        self.assertEqual(nodata, -32768)
        self.assertTrue((pixels[:, :cols // 2 - 1] != nodata).all())
        self.assertTrue((pixels[:, cols // 2 + 1:] == nodata).all())
        ds = None

        # A field the tool does not know for an elevation, and no Z.
        renamed = QgsVectorLayer("LineString?crs=" + self.memory.crs().authid() +
                                 "&field=hoehe:double", "Höhenlinien", "memory")
        copies = []
        for f in self.memory.getFeatures():
            c = QgsFeature(renamed.fields())
            c.setGeometry(f.geometry())
            c.setAttributes([f["ELEV"]])
            copies.append(c)
        renamed.dataProvider().addFeatures(copies)
        ok, _, fb = run("relief_forge:contourstodem", {
            "INPUT": renamed, "CELL_SIZE": 25, "OUTPUT": WS.at("renamed.tif")})
        self.assertFalse(ok)
        error = fb.errors[-1]
        self.assertIn("the layer 'Höhenlinien'", error)
        self.assertIn("the parameter 'Elevation field", error)
        for word in (".gpkg", "--attribute", "--"):
            self.assertNotIn(word, error)

    def test_cancel_stops_the_tool_and_leaves_nothing(self):
        os.makedirs(WS.at("canceled"))
        # An earlier DEM of the same name outlives the canceled run.
        with open(WS.at("canceled/dem.tif"), "w") as f:
            f.write("earlier")
        temp = QgsProcessingUtils.tempFolder()
        temp_before = files_under(temp)
        # Fine cells, so that the tool is still at work when Cancel comes.
        ok, _, fb = run("relief_forge:contourstodem", {
            "INPUT": self.memory, "CELL_SIZE": 4, "EQUIDISTANCE": 10, "SMOOTHING": 9,
            "OUTPUT": WS.at("canceled/dem.tif"), "PREVIEW": WS.at("canceled/dem.png")},
            Recorder(cancel_above=3))
        self.assertFalse(ok)
        self.assertEqual(fb.errors, ["Canceled: no file was written"])
        # Stopped before the dilation ended, so the tool was stopped, not waited for.
        self.assertFalse([i for i in fb.infos if i.startswith(("dilation", "wrote "))])
        self.assertEqual(os.listdir(WS.at("canceled")), ["dem.tif"])
        with open(WS.at("canceled/dem.tif")) as f:
            self.assertEqual(f.read(), "earlier")
        self.assertEqual(files_under(temp), temp_before)


def tearDownModule():
    QgsProject.instance().clear()
    WS.close()


if __name__ == "__main__":
    unittest.main()
