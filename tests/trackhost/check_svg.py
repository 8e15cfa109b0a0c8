"""Reads an SVG picture of trackhost back as XML and checks what it shows:
a path in the top view and one per coordinate for every expected
device/id, each with at least two points, and a label per id."""
import sys
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
path, expected = sys.argv[1], sys.argv[2].split(",")
root = ET.parse(path).getroot()
assert root.tag == NS + "svg", root.tag
paths = {p.get("id"): p.get("d") for p in root.iter(NS + "path")}
labels = {t.text for t in root.iter(NS + "text") if t.get("class") == "label"}
problems = []
for pair in expected:
    device, ident = pair.split("/")
    for view in ("top", "x", "y", "z"):
        d = paths.get(f"{view}-{device}-{ident}")
        if d is None:
            problems.append(f"no {view} path for {pair}")
        elif d.count("L") < 1 or not d.startswith("M"):
            problems.append(f"{view} path of {pair} has fewer than two points: {d}")
    if f"{device} id {ident}" not in labels:
        problems.append(f"no label for {pair}")
if len(paths) != 4 * len(expected):
    problems.append(f"{len(paths)} paths, expected {4 * len(expected)}: {sorted(paths)}")
if problems:
    sys.exit("\n".join(problems))
print(f"{len(paths)} paths and {len(labels)} labels")
