# The two commands: `make test` and `make demo`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: test demo dist bench build bootstrap configure clean

bootstrap:
	@tools/bootstrap

$(BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release

configure: bootstrap $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

demo: build
	tools/demo $(BUILD)

# Both benchmarks, and the picture of the enumerations' cost.
bench: build
	tools/bench $(BUILD)

dist: build
	cmake --build $(BUILD) --target dist

clean:
	rm -rf $(BUILD)
