"""Reads an SVG picture of trackhost back as XML and checks what it shows:
for every expected device/id a path in the top view and one per coordinate
and angle, each with at least two points, and a label. The simulated
sensors move in a horizontal circle, so each path of the top view must
extend both across and down the page."""
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
VIEWS = ("top", "x", "y", "z", "azimuth", "elevation", "roll")
path, expected = sys.argv[1], sys.argv[2].split(",")
root = ET.parse(path).getroot()
assert root.tag == NS + "svg", root.tag
paths = {p.get("id"): p.get("d") for p in root.iter(NS + "path")}
labels = {t.text for t in root.iter(NS + "text") if t.get("class") == "label"}
problems = []
for pair in expected:
    device, ident = pair.split("/")
    for view in VIEWS:
        d = paths.get(f"{view}-{device}-{ident}")
        if d is None:
            problems.append(f"no {view} path for {pair}")
        elif d.count("L") < 1 or not d.startswith("M"):
            problems.append(f"{view} path of {pair} has fewer than two points: {d}")
        elif view == "top":
            points = [float(v) for v in re.findall(r"-?[0-9.]+", d)]
            xs, ys = points[0::2], points[1::2]
            if max(xs) - min(xs) < 5 or max(ys) - min(ys) < 5:
                problems.append(f"top path of {pair} is flat: {max(xs) - min(xs):.1f} by {max(ys) - min(ys):.1f} px")
    if f"{device} id {ident}" not in labels:
        problems.append(f"no label for {pair}")
if len(paths) != len(VIEWS) * len(expected):
    problems.append(f"{len(paths)} paths, expected {len(VIEWS) * len(expected)}: {sorted(paths)}")
if problems:
    sys.exit("\n".join(problems))
print(f"{len(paths)} paths and {len(labels)} labels")
