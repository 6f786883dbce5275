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

# The title pictures and the window icon, painted by our own tools. The
# backdrop's painter is C++ (libjpeg), built in the normal build directory
# on request; the metadata it embeds comes from tools/picture_meta.py.
PICTURE_PYTHON ?= /usr/bin/python3
PICTURE_BUILD ?= $(BUILD)

.PHONY: backdrop overlay icon assets

backdrop: assets/backdrop.jpg

assets/backdrop.jpg: tools/make_backdrop.cpp tools/picture_meta.py
	cmake -S . -B $(PICTURE_BUILD)
	cmake --build $(PICTURE_BUILD) --target make_backdrop
	$(PICTURE_PYTHON) tools/picture_meta.py $(PICTURE_BUILD)/pictures
	$(PICTURE_BUILD)/tools/make_backdrop $@ $(PICTURE_BUILD)/pictures/quorbel.icc $(PICTURE_BUILD)/pictures/backdrop.xmp

overlay: assets/scanlines.png

assets/scanlines.png: tools/make_overlay.py tools/picture_meta.py
	$(PICTURE_PYTHON) tools/make_overlay.py $@

icon: assets/icon.ico

assets/icon.ico: tools/make_icon.py
	$(PICTURE_PYTHON) tools/make_icon.py $@

# Everything under assets/ that a tool makes.
assets: font backdrop overlay icon

.DEFAULT_GOAL := $(assets_saved_default_goal)
