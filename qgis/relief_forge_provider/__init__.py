"""relief_forge in QGIS: a Processing provider that runs relief_forge_gis."""


def classFactory(iface):
    from .plugin import ReliefForgePlugin

    return ReliefForgePlugin(iface)
