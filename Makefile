# make demo   build, then read weights from a simulated scale
# make test   build everything (Linux and the Windows cross builds), run all tests

BUILD := build/linux

.PHONY: all build demo test windows deps-build deps-test clean

all: build

deps-build:
	@tools/ensure-deps.sh build

deps-test:
	@tools/ensure-deps.sh test

build: deps-build
	cmake --preset linux >/dev/null
	cmake --build --preset linux

demo: build
	tools/demo.sh $(BUILD)/tools

windows: deps-test
	cmake --preset windows-x64 >/dev/null
	cmake --build --preset windows-x64
	cmake --preset windows-x86 >/dev/null
	cmake --build --preset windows-x86

test: deps-test build windows
	ctest --preset linux

clean:
	rm -rf build dist
