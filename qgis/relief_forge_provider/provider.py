"""The Processing provider "relief_forge" and its setting, the tool's location."""

import os

from qgis.core import QgsProcessingProvider
from qgis.PyQt.QtGui import QIcon

from .contours_to_dem import ContoursToDem
from .export_dem import ExportDem
from . import tool


class ReliefForgeProvider(QgsProcessingProvider):
    def id(self):
        return "relief_forge"

    def name(self):
        return "relief_forge"

    def longName(self):
        return "relief_forge: DEM from contour lines"

    def icon(self):
        return QIcon(os.path.join(os.path.dirname(__file__), "icon.svg"))

    def load(self):
        # The setting shows in Processing > Options > Providers; qgis_process
        # reads the same profile setting without the options dialog.
        try:
            from processing.core.ProcessingConfig import ProcessingConfig, Setting
        except ImportError:
            return super().load()
        ProcessingConfig.settingIcons[self.name()] = self.icon()
        ProcessingConfig.addSetting(
            Setting(self.name(), tool.SETTING, "relief_forge_gis program", "",
                    valuetype=Setting.FILE))
        ProcessingConfig.readSettings()
        return super().load()

    def unload(self):
        try:
            from processing.core.ProcessingConfig import ProcessingConfig

            ProcessingConfig.removeSetting(tool.SETTING)
        except (ImportError, KeyError):
            pass

    def loadAlgorithms(self):
        self.addAlgorithm(ContoursToDem())
        self.addAlgorithm(ExportDem())

    def supportedOutputRasterLayerExtensions(self):
        return ["tif"]
