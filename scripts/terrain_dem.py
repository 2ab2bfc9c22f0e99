# Writes a SIDE x SIDE GeoTIFF DEM resampled (cubic) from matplotlib's sample
# land-and-sea DEM topobathy.npz, north up, on a metric grid, for the
# real-terrain benchmark.
#
#   python3 terrain_dem.py SIDE OUT.tif
import sys
import warnings

import matplotlib.cbook as cbook
import numpy as np
from osgeo import gdal, osr
from scipy import ndimage

warnings.simplefilter("ignore")
gdal.UseExceptions()
side, out = int(sys.argv[1]), sys.argv[2]
with np.load(cbook.get_sample_data("topobathy.npz", asfileobj=False)) as d:
    topo, lat = d["topo"].astype(np.float64), d["latitude"]
if lat[0] < lat[-1]:
    topo = topo[::-1]
dem = ndimage.zoom(topo, (side / topo.shape[0], side / topo.shape[1]), order=3)[:side, :side]
ds = gdal.GetDriverByName("GTiff").Create(out, side, side, 1, gdal.GDT_Float32)
# About 300 km a side whatever the size, in UTM zone 10 where the data lie.
cell = 300000.0 / side
ds.SetGeoTransform((400000.0, cell, 0.0, 5540000.0, 0.0, -cell))
srs = osr.SpatialReference()
srs.ImportFromEPSG(32610)
ds.SetProjection(srs.ExportToWkt())
ds.GetRasterBand(1).WriteArray(dem.astype(np.float32))
ds = None
