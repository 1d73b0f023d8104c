# Entry points; CMake does the building. `make check` and `make demo` need
# root: they install missing Debian packages and use mount namespaces.

JOBS       ?= $(shell nproc)
BUILD      := build
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
ARM_BUILD  := build-arm
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 180
CTEST      := ctest --output-on-failure -j$(JOBS)
# make demo ARCH=arm: the ARM board.
ARCH       ?= x86-64
# make board-install: the board's root file system and the application
# developer's kit.
DESTDIR    ?= $(ARM_BUILD)/install/rootfs
SDKDIR     ?= $(ARM_BUILD)/install/sdk

.PHONY: all deps board board-install board-tarball check check-host check-board check-fuzz \
	check-static check-system demo bench fuzz clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

deps:
	scripts/install-deps host

$(ASAN_BUILD) $(TSAN_BUILD): FORCE
	cmake -S . -B $@ -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=$(if $(findstring asan,$@),address,thread)
	cmake --build $@ -j$(JOBS)

# Every host test in the plain build and under ASan + UBSan; the
# concurrency tests under ThreadSanitizer as well.
check-host: deps all $(ASAN_BUILD) $(TSAN_BUILD)
	cd $(BUILD) && $(CTEST)
	cd $(ASAN_BUILD) && $(CTEST)
	cd $(TSAN_BUILD) && $(CTEST) -L concurrency

# The board's programs (static), the ARM board's kernel and the modules,
# cross-built for its ARMv5 CPU; stripped copies in $(ARM_BUILD)/stripped.
board:
	scripts/install-deps board
	scripts/build-board $(ARM_BUILD)

# What goes onto the board's root file system, into DESTDIR; headers and
# static libraries for applications into SDKDIR.
board-install: board
	scripts/board-install $(DESTDIR) $(SDKDIR)

# The same as two tarballs in $(ARM_BUILD): unpack the first at the
# board's root.
board-tarball:
	$(MAKE) board-install DESTDIR=$(abspath $(ARM_BUILD))/install/rootfs SDKDIR=$(abspath $(ARM_BUILD))/install/sdk
	tar -czf $(ARM_BUILD)/kelmora-rootfs.tar.gz --owner=0 --group=0 -C $(ARM_BUILD)/install/rootfs .
	tar -czf $(ARM_BUILD)/kelmora-sdk.tar.gz --owner=0 --group=0 -C $(ARM_BUILD)/install/sdk .
	@ls -l $(ARM_BUILD)/kelmora-rootfs.tar.gz $(ARM_BUILD)/kelmora-sdk.tar.gz

# The daemon's integration tests once more, with the board's daemon run
# (static) under qemu-arm, with the board kernel's version in uname; norvel
# and the shell stay the PC's.
check-board: deps board all
	cd $(BUILD) && SANDBOX_DAEMON=$(abspath $(ARM_BUILD))/daemon-under-qemu \
		$(CTEST) -L integration -R '^daemon\.'

# libFuzzer targets under ASan + UBSan, built with clang in a tree of their
# own; `make fuzz` runs each for FUZZ_SECONDS, `make check` for 20 s.
$(FUZZ_BUILD): FORCE
	scripts/install-deps host fuzz
	CC=clang CXX=clang++ cmake -S . -B $@ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DSANITIZE=address -DBUILD_FUZZERS=ON
	cmake --build $@ -j$(JOBS) --target fuzzers

fuzz: $(FUZZ_BUILD)
	tests/fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

check-fuzz: $(FUZZ_BUILD)
	tests/fuzz/run $(FUZZ_BUILD) 20

# cppcheck and clang-tidy on the user-space code; the kernel's checkpatch.pl
# (--strict), W=1 and sparse on the modules (the ARM module gets W=1 and
# sparse in `make board` as well).
check-static: deps all
	scripts/install-deps static vm
	scripts/static-checks $(BUILD)

# The board's kernel and programs build, niced, while the host tests run:
# those mostly wait on the daemon's real timers.
check: deps
	scripts/install-deps board vm vm-arm static fuzz
	mkdir -p $(ARM_BUILD)
	nice -n 10 $(MAKE) --no-print-directory board > $(ARM_BUILD)/board.log 2>&1 & board=$$!; \
	$(MAKE) --no-print-directory check-host check-static check-fuzz; host=$$?; \
	wait $$board; board=$$?; \
	if [ $$board -ne 0 ]; then cat $(ARM_BUILD)/board.log; else tail -n 12 $(ARM_BUILD)/board.log; fi; \
	[ $$board -eq 0 ] && [ $$host -eq 0 ]
	$(MAKE) --no-print-directory check-board check-system

# Scenarios on both emulated boards (QEMU), one boot each: the x86-64
# board (the Debian kernel) and the ARM board (its CPU, kernel and NOR).
# Two lanes, a core each: one runs the ARM scenarios; the other the x86-64
# ones, then shares out the ARM ones left. The first lane reports last.
check-system: deps board
	scripts/install-deps vm vm-arm
	rm -rf $(BUILD)/system-tests/shared-out
	mkdir -p $(BUILD)/system-tests
	tests/system/run --arch arm --share $(BUILD)/system-tests/shared-out \
		> $(BUILD)/system-tests/arm-lane.log 2>&1 & lane=$$!; \
	tests/system/run --arch x86-64; x86=$$?; \
	tests/system/run --arch arm --share $(BUILD)/system-tests/shared-out; arm=$$?; \
	wait $$lane; lane=$$?; \
	cat $(BUILD)/system-tests/arm-lane.log; \
	[ $$x86 -eq 0 ] && [ $$arm -eq 0 ] && [ $$lane -eq 0 ]

# The emulated board: a guided tour, or its shell when run on a terminal.
# (tests/daemon/sandbox --demo build shows the daemon alone, without QEMU.)
demo: deps
	scripts/install-deps vm $(if $(filter arm,$(ARCH)),board vm-arm)
	pc/emulated-board/demo --arch $(ARCH)

# Prints numbers (size, memory, wake-ups, latency, the board build's
# stripped sizes, the ARM board's figures); passes or fails nothing.
bench: deps all board
	scripts/install-deps vm-arm
	tests/daemon/sandbox --run $(BUILD) $(BUILD)/bench/daemon_bench
	bench/kelubootenv-callgrind $(BUILD)
	bench/arm-board

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(ARM_BUILD) $(FUZZ_BUILD)

FORCE:
