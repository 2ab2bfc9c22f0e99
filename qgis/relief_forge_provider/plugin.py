"""The plugin: it only adds the Processing provider, also under qgis_process."""

from qgis.core import QgsApplication

from .provider import ReliefForgeProvider


class ReliefForgePlugin:
    def __init__(self, iface):
        self.iface = iface
        self.provider = None

    # qgis_process calls this without a GUI, QGIS through initGui.
    def initProcessing(self):
        if self.provider is None:
            self.provider = ReliefForgeProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
