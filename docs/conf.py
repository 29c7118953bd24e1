"""The documentation site, built with Sphinx from the Markdown pages of this
folder (read by MyST):

    pip install ".[docs]"
    sphinx-build -W --keep-going -b html docs build/docs

Warnings are errors: a link to a page or a heading that does not exist fails
the build. The home page is the README; the command-line reference is made
from the argument parsers while the site is built (tools/cli_reference.py).
"""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))

project = "ostrel"
extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]
# Links to a heading of another page (server.md#limits) are checked too.
myst_heading_anchors = 4
# Text as written: no typographic dashes in "--flag" or quotes in 'NAME: VALUE'.
smartquotes = False
html_theme = "furo"
html_title = "ostrel"
# Pages whose text the build appends, and the function that makes it.
GENERATED = {"cli": "cli_reference"}


def append_generated(app, docname, source):
    if docname in GENERATED:
        import importlib

        source[0] += "\n" + importlib.import_module(GENERATED[docname]).reference() + "\n"


def always_read_generated(app, env, added, changed, removed):
    """The generated pages are read on every build: their source file does not
    change when the parsers do."""
    return [name for name in GENERATED if name in env.found_docs]


def setup(app):
    app.connect("source-read", append_generated)
    app.connect("env-get-outdated", always_read_generated)
    return {"parallel_read_safe": True}
