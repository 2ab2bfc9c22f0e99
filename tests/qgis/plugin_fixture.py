"""What the plugin's tests share: the programs under test, a temporary QGIS
profile with the packaged plugin installed, GIS files made with GDAL, and
GDAL reads of the rasters to compare."""

import configparser
import os
import subprocess
import tempfile
import types

import numpy
from osgeo import gdal

gdal.UseExceptions()

SOURCE_DIR = os.environ["RF_SOURCE_DIR"]
GIS_TOOL = os.environ["RF_GIS_BINARY"]
INTERACTIVE = os.environ["RF_BINARY"]
QGIS_PROCESS = os.environ.get("RF_QGIS_PROCESS", "qgis_process.bin")
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_vector", "hills_contours.geojson")
PLUGIN = "relief_forge_provider"
# The unzip of QGIS's plugin installer, which "Install from ZIP" runs.
QGIS_UNZIP = "/usr/share/qgis/python/pyplugin_installer/unzip.py"


def qgis_unzip(zip_path, folder):
    module = types.ModuleType("qgis_installer_unzip")
    with open(QGIS_UNZIP, encoding="utf-8") as source:
        exec(compile(source.read(), QGIS_UNZIP, "exec"), module.__dict__)
    module.unzip(zip_path, folder)


class Workspace:
    """A temporary folder holding a QGIS profile folder in which the plugin,
    packaged by scripts/package_qgis_plugin.sh (with the tool inside when
    `bundle`), is installed as QGIS installs a zip, and enabled."""

    def __init__(self, tool=GIS_TOOL, bundle=False):
        self._tmp = tempfile.TemporaryDirectory(prefix="rf_qgis_")
        self.path = self._tmp.name
        self.profiles = self.at("profiles_root")
        profile = os.path.join(self.profiles, "profiles", "default")
        zip_path = self.at("plugin.zip")
        subprocess.run(["bash", os.path.join(SOURCE_DIR, "scripts", "package_qgis_plugin.sh")] +
                       (["--with-tool", GIS_TOOL] if bundle else []) + [zip_path],
                       check=True, stdout=subprocess.DEVNULL)
        qgis_unzip(zip_path, os.path.join(profile, "python", "plugins"))
        self.plugin_dir = os.path.join(profile, "python", "plugins", PLUGIN)
        self.ini = os.path.join(profile, "QGIS", "QGIS3.ini")
        os.makedirs(os.path.dirname(self.ini))
        self.set_tool(tool)

    def at(self, name):
        return os.path.join(self.path, name)

    def set_tool(self, tool):
        """Enables the plugin and sets the provider's tool location ("" for none)."""
        ini = configparser.RawConfigParser()
        ini.optionxform = str
        ini["PythonPlugins"] = {PLUGIN: "true"}
        ini["Processing"] = {"Configuration\\RELIEF_FORGE_GIS": tool}
        with open(self.ini, "w") as f:
            ini.write(f, space_around_delimiters=False)

    def env(self):
        return dict(os.environ, QT_QPA_PLATFORM="offscreen",
                    QGIS_CUSTOM_CONFIG_PATH=self.profiles, PYTHONDONTWRITEBYTECODE="1")

    def close(self):
        self._tmp.cleanup()


def vector_file(path, source=SAMPLE, where=None, driver="GPKG"):
    """Writes the contours of `source` (those passing the SQL `where`) with GDAL."""
    gdal.VectorTranslate(path, source, format=driver, where=where, layerName="contours")
    return path


def tool(args):
    """Runs relief_forge_gis: (status, stdout, stderr)."""
    r = subprocess.run([GIS_TOOL] + args, capture_output=True, text=True)
    return r.returncode, r.stdout, r.stderr


def tool_message(stderr):
    """The tool's error: the last message that names it (the earlier ones are
    notes), without the --help hint."""
    return [l for l in stderr.splitlines() if l.startswith("relief_forge_gis")][-1]


class Raster:
    def __init__(self, path):
        ds = gdal.Open(path)
        band = ds.GetRasterBand(1)
        self.pixels = band.ReadAsArray()
        self.type = band.DataType
        self.nodata = band.GetNoDataValue()
        self.gt = ds.GetGeoTransform()
        self.srs = ds.GetSpatialRef()
        ds = None


def assert_same_raster(test, path, expected_path):
    """The raster at `path` equals the one at `expected_path`: pixels, type,
    nodata, geotransform to the bit, and the CRS."""
    got, want = Raster(path), Raster(expected_path)
    test.assertEqual(got.pixels.shape, want.pixels.shape)
    test.assertTrue(numpy.array_equal(got.pixels, want.pixels), "pixels differ")
    test.assertEqual(gdal.GetDataTypeName(got.type), gdal.GetDataTypeName(want.type))
    test.assertEqual(got.nodata, want.nodata)
    test.assertEqual(got.gt, want.gt)
    test.assertIsNotNone(want.srs)
    test.assertTrue(got.srs is not None and got.srs.IsSame(want.srs), "CRS differ")
    # A DEM with a single value would make the comparison weak.
    test.assertGreater(len(numpy.unique(want.pixels)), 10)
