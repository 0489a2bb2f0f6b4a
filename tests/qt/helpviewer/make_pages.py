#!/usr/bin/env python3
"""The example's page generator: make_pages.py <pages> <api>.

Writes <api>/<path>.html for every <pages>/<path>.txt, and removes the pages and folders of
<api> that no longer have a text. A page is written only when its content changes, so that an
unchanged page keeps its time and nothing is rebuilt for it.
"""
import html
import os
import sys


def main(pages, api):
    wanted = set()
    for folder, _, names in os.walk(pages):
        for name in names:
            if not name.endswith(".txt"):
                continue
            relative = os.path.relpath(os.path.join(folder, name), pages)[: -len(".txt")]
            wanted.add(relative + ".html")
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
    for folder, _, names in os.walk(api, topdown=False):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.relpath(path, api) not in wanted:
                os.remove(path)
        if folder != api and not os.listdir(folder):
            os.rmdir(folder)


if __name__ == "__main__":
    main(*sys.argv[1:])
