# Rules that regenerate the committed asset files under assets/ from their
# sources.  Included by the top Makefile; paths are relative to the
# repository root.  The generated files are committed, so a normal build
# never runs these.

# Rules here must not become the including Makefile's default goal: remember
# it now and put it back at the end of this file.  Keep new rules above that
# last line.
assets_saved_default_goal := $(.DEFAULT_GOAL)

# fontTools comes from Debian's python3-fonttools, which only the system
# interpreter sees.
FONT_PYTHON ?= /usr/bin/python3

.PHONY: font

# The face "CBM", drawn cell by cell in assets/cbm-glyphs.txt.
font: assets/cbm.ttf

assets/cbm.ttf: assets/cbm-glyphs.txt tools/make_font.py
	$(FONT_PYTHON) tools/make_font.py assets/cbm-glyphs.txt $@

.DEFAULT_GOAL := $(assets_saved_default_goal)
