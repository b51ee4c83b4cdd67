# The two commands: `make test` and `make demo`. Both install what is missing first.
# Everything is built here; whatever starts a Windows program (the Wine prefix,
# the tests, the demo, the benchmarks) runs through tools/wine-side: here, or
# inside an emulated machine where this one cannot run 32-bit programs.
BUILD ?= build
JOBS ?= $(shell nproc)
WINE_SIDE = tools/wine-side
# $(call on_wine_side,COMMAND): the prefix, then COMMAND, in one go on Wine's side.
on_wine_side = $(WINE_SIDE) sh -c 'cmake --build $(BUILD) --target wineprefix && $(1)'

.PHONY: test test64 demo dist bench build build64 bootstrap configure clean

bootstrap:
	@tools/bootstrap

# Configured on every run: under emulation the tests get longer timeouts,
# and the emulated machine's own check is left out.
configure: bootstrap
	@cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DVELQUOR_EMULATED=$$($(WINE_SIDE) --emulated) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Both builds: the 32-bit suite on Wine's side, the 64-bit suite under
# 64-bit Wine, which runs natively on every x86-64 machine, then the
# answers both suites recorded compared. Where the 32-bit side is the
# emulated machine, it runs only the tests labelled x86, what differs by
# architecture (see tests/CMakeLists.txt), and those of them labelled host
# run here; the 64-bit suite runs whole either way.
EMULATED = $(shell $(WINE_SIDE) --emulated)
X86_SUBSET = $(if $(filter 1,$(EMULATED)),-L x86 -LE host)
test: build build64
	$(call on_wine_side,cd $(BUILD) && ctest -j $(JOBS) $(X86_SUBSET) --output-on-failure)
	$(if $(X86_SUBSET),cd $(BUILD) && ctest -j $(JOBS) -L host --output-on-failure)
	cmake --build $(BUILD64) --target wineprefix && cd $(BUILD64) && ctest -j $(JOBS) --output-on-failure
	tests/same_answers.py --compare $(BUILD) $(BUILD64)

# The 64-bit build (x86-64, in build64/) alone, and its suite. Its release
# zip holds the 32-bit build too, where that is built.
BUILD64 ?= build64
build64: bootstrap
	@cmake -S . -B $(BUILD64) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DVELQUOR_PACKAGE_WITH=$(abspath $(BUILD)) >/dev/null
	cmake --build $(BUILD64) -j $(JOBS)

test64: build64
	cmake --build $(BUILD64) --target wineprefix && cd $(BUILD64) && ctest -j $(JOBS) --output-on-failure

demo: build
	$(call on_wine_side,tools/demo $(BUILD))

# Both benchmarks, and the picture of the enumerations' cost.
bench: build
	$(call on_wine_side,tools/bench $(BUILD))

# The release zip, both architectures in it (x86/ and x64/).
dist: build build64
	cmake --build $(BUILD64) --target package

clean:
	rm -rf $(BUILD) $(BUILD64)
