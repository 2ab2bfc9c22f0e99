"""The algorithm "Contours to DEM": relief_forge_gis build on a layer as QGIS
shows it."""

import os
import re

from qgis.core import (
    QgsFeature,
    QgsFields,
    QgsProcessing,
    QgsProcessingAlgorithm,
    QgsProcessingException,
    QgsProcessingFeatureSourceDefinition,
    QgsProcessingParameterBand,
    QgsProcessingParameterBoolean,
    QgsProcessingParameterCrs,
    QgsProcessingParameterDefinition,
    QgsProcessingParameterEnum,
    QgsProcessingParameterExtent,
    QgsProcessingParameterFeatureSource,
    QgsProcessingParameterField,
    QgsProcessingParameterFileDestination,
    QgsProcessingParameterNumber,
    QgsProcessingParameterRasterDestination,
    QgsProcessingParameterRasterLayer,
    QgsProcessingUtils,
    QgsProviderRegistry,
    QgsVectorFileWriter,
)

from . import tool

# Each stage's usual share of a build's time, in the order the tool runs them.
BUILD_STAGES = [("rasterising", 10), ("reading", 10), ("dilation", 45), ("gap filling", 10),
                ("smoothing", 20), ("cutline", 2), ("writing", 10), ("preview", 5)]

# The output types offered, the first the default.
TYPES = ["Float32", "Float64", "Int32", "Int16", "UInt16", "Byte"]
# The oversampling offered: auto, then a factor.
OVERSAMPLING = ["auto"] + [str(n) for n in range(1, 9)]

# The tool's options, as its messages name them, and the parameters that
# stand for them in this dialog; None where the dialog has none.
OPTION_PARAMETERS = [
    ("--attribute", "FIELD"), ("--cell", "CELL_SIZE"), ("-tr", "CELL_SIZE"),
    ("--like", "REFERENCE"), ("--extent", "EXTENT"), ("--tap", "TAP"),
    ("--equidistance", "EQUIDISTANCE"), ("-e", "EQUIDISTANCE"), ("--smoothing", "SMOOTHING"),
    ("-s", "SMOOTHING"), ("--z-scale", "Z_SCALE"), ("--t_srs", "TARGET_CRS"),
    ("--band", "BAND"), ("--oversample", "OVERSAMPLE"), ("--cutline", "MASK"),
    ("-ot", "OUTPUT_TYPE"), ("-of", "OUTPUT"), ("--clip", "CLIP"), ("--preview", "PREVIEW"),
]
# Options of the tool that a QGIS user meets as something else.
OPTION_WORDS = [
    ("--crs", "a CRS for the layer (Layer Properties > Source)"),
    ("--spot-heights", "a layer of lines only"),
    ("--16bit", "a contour raster with empty cells"),
    ("-a_nodata", "the parameter 'Output type'"),
]


class ContoursToDem(QgsProcessingAlgorithm):
    INPUT = "INPUT"
    INPUT_RASTER = "INPUT_RASTER"
    BAND = "BAND"
    FIELD = "FIELD"
    CELL_SIZE = "CELL_SIZE"
    REFERENCE = "REFERENCE"
    EXTENT = "EXTENT"
    EQUIDISTANCE = "EQUIDISTANCE"
    SMOOTHING = "SMOOTHING"
    OUTPUT_TYPE = "OUTPUT_TYPE"
    OVERSAMPLE = "OVERSAMPLE"
    MASK = "MASK"
    CLIP = "CLIP"
    OUTPUT = "OUTPUT"
    PREVIEW = "PREVIEW"
    PREVIEW_CONTOURS = "PREVIEW_CONTOURS"
    TARGET_CRS = "TARGET_CRS"
    TAP = "TAP"
    ALL_TOUCHED = "ALL_TOUCHED"
    Z_SCALE = "Z_SCALE"
    COG = "COG"

    def name(self):
        return "contourstodem"

    def displayName(self):
        return "Contours to DEM"

    def shortHelpString(self):
        return (
            "Builds a DEM from contour lines with the surface of relief_forge and writes it "
            "in the contours' CRS, in the raster format of the output's extension.\n\n"
            "Contours: a line or polygon layer whose elevation is a field (or the Z of the "
            "vertices), as QGIS shows it (memory layers, filters and 'Selected features only' "
            "included), or a contour raster whose nodata pixels lie on no contour.\n"
            "Grid of vector contours: a cell size, or the grid of a reference raster; an "
            "extent limits it.\n"
            "Equidistance: the interval between contour lines; left empty, relief_forge_gis "
            "infers it.\n"
            "Smoothing mesh: 1 for none, else 2 to 33.\n"
            "Output type: Float32 keeps the surface's fractions; Int32 with oversampling 1 "
            "is the interactive program's DEM, whole altitudes truncated toward 0.\n"
            "Oversampling: the contours are burnt on cells that many times finer and the "
            "surface averaged back; auto chooses from how close the contours lie.\n"
            "Mask layer: cells whose centre lies outside its polygons are left empty.\n\n"
            "Runs relief_forge_gis build, whose location is set in Processing > Options > "
            "Providers > relief_forge.")

    def createInstance(self):
        return ContoursToDem()

    def initAlgorithm(self, config=None):
        self.addParameter(QgsProcessingParameterFeatureSource(
            self.INPUT, "Contour lines",
            [QgsProcessing.TypeVectorLine, QgsProcessing.TypeVectorPolygon], optional=True))
        self.addParameter(QgsProcessingParameterRasterLayer(
            self.INPUT_RASTER, "Contour raster (instead of contour lines)", optional=True))
        self.addParameter(QgsProcessingParameterField(
            self.FIELD, "Elevation field (empty: found by its name, else the Z)",
            parentLayerParameterName=self.INPUT, optional=True))
        self.addParameter(self._decimal(QgsProcessingParameterNumber(
            self.CELL_SIZE, "Cell size (ground units)", QgsProcessingParameterNumber.Double,
            optional=True, minValue=0)))
        self.addParameter(QgsProcessingParameterRasterLayer(
            self.REFERENCE, "Reference raster (its grid instead of a cell size)", optional=True))
        self.addParameter(QgsProcessingParameterExtent(
            self.EXTENT, "Extent (empty: the contours')", optional=True))
        self.addParameter(self._decimal(QgsProcessingParameterNumber(
            self.EQUIDISTANCE, "Equidistance (empty: inferred)",
            QgsProcessingParameterNumber.Double, optional=True, minValue=0)))
        self.addParameter(QgsProcessingParameterNumber(
            self.SMOOTHING, "Smoothing mesh (1: none)", QgsProcessingParameterNumber.Integer,
            defaultValue=1, minValue=1, maxValue=33))
        self.addParameter(QgsProcessingParameterEnum(
            self.OUTPUT_TYPE, "Output type", TYPES, defaultValue=0))
        self.addParameter(QgsProcessingParameterEnum(
            self.OVERSAMPLE, "Oversampling (finer cells per output cell side)", OVERSAMPLING,
            defaultValue=0))
        self.addParameter(QgsProcessingParameterFeatureSource(
            self.MASK, "Mask layer (cells outside its polygons left empty)",
            [QgsProcessing.TypeVectorPolygon], optional=True))
        self.addParameter(QgsProcessingParameterBoolean(
            self.CLIP, "Clip to the contours' footprint", defaultValue=False))
        band = QgsProcessingParameterBand(
            self.BAND, "Band of the contour raster", parentLayerParameterName=self.INPUT_RASTER,
            optional=True)
        self.addParameter(self._advanced(band))
        self.addParameter(self._advanced(QgsProcessingParameterCrs(
            self.TARGET_CRS, "CRS of the DEM (empty: the contours')", optional=True)))
        self.addParameter(self._advanced(QgsProcessingParameterBoolean(
            self.TAP, "Align the grid on multiples of the cell size", defaultValue=False)))
        self.addParameter(self._advanced(QgsProcessingParameterBoolean(
            self.ALL_TOUCHED, "Burn every cell a contour touches", defaultValue=False)))
        self.addParameter(self._advanced(QgsProcessingParameterNumber(
            self.Z_SCALE, "Elevation scale for fractional levels (a power of ten; empty: "
            "found)", QgsProcessingParameterNumber.Integer, optional=True, minValue=1)))
        self.addParameter(self._advanced(QgsProcessingParameterBoolean(
            self.COG, "Cloud Optimized GeoTIFF", defaultValue=False)))
        self.addParameter(QgsProcessingParameterRasterDestination(self.OUTPUT, "DEM"))
        self.addParameter(QgsProcessingParameterFileDestination(
            self.PREVIEW, "Preview picture", "PNG files (*.png)", optional=True,
            createByDefault=False))
        self.addParameter(self._advanced(QgsProcessingParameterBoolean(
            self.PREVIEW_CONTOURS, "Draw the contours on the preview", defaultValue=False)))

    @staticmethod
    def _advanced(parameter):
        parameter.setFlags(parameter.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
        return parameter

    @staticmethod
    def _decimal(parameter):
        """`parameter` shown with few decimals: ground units and elevations."""
        parameter.setMetadata({"widget_wrapper": {"decimals": 3}})
        return parameter

    def checkParameterValues(self, parameters, context):
        ok, message = super().checkParameterValues(parameters, context)
        if not ok:
            return ok, message
        vector = self._given(parameters, self.INPUT)
        raster = self._given(parameters, self.INPUT_RASTER)
        if vector == raster:
            return False, "Give the contours either as contour lines or as a contour raster"
        if vector and self._given(parameters, self.CELL_SIZE) and self._given(
                parameters, self.REFERENCE):
            return False, "Give either a cell size or a reference raster, not both"
        output = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        if self.parameterAsBool(parameters, self.COG, context) and not re.search(
                r"\.tiff?$", output or "", re.IGNORECASE):
            return False, "A Cloud Optimized GeoTIFF needs a DEM file ending in .tif"
        return True, ""

    @staticmethod
    def _given(parameters, name):
        value = parameters.get(name)
        return value is not None and value != ""

    def processAlgorithm(self, parameters, context, feedback):
        program = tool.locate()
        output = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        preview = self.parameterAsFileOutput(parameters, self.PREVIEW, context)
        temporary = []
        # Names the tool's messages use that the user knows otherwise.
        self.known_as = {}
        try:
            if self._given(parameters, self.INPUT):
                contours, crs, stages = self._vector_contours(parameters, context, feedback,
                                                              temporary)
            else:
                contours, crs, stages = self._raster_contours(parameters, context)
            target = self.parameterAsCrs(parameters, self.TARGET_CRS, context)
            if self._given(parameters, self.TARGET_CRS) and target.isValid():
                args_crs = ["--t_srs", target.authid() or target.toWkt()]
                crs = target
            else:
                args_crs = []
            args = [program, "build"] + contours + args_crs + self._grid(parameters, context, crs)
            if self._given(parameters, self.Z_SCALE):
                args += ["--z-scale", str(self.parameterAsInt(parameters, self.Z_SCALE, context))]
            if self._given(parameters, self.EQUIDISTANCE):
                args += ["--equidistance", tool.number(
                    self.parameterAsDouble(parameters, self.EQUIDISTANCE, context))]
            mesh = self.parameterAsInt(parameters, self.SMOOTHING, context)
            args += ["--smoothing", str(mesh)]
            if mesh < 2:
                stages = [s for s in stages if s[0] != "smoothing"]
            args += ["-ot", TYPES[self.parameterAsEnum(parameters, self.OUTPUT_TYPE, context)]]
            oversample = self.parameterAsEnum(parameters, self.OVERSAMPLE, context)
            if oversample > 0:
                args += ["--oversample", OVERSAMPLING[oversample]]
            if self._given(parameters, self.MASK):
                args += self._mask(parameters, context, feedback, temporary)
            else:
                stages = [s for s in stages if s[0] != "cutline"]
            if self.parameterAsBool(parameters, self.CLIP, context):
                args.append("--clip")
            if self.parameterAsBool(parameters, self.COG, context):
                args += ["--format", "COG"]
            args += ["--out", output]
            if preview:
                args += ["--preview", preview]
                if self.parameterAsBool(parameters, self.PREVIEW_CONTOURS, context):
                    args.append("--preview-contours")
            else:
                stages = [s for s in stages if s[0] != "preview"]
            try:
                tool.run(args, feedback, stages, [output, preview])
            except QgsProcessingException as e:
                raise QgsProcessingException(self._in_qgis_terms(str(e)))
        finally:
            for path in temporary:
                tool.remove(path)
                # generateTempFilename made a folder for it alone.
                tool.remove_folder(os.path.dirname(path))
        return {self.OUTPUT: output, self.PREVIEW: preview or None}

    def _vector_contours(self, parameters, context, feedback, temporary):
        """The tool's contour arguments for the vector input: its file when the
        tool reads exactly what QGIS shows, else a GeoPackage of those features."""
        field = self.parameterAsString(parameters, self.FIELD, context)
        attribute = ["--attribute", field] if field else []
        stages = [s for s in BUILD_STAGES if s[0] != "reading"]
        layer = self.parameterAsVectorLayer(parameters, self.INPUT, context)
        path = self._plain_file(layer, parameters.get(self.INPUT))
        if path is not None:
            return [path[0]] + (["--layer", path[1]] if path[1] else []) + attribute, \
                layer.crs(), stages
        source = self.parameterAsSource(parameters, self.INPUT, context)
        if source is None:
            raise QgsProcessingException(
                self.invalidSourceError(parameters, self.INPUT))
        gpkg = QgsProcessingUtils.generateTempFilename("contours.gpkg")
        temporary.append(gpkg)
        self._write_gpkg(source, field, gpkg, context, feedback)
        self.known_as[gpkg] = self._layer_name(parameters, self.INPUT, context)
        return [gpkg] + attribute, source.sourceCrs(), stages

    def _layer_name(self, parameters, name, context):
        layer = self.parameterAsVectorLayer(parameters, name, context)
        return layer.name() if layer is not None else \
            self.parameterDefinition(name).description()

    def _mask(self, parameters, context, feedback, temporary):
        """The cutline arguments for the mask layer: its own file, or a
        GeoPackage of the features QGIS shows."""
        layer = self.parameterAsVectorLayer(parameters, self.MASK, context)
        path = self._plain_file(layer, parameters.get(self.MASK))
        if path is not None:
            return ["--cutline", path[0]] + (["-cl", path[1]] if path[1] else [])
        source = self.parameterAsSource(parameters, self.MASK, context)
        if source is None:
            raise QgsProcessingException(self.invalidSourceError(parameters, self.MASK))
        gpkg = QgsProcessingUtils.generateTempFilename("mask.gpkg")
        temporary.append(gpkg)
        self._write_gpkg(source, "", gpkg, context, feedback, "mask")
        self.known_as[gpkg] = self._layer_name(parameters, self.MASK, context)
        return ["--cutline", gpkg]

    def _in_qgis_terms(self, message):
        """The tool's message with the plugin's temporary files named by their
        layers and its options by the parameters of this dialog."""
        for path, layer in self.known_as.items():
            message = re.sub(r"the layer '[^']*' of " + re.escape(path),
                             "the layer '{}'".format(layer), message)
            message = re.sub(r"(the )?(cutline )?" + re.escape(path),
                             "the layer '{}'".format(layer), message)
        for option, name in OPTION_PARAMETERS:
            described = "the parameter '{}'".format(
                self.parameterDefinition(name).description())
            message = re.sub(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", described,
                             message)
        for option, words in OPTION_WORDS:
            message = re.sub(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", words, message)
        return message

    @staticmethod
    def _plain_file(layer, value):
        """(path, layer name) when `layer` is all of a layer of a file, unfiltered,
        without unsaved edits and without a selection asked for; else None."""
        if (layer is None or layer.providerType() != "ogr" or layer.subsetString() or
                layer.isModified()):
            return None
        if isinstance(value, QgsProcessingFeatureSourceDefinition) and (
                value.selectedFeaturesOnly or value.featureLimit != -1):
            return None
        parts = QgsProviderRegistry.instance().decodeUri("ogr", layer.source())
        path = parts.get("path", "")
        extra = {k for k, v in parts.items() if v not in (None, "", -1)} - {"path", "layerName"}
        if extra or not os.path.isfile(path):
            return None
        return path, parts.get("layerName") or ""

    @staticmethod
    def _write_gpkg(source, field, path, context, feedback, layer_name="contours"):
        """Writes the features of `source` (only the elevation field, when one
        is named) to the GeoPackage `path` in the source's CRS."""
        fields = QgsFields()
        for f in source.fields():
            # The GeoPackage keeps its own "fid"; another field of that name is refused.
            if (field and f.name() != field) or (not field and f.name().lower() == "fid"):
                continue
            fields.append(f)
        options = QgsVectorFileWriter.SaveVectorOptions()
        options.driverName = "GPKG"
        options.layerName = layer_name
        writer = QgsVectorFileWriter.create(path, fields, source.wkbType(), source.sourceCrs(),
                                            context.transformContext(), options)
        if writer.hasError() != QgsVectorFileWriter.NoError:
            raise QgsProcessingException(
                "cannot copy the layer for relief_forge_gis: {}".format(writer.errorMessage()))
        names = fields.names()
        for feature in source.getFeatures():
            if feedback.isCanceled():
                break
            copy = QgsFeature(fields)
            copy.setGeometry(feature.geometry())
            copy.setAttributes([feature[n] for n in names])
            writer.addFeature(copy)
        del writer
        if feedback.isCanceled():
            raise QgsProcessingException("Canceled: no file was written")

    def _raster_contours(self, parameters, context):
        layer = self.parameterAsRasterLayer(parameters, self.INPUT_RASTER, context)
        if layer is None:
            raise QgsProcessingException(self.invalidRasterError(parameters, self.INPUT_RASTER))
        args = [layer.source()]
        if self._given(parameters, self.BAND):
            args += ["--band", str(self.parameterAsInt(parameters, self.BAND, context))]
        return args, layer.crs(), [s for s in BUILD_STAGES if s[0] != "rasterising"]

    def _grid(self, parameters, context, crs):
        args = []
        if self._given(parameters, self.CELL_SIZE):
            args += ["--cell", tool.number(
                self.parameterAsDouble(parameters, self.CELL_SIZE, context))]
        if self._given(parameters, self.REFERENCE):
            reference = self.parameterAsRasterLayer(parameters, self.REFERENCE, context)
            if reference is None:
                raise QgsProcessingException(self.invalidRasterError(parameters, self.REFERENCE))
            args += ["--like", reference.source()]
        if self.parameterAsBool(parameters, self.TAP, context):
            args.append("--tap")
        if self.parameterAsBool(parameters, self.ALL_TOUCHED, context):
            args += ["--burn", "all-touched"]
        if self._given(parameters, self.EXTENT):
            box = self.parameterAsExtent(parameters, self.EXTENT, context, crs)
            args += ["--extent"] + [tool.number(v) for v in (
                box.xMinimum(), box.yMinimum(), box.xMaximum(), box.yMaximum())]
        return args
