"""Saves a picture of the Processing dialog of "Contours to DEM" as QGIS shows
it, with the sample's contours open, for the README. Run under Xvfb:
    xvfb-run -s "-screen 0 1280x1024x24" /usr/bin/python3 qgis/dialog_screenshot.py OUT.png
"""

import os
import sys

import qgis.utils
from qgis.core import (QgsApplication, QgsProcessingFeatureSourceDefinition, QgsProject,
                       QgsVectorLayer)
from qgis.gui import QgsMapCanvas
from qgis.PyQt.QtCore import QSize, Qt
from qgis.PyQt.QtGui import QImage

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join("/usr/share/qgis/python/plugins"))
sys.path.insert(0, here)

APP = QgsApplication([], True)
APP.initQgis()


class Interface:
    """What the Processing dialogs ask of QGIS's main window."""

    def __init__(self):
        self.canvas = QgsMapCanvas()

    def mapCanvas(self):
        return self.canvas

    # The main window, the active layer, the browser model...: none here.
    def __getattr__(self, name):
        return lambda *args: None


qgis.utils.iface = Interface()

from processing.core.Processing import Processing  # noqa: E402
from relief_forge_provider.provider import ReliefForgeProvider  # noqa: E402

Processing.initialize()
PROVIDER = ReliefForgeProvider()
QgsApplication.processingRegistry().addProvider(PROVIDER)
from processing.gui.AlgorithmDialog import AlgorithmDialog  # noqa: E402

contours = QgsVectorLayer(os.path.join(here, "..", "data", "sample_vector",
                                       "hills_contours.geojson"), "hills_contours", "ogr")
QgsProject.instance().addMapLayer(contours)
alg = QgsApplication.processingRegistry().createAlgorithmById("relief_forge:contourstodem")
dialog = AlgorithmDialog(alg)
contours.selectByExpression('"ELEV" <= 180')
dialog.setParameters({"INPUT": QgsProcessingFeatureSourceDefinition(contours.id(), True), "CELL_SIZE": 25, "EQUIDISTANCE": 10,
                      "SMOOTHING": 5})
dialog.show()
dialog.resize(QSize(820, 780))
for _ in range(20):
    APP.processEvents()
picture = dialog.grab()
# A palette of 256 colours keeps the file small for the repository.
picture.toImage().convertToFormat(QImage.Format_Indexed8, Qt.AvoidDither).save(sys.argv[1], "PNG", 9)
dialog.close()
QgsProject.instance().clear()
