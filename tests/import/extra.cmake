# The import tests share a network-directory decoder and fixture helpers
# (tests/import/support/, linked as the folder's support library), run ogr2ogr
# through the test support and compare geometry with GDAL's own reader.
