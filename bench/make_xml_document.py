#!/usr/bin/env python3
"""Writes the XML benchmark's input: about 10 MB of UTF-8 with nested elements, attributes and text that
holds entity and character references. Deterministic, so every run measures the same bytes."""
import random
import sys

def main():
    path = sys.argv[1]
    target = int(sys.argv[2]) if len(sys.argv) > 2 else 10 * 1000 * 1000
    rng = random.Random(1234)
    words = ["alpha", "beta", "gamma", "delta", "scanner", "note", "caf\u00e9", "\u00fcber", "\u65e5\u672c",
             "\u20ac5", "release", "version", "quick", "brown", "fox", "jumps"]
    refs = ["&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#169;", "&#x263A;", "&#160;"]
    parts = ['<?xml version="1.0" encoding="utf-8"?>\n<catalog generator="bench">\n']
    size = 0
    n = 0
    while size < target:
        n += 1
        text = " ".join(rng.choice(words) if rng.random() > 0.15 else rng.choice(refs) for _ in range(rng.randint(3, 14)))
        item = (
            '\t<item id="%d" name="%s %d" price="%d.%02d" flag="%d" note="a &amp; b &lt; c">\n'
            '\t\t<title lang="en">%s</title>\n'
            '\t\t<details><size w="%d" h="%d"/><tags><tag>%s</tag><tag>%s</tag></tags></details>\n'
            '\t\t<description>%s</description>\n'
            '\t</item>\n'
        ) % (n, rng.choice(words), n, rng.randint(1, 999), rng.randint(0, 99), n % 2, text,
             rng.randint(1, 4000), rng.randint(1, 4000), rng.choice(words), rng.choice(words), text + " " + text)
        parts.append(item)
        size += len(item.encode("utf-8"))
    parts.append("</catalog>\n")
    with open(path, "wb") as f:
        f.write("".join(parts).encode("utf-8"))

if __name__ == "__main__":
    main()
