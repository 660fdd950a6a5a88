# make demo   build, then read weights from simulated scales through the add-in
# make test   build everything (Linux x86_64 and x86, Windows x64 and x86), run all tests
# make abi-check  the DLLs called by a host built with the Microsoft C++ ABI (clang, lld-link)
# make bench  GetWeight latency and CPU time per mode, Linux and the x64 DLL under Wine;
#             writes docs/performance.md, build/bench.json and build/bench-wine.json
# make soak   sessions against faulty scales for SECONDS (600), seed SEED; docs/reliability.md
# make fuzz   every fuzz target for FUZZ_SECONDS (default 60) each
# make dist   every target's library and tools under dist/, and dist/Pesolan.zip

BUILD := build/linux

.PHONY: all build demo test test-asan test-tsan test-x86 test-uart test-machine vm abi-check fuzz bench soak windows linux-x86 dist deps-build deps-test clean

FUZZ_SECONDS ?= 60
SECONDS ?= 600
SEED ?= 1
# The soak in make test: a fixed seed, so that a failure replays.
TEST_SEED := 20261207
# Steps of make test that cannot run here say so in this file, and make
# test's closing lines name them.
export PESOLAN_SKIPPED := $(CURDIR)/build/skipped.txt

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

# The Linux x86 (i386) library, with Debian's cross compiler.
linux-x86: deps-test
	cmake --preset linux-x86 >/dev/null
	cmake --build --preset linux-x86

test: deps-test build windows linux-x86
	@rm -f $(PESOLAN_SKIPPED)
	ctest --preset linux
	tests/private-dev.sh $(BUILD)/tools/pesolan-soak --seconds 60 --seed $(TEST_SEED) --json build/soak.json
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-tsan
	$(MAKE) --no-print-directory test-machine
	tools/run-fuzzers.sh 10
	tests/windows-static-checks.sh build/windows-x64/Pesolan.dll build/windows-x86/Pesolan.dll
	tests/wine-tests.sh build/windows-x64 $(BUILD)/tools
	$(MAKE) --no-print-directory abi-check
	$(MAKE) --no-print-directory dist
	tests/package-check.sh dist/Pesolan.zip
	@if [ -s $(PESOLAN_SKIPPED) ]; then echo "make test: passed, with these left out:"; sed 's/^/  /' $(PESOLAN_SKIPPED); \
	else echo "make test: passed, nothing left out"; fi

# The whole Linux suite again under AddressSanitizer and UBSan.
test-asan: deps-test
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan
	ctest --preset linux-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 tests/private-dev.sh build/linux-asan/tools/pesolan-soak \
	  --seconds 30 --seed $(TEST_SEED) --no-memory-check --json build/soak-asan.json

# The concurrency tests under ThreadSanitizer: eight threads opening, reading
# and closing devices through the real library at once.
test-tsan: deps-test
	cmake --preset linux-tsan >/dev/null
	cmake --build --preset linux-tsan
	ctest --preset linux-tsan
	TSAN_OPTIONS=halt_on_error=1 tests/private-dev.sh build/linux-tsan/tools/pesolan-soak \
	  --seconds 30 --seed $(TEST_SEED) --no-memory-check --json build/soak-tsan.json


# The test machine (tools/test-rig): Debian's own kernel under QEMU with real
# serial ports (a 16550A, a PCI UART, an FTDI adapter), booted from an
# initramfs that holds the tests at their paths in this tree.
VM := build/vm
X86 := $(CURDIR)/build/linux-x86
X86_SUITES := $(addprefix $(X86)/tests/,core_unit_tests channel_timing_tests core_channel_tests soak_tests \
  concurrency_tests)
# The longest of them, run as two halves at once.
X86_LONG := $(X86)/tests/addin_tests
VM_FILES = $(CURDIR)/$(BUILD)/tests/uart_tests $(CURDIR)/$(BUILD)/libPesolan.so $(CURDIR)/$(BUILD)/tools/pesolan \
  $(X86_SUITES) $(X86_LONG) $(X86)/libPesolan.so $(addprefix $(X86)/tools/,pesolan scale-sim scale-sim-broker) \
  $(CURDIR)/tests/private-dev.sh $(CURDIR)/tools/test-rig/suites.sh $(CURDIR)/README.md $(CURDIR)/docs/ru/README.md
VM_RUN = tools/test-rig/run.sh $(VM)/initramfs.gz $$(tools/test-rig/kernel.sh $(VM)) $(BUILD)/tools
vm: deps-test build linux-x86
	tools/test-rig/kernel.sh $(VM) >/dev/null
	tools/test-rig/initramfs.sh $(VM)/initramfs.gz $(VM)/kernel $(VM_FILES)

# The serial channel on the kernel's UART and USB-serial drivers.
test-uart: vm
	$(VM_RUN) $(CURDIR)/$(BUILD)/tests/uart_tests

# The Linux x86 (i386) library's suites, run natively in the same machine:
# threads, processes and the pesolan program included.
test-x86: vm
	$(VM_RUN) $(CURDIR)/tools/test-rig/suites.sh $(CURDIR)/tests/private-dev.sh --halves $(X86_LONG) $(X86_SUITES)

# Both in one boot of the machine, at once (make test): the serial tests
# mostly wait for their lines, the i386 suites for their scales.
test-machine: vm
	$(VM_RUN) $(CURDIR)/tools/test-rig/suites.sh $(CURDIR)/tests/private-dev.sh \
	  --ports $(CURDIR)/$(BUILD)/tests/uart_tests --halves $(X86_LONG) $(X86_SUITES)

# A host compiled for the Microsoft C++ ABI (clang, lld-link, no Microsoft
# runtime): the x64 one drives the x64 DLL under Wine; the x86 one's call
# sites are read against the x86 DLL.
abi-check: windows
	tests/abi-check.sh build/windows-x64 build/windows-x86

# GetWeight latency and CPU time per mode against the protocol's floor, for
# the Linux library and for the x64 DLL under Wine (not part of test).
bench: build windows
	tests/private-dev.sh $(BUILD)/tools/pesolan-bench --report docs/performance.md --json build/bench.json
	tests/private-dev.sh tools/wine-bench.sh build/windows-x64 build/bench-wine.json docs/performance.md

# Sessions in threads against scales driven by a seeded schedule of faults,
# every reading judged against what the scales sent: SECONDS long, replayed
# by SEED; writes build/soak.json and docs/reliability.md.
soak: build
	tests/private-dev.sh $(BUILD)/tools/pesolan-soak --seconds $(SECONDS) --seed $(SEED) \
	  --json build/soak.json --markdown docs/reliability.md

# Every fuzz target for FUZZ_SECONDS each; non-zero on a crash.
fuzz: deps-test
	tools/run-fuzzers.sh $(FUZZ_SECONDS)

# The libraries and tools of every target, and the add-in package.
dist: build windows linux-x86
	mkdir -p dist/linux-x86_64 dist/linux-x86 dist/windows-x86_64 dist/windows-x86
	cp $(BUILD)/libPesolan.so $(BUILD)/tools/pesolan $(BUILD)/tools/scale-sim dist/linux-x86_64/
	strip --strip-unneeded dist/linux-x86_64/*
	cp build/linux-x86/libPesolan.so dist/linux-x86/
	i686-linux-gnu-strip --strip-unneeded dist/linux-x86/*
	cp build/windows-x64/Pesolan.dll build/windows-x64/tools/pesolan.exe build/windows-x64/tools/scale-sim.exe dist/windows-x86_64/
	cp build/windows-x86/Pesolan.dll build/windows-x86/tools/pesolan.exe build/windows-x86/tools/scale-sim.exe dist/windows-x86/
	x86_64-w64-mingw32-strip --strip-unneeded dist/windows-x86_64/*
	i686-w64-mingw32-strip --strip-unneeded dist/windows-x86/*
	tools/make-package.sh dist

clean:
	rm -rf build dist
