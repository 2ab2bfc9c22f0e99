"""The algorithm "Export DEM to GeoTIFF": relief_forge_gis export on a DEM
that the interactive program made."""

import re

from qgis.core import (
    QgsProcessingAlgorithm,
    QgsProcessingParameterBoolean,
    QgsProcessingParameterDefinition,
    QgsProcessingParameterFile,
    QgsProcessingParameterFileDestination,
    QgsProcessingParameterRasterDestination,
)

from . import tool

EXPORT_STAGES = [("writing", 90), ("preview", 10)]


class ExportDem(QgsProcessingAlgorithm):
    INPUT = "INPUT"
    OUTPUT = "OUTPUT"
    PREVIEW = "PREVIEW"
    PREVIEW_CONTOURS = "PREVIEW_CONTOURS"
    COG = "COG"

    def name(self):
        return "exportdem"

    def displayName(self):
        return "Export DEM to GeoTIFF"

    def shortHelpString(self):
        return (
            "Writes a DEM that the interactive program relief_forge made (NAME_m4.raw or "
            "NAME_m2.raw, with its header NAME_m4.txt) as a GeoTIFF placed on the ground by "
            "the NAME_c4.vrt that 'Contours to DEM' or relief_forge_gis import wrote beside "
            "the contour raster.")

    def createInstance(self):
        return ExportDem()

    def initAlgorithm(self, config=None):
        self.addParameter(QgsProcessingParameterFile(
            self.INPUT, "DEM of relief_forge (NAME_m4.raw, NAME_m2.raw or its header)",
            fileFilter="relief_forge DEM (*_m4.raw *_m2.raw *_m4.txt *_m2.txt)"))
        self.addParameter(QgsProcessingParameterRasterDestination(self.OUTPUT, "GeoTIFF DEM"))
        self.addParameter(QgsProcessingParameterFileDestination(
            self.PREVIEW, "Preview picture", "PNG files (*.png)", optional=True,
            createByDefault=False))
        contours = QgsProcessingParameterBoolean(
            self.PREVIEW_CONTOURS, "Draw the contours on the preview", defaultValue=False)
        contours.setFlags(contours.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
        self.addParameter(contours)
        cog = QgsProcessingParameterBoolean(self.COG, "Cloud Optimized GeoTIFF",
                                            defaultValue=False)
        cog.setFlags(cog.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
        self.addParameter(cog)

    def processAlgorithm(self, parameters, context, feedback):
        program = tool.locate()
        dem = self.parameterAsFile(parameters, self.INPUT, context)
        # The header names the same DEM as its raw file.
        dem = re.sub(r"\.(raw|txt)$", "", dem)
        output = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        preview = self.parameterAsFileOutput(parameters, self.PREVIEW, context)
        args = [program, "export", dem, "--to", output]
        if self.parameterAsBool(parameters, self.COG, context):
            args += ["--format", "COG"]
        stages = EXPORT_STAGES
        if preview:
            args += ["--preview", preview]
            if self.parameterAsBool(parameters, self.PREVIEW_CONTOURS, context):
                args.append("--preview-contours")
        else:
            stages = stages[:1]
        tool.run(args, feedback, stages, [output, preview])
        return {self.OUTPUT: output, self.PREVIEW: preview or None}
