#!/usr/bin/env python3
"""The example's page generator: make_pages.py <pages> <api> [<depfile> <stamp>].

Writes <api>/<path>.html for every <pages>/<path>.txt, and removes the pages and folders of
<api> that no longer have a text. A page is written only when its content changes, so that an
unchanged page keeps its time and nothing is rebuilt for it. With a depfile and a stamp, it touches
the stamp and names in the depfile, for the stamp, every text and every folder of <pages> it read
(a folder changes when a text is added, removed or renamed in it).
"""
import hashlib
import html
import os
import sys


def write_depfile(depfile, stamp, paths):
    """Names in the depfile, for the stamp, every path read, as Make and Ninja read it after CMake
    has passed it on: each through a symbolic link in <depfile>.links, which both follow. Ninja
    1.11 has no escape for most ASCII punctuation (& ' ; among it), make takes ; for a recipe,
    CMake 3.25 passes # and $ on to Ninja unescaped, and CMake's Makefiles keep every path that a
    depfile ever named: a link whose path is gone is turned to an old empty file instead."""
    links = os.path.abspath(depfile) + ".links"
    gone = os.path.join(links, "gone")
    os.makedirs(links, exist_ok=True)
    if not os.path.exists(gone):
        open(gone, "w").close()
    kept = []
    for path in paths:
        name = hashlib.md5(os.path.abspath(path).encode("utf-8", "surrogateescape")).hexdigest()
        relink(os.path.abspath(path), os.path.join(links, name))
        kept.append(os.path.join(links, name).replace(" ", "\\ "))
    with open(depfile, "w", encoding="utf-8") as out:
        out.write(stamp.replace(" ", "\\ ") + ":")  # as given: the build tool's name for it
        out.write("".join(" \\\n  " + link for link in kept) + "\n\n")
        # An empty rule for each, so that make takes a deleted one as a change.
        out.write("".join(link + ":\n" for link in kept))
    kept = {os.path.basename(link) for link in kept}
    for name in os.listdir(links):
        if name not in kept and name != "gone":
            relink(gone, os.path.join(links, name))


def relink(path, link):
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(path, link)


def main(pages, api, depfile=None, stamp=None):
    wanted = set()
    read = []
    for folder, _, names in os.walk(pages):
        read.append(folder)
        for name in names:
            if not name.endswith(".txt"):
                continue
            relative = os.path.relpath(os.path.join(folder, name), pages)[: -len(".txt")]
            wanted.add(relative + ".html")
            read.append(os.path.join(folder, name))
            with open(os.path.join(folder, name), encoding="utf-8") as text:
                title, _, body = text.read().partition("\n")
            page = (f"<!DOCTYPE html>\n<title>{html.escape(title)}</title>\n"
                    f"<h1>{html.escape(title)}</h1>\n<pre>{html.escape(body)}</pre>\n")
            target = os.path.join(api, relative + ".html")
            try:
                with open(target, encoding="utf-8") as old:
                    if old.read() == page:
                        continue
            except FileNotFoundError:
                os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "w", encoding="utf-8") as new:
                new.write(page)
    os.makedirs(api, exist_ok=True)
    for folder, _, names in os.walk(api, topdown=False):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.relpath(path, api) not in wanted:
                os.remove(path)
        if folder != api and not os.listdir(folder):
            os.rmdir(folder)
    if depfile:
        with open(stamp, "a"):
            os.utime(stamp)
        write_depfile(depfile, stamp, read)

if __name__ == "__main__":
    main(*sys.argv[1:])
