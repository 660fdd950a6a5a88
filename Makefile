# make demo   build, then read weights from simulated scales through the add-in
# make test   build everything (Linux and the Windows cross builds), run all tests
# make dist   the Linux library and tools under dist/linux-x86_64/

BUILD := build/linux

.PHONY: all build demo test windows dist deps-build deps-test clean

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

# The Linux library and tools, ready to copy.
dist: build
	mkdir -p dist/linux-x86_64
	cp $(BUILD)/libPesolan.so $(BUILD)/tools/pesolan $(BUILD)/tools/scale-sim dist/linux-x86_64/
	strip --strip-unneeded dist/linux-x86_64/libPesolan.so dist/linux-x86_64/pesolan dist/linux-x86_64/scale-sim
	@ls -l dist/linux-x86_64

clean:
	rm -rf build dist
