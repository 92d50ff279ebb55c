#!/usr/bin/env python3
"""Prepares the sample road network for import.

Usage: sample_prep.py large-network.json split.geojson unsplit.geojson

OSM ways meet at interior vertices, but an import joins only exact end
points. Each LineString is therefore cut at every interior vertex that
another way shares; each piece gets the text id "<osm_id>#k" (k = 1, 2, ...
along the way). Polygons (areas) stay whole; ogr2ogr turns them into closed
rings. Both files carry osm_id, link_id, highway, name, oneway, maxspeed,
bridge, tunnel and an integer layer.
"""
import json
import sys

FIELDS = ('highway', 'name', 'oneway', 'maxspeed', 'bridge', 'tunnel')


def props(p, osm_id, k):
    out = {'osm_id': osm_id, 'link_id': '%s#%d' % (osm_id, k)}
    for f in FIELDS:
        out[f] = p.get(f)
    try:
        out['layer'] = int(p.get('layer'))
    except (TypeError, ValueError):
        out['layer'] = None
    return out


def main():
    src, split_out, unsplit_out = sys.argv[1:4]
    features = json.load(open(src, encoding='utf-8'))['features']
    # Ways touching each vertex (exact coordinates).
    users = {}
    for i, f in enumerate(features):
        g = f['geometry']
        if g['type'] != 'LineString':
            continue
        for c in g['coordinates']:
            users.setdefault(tuple(c), set()).add(i)
    split, unsplit = [], []
    for i, f in enumerate(features):
        g, p = f['geometry'], f['properties']
        osm_id = p.get('@id', '').split('/')[-1]
        unsplit.append({'type': 'Feature', 'properties': props(p, osm_id, 1), 'geometry': g})
        if g['type'] != 'LineString':
            split.append(unsplit[-1])
            continue
        coords = g['coordinates']
        piece, k = [coords[0]], 1
        for j in range(1, len(coords)):
            piece.append(coords[j])
            if j < len(coords) - 1 and len(users[tuple(coords[j])]) > 1:
                split.append({'type': 'Feature', 'properties': props(p, osm_id, k),
                              'geometry': {'type': 'LineString', 'coordinates': piece}})
                piece, k = [coords[j]], k + 1
        split.append({'type': 'Feature', 'properties': props(p, osm_id, k),
                      'geometry': {'type': 'LineString', 'coordinates': piece}})
    for name, feats in ((split_out, split), (unsplit_out, unsplit)):
        with open(name, 'w', encoding='utf-8') as fh:
            json.dump({'type': 'FeatureCollection', 'features': feats}, fh)


if __name__ == '__main__':
    main()
