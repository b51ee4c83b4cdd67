# The two commands: `make test` and `make demo`. Both install what is missing first.
# Everything is built here; whatever starts a Windows program (the Wine prefix,
# the tests, the demo, the benchmarks) runs through tools/wine-side: here, or
# inside an emulated machine where this one cannot run 32-bit programs.
BUILD ?= build
JOBS ?= $(shell nproc)
WINE_SIDE = tools/wine-side
# $(call on_wine_side,COMMAND): the prefix, then COMMAND, in one go on Wine's side.
on_wine_side = $(WINE_SIDE) sh -c 'cmake --build $(BUILD) --target wineprefix && $(1)'

.PHONY: test demo dist bench build bootstrap configure clean

bootstrap:
	@tools/bootstrap

# Configured on every run: under emulation the tests get longer timeouts,
# and the emulated machine's own check is left out.
configure: bootstrap
	@cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DVELQUOR_EMULATED=$$($(WINE_SIDE) --emulated) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	$(call on_wine_side,cd $(BUILD) && ctest -j $(JOBS) --output-on-failure)

demo: build
	$(call on_wine_side,tools/demo $(BUILD))

# Both benchmarks, and the picture of the enumerations' cost.
bench: build
	$(call on_wine_side,tools/bench $(BUILD))

dist: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)
